// The HTTP kinds against a real nginx on 127.0.0.1 (static files with Last-Modified, Basic
// authentication, PUT through dav, a POST location).
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utime.h>


#include <filesystem>
#include <thread>

#include "common/filesizelimit.h"
#include "recorder.h"
#include "servers.h"
#include "platform/errors.h"
#include "transfer/filetransfer.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::FreshFolder;
using testing::ReadAll;
using testing::Servers;
using testing::WriteAll;

struct TScriptedLogin : TTransferLoginForm {
  std::vector<std::string> captions;
  std::vector<std::pair<std::string, std::string>> answers;  // empty user: cancel
  bool Execute(const std::string& caption, std::string& user, std::string& password) override {
    captions.push_back(caption);
    if (answers.empty() || answers.front().first.empty()) return false;
    user = answers.front().first;
    password = answers.front().second;
    answers.erase(answers.begin());
    return true;
  }
};

class Http : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Servers().Available) GTEST_SKIP() << Servers().Why;
    t.ShowDialog = false;
    t.LoginForm = &login;
    local = FreshFolder("http");
  }
  TTransferItem& Get(const std::string& path, const std::string& dir) {
    TTransferItem& item = t.Items.Add();
    item.Protocol = TTransferProtocol::wpHttp;
    item.URL = Servers().HttpBase() + path;
    item.TargetDir = dir;
    return item;
  }
  TFileTransfer t;
  TScriptedLogin login;
  std::string local;
};

TEST_F(Http, DownloadsWithProgressAndNewerOnlyOnLastModified) {
  const std::string data = testing::MakeData(20000, 8);
  WriteAll(Servers().HttpFiles + "/app.cab", data);
  const std::time_t when = 1622548800;  // 2021-06-01 12:00 UTC
  utimbuf times{when, when};
  utime((Servers().HttpFiles + "/app.cab").c_str(), &times);
  const TDateTime served = EncodeDate(2021, 6, 1) + EncodeTime(12, 0, 0, 0);
  testing::TEventRecorder rec(t);
  TTransferItem& plain = Get("/files/app.cab", local + "/a");
  TTransferItem& notNewer = Get("/files/app.cab", local + "/b");
  notNewer.CopyNewerOnly = true;
  notNewer.FileDate = served;
  TTransferItem& newer = Get("/files/app.cab", local + "/c");
  newer.CopyNewerOnly = true;
  newer.FileDate = served - 0.5;
  TTransferItem& noDate = Get("/generated", local + "/d");  // no Last-Modified: now stands in
  noDate.CopyNewerOnly = true;
  noDate.FileDate = served;
  t.Execute();

  EXPECT_TRUE(plain.Success);
  EXPECT_EQ(ReadAll(local + "/a/app.cab"), data);
  EXPECT_EQ(rec.progress.front(), "1:4096/20000");
  EXPECT_EQ(rec.progress[4], "1:20000/20000");
  EXPECT_FALSE(notNewer.Success);
  EXPECT_TRUE(notNewer.NoNewFile);
  EXPECT_NEAR(notNewer.NewFileDate, served, 1e-6);
  EXPECT_FALSE(fs::exists(local + "/b"));
  EXPECT_TRUE(newer.Success);
  EXPECT_NEAR(newer.NewFileDate, served, 1e-6);
  EXPECT_TRUE(noDate.Success);
  EXPECT_EQ(ReadAll(local + "/d/generated"), "made by the server");
  EXPECT_GT(noDate.NewFileDate, served);
  EXPECT_THAT(rec.events, ::testing::Contains("nonew app.cab"));
  EXPECT_TRUE(rec.errors.empty());
}

TEST_F(Http, StatusErrorsAndUnreachableServers) {
  WriteAll(local + "/missing.txt", "previous");
  testing::TEventRecorder rec(t);
  Get("/files/missing.txt", local);
  TTransferItem& down = t.Items.Add();
  down.URL = "http://127.0.0.1:" + std::to_string(testing::FreePort()) + "/x.txt";
  down.TargetDir = local;
  t.Execute();
  EXPECT_FALSE(t.Items[0].Success);
  EXPECT_FALSE(t.Items[1].Success);
  EXPECT_EQ(ReadAll(local + "/missing.txt"), "previous");
  EXPECT_THAT(rec.errors, ElementsAre(std::make_pair(404, std::string("Returned http error code 404"))));
  EXPECT_THAT(rec.events, ::testing::Contains("notfound " + down.URL));
  EXPECT_FALSE(fs::exists(local + "/x.txt"));
}

TEST_F(Http, AuthenticationModes) {
  WriteAll(Servers().HttpFiles + "/secret.txt", "secret");
  const std::string user = Servers().HttpUser, pw = Servers().HttpPassword;
  const std::string caption = "Connect to 127.0.0.1:" + std::to_string(Servers().HttpPort);
  struct Row {
    const char* name;
    TTransferAuthentication mode;
    std::string user, password;
    std::vector<std::pair<std::string, std::string>> answers;
    bool success;
    int dialogs;
    std::vector<int> codes;
  };
  const Row rows[] = {
      {"never, no credentials", TTransferAuthentication::waNever, "", "", {}, false, 0, {401}},
      {"never, stored credentials", TTransferAuthentication::waNever, user, pw, {}, true, 0, {}},
      {"auto, rejected, then typed", TTransferAuthentication::waAuto, user, "bad", {{user, pw}}, true, 1, {}},
      {"auto, rejected, dialog cancelled", TTransferAuthentication::waAuto, user, "bad", {{"", ""}}, false, 1, {}},
      {"always, empty password asks first", TTransferAuthentication::waAlways, user, "", {{user, pw}}, true, 1, {}},
      {"always, asks again after 401", TTransferAuthentication::waAlways, "", "", {{user, "no"}, {user, pw}}, true, 2, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TFileTransfer run;
    run.ShowDialog = false;
    TScriptedLogin form;
    form.answers = r.answers;
    run.LoginForm = &form;
    testing::TEventRecorder rec(run);
    TTransferItem& item = run.Items.Add();
    item.URL = Servers().HttpBase() + "/auth/secret.txt";
    item.TargetDir = FreshFolder("auth");
    item.Authenticate = r.mode;
    item.HTTPUserID = r.user;
    item.HTTPPassword = r.password;
    run.Execute();
    EXPECT_EQ(item.Success, r.success);
    EXPECT_EQ(static_cast<int>(form.captions.size()), r.dialogs);
    for (const auto& c : form.captions) EXPECT_EQ(c, caption);
    std::vector<int> codes;
    for (const auto& e : rec.errors) codes.push_back(e.first);
    EXPECT_EQ(codes, r.codes);
    EXPECT_EQ(fs::exists(item.TargetDir + "/secret.txt"), r.success);
    EXPECT_EQ(item.HTTPPassword, r.password);  // typed credentials do not change the item
  }
}

TEST_F(Http, UploadsByPutAndPost) {
  const std::string data = testing::MakeData(50000, 9);
  WriteAll(local + "/up.bin", data);
  WriteAll(local + "/empty.bin", "");
  testing::TEventRecorder rec(t);
  struct Row { const char* url; const char* file; TTransferHTTPCommand verb; bool success; };
  const Row rows[] = {
      {"/dav/deep/up.bin", "", TTransferHTTPCommand::hcPut, true},
      {"/post", "up.bin", TTransferHTTPCommand::hcPost, true},
      {"/dav/empty.bin", "", TTransferHTTPCommand::hcPut, true},
      {"/files/up.bin", "", TTransferHTTPCommand::hcPut, false},  // the server refuses: 405
      {"/dav/absent.bin", "", TTransferHTTPCommand::hcPut, false},  // no local source
  };
  const std::string unreachable = "127.0.0.1:" + std::to_string(testing::FreePort());
  for (const auto& r : rows) {
    TTransferItem& item = t.Items.Add();
    item.Protocol = TTransferProtocol::wpHttpUpload;
    item.URL = Servers().HttpBase() + r.url;
    item.TargetDir = local;
    item.TargetFilename = r.file;
    item.HTTPCommand = r.verb;
  }
  TTransferItem& nobody = t.Items.Add();
  nobody.Protocol = TTransferProtocol::wpHttpUpload;
  nobody.URL = "http://" + unreachable + "/dav/up.bin";
  nobody.TargetDir = local;
  t.Execute();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(t.Items[i].Success, rows[i].success) << rows[i].url;
  EXPECT_FALSE(nobody.Success);
  EXPECT_EQ(ReadAll(Servers().DavFolder + "/deep/up.bin"), data);
  EXPECT_TRUE(fs::exists(Servers().DavFolder + "/empty.bin"));
  EXPECT_EQ(rec.progress.front(), "1:4096/50000");
  EXPECT_THAT(rec.errors,
              ElementsAre(std::make_pair(405, std::string("Returned http error code 405")),
                          std::make_pair(6, "Cannot connect to server " + unreachable)));
}

TEST_F(Http, AgentAndProxyReachTheServer) {
  WriteAll(Servers().HttpFiles + "/via.txt", "through the proxy");
  WriteAll(Servers().HttpFiles + "/empty.txt", "");
  t.Agent = "KelvaneTest/7";
  Get("/files/empty.txt", local);
  t.Execute();
  // An empty body leaves an empty target but is no download.
  EXPECT_FALSE(t.Items[0].Success);
  EXPECT_TRUE(fs::exists(local + "/empty.txt"));

  // The name of the server is never looked up when a proxy is named: nginx, as the proxy,
  // answers the absolute request itself.
  TFileTransfer p;
  p.ShowDialog = false;
  p.Proxy = "127.0.0.1:" + std::to_string(Servers().HttpPort);
  TTransferItem& item = p.Items.Add();
  item.URL = "http://kelvane-proxy-test.invalid/files/via.txt";
  item.TargetDir = local;
  p.Execute();
  EXPECT_TRUE(item.Success);
  EXPECT_EQ(ReadAll(local + "/via.txt"), "through the proxy");
  // nginx writes its log line after the answer has left: give it a moment.
  std::string log;
  for (int i = 0; i < 50; ++i) {
    log = ReadAll(Servers().Work + "/nginx/access.log");
    if (log.find("\"KelvaneTest/7\"") != std::string::npos &&
        log.find("\"Ferrow\"") != std::string::npos)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(log.find("\"KelvaneTest/7\""), std::string::npos);
  EXPECT_NE(log.find("\"Ferrow\""), std::string::npos);
}

TEST_F(Http, LocalWriteFailureLeavesExecuteAndTheOldTarget) {
  WriteAll(Servers().HttpFiles + "/huge.bin", testing::MakeData(1000000, 11));
  WriteAll(local + "/huge.bin", "previous");
  testing::TEventRecorder rec(t);
  Get("/files/huge.bin", local);
  Get("/files/huge.bin", local + "/never");
  {
    testing::TFileSizeLimit limit(100000);
    EXPECT_THROW(t.Execute(), EInOutError);
  }
  EXPECT_EQ(ReadAll(local + "/huge.bin"), "previous");
  EXPECT_FALSE(fs::exists(local + "/never"));
  EXPECT_THAT(rec.events, ElementsAre("start 0"));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(local)) names.push_back(e.path().filename().string());
  EXPECT_THAT(names, ElementsAre("huge.bin"));
}

// A peer that promises more than it sends and hangs up: the one fault nginx will not produce.
TEST_F(Http, ShortBodyOrCancelLeavesThePreviousTarget) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  listen(listener, 1);
  std::thread peer([listener] {
    const int c = accept(listener, nullptr, nullptr);
    char buf[4096];
    (void)!read(c, buf, sizeof buf);
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(10000, 'x');
    (void)!write(c, reply.data(), reply.size());
    close(c);
  });
  WriteAll(local + "/short.bin", "previous");
  WriteAll(Servers().HttpFiles + "/big.bin", testing::MakeData(1000000, 10));
  WriteAll(local + "/big.bin", "previous big");
  testing::TEventRecorder rec(t);
  TTransferItem& item = t.Items.Add();
  item.URL = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/short.bin";
  item.TargetDir = local;
  t.Execute();
  peer.join();
  close(listener);
  EXPECT_FALSE(item.Success);
  EXPECT_EQ(ReadAll(local + "/short.bin"), "previous");
  ASSERT_EQ(rec.errors.size(), 1u);
  EXPECT_GT(rec.errors[0].first, 12000);

  TFileTransfer c;
  c.ShowDialog = false;
  c.OnCopyProgress = [](TFileTransfer& s, int, std::uint64_t done, std::uint64_t) {
    if (done >= 8192) s.Cancel();
  };
  TTransferItem& big = c.Items.Add();
  big.URL = Servers().HttpBase() + "/files/big.bin";
  big.TargetDir = local;
  c.Execute();
  EXPECT_FALSE(big.Success);
  EXPECT_EQ(ReadAll(local + "/big.bin"), "previous big");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(local)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_THAT(names, ElementsAre("big.bin", "short.bin"));
}

}  // namespace
}  // namespace kelvane
