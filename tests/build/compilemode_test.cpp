// Compile mode end to end: the real program, started as a build server would start it, publishing
// to a folder and to a real FTP server (vsftpd on loopback, from the transfer tests' fixture).
#include "shell/compilemode.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/testfolder.h"
#include "platform/inifile.h"
#include "project/projectfile.h"
#include "servers.h"

namespace kelvane {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
namespace fs = std::filesystem;
using testing::ReadAll;
using testing::TTestFolder;

struct TRun {
  int status = -1;
  std::string out, err;
};

// A copy of the program in a folder of its own, so that each test starts without an environment
// file and finds the one it wrote next to that copy.
class CompileModeTest : public ::testing::Test {
 protected:
  CompileModeTest() {
    fs::create_directories(folder_.Path("bin"));
    exe_ = folder_.Path("bin/kelvane");
    std::error_code ec;
    fs::create_hard_link(KELVANE_BINARY_DIR "/kelvane", exe_, ec);
    if (ec) fs::copy_file(KELVANE_BINARY_DIR "/kelvane", exe_);
  }

  // Starts the program with stdin from /dev/null; `whileRunning` may act on the running process.
  // With `closedOutput`, standard output is a pipe whose reader has gone.
  TRun Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
           const std::function<void(pid_t, const std::string& out)>& whileRunning = nullptr,
           bool closedOutput = false) {
    const std::string out = folder_.Path("stdout.txt"), err = folder_.Path("stderr.txt");
    int pipeEnds[2] = {-1, -1};
    if (closedOutput && pipe(pipeEnds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (closedOutput) {
        close(pipeEnds[0]);
        o = pipeEnds[1];
      }
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(o, 1);
      dup2(e, 2);
      for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(exe_.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(exe_.c_str(), argv.data());
      _exit(127);
    }
    if (closedOutput) {
      close(pipeEnds[0]);
      close(pipeEnds[1]);
    }
    int status = 0;
    if (whileRunning) whileRunning(pid, out);
    waitpid(pid, &status, 0);
    TRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadAll(out);
    run.err = ReadAll(err);
    return run;
  }

  std::string Data(const std::string& name, std::size_t size, unsigned seed = 1) {
    return folder_.Write("app/" + name, testing::MakeData(size, seed));
  }
  TFileObject& Add(int level, const std::string& url) {
    project_.files.push_back(TFileEntry{level, std::make_unique<TFileObject>(), "", "", ""});
    TFileObject& file = *project_.files.back().file;
    if (level == 0)
      ReadFileFacts(file, url);
    else
      file.url = url;
    return file;
  }
  // A UNC project publishing to pub/.
  void FolderProject() {
    project_.Clear();
    project_.unc = true;
    project_.uncdir = folder_.Path("pub");
  }
  std::string Save() {
    project_.RebuildApplicationComponents();
    const std::string path = folder_.Path("proj/Demo.KelvaneProj");
    fs::create_directories(folder_.Path("proj"));
    WriteProjectFile(project_, path);
    return path;
  }
  std::set<std::string> Published() {
    std::set<std::string> names;
    if (fs::exists(folder_.Path("pub")))
      for (const auto& e : fs::directory_iterator(folder_.Path("pub")))
        names.insert(e.path().filename().string());
    return names;
  }

  TTestFolder folder_;
  std::string exe_;
  TUpdateProject project_;
};

// Splits standard output into its lines, checking that each is followed by two empty lines.
std::vector<std::string> ConsoleLines(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t end = out.find('\n', at);
    EXPECT_NE(end, std::string::npos) << "unterminated line";
    if (end == std::string::npos) break;
    lines.push_back(out.substr(at, end - at));
    EXPECT_EQ(out.compare(end, 3, "\n\n\n"), 0)
        << "not followed by two empty lines: " << lines.back();
    EXPECT_FALSE(lines.back().empty());
    at = end + 3;
  }
  return lines;
}

std::vector<std::string> Totals(const std::vector<std::string>& lines) {
  std::vector<std::string> totals;
  for (const std::string& l : lines)
    if (l.rfind("@TOTAL:", 0) == 0) totals.push_back(l.substr(7));
  return totals;
}

// Cabinets are checked by an independent reader; scripts/install-deps installs it.
bool HaveCabextract() { return std::system("command -v cabextract > /dev/null 2>&1") == 0; }

TEST_F(CompileModeTest, PublishesAProjectToAFolder) {
  // An application component (PE file with a version), a plain data file listed twice, a CAB
  // group of two files, a licence and a what's-new text.
  const std::string app = folder_.Path("app/app.exe");
  fs::create_directories(folder_.Path("app"));
  fs::copy_file(KELVANE_SOURCE_DIR "/tests/filefacts/data/app32.exe", app);
  const std::string data = Data("data.dat", 300000, 2);
  const std::string lib = Data("lib.dll", 200000, 3);
  const std::string extra = Data("extra.txt", 50000, 4);
  FolderProject();
  Add(0, app).includeappcomps = true;
  Add(0, data);
  Add(0, lib).compressed = 1;
  Add(1, lib);
  Add(1, extra);
  Add(0, data);
  project_.eula = folder_.Write("app/eula.txt", "Licence\r\n");
  project_.whatsnew = folder_.Write("app/whatsnew.txt", "News\r\n");
  const std::string project = Save();

  const TRun run = Run({"/C" + project});

  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = ConsoleLines(run.out);
  // Six entries: 35 -> 75; six queued files (the duplicate once): 75 -> 100.
  EXPECT_THAT(Totals(lines), ElementsAreArray({"0", "10", "20", "30", "35", "42", "48", "55", "62",
                                               "68", "75", "79", "83", "88", "92", "96", "100"}));
  for (const std::string& l : lines) {
    if (l[0] != '@') {
      EXPECT_THAT(
          l,
          ::testing::MatchesRegex(
              R"(\[.+\] To \[.+\] Progress : \[[0-9.]+ (bytes|KB|MB) / [0-9.]+ (bytes|KB|MB)\])"));
    }
  }
  EXPECT_THAT(run.out, HasSubstr("[Multiple Files...[2]] To [" + folder_.Path("app/lib.CAB") +
                                 "] Progress : [244.14 KB / 244.14 KB]\n\n\n"));

  // The published tree.
  const std::string bin = folder_.Path("bin/");
  EXPECT_EQ(Published(), (std::set<std::string>{"Demo.INF", "app.exe_NEW", "data.dat", "lib.CAB",
                                                "eula.txt", "whatsnew.txt"}));
  const std::string inf = ReadAll(folder_.Path("pub/Demo.INF"));
  EXPECT_EQ(inf, ReadAll(bin + "Demo.INF"));  // written to the executable's folder
  EXPECT_THAT(inf, HasSubstr("app.exe_NEW"));
  EXPECT_THAT(inf, HasSubstr("lib.CAB"));
  EXPECT_EQ(ReadAll(folder_.Path("pub/app.exe_NEW")), ReadAll(app));
  EXPECT_EQ(ReadAll(folder_.Path("pub/data.dat")), ReadAll(data));
  EXPECT_EQ(ReadAll(folder_.Path("pub/eula.txt")), "Licence\r\n");
  EXPECT_EQ(ReadAll(folder_.Path("pub/whatsnew.txt")), "News\r\n");
  const std::string x = folder_.Path("x");
  if (HaveCabextract()) {
    ASSERT_EQ(std::system(("cabextract -q -d " + x + " " + folder_.Path("pub/lib.CAB")).c_str()),
              0);
    EXPECT_EQ(ReadAll(x + "/lib.dll"), ReadAll(lib));
    EXPECT_EQ(ReadAll(x + "/extra.txt"), ReadAll(extra));
  } else {
    std::cout << "cabextract is missing: the cabinet was not checked\n";
  }

  // The environment file did not exist: it now names the executable's folder, and the project
  // is among the recent ones.
  TIniFile ini(bin + "Kelvane.ini");
  EXPECT_EQ(ini.ReadString("Project Settings", "UpdateFilePath", ""), bin);
  EXPECT_EQ(ini.ReadString("Project Settings", "KelvaneProjectPath", ""), bin);
  EXPECT_EQ(ini.ReadString("Recent Projects", "Demo.KelvaneProj", ""), project);
}

TEST_F(CompileModeTest, AFailedValidationPrintsOnlyTheFirstTotalAndAnswersNo) {
  FolderProject();
  Add(0, Data("gone.dat", 10));
  const std::string project = Save();
  fs::remove(folder_.Path("app/gone.dat"));

  const TRun run = Run({"/c" + project});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "@TOTAL:0\n\n\n");
  EXPECT_THAT(run.err, HasSubstr("[Warning message] ["));
  EXPECT_THAT(run.err, HasSubstr("cannot be found"));
  EXPECT_THAT(run.err,
              HasSubstr("Project Build Errors: There are 1 errors\nDo you want to view the "
                        "error log?\n(y/N) N"));
  EXPECT_TRUE(Published().empty());
}

// Every outcome a script has to tell apart, by exit status.
TEST_F(CompileModeTest, ExitStatusesTellTheOutcome) {
  {
    const TRun run = Run({"/?"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("Compile project file"));
  }
  {
    const std::string missing = folder_.Path("proj/none.KelvaneProj");
    const TRun run = Run({"/C" + missing});
    EXPECT_EQ(run.status, 4);
    EXPECT_THAT(run.out, HasSubstr("The file " + missing + " does not exist"));
  }
  {
    SCOPED_TRACE("a failed transfer withholds the control file");
    FolderProject();
    Add(0, Data("ok.dat", 1000));
    Add(0, Data("blocked.dat", 1000));
    fs::create_directories(folder_.Path("pub/blocked.dat/x"));
    const TRun run = Run({"/C" + Save()});
    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.err, HasSubstr("[Error message] ["));
    EXPECT_THAT(run.err, HasSubstr("Update not uploaded: 1\n"));
    EXPECT_EQ(Published(), (std::set<std::string>{"ok.dat", "blocked.dat"}));
    EXPECT_THAT(Totals(ConsoleLines(run.out)), ::testing::Not(::testing::Contains("100")));
  }
  {
    SCOPED_TRACE("nobody reads standard output");
    fs::remove_all(folder_.Path("pub"));
    FolderProject();
    Add(0, Data("ok.dat", 1000));
    const TRun run = Run({"/C" + Save()}, {}, nullptr, /*closedOutput=*/true);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Published(), (std::set<std::string>{"ok.dat", "Demo.INF"}));
  }
  {
    SCOPED_TRACE("an error ends the build");
    fs::remove_all(folder_.Path("pub"));
    FolderProject();
    Add(0, Data("app2.exe", 1000)).includeappcomps = true;
    fs::create_directories(folder_.Path("app/app2.exe_NEW/x"));
    const TRun run = Run({"/C" + Save()});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("Unable to copy"));
    EXPECT_TRUE(Published().empty());
  }
}

class CompileModeSignalTest : public CompileModeTest, public ::testing::WithParamInterface<int> {};

TEST_P(CompileModeSignalTest, ASignalDuringALargeArchiveCancelsTheBuild) {
  FolderProject();
  const std::string big = Data("big.dat", 48 << 20, 5);
  Add(0, big).compressed = 1;
  Add(1, big);
  Add(0, Data("after.dat", 1000));
  const std::string project = Save();

  bool signalled = false;
  const TRun run = Run({"/C" + project}, {}, [&](pid_t pid, const std::string& out) {
    for (int i = 0; i < 600 && !signalled; ++i) {
      if (ReadAll(out).find("Single File...[") != std::string::npos) {
        kill(pid, GetParam());
        signalled = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  ASSERT_TRUE(signalled);
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr("Cancelling the build"));
  EXPECT_TRUE(Published().empty());
  const std::vector<std::string> totals = Totals(ConsoleLines(run.out));
  EXPECT_EQ(totals.back(), "48");  // the loop stopped after the archive's entry
}

INSTANTIATE_TEST_SUITE_P(Signals, CompileModeSignalTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                           return info.param == SIGINT ? "SIGINT" : "SIGTERM";
                         });

// The build's questions on the console: without a terminal nothing is read and the answer is No.
TEST(ConsoleBuildViewTest, AsksYesNoOnlyWithATerminal) {
  struct Case {
    const char* input;
    bool interactive, yes;
  } cases[] = {{"y\n", true, true}, {"Yes\n", true, true}, {"n\n", true, false},
               {"\n", true, false}, {"", true, false},     {"y\n", false, false}};
  for (const Case& c : cases) {
    std::ostringstream err;
    std::istringstream in(c.input);
    TConsoleBuildView view(err, in, c.interactive);
    EXPECT_EQ(view.AskYesNo("  Project Build Errors", "There are 2 errors\r\nView the log?"), c.yes)
        << c.input << c.interactive;
    EXPECT_THAT(err.str(), ::testing::StartsWith(
                               "Project Build Errors: There are 2 errors\nView the log?\n(y/N) "));
    if (!c.interactive) {
      EXPECT_EQ(in.tellg(), 0);  // nothing was read
    }
  }

  // "View the error log" on the console: the log, line by line.
  TProjectLog log;
  log.LogMessage("File specified : \r\n/x\r\ncannot be found", mkWarning);
  std::ostringstream err;
  std::istringstream in;
  TConsoleBuildView view(err, in, true);
  view.Log = &log;
  view.ShowLogPage();
  EXPECT_THAT(err.str(),
              ::testing::MatchesRegex("Project log file\n\\[Warning message\\] \\[.*\\] : "
                                      "File specified : \n/x\ncannot be found\n"));
}

TEST_F(CompileModeTest, PublishesToAnFtpServerWithThePasswordFromTheEnvironment) {
  const testing::TTestServers& servers = testing::Servers();
  if (!servers.Available) GTEST_SKIP() << servers.Why;
  const std::string target = servers.FtpRoot + "/updates";
  fs::create_directories(target);
  ASSERT_EQ(std::system(("chown " + servers.FtpUser + " " + target).c_str()), 0);

  project_.Clear();
  project_.unc = false;
  project_.ftpchoice = true;
  project_.host = servers.FtpHost();  // 127.0.0.1:<port>
  project_.userid = servers.FtpUser;
  project_.passwd = "not-the-password";
  project_.ftpdir = "updates";
  project_.ftppass = true;
  const std::string lib = Data("lib.dll", 100000, 7);
  Add(0, Data("data.dat", 150000, 6));
  Add(0, lib).compressed = 1;
  Add(1, lib);
  project_.whatsnew = folder_.Write("app/whatsnew.txt", "News\r\n");
  const std::string project = Save();

  const TRun run = Run({"/C" + project}, {{"KELVANE_FTP_PASSWORD", servers.FtpPassword}});

  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(
      Totals(ConsoleLines(run.out)),
      ElementsAreArray({"0", "10", "20", "30", "35", "48", "62", "75", "81", "88", "94", "100"}));
  EXPECT_EQ(ReadAll(target + "/data.dat"),
            ReadAll(folder_.Path("app/data.dat")));
  EXPECT_EQ(ReadAll(target + "/whatsnew.txt"), "News\r\n");
  EXPECT_EQ(ReadAll(target + "/Demo.INF"),
            ReadAll(folder_.Path("bin/Demo.INF")));
  const std::string x = folder_.Path("x");
  if (HaveCabextract()) {
    ASSERT_EQ(std::system(("cabextract -q -d " + x + " " + target + "/lib.CAB").c_str()), 0);
    EXPECT_EQ(ReadAll(x + "/lib.dll"), ReadAll(lib));
  }

  // The control file reached the server after every other file.
  const std::string log = ReadAll(servers.FtpLog);
  const std::size_t inf = log.find("Demo.INF");
  ASSERT_NE(inf, std::string::npos);
  for (const char* name : {"data.dat", "lib.CAB", "whatsnew.txt"}) {
    ASSERT_NE(log.rfind(name), std::string::npos) << name;
    EXPECT_LT(log.rfind(name), inf) << name;
  }
}

}  // namespace
}  // namespace kelvane
