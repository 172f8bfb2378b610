// wpFile copies and the engine around them: events, results, cancel, the dialog model.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "common/filesizelimit.h"
#include "platform/messages.h"
#include "platform/shares.h"
#include "recorder.h"
#include "servers.h"
#include "transfer/filetransfer.h"

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::FreshFolder;
using testing::ReadAll;
using testing::WriteAll;

TTransferItem& AddCopy(TFileTransfer& t, const std::string& source, const std::string& dir) {
  TTransferItem& item = t.Items.Add();
  item.Protocol = TTransferProtocol::wpFile;
  item.URL = source;
  item.TargetDir = dir;
  return item;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> n;
  for (const auto& e : fs::directory_iterator(dir)) n.push_back(e.path().filename().string());
  std::sort(n.begin(), n.end());
  return n;
}

TEST(FileCopy, CopiesInBlocksWithEventsInOrder) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  const std::string a = testing::MakeData(100000, 1), c = testing::MakeData(5, 2);
  WriteAll(src + "/a.bin", a);
  WriteAll(src + "/b.bin", "never");
  WriteAll(src + "/c.bin", c);
  TFileTransfer t;
  t.ShowDialog = false;
  testing::TEventRecorder rec(t);
  AddCopy(t, src + "/a.bin", dst);
  AddCopy(t, src + "/b.bin", dst).Active = false;
  AddCopy(t, src + "/c.bin", dst + "/deeper/still").TargetFilename = "renamed.bin";
  std::vector<std::string> fileLines;
  t.OnCopyProgress = [&, inner = t.OnCopyProgress](TFileTransfer& s, int f, std::uint64_t n,
                                                   std::uint64_t tot) {
    inner(s, f, n, tot);
    fileLines.push_back(t.Progress().FileLine);
  };
  t.Execute();

  EXPECT_THAT(rec.events, ElementsAre("start 0", "done 0", "start 2", "done 2", "copydone"));
  // The item number counts active items; the last pass reads nothing and reports again.
  EXPECT_THAT(rec.progress, ElementsAre("1:32768/100000", "1:65536/100000", "1:98304/100000",
                                        "1:100000/100000", "1:100000/100000", "2:5/5", "2:5/5"));
  EXPECT_EQ(fileLines.front(), "File : 1 of 2 : a.bin from " + src + "/");
  EXPECT_EQ(ReadAll(dst + "/a.bin"), a);
  EXPECT_EQ(ReadAll(dst + "/deeper/still/renamed.bin"), c);
  EXPECT_THAT(Names(dst), ElementsAre("a.bin", "deeper"));  // no temporary files left
  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_FALSE(t.Items[1].Success);
  EXPECT_TRUE(t.Items[2].Success);
  EXPECT_EQ(t.Progress().BarPosition, 100);
  EXPECT_EQ(t.Progress().ProgressLine, "Progress : 5 bytes of 5 bytes");
}

TEST(FileCopy, ZeroByteSourceGivesEmptyTarget) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  WriteAll(src + "/empty.txt", "");
  TFileTransfer t;
  t.ShowDialog = false;
  testing::TEventRecorder rec(t);
  AddCopy(t, src + "/empty.txt", dst);
  t.Execute();
  EXPECT_THAT(rec.progress, ElementsAre("1:0/0"));
  EXPECT_EQ(t.Progress().BarPosition, 100);
  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_TRUE(fs::exists(dst + "/empty.txt"));
  EXPECT_EQ(fs::file_size(dst + "/empty.txt"), 0u);
}

TEST(FileCopy, ErrorCodesAndTexts) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  WriteAll(src + "/same.txt", "same");
  WriteAll(src + "/ok.txt", "ok");
  WriteAll(dst + "/blocker", "a file where a folder should be");
  struct Row { std::string url, dir; int code; std::string text; };
  const Row rows[] = {
      {src + "/same.txt", src, 0, "Cannot copy identical files " + src + "/same.txt"},
      {src + "/missing.txt", dst, 1, "Cannot open source file " + src + "/missing.txt"},
      {src, dst, 1, "Cannot open source file " + src},
      {src + "/ok.txt", dst + "/blocker/sub", 3,
       "Cannot create target file " + dst + "/blocker/sub/ok.txt"},
  };
  for (const auto& r : rows) {
    TFileTransfer t;
    t.ShowDialog = false;
    testing::TEventRecorder rec(t);
    AddCopy(t, r.url, r.dir);
    t.Execute();
    SCOPED_TRACE(r.text);
    EXPECT_FALSE(t.Items[0].Success);
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].first, r.code);
    EXPECT_EQ(rec.errors[0].second, r.text);
    EXPECT_THAT(rec.events, ElementsAre("start 0", "error " + std::to_string(r.code), "done 0",
                                        "copydone"));
  }
  EXPECT_EQ(ReadAll(src + "/same.txt"), "same");
}

TEST(FileCopy, ARefusedWriteIsErrorFiveAndKeepsTheOldTarget) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  WriteAll(src + "/big.bin", testing::MakeData(300000, 12));
  WriteAll(dst + "/big.bin", "previous");
  TFileTransfer t;
  t.ShowDialog = false;
  testing::TEventRecorder rec(t);
  AddCopy(t, src + "/big.bin", dst);
  {
    // The system refuses every byte past 100000 in a file of this process.
    testing::TFileSizeLimit limit(100000);
    t.Execute();
  }
  EXPECT_FALSE(t.Items[0].Success);
  EXPECT_EQ(rec.errors, (std::vector<std::pair<int, std::string>>{
                            {5, "Error writing to destination file " + dst + "/big.bin"}}));
  EXPECT_EQ(ReadAll(dst + "/big.bin"), "previous");
  EXPECT_THAT(Names(dst), ElementsAre("big.bin"));
}

TEST(FileCopy, OverwriteCheckAndUniqueNames) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  WriteAll(src + "/report.txt", "new");
  WriteAll(dst + "/report.txt", "old");
  {
    TFileTransfer t;
    t.ShowDialog = false;
    std::string asked;
    t.OnCopyOverWrite = [&](TFileTransfer&, const std::string& f, bool& allow) {
      asked = f;
      allow = false;
    };
    AddCopy(t, src + "/report.txt", dst);
    t.Execute();
    EXPECT_EQ(asked, dst + "/report.txt");
    EXPECT_FALSE(t.Items[0].Success);
    EXPECT_EQ(ReadAll(dst + "/report.txt"), "old");
  }
  {
    TFileTransfer t;
    t.ShowDialog = false;
    t.CreateUniqueFilenames = true;
    AddCopy(t, src + "/report.txt", dst);
    AddCopy(t, src + "/report.txt", dst);
    t.Execute();
    EXPECT_EQ(ReadAll(dst + "/report.txt"), "old");
    EXPECT_EQ(ReadAll(dst + "/report(1).txt"), "new");
    EXPECT_EQ(ReadAll(dst + "/report(2).txt"), "new");
    EXPECT_EQ(t.Progress().LastTargetFile, dst + "/report(2).txt");
  }
  {
    TFileTransfer t;  // no handler: overwritten
    t.ShowDialog = false;
    AddCopy(t, src + "/report.txt", dst);
    t.Execute();
    EXPECT_TRUE(t.Items[0].Success);
    EXPECT_EQ(ReadAll(dst + "/report.txt"), "new");
  }
}

TEST(FileCopy, NewerOnlyComparesTheSourceDate) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  WriteAll(src + "/f.txt", "data");
  // 2020-01-01 12:00 local time.
  std::tm tm{};
  tm.tm_year = 120; tm.tm_mon = 0; tm.tm_mday = 1; tm.tm_hour = 12; tm.tm_isdst = -1;
  const std::time_t when = std::mktime(&tm);
  utimbuf times{when, when};
  utime((src + "/f.txt").c_str(), &times);
  const TDateTime sourceDate = EncodeDate(2020, 1, 1) + EncodeTime(12, 0, 0, 0);

  TFileTransfer t;
  t.ShowDialog = false;
  testing::TEventRecorder rec(t);
  TTransferItem& older = AddCopy(t, src + "/f.txt", dst + "/1");
  older.CopyNewerOnly = true;
  older.FileDate = sourceDate - 1;
  TTransferItem& same = AddCopy(t, src + "/f.txt", dst + "/2");
  same.CopyNewerOnly = true;
  same.FileDate = sourceDate;
  t.Execute();
  EXPECT_TRUE(older.Success);
  EXPECT_NEAR(older.NewFileDate, sourceDate, 1e-6);
  EXPECT_TRUE(fs::exists(dst + "/1/f.txt"));
  EXPECT_FALSE(same.Success);
  EXPECT_TRUE(same.NoNewFile);
  EXPECT_FALSE(fs::exists(dst + "/2"));
  EXPECT_THAT(rec.events, ::testing::Contains("nonew " + src + "/f.txt"));

  // A date-check handler decides alone; a copy it refuses keeps its working date.
  TFileTransfer h;
  h.ShowDialog = false;
  std::vector<TDateTime> seen;
  h.OnFileDateCheck = [&](TFileTransfer&, int, TDateTime d, bool& allow) {
    seen.push_back(d);
    allow = false;
  };
  TTransferItem& refused = AddCopy(h, src + "/f.txt", dst + "/3");
  refused.FileDate = 42;
  h.Execute();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NEAR(seen[0], sourceDate, 1e-6);
  EXPECT_FALSE(refused.Success);
  EXPECT_EQ(refused.NewFileDate, 42);
  EXPECT_FALSE(fs::exists(dst + "/3"));
}

TEST(FileCopy, CancelThroughMessageProcessingStopsAfterTheBlock) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  for (int i = 1; i <= 5; ++i) WriteAll(src + "/f" + std::to_string(i), testing::MakeData(200000, i));
  WriteAll(dst + "/f3", "previous version");
  TFileTransfer t;
  t.ShowDialog = false;
  testing::TEventRecorder rec(t);
  for (int i = 1; i <= 5; ++i) AddCopy(t, src + "/f" + std::to_string(i), dst);
  // The user's click arrives while the engine lets messages be processed.
  int pumped = 0;
  SetProcessMessages([&] {
    if (t.Progress().FileLine.find("f3") != std::string::npos && ++pumped == 2) t.Cancel();
  });
  t.Execute();
  SetProcessMessages(nullptr);

  EXPECT_THAT(rec.events, ElementsAre("start 0", "done 0", "start 1", "done 1", "start 2",
                                      "copydone"));
  EXPECT_EQ(rec.progress.back(), "3:65536/200000");  // two blocks, then the stop
  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_TRUE(t.Items[1].Success);
  EXPECT_FALSE(t.Items[2].Success);  // a cancelled copy is no success
  EXPECT_FALSE(t.Items[3].Success);
  EXPECT_EQ(ReadAll(dst + "/f3"), "previous version");
  EXPECT_THAT(Names(dst), ElementsAre("f1", "f2", "f3"));
  EXPECT_TRUE(t.Cancelled());
}

TEST(FileCopy, UncNamesGoThroughTheShareLayer) {
  const std::string src = FreshFolder("src"), mount = FreshFolder("mount");
  WriteAll(src + "/u.txt", "to the share");
  WriteAll(mount + "/in/share.txt", "from the share");
  const auto cwd = fs::current_path();
  fs::current_path(src);
  RegisterShareMount("\\\\fileserver\\Updates", mount);

  TFileTransfer t;
  t.ShowDialog = false;
  testing::TEventRecorder rec(t);
  AddCopy(t, src + "/u.txt", "\\\\FILESERVER\\updates\\app\\v2");     // a mounted share
  AddCopy(t, src + "/u.txt", "\\\\nosuchserver\\share\\dir");         // no layer reaches it
  TTransferItem& viaShare = AddCopy(t, "in\\share.txt", src + "/got"); // source below a share
  viaShare.FTPHost = "\\\\fileserver\\updates";
  TTransferItem& badShare = AddCopy(t, "x.txt", src + "/never");
  badShare.FTPHost = "\\\\nosuchserver\\share";
  t.Execute();
  UnregisterShareMount("\\\\fileserver\\Updates");
  fs::current_path(cwd);

  EXPECT_TRUE(t.Items[0].Success);
  EXPECT_EQ(ReadAll(mount + "/app/v2/u.txt"), "to the share");
  EXPECT_FALSE(t.Items[1].Success);
  EXPECT_TRUE(t.Items[2].Success);
  EXPECT_EQ(ReadAll(src + "/got/share.txt"), "from the share");
  EXPECT_FALSE(t.Items[3].Success);
  // The failed connection and the disconnection that follows on the way out.
  EXPECT_THAT(rec.events, ElementsAre("start 0", "done 0", "start 1", "connecterror", "done 1",
                                      "start 2", "done 2", "start 3", "connecterror",
                                      "connecterror", "done 3", "copydone"));
  // Nothing named after a UNC name appeared locally.
  EXPECT_THAT(Names(src), ElementsAre("got", "u.txt"));
}

struct TRecordingView : TTransferProgressView {
  std::vector<std::string> calls;
  void Show(TTransferProgress& m) override { calls.push_back("show " + m.Caption); }
  void Changed(TTransferProgress&) override {}
  void Close(TTransferProgress&) override { calls.push_back("close"); }
  void OpenPath(const std::string& p) override { calls.push_back("open " + p); }
};

TEST(TransferDialog, FinishedRunKeepsTheDialogForTheOpenButtons) {
  const std::string src = FreshFolder("src"), dst = FreshFolder("dst");
  WriteAll(src + "/f.txt", "x");
  TFileTransfer t;
  TRecordingView view;
  t.ProgressView = &view;
  t.ShowOpenFile = true;
  t.ShowOpenFolder = true;
  t.ShowCompletion = true;
  std::vector<std::string> order;
  t.OnBeforeDialogShow = [&](TFileTransfer&, TTransferProgress& d) {
    order.push_back("before " + std::to_string(d.Visible));
  };
  t.OnCopyDone = [&](TFileTransfer&) { order.push_back("copydone"); };
  AddCopy(t, src + "/f.txt", dst);
  t.Execute();
  TTransferProgress& p = t.Progress();
  EXPECT_THAT(order, ElementsAre("before 0", "copydone"));
  EXPECT_TRUE(p.Visible);
  EXPECT_TRUE(p.Finished);
  EXPECT_EQ(p.CancelCaption, "Close");
  EXPECT_EQ(p.Caption, "Copying : 100% completed");
  EXPECT_TRUE(p.OpenFileEnabled);
  EXPECT_TRUE(p.OpenFolderEnabled);
  EXPECT_FALSE(p.AnimationRunning);
  p.OpenFileClicked();
  EXPECT_THAT(view.calls, ElementsAre("show Downloading ...", "open " + dst + "/f.txt", "close"));
  EXPECT_TRUE(p.Destroyed);

  // While a run goes on, the window refuses to close unless it has a close button.
  TFileTransfer r;
  r.ProgressView = &view;
  bool cancelEvent = false, closable = true;
  r.OnCopyCancel = [&](TFileTransfer&) { cancelEvent = true; };
  r.OnCopyProgress = [&](TFileTransfer& s, int, std::uint64_t, std::uint64_t) {
    closable = s.Progress().RequestClose();
    s.Progress().CancelClicked();
  };
  AddCopy(r, src + "/f.txt", dst + "/2");
  r.Execute();
  EXPECT_FALSE(closable);
  EXPECT_TRUE(cancelEvent);
  EXPECT_FALSE(r.Items[0].Success);
  EXPECT_FALSE(fs::exists(dst + "/2/f.txt"));
}

}  // namespace
}  // namespace kelvane
