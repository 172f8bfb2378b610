#include "project/updateproject.h"

#include <gtest/gtest.h>

#include "common/testfolder.h"

namespace kelvane {
namespace {

using testing::TTestFolder;

TFileEntry Entry(int level, const std::string& url, int compressed = 0, bool appcomp = false) {
  TFileEntry entry;
  entry.level = level;
  entry.file = std::make_unique<TFileObject>();
  entry.file->url = url;
  entry.file->localver = url.substr(url.find_last_of('/') + 1);
  entry.file->compressed = compressed;
  entry.file->includeappcomps = appcomp;
  return entry;
}

// app.exe, a CAB head data.dat with members data.dat and extra.txt, readme.txt.
void FillCabProject(TUpdateProject& p) {
  p.files.push_back(Entry(0, "/rel/app.exe"));
  p.files.push_back(Entry(0, "/rel/data.dat", 1));
  p.files.push_back(Entry(1, "/rel/data.dat"));
  p.files.push_back(Entry(1, "/rel/extra.txt"));
  p.files.push_back(Entry(0, "/rel/readme.txt"));
}

TEST(UpdateProject, ClearSetsNewValuesAndKeepsDescriptionSignatureAndDateOrder) {
  TUpdateProject p;
  p.descr = "kept";
  p.signature = "SIG";
  p.datefmt = 0;
  p.ftpport = 2121;
  p.unc = false;
  p.update = ukDateBased;
  p.app = 3;
  p.inctime = true;
  p.host = "ftp.example.com";
  p.passwd = "secret";
  p.comps = "a.exe_NEW ";
  p.eula = "/rel/eula.txt";
  FillCabProject(p);
  p.RebuildBaseFileChoices();
  p.Clear();

  EXPECT_EQ(p.update, ukUnconditional);
  EXPECT_TRUE(p.unc);
  EXPECT_FALSE(p.ftpchoice);
  EXPECT_EQ(p.ftpport, 21);
  EXPECT_EQ(p.app, -1);
  EXPECT_FALSE(p.inctime);
  EXPECT_EQ(p.host, "");
  EXPECT_EQ(p.passwd, "");
  EXPECT_EQ(p.comps, "");
  EXPECT_EQ(p.eula, "");
  EXPECT_TRUE(p.files.empty());
  EXPECT_TRUE(p.baseFileChoices.empty());
  EXPECT_EQ(p.date, Date());
  EXPECT_GE(p.time, 0.0);
  EXPECT_LT(p.time, 1.0);
  EXPECT_EQ(p.descr, "kept");
  EXPECT_EQ(p.signature, "SIG");
  EXPECT_EQ(p.datefmt, 0);
  EXPECT_FALSE(p.loading);
}

TEST(UpdateProject, StartsWithNoKindAndNoUploadChoice) {
  TUpdateProject p;
  EXPECT_EQ(p.update, ukNone);
  EXPECT_FALSE(p.unc);
  EXPECT_FALSE(p.ftpchoice);
  EXPECT_EQ(p.datefmt, -1);
  EXPECT_EQ(p.app, -1);
  EXPECT_EQ(p.BaseFile(), nullptr);
}

TEST(UpdateProject, ApplicationComponents) {
  struct Case {
    const char* name;
    std::vector<std::tuple<int, std::string, int, bool>>
        entries;  // level, url, compressed, appcomp
    std::string comps;
    int count;
  };
  const Case cases[] = {
      {"none", {{0, "/r/app.exe", 0, false}}, "", 0},
      {"plain component", {{0, "/r/app.exe", 0, true}}, "app.exe_NEW ", 1},
      {"compressed component", {{0, "/r/app.exe", 1, true}}, "app.CAB ", 1},
      {"windows path", {{0, "D:\\rel\\app.exe", 1, true}}, "app.CAB ", 1},
      {"list order, members too",
       {{0, "/r/a.exe", 0, true},
        {0, "/r/b.dll", 1, false},
        {1, "/r/c.dll", 0, true},
        {0, "/r/noext", 1, true}},
       "a.exe_NEW c.dll_NEW noext.CAB ",
       3},
  };
  for (const Case& c : cases) {
    TUpdateProject p;
    p.comps = "stale ";
    for (const auto& [level, url, compressed, appcomp] : c.entries)
      p.files.push_back(Entry(level, url, compressed, appcomp));
    p.RebuildApplicationComponents();
    EXPECT_EQ(p.comps, c.comps) << c.name;
    EXPECT_EQ(p.ApplicationComponentCount(), c.count) << c.name;
  }
}

TEST(UpdateProject, CabMembersAndUpdateFileCount) {
  TUpdateProject p;
  FillCabProject(p);
  EXPECT_EQ(p.CabMembers(1), (std::vector<std::string>{"/rel/data.dat", "/rel/extra.txt"}));
  EXPECT_TRUE(p.CabMembers(0).empty());  // next entry is level 0
  EXPECT_TRUE(p.CabMembers(2).empty());  // a member itself
  EXPECT_TRUE(p.CabMembers(4).empty());  // the last entry
  EXPECT_TRUE(p.CabMembers(-1).empty());
  EXPECT_TRUE(p.CabMembers(5).empty());
  EXPECT_EQ(p.UpdateFileCount(), 3);
}

TEST(UpdateProject, BaseFileChoicesFollowTheListAndAppKeepsItsNumber) {
  TUpdateProject p;
  FillCabProject(p);
  p.RebuildBaseFileChoices();
  ASSERT_EQ(p.baseFileChoices.size(), 3u);
  EXPECT_EQ(p.baseFileChoices[1].label, "data.dat");
  EXPECT_EQ(p.IndexOfBaseFile("/rel/readme.txt"), 2);
  EXPECT_EQ(p.IndexOfBaseFile("/rel/README.txt"), -1);  // exact comparison
  EXPECT_EQ(p.IndexOfBaseFile("/rel/extra.txt"), -1);   // members are no base files

  p.app = 2;
  ASSERT_NE(p.BaseFile(), nullptr);
  EXPECT_EQ(p.BaseFile()->url, "/rel/readme.txt");
  // Snapshots are copies: editing the entry does not change them until the next rebuild.
  p.files[4].file->descr = "changed";
  EXPECT_EQ(p.BaseFile()->descr, "");

  p.files.erase(p.files.begin());  // app.exe removed: position 2 is now out of range
  p.RebuildBaseFileChoices();
  EXPECT_EQ(p.app, 2);
  EXPECT_EQ(p.BaseFile(), nullptr);
  p.app = 1;
  EXPECT_EQ(p.BaseFile()->descr, "changed");
  p.app = -1;
  EXPECT_EQ(p.BaseFile(), nullptr);
}

TEST(UpdateProject, DerivedNames) {
  struct Case {
    std::string url;
    int compressed;
    bool appcomp;
    std::string newCopy, archive, published;
  };
  const Case cases[] = {
      {"/rel/app.exe", 0, false, "/rel/app.exe_NEW", "/rel/app.CAB", "app.exe"},
      {"/rel/app.exe", 0, true, "/rel/app.exe_NEW", "/rel/app.CAB", "app.exe_NEW"},
      {"/rel/app.exe", 1, true, "/rel/app.exe_NEW", "/rel/app.CAB", "app.CAB"},
      {"D:\\rel\\app.exe", 1, false, "D:\\rel\\app.exe_NEW", "D:\\rel\\app.CAB", "app.CAB"},
      {"/rel/v1.2/tool", 1, false, "/rel/v1.2/tool_NEW", "/rel/v1.2/tool.CAB", "tool.CAB"},
  };
  for (const Case& c : cases) {
    TFileObject f;
    f.url = c.url;
    f.compressed = c.compressed;
    f.includeappcomps = c.appcomp;
    EXPECT_EQ(NewCopyPath(f), c.newCopy) << c.url;
    EXPECT_EQ(ArchivePath(f), c.archive) << c.url;
    EXPECT_EQ(PublishedName(f), c.published) << c.url;
  }
}

TEST(UpdateProject, DisplayTexts) {
  TUpdateProject p;
  FillCabProject(p);
  p.files.push_back(Entry(0, "/rel/twenty_two_chars_n.dll", 0, true));
  p.files.push_back(Entry(0, "/rel/lonely.exe", 1));
  EXPECT_EQ(p.EntryDisplayText(0), "app.exe");
  EXPECT_EQ(p.EntryDisplayText(1), "data.CAB [Total file count : 2]");
  EXPECT_EQ(p.EntryDisplayText(2), "data.dat");
  EXPECT_EQ(p.EntryDisplayText(3), "extra.txt");
  // 22 characters, 26 with "_NEW": the suffix counts before the cut to 25.
  EXPECT_EQ(p.EntryDisplayText(5), "twenty_two_chars_n.dll_NE ...");
  EXPECT_EQ(p.EntryDisplayText(6), "lonely.CAB [Total file count : 0]");
  EXPECT_EQ(p.EntryDisplayText(7), "");
}

TEST(UpdateProject, CopyAndVersionText) {
  TFileObject source;
  source.major = 2;
  source.minor = 1;
  source.release = 0;
  source.build = 37;
  source.url = "/rel/app.exe";
  source.newsum = -1;
  source.mandatory = true;
  TFileObject target;
  EXPECT_EQ(VersionToText(target), "0.0.0.0");
  CopyFileObject(nullptr, &target);
  EXPECT_EQ(target, TFileObject());
  CopyFileObject(&source, &target);
  EXPECT_EQ(target, source);
  EXPECT_EQ(VersionToText(target), "2.1.0.37");
}

TEST(UpdateProject, ReadFileFactsFromDisk) {
  TTestFolder dir;
  const std::string abc = dir.Write("abc.txt", "abc");
  TFileObject f;
  f.major = 1;
  f.minor = 2;
  f.release = 3;
  f.build = 4;
  f.localver = "typed by hand";
  ReadFileFacts(f, abc);
  EXPECT_EQ(f.url, abc);
  EXPECT_EQ(f.localver, "abc.txt");
  EXPECT_EQ(f.newsize, 3);
  EXPECT_EQ(f.newsum, 293);
  EXPECT_EQ(f.newcrc32sum, 1821220161);
  EXPECT_EQ(VersionToText(f), "1.2.3.4");  // no version resource: stored parts stay

  TFileObject missing;
  ReadFileFacts(missing, dir.Path("missing.exe"));
  EXPECT_EQ(missing.url, dir.Path("missing.exe"));
  EXPECT_EQ(missing.localver, "missing.exe");
  EXPECT_EQ(missing.newsize, 0);
  EXPECT_EQ(missing.newsum, -1);
  EXPECT_EQ(missing.newcrc32sum, 0);
}

}  // namespace
}  // namespace kelvane
