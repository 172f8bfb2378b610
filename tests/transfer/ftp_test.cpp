// The FTP kinds against a real vsftpd on 127.0.0.1: what arrives on the server, the events, the
// codes, and the logins counted in the server's own log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <thread>

#include "recorder.h"
#include "servers.h"
#include "transfer/filetransfer.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FreshFolder;
using testing::ReadAll;
using testing::Servers;
using testing::WriteAll;

class Ftp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Servers().Available) GTEST_SKIP() << Servers().Why;
    t.ShowDialog = false;
    t.FTPPassive = true;
    local = FreshFolder("local");
  }

  TTransferItem& Add(TTransferProtocol p, const std::string& url, const std::string& dir) {
    TTransferItem& item = t.Items.Add();
    item.Protocol = p;
    item.URL = url;
    item.TargetDir = dir;
    item.FTPHost = Servers().FtpHost();
    item.FTPUserID = Servers().FtpUser;
    item.FTPPassword = Servers().FtpPassword;
    return item;
  }

  // Files on the server, dotfiles (half-sent temporary names) included.
  std::vector<std::string> Remote(const std::string& dir) {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(Servers().FtpRoot + "/" + dir))
      n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  }

  // vsftpd writes its log from the session process; give it a moment after the QUIT.
  int LoginsSince(int before) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return Servers().FtpLogins() - before;
  }

  TFileTransfer t;
  std::string local;
};

TEST_F(Ftp, UploadsCreateTheFolderChainAndShareOneLogin) {
  const std::string a = testing::MakeData(10000, 3), b = testing::MakeData(70000, 4);
  WriteAll(local + "/a.inf", a);
  WriteAll(local + "/b.cab", b);
  testing::TEventRecorder rec(t);
  const int before = Servers().FtpLogins();
  Add(TTransferProtocol::wpFtpUpload, local + "/a.inf", "pub\\app/v1");
  Add(TTransferProtocol::wpFtpUpload, local + "/b.cab", "pub\\app/v1").TargetFilename = "B.CAB";
  t.Execute();

  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_TRUE(t.Items[1].Success);
  EXPECT_EQ(ReadAll(Servers().FtpRoot + "/pub/app/v1/a.inf"), a);
  EXPECT_EQ(ReadAll(Servers().FtpRoot + "/pub/app/v1/B.CAB"), b);
  EXPECT_THAT(Remote("pub/app/v1"), ElementsAre("B.CAB", "a.inf"));
  EXPECT_EQ(LoginsSince(before), 1);
  EXPECT_THAT(rec.events, ElementsAre("start 0", "done 0", "start 1", "done 1", "copydone"));
  // Blocks of 4096, numbered among the active items, ending at the size.
  EXPECT_EQ(rec.progress.front(), "1:4096/10000");
  EXPECT_EQ(rec.progress.back(), "2:70000/70000");
  EXPECT_EQ(std::count_if(rec.progress.begin(), rec.progress.end(),
                          [](const std::string& s) { return s[0] == '2'; }),
            18);
  EXPECT_EQ(t.Progress().FileLine, "File : 2 of 2 : b.cab to " + Servers().FtpHost());
  EXPECT_EQ(t.Progress().Caption, "Uploading ...");
}

TEST_F(Ftp, ActiveModeAndAnItemBetweenMeanNewLogins) {
  t.FTPPassive = false;
  WriteAll(local + "/one.txt", "one");
  WriteAll(local + "/two.txt", "two");
  const int before = Servers().FtpLogins();
  Add(TTransferProtocol::wpFtpUpload, local + "/one.txt", "act");
  Add(TTransferProtocol::wpFtpDelete, "gone.txt", "act");
  Add(TTransferProtocol::wpFtpUpload, local + "/two.txt", "act");
  t.Execute();
  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_TRUE(t.Items[2].Success);
  EXPECT_THAT(Remote("act"), ElementsAre("one.txt", "two.txt"));
  EXPECT_EQ(LoginsSince(before), 3);
}

TEST_F(Ftp, DownloadsAndMissingFiles) {
  const std::string data = testing::MakeData(50000, 5);
  Servers().PutFtpFile("dl/file.bin", data);
  WriteAll(local + "/kept.bin", "previous");
  testing::TEventRecorder rec(t);
  Add(TTransferProtocol::wpFtp, "dl/file.bin", local + "/new/folder");
  Add(TTransferProtocol::wpFtp, "dl/missing.bin", local).TargetFilename = "kept.bin";
  t.Execute();
  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_EQ(ReadAll(local + "/new/folder/file.bin"), data);
  EXPECT_EQ(rec.progress.front(), "1:4096/50000");
  EXPECT_FALSE(t.Items[1].Success);
  EXPECT_EQ(ReadAll(local + "/kept.bin"), "previous");
  EXPECT_THAT(rec.events, ElementsAre("start 0", "done 0", "start 1", "notfound dl/missing.bin",
                                      "done 1", "copydone"));
  EXPECT_TRUE(rec.errors.empty());
}

TEST_F(Ftp, RefusedLoginAndUnreachableServerAreErrorSix) {
  testing::TEventRecorder rec(t);
  Add(TTransferProtocol::wpFtpUpload, local + "/x", "d").FTPPassword = "wrong";
  TTransferItem& closed = Add(TTransferProtocol::wpFtp, "x", local);
  closed.FTPHost = "127.0.0.1";
  closed.FTPPort = testing::FreePort();  // nothing listens there
  t.Execute();
  EXPECT_FALSE(t.Items[0].Success);
  EXPECT_FALSE(t.Items[1].Success);
  ASSERT_EQ(rec.errors.size(), 2u);
  EXPECT_EQ(rec.errors[0], std::make_pair(6, "Cannot connect to FTP server " + Servers().FtpHost()));
  EXPECT_EQ(rec.errors[1], std::make_pair(6, std::string("Cannot connect to FTP server 127.0.0.1")));
}

TEST_F(Ftp, ListingFillsNamesAndDetailsAndIsReplacedOnEveryRun) {
  Servers().PutFtpFile("ls/alpha.txt", std::string(1234, 'a'));
  Servers().PutFtpFile("ls/beta.txt", "b");
  Servers().PutFtpFile("ls/gamma.dat", "g");
  Servers().PutFtpFile("ls/sub.txt/inner", "");
  TTransferItem& item = Add(TTransferProtocol::wpFtpList, "ls/*.txt", "");
  t.Execute();
  t.Execute();
  EXPECT_TRUE(item.Success);
  std::vector<std::string> names = item.FileList;
  std::sort(names.begin(), names.end());
  EXPECT_THAT(names, ElementsAre("alpha.txt", "beta.txt", "sub.txt"));
  ASSERT_EQ(item.FileDetails.size(), 3u);
  for (const auto& d : item.FileDetails) {
    if (d.FileName == "alpha.txt") {
      EXPECT_EQ(d.FileSize, 1234u);
      EXPECT_EQ(d.Attributes, 0x80u);
      EXPECT_GT(d.CreationTime, 130000000000000000ULL);  // after 2012
    }
    if (d.FileName == "sub.txt") {
      EXPECT_EQ(d.Attributes, 0x10u);
    }
  }
}

TEST_F(Ftp, MultiFileDownloadAndUpload) {
  Servers().PutFtpFile("multi/one.log", "1");
  Servers().PutFtpFile("multi/two.log", "22");
  Servers().PutFtpFile("multi/skip.txt", "x");
  WriteAll(local + "/up/a.cab", "aa");
  WriteAll(local + "/up/b.cab", "bbb");
  WriteAll(local + "/up/c.txt", "c");
  testing::TEventRecorder rec(t);
  const int before = Servers().FtpLogins();
  Add(TTransferProtocol::wpMultiFtp, "multi\\*.log", local + "/down");
  Add(TTransferProtocol::wpMultiFtpUpload, local + "/up/*.cab", "multi/up");
  Add(TTransferProtocol::wpMultiFtp, "multi/*.none", local + "/none");
  t.Execute();
  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_TRUE(t.Items[1].Success);
  EXPECT_TRUE(t.Items[2].Success);
  EXPECT_EQ(ReadAll(local + "/down/one.log"), "1");
  EXPECT_EQ(ReadAll(local + "/down/two.log"), "22");
  EXPECT_FALSE(fs::exists(local + "/down/skip.txt"));
  EXPECT_THAT(Remote("multi/up"), ElementsAre("a.cab", "b.cab"));
  EXPECT_EQ(ReadAll(Servers().FtpRoot + "/multi/up/b.cab"), "bbb");
  EXPECT_THAT(rec.events, Contains("multidone a.cab"));
  EXPECT_THAT(rec.events, Contains("multidone b.cab"));
  EXPECT_EQ(std::count_if(rec.events.begin(), rec.events.end(),
                          [](const std::string& e) { return e.rfind("multidone", 0) == 0; }),
            4);
  EXPECT_EQ(LoginsSince(before), 3);  // one per item
}

TEST_F(Ftp, DeletionReportsThroughItsOwnEvents) {
  Servers().PutFtpFile("del/old.txt", "x");
  testing::TEventRecorder rec(t);
  Add(TTransferProtocol::wpFtpDelete, "old.txt", "del");
  Add(TTransferProtocol::wpFtpDelete, "some/where/never.txt", "del");
  Add(TTransferProtocol::wpFtpDelete, "x.txt", "no/such/folder");
  t.Execute();
  EXPECT_FALSE(fs::exists(Servers().FtpRoot + "/del/old.txt"));
  EXPECT_THAT(rec.events, ElementsAre("start 0", "removed 0", "done 0", "start 1",
                                      "removefailed 1", "done 1", "start 2", "done 2",
                                      "copydone"));
  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_TRUE(t.Items[1].Success);  // a refused deletion still counts as done
  EXPECT_FALSE(t.Items[2].Success);
}

TEST_F(Ftp, CancelledOrBrokenUploadLeavesThePreviousFile) {
  Servers().PutFtpFile("cancel/big.cab", "previous");
  WriteAll(local + "/big.cab", testing::MakeData(3000000, 6));
  WriteAll(local + "/next.txt", "next");
  testing::TEventRecorder rec(t);
  t.OnCopyProgress = [&](TFileTransfer& s, int, std::uint64_t done, std::uint64_t) {
    if (done >= 8192) s.Cancel();
  };
  Add(TTransferProtocol::wpFtpUpload, local + "/big.cab", "cancel");
  Add(TTransferProtocol::wpFtpUpload, local + "/next.txt", "cancel");
  t.Execute();
  EXPECT_FALSE(t.Items[0].Success);
  EXPECT_FALSE(t.Items[1].Success);
  EXPECT_THAT(rec.events, ElementsAre("start 0", "copydone"));
  EXPECT_EQ(ReadAll(Servers().FtpRoot + "/cancel/big.cab"), "previous");
  EXPECT_THAT(Remote("cancel"), ElementsAre("big.cab"));

  // The connection breaks in the middle of the body: a failure, and still the old file.
  TFileTransfer b;
  b.ShowDialog = false;
  b.FTPPassive = true;
  testing::TEventRecorder brec(b);
  bool broken = false;
  b.OnCopyProgress = [&](TFileTransfer&, int, std::uint64_t done, std::uint64_t) {
    if (done >= 65536 && !broken) {
      broken = true;
      Servers().BreakFtpSessions();
    }
  };
  TTransferItem& item = b.Items.Add();
  item = t.Items[0];
  b.Execute();
  EXPECT_TRUE(broken);
  EXPECT_FALSE(item.Success);
  ASSERT_EQ(brec.errors.size(), 1u);
  EXPECT_GT(brec.errors[0].first, 12000);
  EXPECT_EQ(ReadAll(Servers().FtpRoot + "/cancel/big.cab"), "previous");
  // The half-sent temporary file was removed over a new connection.
  EXPECT_THAT(Remote("cancel"), ElementsAre("big.cab"));
}

TEST_F(Ftp, AFolderThatCannotBeMadeFailsTheUploadQuietly) {
  Servers().PutFtpFile("plain.txt", "a file, not a folder");
  WriteAll(local + "/f.txt", "x");
  testing::TEventRecorder rec(t);
  Add(TTransferProtocol::wpFtpUpload, local + "/f.txt", "plain.txt/sub");
  Add(TTransferProtocol::wpFtpUpload, local + "/absent.txt", "ok");
  t.Execute();
  EXPECT_FALSE(t.Items[0].Success);
  EXPECT_FALSE(t.Items[1].Success);
  EXPECT_THAT(rec.events, ElementsAre("start 0", "done 0", "start 1",
                                      "notfound " + local + "/absent.txt", "error 1", "done 1",
                                      "copydone"));
  EXPECT_THAT(rec.errors, ElementsAre(std::make_pair(1, "Cannot open source file " + local +
                                                            "/absent.txt")));
}

TEST_F(Ftp, CancelledDownloadLeavesNoPartialFile) {
  Servers().PutFtpFile("dl/large.bin", testing::MakeData(2000000, 7));
  WriteAll(local + "/large.bin", "previous");
  t.OnCopyProgress = [&](TFileTransfer& s, int, std::uint64_t, std::uint64_t) { s.Cancel(); };
  Add(TTransferProtocol::wpFtp, "dl/large.bin", local);
  t.Execute();
  EXPECT_FALSE(t.Items[0].Success);
  EXPECT_EQ(ReadAll(local + "/large.bin"), "previous");
  EXPECT_EQ(std::distance(fs::directory_iterator(local), fs::directory_iterator()), 1);
}

TEST_F(Ftp, NewerOnlyUploadsWhenTheRemoteFileIsNotNewer) {
  WriteAll(local + "/f.txt", "fresh");
  Servers().PutFtpFile("n/f.txt", "remote");
  Servers().PutFtpFile("n2/f.txt", "remote");
  // Both remote files were written on 2021-06-01 12:00 UTC.
  const std::time_t when = 1622548800;
  utimbuf times{when, when};
  utime((Servers().FtpRoot + "/n/f.txt").c_str(), &times);
  utime((Servers().FtpRoot + "/n2/f.txt").c_str(), &times);
  const TDateTime remoteDate = EncodeDate(2021, 6, 1) + EncodeTime(12, 0, 0, 0);
  testing::TEventRecorder rec(t);
  TTransferItem& later = Add(TTransferProtocol::wpFtpUpload, local + "/f.txt", "n");
  later.CopyNewerOnly = true;
  later.FileDate = remoteDate;  // the remote file is not newer: upload
  TTransferItem& earlier = Add(TTransferProtocol::wpFtpDelete, "", "");
  earlier = later;
  earlier.TargetDir = "n2";
  earlier.FileDate = remoteDate - 1;  // the remote file is newer: skip
  t.Execute();
  EXPECT_TRUE(later.Success);
  EXPECT_NEAR(later.NewFileDate, remoteDate, 1e-6);
  EXPECT_EQ(ReadAll(Servers().FtpRoot + "/n/f.txt"), "fresh");
  EXPECT_FALSE(earlier.Success);
  EXPECT_TRUE(earlier.NoNewFile);
  EXPECT_EQ(ReadAll(Servers().FtpRoot + "/n2/f.txt"), "remote");
  EXPECT_THAT(rec.events, Contains("nonew f.txt"));
}

}  // namespace
}  // namespace kelvane
