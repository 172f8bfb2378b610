#include "controlfile/generator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "controlfile/reader.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "temp_folder.h"

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Golden(const std::string& name) {
  return ReadBytes(std::string(KELVANE_SOURCE_DIR) + "/tests/controlfile/golden/" + name);
}

// Records what the generator shows, as the editor would.
struct TRecordingView : TControlFileView {
  void SetTitle(const std::string& title) override { Titles.push_back(title); }
  void ShowControlFile(const std::string& text) override { Previews.push_back(text); }
  std::vector<std::string> Titles;
  std::vector<std::string> Previews;
};

struct TRecordingLog : TMessageLog {
  void LogMessage(const std::string& text, int kind) override {
    Lines.push_back(std::to_string(kind) + ":" + text);
  }
  std::vector<std::string> Lines;
};

TFileObject& Add(TUpdateProject& p, int level, const std::string& url) {
  p.files.push_back(TFileEntry{level, std::make_unique<TFileObject>(), "", "", ""});
  p.files.back().file->url = url;
  return *p.files.back().file;
}

// A project as New leaves it, named.
void Named(TUpdateProject& p, const std::string& name) {
  p.Clear();
  p.loading = false;
  p.projectname = name;
  p.update = ukUnconditional;
  p.unc = true;
}

class ControlFileGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.UpdateFilePath = folder_.Path();
    context_.Log = &log_;
    context_.View = &view_;
    context_.NewProjectCounter = &counter_;
  }

  std::string Generate(TUpdateProject& p) { return GenerateControlFile(p, context_); }
  void ExpectGolden(TUpdateProject& p, const std::string& golden) {
    const std::string path = Generate(p);
    EXPECT_EQ(path, folder_.Path() + "/" + golden);
    EXPECT_EQ(ReadBytes(path), Golden(golden)) << golden;
  }

  TempFolder folder_;
  TRecordingView view_;
  TRecordingLog log_;
  int counter_ = 0;
  TControlFileContext context_;
};

void MakeDateRelease(TUpdateProject& p) {
  Named(p, "DateRelease.KelvaneProj");
  p.update = ukDateBased;
  p.datefmt = 0;
  p.inctime = true;
  p.date = EncodeDate(2010, 3, 5);
  p.time = EncodeTime(7, 4, 59, 0);
  p.inform = "Version 2.1 is ready.\r\nIt fixes the printing bug.";
  p.query = "Install it now?";
  p.weburl = "http://example.com/news.html";
  p.htmldlg = "{APP}\\welcome.htm";
  p.runbefore = "{APP}\\backup.exe /quiet";
  p.runafter = "{APP}\\cleanup.exe";
  p.unc = true;
  p.uncdir = "\\\\server\\updates";
  p.baseurl = "http://not-used-for-unc/";
  TFileObject& app = Add(p, 0, "C:\\rel\\app.exe");
  app.major = 2, app.minor = 1, app.release = 0, app.build = 37;
  app.update = fuVersion;
  app.localver = "app.exe";
  app.targetdir = "{APP}";
  app.descr = "Main program \u2713 f\u00fcr alle";  // the check mark has no Windows-1252 byte
  app.mandatory = true;
  TFileObject& readme = Add(p, 0, "/rel/readme.txt");
  readme.update = fuUnconditional;
  readme.newsize = 1234;
  readme.newsum = 5;
  readme.localver = "readme.txt";
  p.eula = "/docs/licence.txt";
  p.whatsnew = "/docs/news.txt";
  p.signature = "Tarvox 2.0";
  p.descr = "Kept in the project only";
}

TEST_F(ControlFileGeneratorTest, DateBasedWithTimeActionsEulaWhatsNewAndSignature) {
  TUpdateProject p;
  MakeDateRelease(p);
  ExpectGolden(p, "DateRelease.INF");
  EXPECT_THAT(log_.Lines, ElementsAre("0:Updating INF file"));
  EXPECT_THAT(view_.Titles, ElementsAre("DateRelease.KelvaneProj* - Kelvane"));
  ASSERT_EQ(view_.Previews.size(), 1u);
  // The preview shows the written text: the replaced character stays '?', the rest is intact.
  EXPECT_THAT(view_.Previews[0], HasSubstr("descr=Main program ? f\u00fcr alle\r\n"));
  EXPECT_EQ(view_.Previews[0].size(),
            Golden("DateRelease.INF").size() + 1);  // ü is 2 bytes in UTF-8
}

TEST_F(ControlFileGeneratorTest, DateBasedWithoutTimeAndCustomValues) {
  TUpdateProject p;
  Named(p, "DateOnly.KelvaneProj");
  p.update = ukDateBased;
  p.datefmt = -1;
  p.inctime = false;
  p.date = EncodeDate(2009, 8, 14);
  p.time = EncodeTime(13, 30, 0, 0);
  p.unc = false;
  p.uncdir = "/not/used/for/ftp";
  p.baseurl = "http://example.com/upd";
  TFileObject& data = Add(p, 0, "/rel/data.dat");
  data.update = fuSize;
  data.newsize = 4096;
  data.newsum = 77;
  data.localver = "data.dat";
  p.procmsg = "Processing";
  p.procparam = "p1";
  p.valmsg = "Validating";
  p.valparam = "v1";
  ExpectGolden(p, "DateOnly.INF");
}

// Five files, one of each update kind; the base file picks the [update] condition.
void MakeFileBased(TUpdateProject& p, const std::string& name, int app) {
  Named(p, name);
  p.update = ukFileBased;
  p.uncdir = "/srv/updates/";
  TFileObject& a = Add(p, 0, "/rel/a.exe");
  a.update = fuVersion;  // version 0.0.0.0: no newversion for the file, but one for the base
  a.localver = "a.exe";
  TFileObject& b = Add(p, 0, "/rel/b.dll");
  b.update = fuSize;
  b.newsize = 2048;
  b.localver = "b.dll";
  TFileObject& c = Add(p, 0, "/rel/c.dat");
  c.update = fuChecksum;
  c.newsize = 10;
  c.newsum = -123456;
  c.localver = "c.dat";
  TFileObject& d = Add(p, 0, "/rel/d.bin");
  d.update = fuCRC32;
  d.newcrc32sum = static_cast<std::int32_t>(0x80000000u);  // 2147483648 held signed
  d.localver = "d.bin";
  TFileObject& e = Add(p, 0, "/rel/e.txt");
  e.update = fuUnconditional;
  e.newsize = 7;
  e.localver = "e.txt";
  p.RebuildBaseFileChoices();
  p.app = app;
}

TEST_F(ControlFileGeneratorTest, FileBasedForEveryBaseFileKind) {
  const struct {
    const char* project;
    int app;
    const char* golden;
  } cases[] = {
      {"BaseVersion.KelvaneProj", 0, "BaseVersion.INF"},
      {"BaseSize.KelvaneProj", 1, "BaseSize.INF"},
      {"BaseChecksum.KelvaneProj", 2, "BaseChecksum.INF"},
      {"BaseCRC32.KelvaneProj", 3, "BaseCRC32.INF"},
      {"BaseUnconditional.KelvaneProj", 4, "BaseUnconditional.INF"},
      {"NoBaseFile.KelvaneProj", -1, "NoBaseFile.INF"},
  };
  for (const auto& c : cases) {
    TUpdateProject p;
    MakeFileBased(p, c.project, c.app);
    ExpectGolden(p, c.golden);
  }
}

TEST_F(ControlFileGeneratorTest, FileBasedUsesTheSnapshotNotTheLiveEntry) {
  TUpdateProject p;
  MakeFileBased(p, "Snapshot.KelvaneProj", 1);
  p.files[1].file->newsize = 9999;  // changed after the choices were rebuilt
  TControlFileReader inf(Generate(p));
  EXPECT_EQ(inf.ReadInteger(inf::UpdateNewSize), 2048);
  EXPECT_EQ(inf.ReadInteger(inf::FileNewSize, 2), 9999);
}

void MakeComponents(TUpdateProject& p) {
  Named(p, "Components.KelvaneProj");
  p.unc = false;
  p.baseurl = "http://example.com/app/";
  TFileObject& head = Add(p, 0, "/rel/myapp.exe");
  head.compressed = 1;
  head.includeappcomps = true;
  head.update = fuVersion;
  head.major = 3, head.build = 1;
  head.localver = "myapp.exe";
  head.targetdir = "{APP}";
  Add(p, 1, "/rel/myapp.exe");
  Add(p, 1, "/rel/myapp.dll");
  TFileObject& tool = Add(p, 0, "/rel/tool.exe");
  tool.includeappcomps = true;
  tool.update = fuChecksum;
  tool.newsum = 99;
  tool.localver = "tool.exe";
  // app.CAB is not a component, although "myapp.CAB" contains it.
  TFileObject& plugins = Add(p, 0, "/rel/app.exe");
  plugins.compressed = 1;
  plugins.update = fuUnconditional;
  plugins.targetdir = "{APP}\\plugins";
  Add(p, 1, "/rel/app.exe");
  Add(p, 1, "/rel/plugin.dll");
  p.RebuildApplicationComponents();
  p.restart = false;
  p.cl = "{APP}\\myapp.exe /updated";
  p.prompt = true;
}

TEST_F(ControlFileGeneratorTest, CabHeadsMembersAndApplicationComponents) {
  TUpdateProject p;
  MakeComponents(p);
  ASSERT_EQ(p.comps, "myapp.CAB tool.exe_NEW ");
  ExpectGolden(p, "Components.INF");
}

TEST_F(ControlFileGeneratorTest, ApplicationComponentsWithoutRestart) {
  TUpdateProject p;
  Named(p, "NoRestart.KelvaneProj");
  p.uncdir = "";  // empty base: bare file names
  Add(p, 0, "/rel/run.exe").includeappcomps = true;
  p.files[0].file->update = fuUnconditional;
  p.RebuildApplicationComponents();
  p.restart = true;
  p.cl = "{APP}\\run.exe";  // ignored: restart means "do not restart"
  ExpectGolden(p, "NoRestart.INF");
}

TEST_F(ControlFileGeneratorTest, ApplicationSectionOnlyWithComponents) {
  TUpdateProject p;
  Named(p, "NoComponents.KelvaneProj");
  Add(p, 0, "/rel/x.exe").update = fuUnconditional;
  p.restart = true;
  p.prompt = true;
  p.cl = "x.exe";
  p.comps = "x.exe_NEW ";  // stale text without any flagged entry
  TControlFileReader inf(Generate(p));
  EXPECT_FALSE(inf.KeyExists(inf::AppUpdate));
  EXPECT_FALSE(inf.KeyExists(inf::AppName));
  EXPECT_FALSE(inf.KeyExists(inf::AppComps));

  // A component with an empty command line still writes appname, empty.
  p.files[0].file->includeappcomps = true;
  p.restart = false;
  p.prompt = false;
  p.cl.clear();
  p.comps.clear();
  const std::string text = ReadBytes(Generate(p));
  EXPECT_THAT(text, HasSubstr("[application]\r\nappupdate=1\r\nappname=\r\n"));
  EXPECT_THAT(text, ::testing::Not(HasSubstr("appcomps")));
  EXPECT_THAT(text, ::testing::Not(HasSubstr("silentrestart")));
}

TEST(ApplicationComponents, WholeNamesWithCase) {
  const struct {
    const char* comps;
    const char* name;
    bool component;
  } cases[] = {
      {"app.CAB ", "app.CAB", true},
      {"myapp.CAB ", "app.CAB", false},  // a substring is not a name
      {"app.CABX ", "app.CAB", false},
      {"x.exe_NEW app.CAB tool.exe_NEW ", "app.CAB", true},
      {"  app.CAB", "app.CAB", true},
      {"APP.CAB ", "app.CAB", false},  // compared with case
      {"", "app.CAB", false},
      {"app.CAB ", "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsApplicationComponent(c.comps, c.name), c.component)
        << "'" << c.name << "' in '" << c.comps << "'";
}

TEST_F(ControlFileGeneratorTest, FileSectionEdgeCases) {
  TUpdateProject p;
  Named(p, "Edges.KelvaneProj");
  p.uncdir = "http://h/upd";
  TFileObject& v5 = Add(p, 0, "/r/v5.exe");
  v5.update = fuVersion;
  v5.build = 5;
  TFileObject& v0 = Add(p, 0, "/r/v0.exe");
  v0.update = fuVersion;
  TFileObject& size0 = Add(p, 0, "/r/size0.bin");
  size0.update = fuSize;
  TFileObject& sizeNeg = Add(p, 0, "/r/sizeneg.bin");
  sizeNeg.update = fuSize;
  sizeNeg.newsize = -5;
  TFileObject& sumEmpty = Add(p, 0, "/r/empty.bin");
  sumEmpty.update = fuChecksum;
  sumEmpty.newsum = -1;  // the plain checksum of an empty file
  TFileObject& sum0 = Add(p, 0, "/r/sum0.bin");
  sum0.update = fuChecksum;
  TFileObject& crcAsSum = Add(p, 0, "/r/crc.bin");
  crcAsSum.update = fuCRC32;
  crcAsSum.newsum = 42;  // only the CRC counts for kind 3
  crcAsSum.newcrc32sum = 0;
  TFileObject& multi = Add(p, 0, "/r/multi.txt");
  multi.descr = "first\r\nsecond";  // would forge a key line if written raw
  multi.targetdir = "{APP}\n[action]\nrunbefore=evil.exe";

  TControlFileReader inf(Generate(p));
  EXPECT_EQ(inf.FileCount(), 8);
  EXPECT_EQ(inf.ReadText(inf::FileUrl, 1), "http://h/upd/v5.exe");
  EXPECT_EQ(inf.ReadText(inf::FileNewVersion, 1), "0.0.0.5");
  EXPECT_FALSE(inf.KeyExists(inf::FileNewVersion, 2));
  EXPECT_FALSE(inf.KeyExists(inf::FileNewSize, 3));
  EXPECT_FALSE(inf.KeyExists(inf::FileNewSize, 4));
  EXPECT_EQ(inf.ReadInteger(inf::FileNewChecksum, 5), -1);
  EXPECT_TRUE(inf.KeyExists(inf::FileNewChecksum, 5));  // written, and read as "no test"
  EXPECT_FALSE(inf.KeyExists(inf::FileNewChecksum, 6));
  EXPECT_FALSE(inf.KeyExists(inf::FileNewChecksum, 7));
  EXPECT_FALSE(inf.KeyExists(inf::FileCompressed, 1));  // only archives say compressed
  EXPECT_EQ(inf.ReadText(inf::FileDescr, 8), "first  second");
  EXPECT_EQ(inf.ReadText(inf::FileTargetDir, 8), "{APP} [action] runbefore=evil.exe");
  EXPECT_EQ(inf.ReadText(inf::ActionRunBefore), "");
}

TEST_F(ControlFileGeneratorTest, UploadBaseJoining) {
  const struct {
    bool unc;
    const char* base;
    const char* url;
    const char* eula;
  } cases[] = {
      {false, "http://h/upd", "http://h/upd/app.exe", "http://h/upd/eula.txt"},
      {false, "http://h/upd/", "http://h/upd/app.exe", "http://h/upd/eula.txt"},
      {true, "\\\\srv\\upd\\", "\\\\srv\\upd\\app.exe", "\\\\srv\\upd\\eula.txt"},
      {true, "\\\\srv\\upd", "\\\\srv\\upd/app.exe", "\\\\srv\\upd/eula.txt"},
      {true, "", "app.exe", "eula.txt"},
  };
  for (const auto& c : cases) {
    TUpdateProject p;
    Named(p, "Base.KelvaneProj");
    p.unc = c.unc;
    (c.unc ? p.uncdir : p.baseurl) = c.base;
    (c.unc ? p.baseurl : p.uncdir) = "other://base";
    Add(p, 0, "C:\\rel\\app.exe").update = fuUnconditional;
    p.eula = "C:\\docs\\eula.txt";
    TControlFileReader inf(Generate(p));
    EXPECT_EQ(inf.ReadText(inf::FileUrl, 1), c.url) << c.base;
    EXPECT_EQ(inf.ReadText(inf::EulaFile), c.eula) << c.base;
  }
}

TEST_F(ControlFileGeneratorTest, DateOrderAndTime) {
  const struct {
    int datefmt;
    bool inctime;
    const char* date;
    const char* time;
  } cases[] = {
      {0, true, "5/3/2010", "7:4"},
      {1, false, "3/5/2010", ""},
      {-1, true, "3/5/2010", "7:4"},
  };
  for (const auto& c : cases) {
    TUpdateProject p;
    Named(p, "Dates.KelvaneProj");
    p.update = ukDateBased;
    p.datefmt = c.datefmt;
    p.inctime = c.inctime;
    p.date = EncodeDate(2010, 3, 5);
    p.time = EncodeTime(7, 4, 59, 0);
    TControlFileReader inf(Generate(p));
    EXPECT_EQ(inf.ReadText(inf::UpdateDate), c.date) << c.datefmt;
    EXPECT_EQ(inf.ReadText(inf::UpdateTime), c.time) << c.datefmt;
    EXPECT_EQ(inf.KeyExists(inf::UpdateTime), c.inctime) << c.datefmt;
  }
}

TEST_F(ControlFileGeneratorTest, TwoGenerationsGiveIdenticalFiles) {
  TUpdateProject p;
  MakeComponents(p);
  const std::string path = Generate(p);
  const std::string first = ReadBytes(path);
  EXPECT_EQ(Generate(p), path);
  EXPECT_EQ(ReadBytes(path), first);
  EXPECT_THAT(view_.Previews, ElementsAre(first, first));
  // Nothing but the control file is left in the folder: no scratch file from the writes.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder_.Path()))
    names.push_back(e.path().filename().string());
  EXPECT_THAT(names, ElementsAre("Components.INF"));
}

TEST_F(ControlFileGeneratorTest, ReplacesAHandEditedFileWhole) {
  TUpdateProject p;
  Named(p, "Replace.KelvaneProj");
  std::ofstream(folder_.Path() + "/Replace.INF", std::ios::binary)
      << "[update]\r\ndate=1/1/2000\r\n[extra]\r\nkey=value\r\n";
  EXPECT_EQ(ReadBytes(Generate(p)), "[update]\r\nunconditional=1\r\n");
}

TEST_F(ControlFileGeneratorTest, LoadingFlagDoesNothing) {
  TUpdateProject p;
  MakeComponents(p);
  p.loading = true;
  EXPECT_EQ(Generate(p), "");
  EXPECT_THAT(log_.Lines, IsEmpty());
  EXPECT_THAT(view_.Titles, IsEmpty());
  EXPECT_THAT(view_.Previews, IsEmpty());
  EXPECT_TRUE(std::filesystem::is_empty(folder_.Path()));
}

TEST_F(ControlFileGeneratorTest, UnnamedProjectGetsTheNextNewProjectNameAndKeepsItsContent) {
  TUpdateProject p;
  MakeComponents(p);
  p.projectname.clear();
  int identityChanges = 0;
  p.OnIdentityChanged = [&](TUpdateProject&) { ++identityChanges; };
  counter_ = 2;  // two New operations ran before
  const std::string path = Generate(p);
  EXPECT_EQ(p.projectname, "Project3.KelvaneProj");
  EXPECT_EQ(counter_, 3);
  EXPECT_EQ(identityChanges, 1);
  EXPECT_EQ(path, folder_.Path() + "/Project3.INF");
  EXPECT_THAT(view_.Titles, ElementsAre("Project3.KelvaneProj* - Kelvane"));
  EXPECT_EQ(p.files.size(), 7u);  // the model was not cleared
  EXPECT_EQ(ReadBytes(path), Golden("Components.INF"));

  Generate(p);  // named now: no second name
  EXPECT_EQ(counter_, 3);
  EXPECT_EQ(identityChanges, 1);
}

TEST_F(ControlFileGeneratorTest, OutputPathJoinsFolderAndNameWithOneSeparator) {
  TUpdateProject p;
  Named(p, "Release.v2.KelvaneProj");
  for (const std::string& folder : {folder_.Path(), folder_.Path() + "/"}) {
    context_.UpdateFilePath = folder;
    EXPECT_EQ(Generate(p), folder_.Path() + "/Release.v2.INF");
  }
  EXPECT_TRUE(std::filesystem::exists(folder_.Path() + "/Release.v2.INF"));
}

TEST_F(ControlFileGeneratorTest, ProjectWithoutAnyKeyGivesAnEmptyFile) {
  TUpdateProject p;
  Named(p, "Empty.KelvaneProj");
  p.update = ukFileBased;  // and no base file
  const std::string path = Generate(p);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(ReadBytes(path), "");
  EXPECT_THAT(view_.Previews, ElementsAre(""));
}

TEST_F(ControlFileGeneratorTest, UnwritableFolderRaisesAndLeavesNothingBehind) {
  TUpdateProject p;
  MakeComponents(p);
  context_.UpdateFilePath = folder_.Path() + "/missing";
  try {
    Generate(p);
    ADD_FAILURE() << "no error for a missing folder";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(),
                 ("Unable to write to " + folder_.Path() + "/missing/Components.INF").c_str());
  }
  EXPECT_THAT(view_.Previews, IsEmpty());

  // A path that cannot take a file (a folder is in the way): the error names the path, and no
  // scratch file is left in the folder.
  context_.UpdateFilePath = folder_.Path();
  std::filesystem::create_directory(folder_.Path() + "/Components.INF");
  EXPECT_THROW(Generate(p), EInOutError);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder_.Path()))
    names.push_back(e.path().filename().string());
  EXPECT_THAT(names, ElementsAre("Components.INF"));
}

TEST_F(ControlFileGeneratorTest, RoundTripThroughTheReader) {
  TUpdateProject p;
  MakeDateRelease(p);
  TControlFileReader inf(Generate(p));
  EXPECT_EQ(inf.ReadText(inf::UpdateDate), "5/3/2010");
  EXPECT_EQ(inf.ReadText(inf::UpdateTime), "7:4");
  EXPECT_EQ(inf.ReadText(inf::UpdateSignature), p.signature);
  EXPECT_FALSE(inf.ReadFlag(inf::UpdateUnconditional));
  EXPECT_EQ(inf.ReadMultiLine(inf::ActionMsg), p.inform);
  EXPECT_EQ(inf.ReadMultiLine(inf::ActionQuery), p.query);
  EXPECT_EQ(inf.ReadText(inf::ActionShowUrl), p.weburl);
  EXPECT_EQ(inf.ReadText(inf::ActionHtmlDlg), p.htmldlg);
  EXPECT_EQ(inf.ReadText(inf::ActionRunBefore), p.runbefore);
  EXPECT_EQ(inf.ReadText(inf::ActionRunAfter), p.runafter);
  EXPECT_EQ(inf.FileCount(), 2);
  EXPECT_EQ(inf.ReadText(inf::FileNewVersion, 1), VersionToText(*p.files[0].file));
  EXPECT_EQ(inf.ReadText(inf::FileLocalVersion, 1), "app.exe");
  EXPECT_EQ(inf.ReadText(inf::FileTargetDir, 1), "{APP}");
  EXPECT_EQ(inf.ReadText(inf::FileDescr, 1), "Main program ? f\u00fcr alle");
  EXPECT_TRUE(inf.ReadFlag(inf::FileMandatory, 1));
  EXPECT_FALSE(inf.ReadFlag(inf::FileMandatory, 2));
  EXPECT_EQ(inf.ReadInteger(inf::FileNewChecksum, 2), -1);
  EXPECT_TRUE(inf.ReadFlag(inf::FilePreselect, 2));
  EXPECT_EQ(inf.ReadText(inf::EulaFile), "\\\\server\\updates/licence.txt");
  EXPECT_EQ(inf.ReadText(inf::WhatsNewFile), "\\\\server\\updates/news.txt");

  TUpdateProject c;
  MakeComponents(c);
  TControlFileReader comps(Generate(c));
  EXPECT_TRUE(comps.ReadFlag(inf::UpdateUnconditional));
  EXPECT_TRUE(comps.ReadFlag(inf::AppUpdate));
  EXPECT_TRUE(comps.ReadFlag(inf::AppSilentRestart));
  EXPECT_EQ(comps.ReadText(inf::AppName), c.cl);
  EXPECT_EQ(comps.ReadText(inf::AppComps), "myapp.CAB tool.exe_NEW");  // the reader trims
  EXPECT_EQ(comps.ReadInteger(inf::FileCompressed, 1), 0);
  EXPECT_EQ(comps.ReadInteger(inf::FileCompressed, 3), 1);
  EXPECT_EQ(comps.ReadInteger(inf::FileNewChecksum, 2), 99);
}

}  // namespace
}  // namespace kelvane
