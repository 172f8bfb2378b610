#include "build/builddriver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/testfolder.h"
#include "platform/paths.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

// Records what the build shows; `OnFileProgress` lets a test act in the middle of a build, as a
// click handled during a progress report would.
class TRecordingView : public TBuildView {
 public:
  std::vector<std::string> steps, questions, statuses, pictures;
  std::vector<int> totals, fileBars;
  std::string source, destination, progress, hint;
  bool cancelEnabled = false, logPageShown = false;
  bool answer = false;
  std::function<void(const std::string& source)> OnFileProgress;

  void ClearStepLines() override { steps.clear(); }
  void AddStepLine(const std::string& line) override { steps.push_back(line); }
  void SetFileProgress(int percent) override { fileBars.push_back(percent); }
  void SetTotalProgress(int percent) override { totals.push_back(percent); }
  void SetFileLabels(const std::string& s, const std::string& d, const std::string& p) override {
    source = s;
    destination = d;
    progress = p;
    if (OnFileProgress && s != "File Source:") OnFileProgress(s);
  }
  void SetStatusText(const std::string& text) override { statuses.push_back(text); }
  void SetStatusPicture(const std::string& name) override { pictures.push_back(name); }
  void SetTrayHint(const std::string& text) override { hint = text; }
  void SetCancelEnabled(bool enabled) override { cancelEnabled = enabled; }
  bool AskYesNo(const std::string& title, const std::string& message) override {
    questions.push_back(title + "|" + message);
    return answer;
  }
  void ShowLogPage() override { logPageShown = true; }
};

// A project with its folders (sources, update file folder, UNC target) and a driver on it.
class BuildDriverTest : public ::testing::Test {
 public:
  BuildDriverTest() : driver_(state_, transfer_, cabinet_) {
    driver_.View = &view_;
    state_.Project.Clear();
    state_.Project.projectname = "Demo.KelvaneProj";
    state_.Project.unc = true;
    state_.Project.uncdir = folder_.Path("pub");
    fs::create_directories(folder_.Path("inf"));
    state_.Environment.UpdateFilePath = folder_.Path("inf/");
  }

  std::string Source(const std::string& name, std::size_t size = 100) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>((i * 7 + i / 251) & 0xFF);
    return folder_.Write("src/" + name, bytes);
  }
  TFileObject& Add(int level, const std::string& url) {
    state_.Project.files.push_back(TFileEntry{level, std::make_unique<TFileObject>(), "", "", ""});
    TFileObject& file = *state_.Project.files.back().file;
    if (level == 0)
      ReadFileFacts(file, url);
    else
      file.url = url;
    return file;
  }
  std::vector<std::string> QueuedUrls() {
    std::vector<std::string> urls;
    for (int i = 0; i < transfer_.Items.Count(); ++i) urls.push_back(transfer_.Items[i].URL);
    return urls;
  }
  std::string Inf() const {
    return ControlFilePath(state_.Environment.UpdateFilePath, "Demo.KelvaneProj");
  }
  std::string Published(const std::string& name) const { return folder_.Path("pub/" + name); }
  // Error lines of the log, without their stamps.
  std::vector<std::string> Errors() const {
    std::vector<std::string> errors;
    for (const std::string& line : state_.Log.Lines())
      if (line.rfind("[Error message]", 0) == 0)
        errors.push_back(line.substr(line.find("] : ") + 4));
    return errors;
  }

  testing::TTestFolder folder_;
  TProjectState state_;
  TFileTransfer transfer_;
  TCABFile cabinet_;
  TRecordingView view_;
  TBuildDriver driver_;
};

TEST(BuildPercentTest, RoundsHalvesToEvenAndGuardsAnEmptyTotal) {
  struct Case {
    std::uint64_t part, whole;
    int scale, expected;
  } cases[] = {
      {1, 2, 100, 50},
      {1, 8, 100, 12},  // 12.5 -> 12
      {3, 8, 100, 38},  // 37.5 -> 38
      {1, 3, 100, 33},
      {2, 3, 100, 67},
      {0, 0, 100, 100},
      {5, 0, 100, 0},
      {3000000000ULL, 4000000000ULL, 100, 75},  // sizes beyond 32 bits
      {1, 16, 40, 2},                           // 2.5 -> 2
  };
  for (const Case& c : cases)
    EXPECT_EQ(RoundedShare(c.part, c.whole, c.scale), c.expected) << c.part << "/" << c.whole;
  // The whole milestone is rounded, not the share added to it.
  EXPECT_EQ(EntryMilestone(0, 16), 38);  // 37.5
  EXPECT_EQ(EntryMilestone(2, 16), 42);  // 42.5
  EXPECT_EQ(EntryMilestone(15, 16), 75);
  EXPECT_EQ(TransferMilestone(1, 2), 88);  // 87.5
  EXPECT_EQ(TransferMilestone(3, 3), 100);
}

TEST_F(BuildDriverTest, PublishesAnArchiveAFileAndTheLicenceWithTheControlFileLast) {
  const std::string head = Source("lib.dll", 5000);
  Add(0, head).compressed = 1;
  Add(1, head);
  Add(1, Source("extra.txt", 3000));
  const std::string data = Source("data.bin", 70000);
  Add(0, data);
  state_.Project.eula = Source("eula.txt");
  const std::string cab = folder_.Path("src/lib.CAB");

  driver_.RunBuild();

  EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boFinished);
  EXPECT_THAT(view_.steps,
              ElementsAre("Building Project...", "Initialize Build Complete...",
                          "Updating final INF file...", "Updating INF file complete...",
                          "Adding INF file : " + Inf() + " to Update List",
                          "Adding Eula file : " + state_.Project.eula + " to Update List",
                          "Compressing file... : " + cab, "Compressing file completed : " + cab,
                          "Adding file : " + cab + " to Update List",
                          "Adding file : " + data + " to Update List", "Transferring files...",
                          "Update uploaded"));
  // The loop's four entries move 35 -> 75; four queued files move 75 -> 100.
  EXPECT_THAT(view_.totals, ElementsAre(0, 10, 20, 30, 35, 45, 55, 65, 75, 81, 88, 94, 100));
  EXPECT_THAT(QueuedUrls(), ElementsAre(state_.Project.eula, cab, data, Inf()));
  for (const std::string& file : {state_.Project.eula, cab, data, Inf()})
    EXPECT_EQ(testing::ReadAll(Published(ExtractFileName(file))),
              testing::ReadAll(file))
        << file;
  EXPECT_THAT(view_.statuses, ElementsAre("", "Project Running", "Project Finished"));
  EXPECT_THAT(view_.pictures, ElementsAre("", "ok"));
  EXPECT_FALSE(view_.cancelEnabled);
  EXPECT_EQ(view_.source, "File Source:");
  EXPECT_EQ(view_.progress, "File Progress:");
  EXPECT_THAT(view_.hint, ::testing::MatchesRegex("Project Progress : [0-9]+%"));
  EXPECT_EQ(view_.fileBars.back(), 100);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(BuildDriverTest, ArchiveProgressNamesItsMembersAndAppComponentsTravelAsNewCopies) {
  const std::string app = Source("app.exe", 1000);
  TFileObject& component = Add(0, app);
  component.includeappcomps = true;
  const std::string single = Source("one.dll", 2000);
  Add(0, single).compressed = 1;
  Add(1, single);
  state_.Project.RebuildApplicationComponents();
  std::vector<std::string> sources;
  view_.OnFileProgress = [&](const std::string& s) {
    if (sources.empty() || sources.back() != s) sources.push_back(s);
  };

  driver_.RunBuild();

  ASSERT_EQ(driver_.Outcome(), TBuildOutcome::boFinished);
  EXPECT_EQ(testing::ReadAll(Published("app.exe_NEW")),
            testing::ReadAll(app));
  EXPECT_TRUE(fs::exists(Published("one.CAB")));
  EXPECT_EQ(sources.front(), "File Source: Single File...[" + single + "]");
  EXPECT_EQ(view_.steps[5], "Copying and renaming file : " + app + "_NEW");
}

TEST_F(BuildDriverTest, TheSameFileListedTwiceIsQueuedOnce) {
  const std::string data = Source("data.bin");
  Add(0, data);
  Add(0, data);
  driver_.RunBuild();
  EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boFinished);
  EXPECT_THAT(QueuedUrls(), ElementsAre(data, Inf()));
  // The control file still lists it twice.
  EXPECT_THAT(testing::ReadAll(Inf()), HasSubstr("[file2]"));

  // Case does not matter either.
  driver_.QueueForTransfer(folder_.Path("SRC/DATA.BIN"));
  EXPECT_EQ(transfer_.Items.Count(), 2);
}

TEST_F(BuildDriverTest, FtpProjectsQueueUploadsWithTheProjectsSettings) {
  TUpdateProject& p = state_.Project;
  p.unc = false;
  p.host = "ftp.example.org:2121";
  p.userid = "me";
  p.passwd = "secret";
  p.ftpdir = "updates/app";
  driver_.QueueForTransfer("/out/Demo.INF");
  ASSERT_EQ(transfer_.Items.Count(), 1);
  const TTransferItem& item = transfer_.Items[0];
  EXPECT_EQ(item.Protocol, TTransferProtocol::wpFtpUpload);
  EXPECT_EQ(item.FTPHost, "ftp.example.org:2121");
  EXPECT_EQ(item.FTPUserID, "me");
  EXPECT_EQ(item.FTPPassword, "secret");
  EXPECT_EQ(item.FTPPort, 21);
  EXPECT_EQ(item.TargetDir, "updates/app");
  EXPECT_EQ(item.TargetFilename, "Demo.INF");
  EXPECT_TRUE(item.Active);
}

TEST_F(BuildDriverTest, ValidationProblemsAskAboutTheLogAndPublishNothing) {
  Add(0, folder_.Path("src/missing1.bin"));
  Add(0, folder_.Path("src/missing2.bin"));
  view_.answer = true;

  driver_.RunBuild();

  EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boValidationFailed);
  EXPECT_EQ(state_.Log.ErrorCount, 2);
  EXPECT_THAT(view_.steps, ElementsAre("Building Project...", "Project has Build errors"));
  EXPECT_THAT(view_.questions, ElementsAre("  Project Build Errors|There are 2 errors\r\n"
                                           "Do you want to view the error log?"));
  EXPECT_TRUE(view_.logPageShown);
  EXPECT_THAT(view_.totals, ElementsAre(0, 0));  // the bars go back to 0 at the end
  EXPECT_EQ(driver_.StatusText(), "Project Cancelled");
  EXPECT_EQ(view_.pictures.back(), "cancel");
  EXPECT_FALSE(fs::exists(Inf()));
  EXPECT_FALSE(fs::exists(folder_.Path("pub")));
}

// An error in any step ends the build at once; nothing queued is transferred.
TEST_F(BuildDriverTest, AnErrorEndsTheBuildBeforeAnyTransfer) {
  struct Case {
    const char* name;
    std::function<void(BuildDriverTest&)> arrange;
    const char* error;
  } cases[] = {
      {"unwritable control file folder",
       [](BuildDriverTest& t) { t.state_.Environment.UpdateFilePath = t.folder_.Path("nowhere/"); },
       "Unable to write to"},
      // The "_NEW" name is taken by a folder: the copy fails and must not publish a stale file.
      {"failed _NEW copy",
       [](BuildDriverTest& t) {
         TFileObject& f = t.Add(0, t.Source("app.exe"));
         f.includeappcomps = true;
         t.state_.Project.RebuildApplicationComponents();
         fs::create_directories(f.url + "_NEW/x");
       },
       "Unable to copy"},
      {"archive name taken by a folder",
       [](BuildDriverTest& t) {
         const std::string head = t.Source("lib.dll");
         t.Add(0, head).compressed = 1;
         t.Add(1, head);
         fs::create_directories(t.folder_.Path("src/lib.CAB/x"));
       },
       "lib.CAB"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    state_.Project.files.clear();
    state_.Log.ClearLog();
    fs::remove_all(folder_.Path("pub"));
    state_.Environment.UpdateFilePath = folder_.Path("inf/");
    c.arrange(*this);
    state_.Project.eula = Source("eula.txt");

    driver_.RunBuild();

    EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boFailed);
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_THAT(Errors()[0], HasSubstr(c.error));
    EXPECT_EQ(driver_.StatusText(), "Project Cancelled");
    EXPECT_FALSE(fs::exists(folder_.Path("pub")));
    EXPECT_NE(view_.steps.back(), "Transferring files...");
  }
}

TEST_F(BuildDriverTest, CancelDuringTheSecondArchiveFinishesItAndTransfersNothing) {
  std::vector<std::string> archives;
  for (int i = 1; i <= 5; ++i) {
    const std::string path = Source("f" + std::to_string(i) + ".dll", 200000);
    Add(0, path).compressed = 1;
    Add(1, path);
    archives.push_back(folder_.Path("src/f" + std::to_string(i) + ".CAB"));
  }
  view_.answer = true;
  view_.OnFileProgress = [&](const std::string& source) {
    if (source.find("f2.dll") != std::string::npos && !driver_.CancelFlag()) driver_.CancelBuild();
  };

  driver_.RunBuild();

  EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boCancelled);
  EXPECT_THAT(view_.questions, ElementsAre("Project Build|Project is currently building.\r\n"
                                           "Are you sure you want to cancel the build process?"));
  EXPECT_TRUE(fs::exists(archives[1]));  // the running compression finished its archive
  EXPECT_FALSE(fs::exists(archives[2]));
  EXPECT_EQ(view_.steps.back(), "Adding file : " + archives[1] + " to Update List");
  EXPECT_FALSE(fs::exists(folder_.Path("pub")));
  EXPECT_THAT(view_.statuses,
              ElementsAre("", "Project Running", "Waiting for project to be cancelled",
                          "Project Cancelled"));
  EXPECT_EQ(view_.totals.back(), 0);
}

TEST_F(BuildDriverTest, BuildCommandDuringABuildOnlyOffersToCancel) {
  Add(0, Source("a.bin", 100000));
  int asked = 0;
  view_.OnFileProgress = [&](const std::string&) {
    if (asked++ == 0) driver_.RunBuild();  // answered No
  };
  driver_.RunBuild();
  EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boFinished);
  EXPECT_THAT(view_.questions, ElementsAre("Project Build|Project is currently building.\r\n"
                                           "Do you want to cancel the build process?"));
  EXPECT_EQ(std::count(view_.steps.begin(), view_.steps.end(), "Building Project..."), 1);
}

// A file that cannot be transferred: the others go on, the control file is withheld, and the
// build says so instead of "Update uploaded".
TEST_F(BuildDriverTest, AFailedTransferWithholdsTheControlFile) {
  const std::string good = Source("good.bin");
  const std::string bad = Source("bad.bin");
  Add(0, bad);
  Add(0, good);
  fs::create_directories(Published("bad.bin/x"));  // the target name is taken by a folder

  driver_.RunBuild();

  EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boFinishedWithErrors);
  EXPECT_EQ(driver_.FailedTransfers(), 1);
  EXPECT_EQ(view_.steps.back(), "Update not uploaded: 1");
  EXPECT_EQ(driver_.StatusText(), "Project Finished");
  EXPECT_TRUE(fs::exists(Published("good.bin")));
  EXPECT_FALSE(fs::exists(Published("Demo.INF")));
  const std::vector<std::string> errors = Errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_THAT(errors, ::testing::Contains("Update not uploaded: 1"));
  EXPECT_NE(view_.totals.back(), 100);
}

// A share that no layer can reach fails every file; the log names it.
TEST_F(BuildDriverTest, AnUnreachableShareIsLoggedAndNothingIsPublished) {
  state_.Project.uncdir = "\\\\no-such-server\\updates";
  Add(0, Source("data.bin"));

  driver_.RunBuild();

  EXPECT_EQ(driver_.Outcome(), TBuildOutcome::boFinishedWithErrors);
  EXPECT_EQ(view_.steps.back(), "Update not uploaded: 1");
  EXPECT_THAT(Errors(), ::testing::Contains("Cannot connect to \\\\no-such-server\\updates"));
}

}  // namespace
}  // namespace kelvane
