#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/errors.h"
#include "common/testfolder.h"

namespace kelvane {
namespace {

using testing::ReadAll;
using testing::TTestFolder;
using testing::WriteAll;

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(Paths, NameParts) {
  EXPECT_EQ(ExtractFileName("/a/b/c.txt"), "c.txt");
  EXPECT_EQ(ExtractFileName("C:\\Dir\\App.exe"), "App.exe");
  EXPECT_EQ(ExtractFileName("plain"), "plain");
  EXPECT_EQ(ExtractFilePath("/a/b/c.txt"), "/a/b/");
  EXPECT_EQ(ExtractFilePath("plain"), "");
  EXPECT_EQ(ChangeFileExt("/p/Release.KelvaneProj", ".INF"), "/p/Release.INF");
  EXPECT_EQ(ChangeFileExt("/p.d/noext", ".INF"), "/p.d/noext.INF");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/x"), "/x/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/x/"), "/x/");
  EXPECT_TRUE(IsUncPath("\\\\server\\share\\f"));
  EXPECT_FALSE(IsUncPath("/server/share"));
  EXPECT_FALSE(IsUncPath("\\single"));
}

TEST(Paths, SystemFolders) {
  const std::string exe = ExecutableFolder();
  EXPECT_EQ(exe.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(exe + "platform_tests"));

  TTestFolder folder;
  {
    ScopedEnv tmp("TMPDIR", folder / "t");
    EXPECT_EQ(TempFolder(), folder / "t/");
  }
  {
    ScopedEnv home("HOME", folder.Path() + "home");
    ScopedEnv config("XDG_CONFIG_HOME", folder / "cfg");
    EXPECT_EQ(ConfigFolder(), folder / "cfg/kelvane/");
    EXPECT_EQ(DocumentsFolder(), folder / "home/Documents/");
    std::filesystem::create_directories(folder / "cfg");
    WriteAll(folder / "cfg/user-dirs.dirs",
             "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
             "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(DocumentsFolder(), folder / "home/Dokumente/");
  }
}

TEST(Paths, WriteFileAtomicallyReplacesWholeFile) {
  TTestFolder folder;
  const std::string target = folder / "f.txt";
  WriteAll(target, "old content that is longer");
  std::filesystem::permissions(target, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
  WriteFileAtomically(target, "new");
  EXPECT_EQ(ReadAll(target), "new");
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  try {
    WriteFileAtomically(folder / "missing/f.txt", "x");
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + (folder / "missing/f.txt"));
  }
}

}  // namespace
}  // namespace kelvane
