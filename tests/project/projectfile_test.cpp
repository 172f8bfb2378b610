#include "project/projectfile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/errors.h"
#include "common/filesizelimit.h"
#include "common/testfolder.h"

namespace kelvane {
namespace {

using testing::ReadAll;
using testing::TTestFolder;

// A log that keeps what it was given.
class TRecordingLog : public TMessageLog {
 public:
  void LogMessage(const std::string& text, int kind) override { lines.push_back({text, kind}); }
  std::vector<std::pair<std::string, int>> lines;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

TFileEntry Member(const std::string& url) {
  TFileEntry entry;
  entry.level = 1;
  entry.file = std::make_unique<TFileObject>();
  entry.file->url = url;
  return entry;
}

TFileEntry Measured(const std::string& url) {
  TFileEntry entry;
  entry.file = std::make_unique<TFileObject>();
  ReadFileFacts(*entry.file, url);
  return entry;
}

// Three files, the second heading a CAB group of two members; every kind of value set.
void FillReleaseProject(TUpdateProject& p, const TTestFolder& dir) {
  p.Clear();
  dir.Write("app.exe", "abc");
  dir.Write("data.dat", "a");
  dir.Write("extra.txt", "xyz");
  dir.Write("readme.txt", "abc");
  p.descr = "First line\r\nSecond line with \u20ac and \u00fc";
  p.datefmt = 0;
  p.inctime = true;
  p.date = EncodeDate(2026, 12, 9);
  p.time = EncodeTime(18, 45, 3, 0);
  p.inform = "Closing the application";
  p.weburl = "http://example.com/news";
  p.runafter = "/opt/app/after.sh";
  p.prompt = true;
  p.cl = "--restarted";
  p.host = "ftp.example.com";
  p.userid = "me";
  p.passwd = "p=ss";
  p.ftpdir = "/updates";
  p.baseurl = "http://example.com/updates/";
  p.unc = false;
  p.ftpchoice = true;
  p.ftppass = true;
  p.procmsg = "Processing";
  p.signature = "SIG-1";
  p.whatsnew = dir.Path("whatsnew.txt");
  p.eula = dir.Path("eula.txt");

  p.files.push_back(Measured(dir.Path("app.exe")));
  TFileObject& app = *p.files.back().file;
  app.major = 2;
  app.minor = 1;
  app.release = 0;
  app.build = 37;
  app.targetdir = "{app}";
  app.descr = "Main program";
  app.update = fuVersion;
  app.includeappcomps = true;
  app.mandatory = true;
  p.files.push_back(Measured(dir.Path("data.dat")));
  p.files.back().file->compressed = 1;
  p.files.back().file->update = fuCRC32;
  p.files.push_back(Member(dir.Path("data.dat")));
  p.files.push_back(Member(dir.Path("extra.txt")));
  p.files.push_back(Measured(dir.Path("readme.txt")));
  p.files.back().file->targetdir = "docs";
  p.files.back().file->update = fuSize;
  p.RebuildApplicationComponents();
  p.RebuildBaseFileChoices();
  p.update = ukFileBased;
  p.app = 0;
}

// Windows-1252 bytes: \x80 is the euro sign, \xFC u umlaut. @ stands for the test folder.
const char kReleaseProjectFile[] =
    "[update]\r\ndescr=First line\\nSecond line with \x80 and \xFC\\n\r\ndatefmt=0\r\n"
    "[version]\r\ninctime=1\r\nyear=2026\r\nmonth=12\r\nday=9\r\nhour=18\r\nmin=45\r\nsec=3\r\n"
    "update=11\r\napp=@app.exe\r\n"
    "[commands]\r\ninform=Closing the application\\n\r\nquery=\r\n"
    "weburl=http://example.com/news\r\nhtmldlg=\r\nrunbefore=\r\nrunafter=/opt/app/after.sh\r\n"
    "[application]\r\nrestart=0\r\nprompt=1\r\ncl=--restarted\r\ncomps=app.exe_NEW \r\n"
    "[upload]\r\nuncdir=\r\nhost=ftp.example.com\r\nuserid=me\r\npasswd=p=ss\r\nftpdir=/updates\r\n"
    "baseurl=http://example.com/updates/\r\nunc=0\r\nftppass=1\r\n"
    "[custom]\r\nprocmsg=Processing\r\nprocparam=\r\nvalmsg=\r\nvalparam=\r\nsignature=SIG-1\r\n"
    "[files]\r\ncount=5\r\n"
    "[file0]\r\nurl=@app.exe\r\nmajor=2\r\nminor=1\r\nrelease=0\r\nbuild=37\r\nlocalver=app.exe\r\n"
    "targetdir={app}\r\ncompressed=0\r\ndescr=Main program\r\nnewsize=3\r\nnewsum=293\r\n"
    "newcrc32sum=1821220161\r\nincludeappcomps=1\r\nmandatory=1\r\nupdate=0\r\n"
    "[file1]\r\nurl=@data.dat\r\nmajor=0\r\nminor=0\r\nrelease=0\r\nbuild=0\r\nlocalver=data."
    "dat\r\n"
    "targetdir=\r\ncompressed=1\r\ndescr=\r\nnewsize=1\r\nnewsum=96\r\nnewcrc32sum=-390611388\r\n"
    "includeappcomps=0\r\nmandatory=0\r\nupdate=3\r\n"
    "[file2]\r\nurl=@data.dat\r\nlevel=1\r\n"
    "[file3]\r\nurl=@extra.txt\r\nlevel=1\r\n"
    "[file4]\r\nurl=@readme.txt\r\nmajor=0\r\nminor=0\r\nrelease=0\r\nbuild=0\r\nlocalver=readme."
    "txt\r\n"
    "targetdir=docs\r\ncompressed=0\r\ndescr=\r\nnewsize=3\r\nnewsum=293\r\n"
    "newcrc32sum=1821220161\r\nincludeappcomps=0\r\nmandatory=0\r\nupdate=1\r\n"
    "[whatsnew]\r\nfile=@whatsnew.txt\r\n[eula]\r\nfile=@eula.txt\r\n";

void ExpectSameModel(const TUpdateProject& a, const TUpdateProject& b) {
  EXPECT_EQ(a.date, b.date);
  EXPECT_EQ(a.time, b.time);
  EXPECT_EQ(a.inctime, b.inctime);
  EXPECT_EQ(a.update, b.update);
  EXPECT_EQ(a.app, b.app);
  EXPECT_EQ(a.datefmt, b.datefmt);
  EXPECT_EQ(a.descr, b.descr);
  EXPECT_EQ(a.inform, b.inform);
  EXPECT_EQ(a.query, b.query);
  EXPECT_EQ(a.weburl, b.weburl);
  EXPECT_EQ(a.htmldlg, b.htmldlg);
  EXPECT_EQ(a.runbefore, b.runbefore);
  EXPECT_EQ(a.runafter, b.runafter);
  EXPECT_EQ(a.restart, b.restart);
  EXPECT_EQ(a.prompt, b.prompt);
  EXPECT_EQ(a.cl, b.cl);
  EXPECT_EQ(a.unc, b.unc);
  EXPECT_EQ(a.ftpchoice, b.ftpchoice);
  EXPECT_EQ(a.uncdir, b.uncdir);
  EXPECT_EQ(a.host, b.host);
  EXPECT_EQ(a.ftpport, b.ftpport);
  EXPECT_EQ(a.userid, b.userid);
  EXPECT_EQ(a.passwd, b.passwd);
  EXPECT_EQ(a.ftpdir, b.ftpdir);
  EXPECT_EQ(a.baseurl, b.baseurl);
  EXPECT_EQ(a.ftppass, b.ftppass);
  EXPECT_EQ(a.procmsg, b.procmsg);
  EXPECT_EQ(a.procparam, b.procparam);
  EXPECT_EQ(a.valmsg, b.valmsg);
  EXPECT_EQ(a.valparam, b.valparam);
  EXPECT_EQ(a.signature, b.signature);
  EXPECT_EQ(a.eula, b.eula);
  EXPECT_EQ(a.whatsnew, b.whatsnew);
  ASSERT_EQ(a.files.size(), b.files.size());
  for (std::size_t i = 0; i < a.files.size(); ++i) {
    EXPECT_EQ(a.files[i].level, b.files[i].level) << i;
    EXPECT_EQ(*a.files[i].file, *b.files[i].file) << i;
  }
  ASSERT_EQ(a.baseFileChoices.size(), b.baseFileChoices.size());
  for (std::size_t i = 0; i < a.baseFileChoices.size(); ++i) {
    EXPECT_EQ(a.baseFileChoices[i].label, b.baseFileChoices[i].label);
    EXPECT_EQ(*a.baseFileChoices[i].snapshot, *b.baseFileChoices[i].snapshot);
  }
}

TEST(ProjectFile, ThreeFilesWithACabGroupAreWrittenByteForByteAndReadBack) {
  TTestFolder dir;
  TUpdateProject written;
  FillReleaseProject(written, dir);
  int identityChanges = 0;
  written.OnIdentityChanged = [&](TUpdateProject&) { ++identityChanges; };
  const std::string path = dir.Path("Release.KelvaneProj");
  WriteProjectFile(written, path);

  EXPECT_EQ(ReadAll(path), Replace(kReleaseProjectFile, "@", dir.Path()));
  EXPECT_EQ(written.projectpath, path);
  EXPECT_EQ(written.projectname, "Release.KelvaneProj");
  EXPECT_EQ(identityChanges, 1);

  TUpdateProject read;
  read.ftpport = 2121;
  written.ftpport = 2121;  // not in the file: the reader keeps its own
  std::vector<int> selected;
  bool loadingAtIdentityChange = false;
  read.OnIdentityChanged = [&](TUpdateProject& p) { loadingAtIdentityChange = p.loading; };
  read.OnSelectEntry = [&](TUpdateProject&, int index) { selected.push_back(index); };
  ASSERT_TRUE(ReadProjectFile(read, path));
  ExpectSameModel(read, written);
  // Values are read trimmed, so the blank that ends the component list does not come back.
  EXPECT_EQ(read.comps, "app.exe_NEW");
  EXPECT_EQ(read.projectpath, path);
  EXPECT_EQ(read.projectname, "Release.KelvaneProj");
  EXPECT_FALSE(read.loading);
  EXPECT_TRUE(loadingAtIdentityChange);
  EXPECT_EQ(selected, std::vector<int>{0});
  ASSERT_NE(read.BaseFile(), nullptr);
  EXPECT_EQ(read.BaseFile()->url, dir.Path("app.exe"));

  // What the file list shows after the load.
  EXPECT_EQ(read.files[0].NameText, "app.exe_NEW");
  EXPECT_EQ(read.files[1].NameText, "data.CAB [Total file count : 2]");
  EXPECT_EQ(read.files[1].LeftPicture, "expand");
  EXPECT_EQ(read.files[1].RightPicture, "cab");
  EXPECT_EQ(read.files[3].NameText, "extra.txt");
  EXPECT_EQ(read.files[3].RightPicture, "");

  // Written again, the same bytes but the trimmed blank.
  WriteProjectFile(read, dir.Path("Again.KelvaneProj"));
  EXPECT_EQ(ReadAll(dir.Path("Again.KelvaneProj")),
            Replace(Replace(kReleaseProjectFile, "@", dir.Path()), "comps=app.exe_NEW \r\n",
                    "comps=app.exe_NEW\r\n"));
}

TEST(ProjectFile, MultiLineTextEscaping) {
  struct Case {
    const char* text;    // in the model
    const char* stored;  // in the file
  };
  const Case cases[] = {
      {"", ""},
      {"one", "one\\n"},
      {"one\r\ntwo", "one\\ntwo\\n"},
      {"one\r\n", "one\\n\\n"},  // a trailing empty line survives
      {"\r\n\r\nthree", "\\n\\nthree\\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeMultiLine(c.text), c.stored) << c.text;
    EXPECT_EQ(UnescapeMultiLine(c.stored), c.text) << c.stored;
  }
  // Lone CR or LF are line breaks too; a stored text without the final break reads the same.
  EXPECT_EQ(EscapeMultiLine("a\nb\rc"), "a\\nb\\nc\\n");
  EXPECT_EQ(UnescapeMultiLine("a\\nb"), "a\r\nb");
  // A backslash and n typed as text turns into a line break after a save and a load.
  EXPECT_EQ(UnescapeMultiLine(EscapeMultiLine("C:\\new")), "C:\r\new");
}

TEST(ProjectFile, JunkValuesReadTheirDefaults) {
  TTestFolder dir;
  const std::string path = dir.Write(
      "junk.KelvaneProj",
      "[update]\r\ndatefmt=7\r\n[version]\r\nyear=abc\r\nmonth=\r\nday=1x\r\nhour=-\r\nmin=0x10\r\n"
      "sec=9999999999\r\ninctime=2\r\nupdate=13\r\n[application]\r\nrestart=yes\r\nprompt=2\r\n"
      "[upload]\r\nunc=2\r\nftppass=true\r\n[files]\r\ncount=many\r\n"
      "[file0]\r\nurl=/nonexistent/app.exe\r\nmajor=two\r\nminor=1\r\nnewsize=big\r\n"
      "includeappcomps=5\r\nmandatory=x\r\nupdate=none\r\ncompressed=?\r\n");
  TUpdateProject p;
  p.update = ukDateBased;
  p.datefmt = 0;
  p.unc = true;
  TRecordingLog log;
  ASSERT_TRUE(ReadProjectFile(p, path, &log));
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(p.date, Date());         // today's year, month and day
  EXPECT_EQ(p.datefmt, 1);           // above 1 becomes 1
  EXPECT_FALSE(p.inctime);           // only 1 sets it
  EXPECT_EQ(p.update, ukDateBased);  // 13 selects no kind
  EXPECT_FALSE(p.restart);
  EXPECT_FALSE(p.prompt);
  EXPECT_FALSE(p.unc);  // 2: neither choice
  EXPECT_FALSE(p.ftpchoice);
  EXPECT_FALSE(p.ftppass);
  ASSERT_EQ(p.files.size(), 1u);  // count 0 still reads [file0]
  const TFileObject& f = *p.files[0].file;
  EXPECT_EQ(f.major, 0);
  EXPECT_EQ(f.minor, 1);
  EXPECT_EQ(f.newsize, 0);
  EXPECT_EQ(f.newsum, -1);         // the facts of a missing file
  EXPECT_TRUE(f.includeappcomps);  // anything but 0
  EXPECT_FALSE(f.mandatory);
  EXPECT_EQ(f.update, fuUnconditional);
  EXPECT_EQ(f.compressed, 0);
  EXPECT_EQ(f.localver, "app.exe");

  dir.Write("low.KelvaneProj", "[update]\r\ndatefmt=-5\r\n");
  ASSERT_TRUE(ReadProjectFile(p, dir.Path("low.KelvaneProj")));
  EXPECT_EQ(p.datefmt, -1);
}

TEST(ProjectFile, MissingFileOrSectionsGiveTheDefaultsAndKeepUnassignedFields) {
  TTestFolder dir;
  TUpdateProject p;
  FillReleaseProject(p, dir);
  p.ftpport = 990;
  p.app = 2;
  p.update = ukDateBased;
  p.projectname = "Old.KelvaneProj";
  const std::string path = dir.Path("gone.KelvaneProj");
  const double before = Now();
  ASSERT_TRUE(ReadProjectFile(p, path));
  EXPECT_EQ(p.date, Date());
  EXPECT_GE(p.date + p.time, before - 2.0 / 86400);
  EXPECT_EQ(p.update, ukUnconditional);
  EXPECT_EQ(p.ftpport, 990);
  EXPECT_EQ(p.app, 2);  // not a file-based project: app keeps its number
  EXPECT_EQ(p.descr, "");
  EXPECT_EQ(p.signature, "");
  EXPECT_EQ(p.datefmt, 0);
  EXPECT_FALSE(p.unc);
  EXPECT_TRUE(p.ftpchoice);
  EXPECT_TRUE(p.files.empty());
  EXPECT_TRUE(p.baseFileChoices.empty());
  EXPECT_EQ(p.projectname, "gone.KelvaneProj");
  EXPECT_EQ(p.projectpath, path);
}

TEST(ProjectFile, FileBasedWithoutBaseFileLoadsAsUnconditional) {
  TTestFolder dir;
  TUpdateProject p;
  FillReleaseProject(p, dir);
  p.app = -1;
  WriteProjectFile(p, dir.Path("p.KelvaneProj"));
  EXPECT_THAT(ReadAll(dir.Path("p.KelvaneProj")),
              ::testing::HasSubstr("sec=3\r\n[commands]"));
  TUpdateProject read;
  ASSERT_TRUE(ReadProjectFile(read, dir.Path("p.KelvaneProj")));
  EXPECT_EQ(read.update, ukUnconditional);

  // A stored base file that is not in the list selects none.
  dir.Write("q.KelvaneProj", "[version]\r\nupdate=11\r\napp=/elsewhere/app.exe\r\n");
  read.app = 4;
  ASSERT_TRUE(ReadProjectFile(read, dir.Path("q.KelvaneProj")));
  EXPECT_EQ(read.update, ukFileBased);
  EXPECT_EQ(read.app, -1);
}

TEST(ProjectFile, FileSectionsAreReadUpToCountInclusiveAndEmptyUrlsSkipped) {
  TTestFolder dir;
  dir.Write("a.txt", "abc");
  const std::string a = dir.Path("a.txt");
  const std::string path = dir.Write(
      "p.KelvaneProj", "[files]\r\ncount=2\r\n[file0]\r\nurl=\r\nmajor=9\r\n[file1]\r\nurl=" + a +
                           "\r\nlocalver=typed.exe\r\nmajor=7\r\n[FILE2]\r\nurl=" + a +
                           "\r\nlevel=1\r\n"
                           "[file3]\r\nurl=" +
                           a + "\r\n[file02]\r\nurl=/leading/zero\r\n");
  TUpdateProject p;
  ASSERT_TRUE(ReadProjectFile(p, path));
  ASSERT_EQ(p.files.size(), 2u);
  EXPECT_EQ(p.files[0].level, 0);
  EXPECT_EQ(p.files[0].file->major, 7);           // no version resource: stored part kept
  EXPECT_EQ(p.files[0].file->localver, "a.txt");  // replaced by the file's name
  EXPECT_EQ(p.files[0].file->newsum, 293);
  EXPECT_EQ(p.files[1].level, 1);         // [file<count>] is read too
  EXPECT_EQ(p.files[1].file->newsum, 0);  // members carry only their url
  EXPECT_EQ(p.baseFileChoices.size(), 1u);
  EXPECT_EQ(p.baseFileChoices[0].label, "a.txt");

  // A huge count costs nothing beyond the sections that exist.
  dir.Write("huge.KelvaneProj",
            "[files]\r\ncount=2147483647\r\n[file2000000000]\r\nurl=" + a + "\r\n");
  ASSERT_TRUE(ReadProjectFile(p, dir.Path("huge.KelvaneProj")));
  EXPECT_EQ(p.files.size(), 1u);
  dir.Write("negative.KelvaneProj", "[files]\r\ncount=-1\r\n[file0]\r\nurl=" + a + "\r\n");
  ASSERT_TRUE(ReadProjectFile(p, dir.Path("negative.KelvaneProj")));
  EXPECT_TRUE(p.files.empty());
}

TEST(ProjectFile, InvalidStoredDateIsLoggedAndKeepsWhatWasRead) {
  TTestFolder dir;
  TUpdateProject p;
  FillReleaseProject(p, dir);
  p.projectname = "Before.KelvaneProj";
  const std::string path =
      dir.Write("bad.KelvaneProj",
                "[update]\r\ndescr=New "
                "text\\n\r\n[version]\r\ninctime=0\r\nyear=2026\r\nmonth=13\r\nday=1\r\n"
                "[commands]\r\ninform=never read\r\n[files]\r\ncount=0\r\n");
  TRecordingLog log;
  EXPECT_FALSE(ReadProjectFile(p, path, &log));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_THAT(log.lines[0].first,
              ::testing::StartsWith("EConvertError error raised, with message : "));
  EXPECT_EQ(log.lines[0].second, mkError);
  EXPECT_FALSE(p.loading);
  EXPECT_EQ(p.descr, "New text");  // read before the date
  EXPECT_FALSE(p.inctime);
  EXPECT_EQ(p.inform, "Closing the application");  // never reached
  EXPECT_EQ(p.files.size(), 5u);
  EXPECT_EQ(p.projectname, "Before.KelvaneProj");

  dir.Write("badtime.KelvaneProj", "[version]\r\nyear=2026\r\nmonth=2\r\nday=3\r\nhour=25\r\n");
  EXPECT_FALSE(ReadProjectFile(p, dir.Path("badtime.KelvaneProj"), &log));
  EXPECT_EQ(p.date, EncodeDate(2026, 2, 3));  // the date came before the time
  EXPECT_EQ(log.lines.size(), 2u);
}

TEST(ProjectFile, TextsOutsideTheCodePageAndLineBreaksInSingleLineValues) {
  TTestFolder dir;
  TUpdateProject p;
  p.Clear();
  p.weburl = "http://example.com/\u65e5\u672c";
  p.cl = "--a\r\n[files]\r\ncount=99";
  WriteProjectFile(p, dir.Path("p.KelvaneProj"));
  const std::string bytes = ReadAll(dir.Path("p.KelvaneProj"));
  EXPECT_THAT(bytes, ::testing::HasSubstr("weburl=http://example.com/??\r\n"));
  EXPECT_THAT(bytes, ::testing::HasSubstr("cl=--a  [files]  count=99\r\n"));
  TUpdateProject read;
  ASSERT_TRUE(ReadProjectFile(read, dir.Path("p.KelvaneProj")));
  EXPECT_EQ(read.cl, "--a  [files]  count=99");
  EXPECT_TRUE(read.files.empty());
}

TEST(ProjectFile, BlanksAndQuotesAroundValuesSurviveASaveAndALoad) {
  TTestFolder dir;
  TUpdateProject p;
  p.Clear();
  p.passwd = "\"secret\"";
  p.userid = "'me'";
  p.cl = " --restart ";
  p.descr = "  indented\r\nlast  ";
  p.signature = "\"half";
  p.comps = "'a.exe_NEW' ";
  WriteProjectFile(p, dir.Path("p.KelvaneProj"));
  const std::string bytes = ReadAll(dir.Path("p.KelvaneProj"));
  EXPECT_THAT(bytes, ::testing::HasSubstr("passwd=\"\"secret\"\"\r\n"));
  EXPECT_THAT(bytes, ::testing::HasSubstr("cl=\" --restart \"\r\n"));
  EXPECT_THAT(bytes, ::testing::HasSubstr("signature=\"half\r\n"));
  TUpdateProject read;
  ASSERT_TRUE(ReadProjectFile(read, dir.Path("p.KelvaneProj")));
  EXPECT_EQ(read.passwd, p.passwd);
  EXPECT_EQ(read.userid, p.userid);
  EXPECT_EQ(read.cl, p.cl);
  EXPECT_EQ(read.descr, p.descr);
  EXPECT_EQ(read.signature, p.signature);
  EXPECT_EQ(read.comps, p.comps);
}

// The bundled example, moved to this checkout: the versions come from the PE files on disk.
TEST(ProjectFile, ExampleProjectTakesTheFactsOfItsFiles) {
  TTestFolder dir;
  std::string text = ReadAll(KELVANE_SOURCE_DIR "/examples/Example.KelvaneProj");
  ASSERT_FALSE(text.empty());
  text = Replace(text, "=/kelvane/examples/", "=" KELVANE_SOURCE_DIR "/examples/");
  text = Replace(text, "major=2\r\n", "major=9\r\n");  // stored parts give way to the file's
  text = Replace(text, "localver=readme.txt", "localver=typed.txt");
  const std::string path = dir.Write("Example.KelvaneProj", text);
  TUpdateProject p;
  ASSERT_TRUE(ReadProjectFile(p, path));
  ASSERT_EQ(p.files.size(), 5u);
  EXPECT_EQ(VersionToText(*p.files[0].file), "2.1.0.37");
  EXPECT_EQ(VersionToText(*p.files[1].file), "1.4.0.210");
  EXPECT_EQ(VersionToText(*p.files[4].file), "0.0.0.0");
  EXPECT_EQ(p.files[4].file->localver, "readme.txt");
  EXPECT_EQ(p.files[4].file->newsize, 110);
  EXPECT_EQ(p.files[4].file->newsum, 9449);  // checked with an independent script
  EXPECT_EQ(p.files[4].file->newcrc32sum, 1770011645);
  EXPECT_EQ(p.CabMembers(1), (std::vector<std::string>{p.files[1].file->url, KELVANE_SOURCE_DIR
                                                       "/examples/ExampleApp/prices.dat"}));
  ASSERT_NE(p.BaseFile(), nullptr);
  EXPECT_EQ(p.BaseFile()->localver, "ExampleApp.exe");
}

TEST(ProjectFile, RefusedWriteRaises) {
  TTestFolder dir;
  TUpdateProject p;
  p.Clear();
  // A folder that is a file refuses every writer, root included.
  const std::string path = dir.Write("file", "") + "/p.KelvaneProj";
  try {
    WriteProjectFile(p, path);
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_EQ(p.projectpath, "");
}

TEST(ProjectFile, RefusedWriteLeavesTheOldFile) {
  TTestFolder dir;
  TUpdateProject p;
  p.Clear();
  const std::string old = dir.Write("p.KelvaneProj", "old");
  {
    testing::TFileSizeLimit limit(64);  // the new file does not fit
    EXPECT_THROW(WriteProjectFile(p, old), EInOutError);
  }
  EXPECT_EQ(ReadAll(old), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

}  // namespace
}  // namespace kelvane
