#include "shell/environment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/testfolder.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using testing::ReadAll;
using testing::TTestFolder;

class TRecordingLog : public TMessageLog {
 public:
  void LogMessage(const std::string& text, int kind) override {
    lines.push_back(std::to_string(kind) + " " + text);
  }
  std::vector<std::string> lines;
};

TEST(Environment, FirstStartCreatesTheFileWithBothFolders) {
  TTestFolder dir;
  TEnvironmentFile env(dir.Path("Kelvane.ini"));
  TRecordingLog log;
  env.Log = &log;
  std::vector<std::pair<int, bool>> applied;
  env.OnApplyWindowStyle = [&](TEnvironmentFile&, int style, bool scenic) {
    applied.push_back({style, scenic});
  };
  TEnvironmentSettings settings;
  env.ReadEnvironment(settings);
  EXPECT_EQ(ReadAll(dir.Path("Kelvane.ini")),
            "[Project Settings]\r\nKelvaneProjectPath=" + dir.Path() +
                "\r\nUpdateFilePath=" + dir.Path() + "\r\n");
  EXPECT_EQ(settings.KelvaneProjectPath, dir.Path());
  EXPECT_EQ(settings.UpdateFilePath, dir.Path());
  EXPECT_TRUE(settings.UpdateEnabled);
  EXPECT_EQ(settings.Style, -1);
  EXPECT_FALSE(settings.ScenicRibbon);
  EXPECT_THAT(applied, ElementsAre(std::pair{-1, false}));
  EXPECT_THAT(log.lines, ElementsAre("0 Changing Kelvane Style"));
}

TEST(Environment, StoredValuesAndFoldersThatNoLongerExist) {
  TTestFolder dir;
  const std::string projects = dir.Path("projects");
  mkdir(projects.c_str(), 0755);
  const std::string original =
      "[Project Settings]\r\nKelvaneProjectPath=" + projects +
      "\r\nUpdateFilePath=/gone/updates/\r\nUpdateEnabled=0\r\n[Kelvane Environment]\r\nStyle=7\r\n"
      "[Windows 7 Scenic Ribbon]\r\nStyle=1\r\n";
  dir.Write("Kelvane.ini", original);
  TEnvironmentFile env(dir.Path("Kelvane.ini"));
  TEnvironmentSettings settings;
  env.ReadEnvironment(settings);
  EXPECT_EQ(settings.KelvaneProjectPath, projects);
  EXPECT_EQ(settings.UpdateFilePath, dir.Path());  // replaced and written back in place
  EXPECT_FALSE(settings.UpdateEnabled);
  EXPECT_EQ(settings.Style, 7);
  EXPECT_TRUE(settings.ScenicRibbon);
  std::string expected = original;
  expected.replace(expected.find("/gone/updates/"), 14, dir.Path());
  EXPECT_EQ(ReadAll(dir.Path("Kelvane.ini")), expected);

  // Nothing to mend: the file is left alone.
  dir.Write("Kelvane.ini", expected + "; a comment\r\n");
  env.ReadEnvironment(settings);
  EXPECT_EQ(ReadAll(dir.Path("Kelvane.ini")), expected + "; a comment\r\n");
}

TEST(Environment, RecentProjectsKeepBothProjectsOfTheSameName) {
  TTestFolder dir;
  const std::string ini = dir.Path("Kelvane.ini");
  {
    TEnvironmentFile env(ini);
    std::vector<std::string> shown;
    env.OnRecentProjectAdded = [&](TEnvironmentFile&, const std::string& p) { shown.push_back(p); };
    env.AddRecentProject("/work/A/p.KelvaneProj");
    env.AddRecentProject("/work/B/p.KelvaneProj");
    env.AddRecentProject("/work/A/p.KelvaneProj");  // already listed
    env.AddRecentProject("/work/a/P.KelvaneProj");  // differs in case only: a new entry
    env.AddRecentProject("/work/x=y/Other.KelvaneProj");
    EXPECT_THAT(env.RecentProjects(),
                ElementsAre("/work/A/p.KelvaneProj", "/work/B/p.KelvaneProj",
                            "/work/a/P.KelvaneProj", "/work/x=y/Other.KelvaneProj"));
    EXPECT_EQ(shown, env.RecentProjects());
  }
  EXPECT_EQ(ReadAll(ini),
            "[Recent Projects]\r\np.KelvaneProj=/work/A/p.KelvaneProj\r\n"
            "p.KelvaneProj (2)=/work/B/p.KelvaneProj\r\n"
            "P.KelvaneProj (3)=/work/a/P.KelvaneProj\r\n"
            "Other.KelvaneProj=/work/x=y/Other.KelvaneProj\r\n");

  // After a restart every entry is back, in the same order.
  TEnvironmentFile restarted(ini);
  restarted.ReadRecentProjects();
  EXPECT_THAT(restarted.RecentProjects(),
              ElementsAre("/work/A/p.KelvaneProj", "/work/B/p.KelvaneProj", "/work/a/P.KelvaneProj",
                          "/work/x=y/Other.KelvaneProj"));
}

TEST(Environment, RecentSectionIsRewrittenAfterTheOtherSettings) {
  TTestFolder dir;
  const std::string ini = dir.Write("Kelvane.ini",
                                    "[Recent "
                                    "Projects]\r\nold.KelvaneProj=/old/"
                                    "old.KelvaneProj\r\nold.KelvaneProj=/dup/old.KelvaneProj\r\n"
                                    "[Project Settings]\r\nUpdateEnabled=1\r\n");
  TEnvironmentFile env(ini);
  env.ReadRecentProjects();  // a file written by an older version: both lines come back
  EXPECT_THAT(env.RecentProjects(), ElementsAre("/old/old.KelvaneProj", "/dup/old.KelvaneProj"));
  EXPECT_EQ(ReadAll(ini),
            "[Project Settings]\r\nUpdateEnabled=1\r\n[Recent Projects]\r\n"
            "old.KelvaneProj=/old/old.KelvaneProj\r\nold.KelvaneProj (2)=/dup/old.KelvaneProj\r\n");
}

TEST(Environment, UnwritableFileKeepsTheSettingsForThisProcess) {
  TTestFolder dir;
  // A folder that is a file refuses every writer, root included.
  const std::string folder = dir.Write("file", "") + "/";
  TEnvironmentFile env(folder + "Kelvane.ini");
  TRecordingLog log;
  env.Log = &log;
  TEnvironmentSettings settings;
  env.ReadEnvironment(settings);
  env.AddRecentProject("/work/p.KelvaneProj");
  EXPECT_EQ(settings.UpdateFilePath, folder);
  EXPECT_EQ(settings.KelvaneProjectPath, folder);
  EXPECT_THAT(env.RecentProjects(), ElementsAre("/work/p.KelvaneProj"));
  EXPECT_THAT(log.lines, ElementsAre("0 Changing Kelvane Style",
                                     "1 Unable to write to " + folder + "Kelvane.ini",
                                     "1 Unable to write to " + folder + "Kelvane.ini"));
}

TEST(Environment, FileLivesNextToTheProgramWhenThatFolderIsWritable) {
  const std::string name = EnvironmentFileName();
  EXPECT_THAT(name, ::testing::EndsWith("/Kelvane.ini"));
  const std::string programFolder = KELVANE_BINARY_DIR "/tests/shell/";
  if (access(programFolder.c_str(), W_OK) == 0) {
    EXPECT_EQ(name, programFolder + "Kelvane.ini");
  }
}

}  // namespace
}  // namespace kelvane
