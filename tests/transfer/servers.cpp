#include "servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace kelvane::testing {

namespace fs = std::filesystem;

namespace {

TTestServers g_servers;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The child dies with this process, so a crashed test leaves no server behind.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& log) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

bool Listening(int port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

bool WaitListening(int port, pid_t pid) {
  for (int i = 0; i < 100; ++i) {
    if (Listening(port)) return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = 0;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  pid = 0;
}

class TServersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    TTestServers& s = g_servers;
    // Requests to 127.0.0.1 never go through a proxy of the environment.
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ftp_proxy",
                          "FTP_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(v);
    char tmpl[] = "/tmp/kelvane-transfer-XXXXXX";
    if (!mkdtemp(tmpl)) {
      s.Why = "no temporary folder";
      return;
    }
    s.Work = tmpl;
    chmod(s.Work.c_str(), 0755);  // the servers' own users walk through it
    if (geteuid() != 0) {
      s.Why = "the FTP test user needs root";
      return;
    }
    if (access("/usr/sbin/vsftpd", X_OK) != 0 || access("/usr/sbin/nginx", X_OK) != 0) {
      s.Why = "vsftpd or nginx is not installed (scripts/install-deps)";
      return;
    }
    if (!StartFtp(s) || !StartHttp(s)) return;
    s.Available = true;
  }

  void TearDown() override {
    Stop(ftpPid_);
    Stop(httpPid_);
    TTestServers& s = g_servers;
    if (!s.Work.empty() && !std::getenv("KELVANE_KEEP_TEST_FILES")) {
      // A server's last session process may still be closing its files: try again shortly.
      for (int attempt = 0; attempt < 20; ++attempt) {
        std::error_code ec;
        fs::remove_all(s.Work, ec);
        if (!fs::exists(s.Work)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (fs::exists(s.Work)) std::fprintf(stderr, "could not remove %s\n", s.Work.c_str());
    }
  }

 private:
  bool StartFtp(TTestServers& s) {
    // The test user is a real system user. Test processes may run side by side: one at a time
    // creates it and sets its password; a second run finds it and sets the same password.
    {
      const int lock = open("/tmp/kelvane-ftpuser.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0600);
      flock(lock, LOCK_EX);
      if (!getpwnam(s.FtpUser.c_str()))
        Shell("useradd -m -s /bin/bash " + s.FtpUser + " >/dev/null 2>&1");
      const int rc = Shell("echo '" + s.FtpUser + ":" + s.FtpPassword + "' | chpasswd");
      flock(lock, LOCK_UN);
      close(lock);
      if (rc != 0 || !getpwnam(s.FtpUser.c_str())) {
        s.Why = "cannot create the FTP test user";
        return false;
      }
    }
    const passwd* pw = getpwnam(s.FtpUser.c_str());
    s.FtpRoot = s.Work + "/ftp";
    fs::create_directories(s.FtpRoot);
    fs::create_directories(s.Work + "/empty");
    chown(s.FtpRoot.c_str(), pw->pw_uid, pw->pw_gid);
    s.FtpLog = s.Work + "/vsftpd.log";
    s.FtpPort = FreePort();
    std::random_device random;
    const int pasv = 30000 + static_cast<int>(random() % 20000);
    std::ofstream conf(s.Work + "/vsftpd.conf");
    conf << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << s.FtpPort
         << "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
            "local_umask=022\npasv_enable=YES\npasv_address=127.0.0.1\npasv_min_port="
         << pasv << "\npasv_max_port=" << pasv + 20
         << "\npam_service_name=vsftpd\nsecure_chroot_dir=" << s.Work
         << "/empty\nseccomp_sandbox=NO\nlocal_root=" << s.FtpRoot
         << "\nxferlog_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file=" << s.FtpLog
         << "\nconnect_from_port_20=NO\nport_enable=YES\n";
    conf.close();
    ftpPid_ = Spawn({"/usr/sbin/vsftpd", s.Work + "/vsftpd.conf"}, s.Work + "/vsftpd.out");
    s.FtpPid = ftpPid_;
    if (!WaitListening(s.FtpPort, ftpPid_)) {
      s.Why = "vsftpd did not start (see " + s.Work + "/vsftpd.out)";
      return false;
    }
    return true;
  }

  bool StartHttp(TTestServers& s) {
    const std::string d = s.Work + "/nginx";
    s.HttpFiles = d + "/files";
    s.DavFolder = d + "/dav";
    for (const char* sub : {"files", "dav", "body", "proxy", "fastcgi", "uwsgi", "scgi", "posted"})
      fs::create_directories(d + "/" + sub);
    Shell("chown www-data " + d + "/dav " + d + "/body " + d + "/posted");
    Shell("printf '" + s.HttpUser + ":%s\\n' \"$(openssl passwd -apr1 '" + s.HttpPassword +
          "')\" > " + d + "/htpasswd");
    chmod((d + "/htpasswd").c_str(), 0644);
    s.HttpPort = FreePort();
    std::ofstream conf(d + "/nginx.conf");
    conf << "user www-data; worker_processes 1; daemon off;\n"
         << "pid " << d << "/nginx.pid; error_log " << d << "/error.log warn;\n"
         << "events { worker_connections 256; }\n"
         << "http { access_log " << d << "/access.log; default_type application/octet-stream;\n"
         << "  sendfile on; client_body_temp_path " << d << "/body; proxy_temp_path " << d
         << "/proxy; fastcgi_temp_path " << d << "/fastcgi; uwsgi_temp_path " << d
         << "/uwsgi; scgi_temp_path " << d << "/scgi;\n"
         << "  server { listen 127.0.0.1:" << s.HttpPort << ";\n"
         << "    location /files/ { alias " << d << "/files/; }\n"
         << "    location /auth/ { alias " << d << "/files/; auth_basic \"kelvane\";"
         << " auth_basic_user_file " << d << "/htpasswd; }\n"
         << "    location /dav/ { alias " << d << "/dav/; dav_methods PUT DELETE MKCOL;"
         << " create_full_put_path on; dav_access user:rw group:r all:r;"
         << " client_max_body_size 0; }\n"
         << "    location = /post { limit_except POST { deny all; } client_max_body_size 0;"
         << " return 200; }\n"
         << "    location = /generated { return 200 \"made by the server\"; }\n"
         << "  } }\n";
    conf.close();
    httpPid_ =
        Spawn({"/usr/sbin/nginx", "-p", d + "/", "-c", d + "/nginx.conf", "-e", d + "/error.log"},
              d + "/nginx.out");
    if (!WaitListening(s.HttpPort, httpPid_)) {
      s.Why = "nginx did not start (see " + d + "/error.log)";
      return false;
    }
    return true;
  }

  pid_t ftpPid_ = 0;
  pid_t httpPid_ = 0;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new TServersEnvironment);

}  // namespace

int TTestServers::FtpLogins() const {
  std::ifstream in(FtpLog);
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    if (line.find("\"USER ") != std::string::npos) ++n;
  return n;
}

namespace {
std::vector<int> Children(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<int> c;
  int child;
  while (in >> child) c.push_back(child);
  return c;
}
void KillTree(int pid) {
  for (int c : Children(pid)) KillTree(c);
  kill(pid, SIGKILL);
}
}  // namespace

void TTestServers::BreakFtpSessions() const {
  for (int c : Children(FtpPid)) KillTree(c);
}

void TTestServers::PutFtpFile(const std::string& relative, const std::string& data) const {
  WriteAll(FtpRoot + "/" + relative, data);
  const passwd* pw = getpwnam(FtpUser.c_str());
  if (!pw) return;
  for (fs::path p = FtpRoot + "/" + relative; p.string().size() > FtpRoot.size();
       p = p.parent_path())
    lchown(p.c_str(), pw->pw_uid, pw->pw_gid);
}

const TTestServers& Servers() { return g_servers; }

int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = 0;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

std::string FreshFolder(const std::string& name) {
  std::string base = g_servers.Work.empty() ? std::string("/tmp") : g_servers.Work;
  static int counter = 0;
  const std::string path = base + "/" + name + std::to_string(++counter);
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

std::string MakeData(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string d;
  d.reserve(size);
  while (d.size() < size) {
    switch (rng() % 3) {
      case 0:
        d.append(std::min<std::size_t>(rng() % 300, size - d.size()), static_cast<char>(rng()));
        break;
      case 1:
        for (int i = 0; i < 200 && d.size() < size; ++i) d += static_cast<char>(d.size() * 7);
        break;
      default:
        for (int i = 0; i < 500 && d.size() < size; ++i) d += static_cast<char>(rng());
        break;
    }
  }
  return d;
}

}  // namespace kelvane::testing
