#include "build/projectlog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "platform/errors.h"
#include "common/testfolder.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;
using testing::ReadAll;
using testing::TTestFolder;

class TRecordingView : public TProjectLogView {
 public:
  void LogLineAdded(const std::string& line) override { events.push_back("line " + line); }
  void LogCleared() override { events.push_back("cleared"); }
  void TotalProgressChanged(int percent) override {
    events.push_back("total " + std::to_string(percent));
  }
  void ProjectStatusChanged(const std::string& text) override { events.push_back(text); }
  std::vector<std::string> events;
};

TEST(ProjectLog, LineFormatPerKind) {
  const TDateTime when = EncodeDate(2026, 12, 9) + EncodeTime(18, 45, 3, 0);
  const TDateTime morning = EncodeDate(2027, 1, 31) + EncodeTime(0, 5, 9, 0);
  const TFormatSettings us;
  EXPECT_EQ(FormatLogLine("Building Project...", mkInformational, when, us),
            "[Informational message] [12/9/2026 6:45:03 PM] : Building Project...");
  EXPECT_EQ(FormatLogLine("Missing file", mkWarning, morning, us),
            "[Warning message] [1/31/2027 12:05:09 AM] : Missing file");
  EXPECT_EQ(FormatLogLine("Failed", mkError, when, us),
            "[Error message] [12/9/2026 6:45:03 PM] : Failed");
  // Other system formats are followed.
  TFormatSettings de;
  de.DateSeparator = '.';
  de.ShortDateFormat = "dd/mm/yyyy";
  de.LongTimeFormat = "hh:nn:ss";
  EXPECT_EQ(FormatLogLine("x", mkInformational, when, de),
            "[Informational message] [09.12.2026 18:45:03] : x");
}

TEST(ProjectLog, LinesClearAndView) {
  TProjectLog log;
  TRecordingView view;
  log.View = &view;
  log.LogMessage("Building Project...", mkInformational);
  log.LogMessage("File missing\r\nC:\\rel\\app.exe", mkWarning);
  ASSERT_EQ(log.Lines().size(), 2u);  // a text with CR LF stays one entry
  EXPECT_THAT(
      log.Lines()[0],
      MatchesRegex(
          R"(\[Informational message\] \[[0-9]+/[0-9]+/[0-9]{4} [0-9]+:[0-9]{2}:[0-9]{2} [AP]M\] : Building Project\.\.\.)"));
  EXPECT_THAT(log.Lines()[1], ::testing::EndsWith("] : File missing\r\nC:\\rel\\app.exe"));
  log.ErrorCount = 3;
  log.LogMessage("An error", mkError);
  EXPECT_EQ(log.ErrorCount, 3);  // errors of kind 2 are not counted
  log.ClearLog();
  EXPECT_TRUE(log.Lines().empty());
  log.LogMessage("After the clear", mkInformational);
  EXPECT_EQ(log.Lines().size(), 1u);
  ASSERT_EQ(view.events.size(), 5u);
  EXPECT_EQ(view.events[3], "cleared");
  EXPECT_THAT(view.events[4], ::testing::EndsWith("] : After the clear"));
}

TEST(ProjectLog, SaveWritesCrLfAndWindows1252) {
  TTestFolder dir;
  TProjectLog log;
  log.LogMessage("Price 5 \u20ac", mkInformational);
  log.LogMessage("two\r\nlines", mkWarning);
  const std::string path = dir.Path("build.log");
  log.SaveLog(path);
  const std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes, log.Lines()[0].substr(0, log.Lines()[0].size() - 3) + "\x80\r\n" +
                       log.Lines()[1] + "\r\n");

  TProjectLog empty;
  empty.SaveLog(path);
  EXPECT_EQ(ReadAll(path), "");
}

TEST(ProjectLog, RefusedSaveRaisesAndKeepsTheLog) {
  TProjectLog log;
  log.LogMessage("kept", mkInformational);
  const std::string path = "/nonexistent-folder/build.log";
  try {
    log.SaveLog(path);
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_EQ(log.Lines().size(), 1u);
}

TEST(ProjectLog, TotalProgressGoesToTheConsoleOnlyInCompileMode) {
  TProjectLog log;
  TRecordingView view;
  std::ostringstream console;
  log.View = &view;
  log.Console = &console;
  log.ReportTotalProgress(0);
  EXPECT_EQ(console.str(), "");
  log.CompileFlag = true;
  log.ReportTotalProgress(10);
  log.ReportTotalProgress(100);
  EXPECT_EQ(console.str(), "@TOTAL:10\n\n\n@TOTAL:100\n\n\n");
  EXPECT_THAT(view.events, ElementsAre("total 0", "total 10", "total 100"));
}

TEST(ProjectLog, ProjectStatus) {
  TTestFolder dir;
  TUpdateProject project;
  project.projectname = "Project1.KelvaneProj";
  EXPECT_EQ(ProjectStatusText(project),
            "Current Project : Project1.KelvaneProj      Location : Project Not Saved");
  project.projectname = "Release.KelvaneProj";
  project.projectpath = dir.Write("Release.KelvaneProj", "");
  EXPECT_EQ(ProjectStatusText(project),
            "Current Project : Release.KelvaneProj      Location : " + project.projectpath);
  TProjectLog log;
  TRecordingView view;
  log.View = &view;
  std::remove(project.projectpath.c_str());  // deleted after the save
  log.ShowProjectStatus(project);
  EXPECT_THAT(view.events, ElementsAre("Current Project : Release.KelvaneProj      Location : "
                                       "Project Not Saved"));
}

}  // namespace
}  // namespace kelvane
