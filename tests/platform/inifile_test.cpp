#include "platform/inifile.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "common/testfolder.h"

namespace kelvane {
namespace {

using testing::ReadAll;
using testing::TTestFolder;
using testing::WriteAll;

// ---- Writing: start bytes, a series of calls, the exact bytes on disk -----------------------

struct WriteCase {
  const char* name;
  const char* before;  // nullptr: no file
  std::function<void(TIniFile&)> calls;
  const char* after;
};

const WriteCase kWriteCases[] = {
    {"NewFile", nullptr, [](TIniFile& f) { f.WriteString("App", "key", "string"); },
     "[App]\r\nkey=string\r\n"},
    {"EmptyFileIsLikeNew", "", [](TIniFile& f) { f.WriteString("App", "key", ""); },
     "[App]\r\nkey=\r\n"},
    {"NewSectionAtEndWithoutBlankLine", "[App1]\r\nkey1=a\r\n[App2]\r\nkey4=b\r\n",
     [](TIniFile& f) { f.WriteString("App3", "key5", "string5"); },
     "[App1]\r\nkey1=a\r\n[App2]\r\nkey4=b\r\n[App3]\r\nkey5=string5\r\n"},
    {"UnterminatedLastLineGetsCrLf", "Data before first section",
     [](TIniFile& f) { f.WriteString("section1", "key1", "string1"); },
     "Data before first section\r\n[section1]\r\nkey1=string1\r\n"},
    {"ReplaceInPlaceKeepsFileSpelling", "[SectionName]\r\nTestKey=TestValue",
     [](TIniFile& f) { f.WriteString("SECTIONNAME", "TESTKEY", "TestValue2"); },
     "[SectionName]\r\nTestKey=TestValue2\r\n"},
    {"NewKeysAfterLastEntryAboveComments",
     ";comment0\r\n[S]\r\n;comment1\r\nb=value\r\n;comment2\r\na=value\r\n",
     [](TIniFile& f) {
       for (const char* k : {"z", ";x", "y", "a", "b"}) f.WriteString("S", k, "");
     },
     ";comment0\r\n[S]\r\n;comment1\r\nb=\r\n;comment2\r\na=\r\nz=\r\ny=\r\n;x=\r\n"},
    {"NewKeyInNonLastSection", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n",
     [](TIniFile& f) { f.WriteString("a", "n", "3"); }, "[A]\r\nx=1\r\nn=3\r\n\r\n[B]\r\ny=2\r\n"},
    {"NewKeyInSectionWithoutEntries", "[A]\r\n;note\r\n[B]\r\n",
     [](TIniFile& f) { f.WriteString("A", "k", "v"); }, "[A]\r\nk=v\r\n;note\r\n[B]\r\n"},
    {"NamesLoseSpacesValueVerbatim", nullptr,
     [](TIniFile& f) { f.WriteString("  S  ", " k ", "  v \"q\" "); }, "[S]\r\nk=  v \"q\" \r\n"},
    {"DeleteKeyKeepsHeader", "[App3]\r\nkey5=string5\r\n",
     [](TIniFile& f) { f.DeleteKey("app3", "KEY5"); }, "[App3]\r\n"},
    {"EraseSectionKeepsComments", ";c0\r\n[S]\r\n;c1\r\nk=v\r\n[S2]\r\n;c2\r\n",
     [](TIniFile& f) {
       f.EraseSection("S");
       f.EraseSection("s2");
     },
     ";c0\r\n;c1\r\n;c2\r\n"},
    {"EraseThenRewriteMovesSectionToEnd", "[Recent]\r\na=1\r\n[Settings]\r\nx=2\r\n",
     [](TIniFile& f) {
       f.EraseSection("Recent");
       f.WriteString("Recent", "a", "1");
       f.WriteString("Recent", "b", "2");
     },
     "[Settings]\r\nx=2\r\n[Recent]\r\na=1\r\nb=2\r\n"},
    {"EraseRemovesDuplicateSectionsToo", "[A]\r\nk=1\r\n[B]\r\nx=2\r\n[a]\r\nk=old\r\n",
     [](TIniFile& f) {
       f.EraseSection("A");
       f.WriteString("A", "k", "new");
     },
     "[B]\r\nx=2\r\n[A]\r\nk=new\r\n"},
    {"DeleteKeyRemovesFirstOfDuplicates", "[S]\r\nk=1\r\nk=2\r\n",
     [](TIniFile& f) { f.DeleteKey("S", "k"); }, "[S]\r\nk=2\r\n"},
    {"UntouchedLinesKeepTheirBytes", "junk\n[S]\r\n  k = old  \nother=1\r",
     [](TIniFile& f) { f.WriteString("S", "new", "n"); },
     "junk\n[S]\r\n  k = old  \nother=1\rnew=n\r\n"},
    {"ReplacedLineWithBlanksIsRewritten", "[S]\n  k = old  \n",
     [](TIniFile& f) { f.WriteString("S", "K", "new"); }, "[S]\nk=new\r\n"},
    {"IntegersAndBooleans", nullptr,
     [](TIniFile& f) {
       f.WriteInteger("S", "i", -2147483647 - 1);
       f.WriteBool("S", "t", true);
       f.WriteBool("S", "f", false);
     },
     "[S]\r\ni=-2147483648\r\nt=1\r\nf=0\r\n"},
    {"Utf8InWindows1252OnDisk", nullptr,
     [](TIniFile& f) { f.WriteString("Größe", "€", "naïve ❤︎ 日本"); },
     "[Gr\xF6\xDF"
     "e]\r\n\x80=na\xEFve ?? ??\r\n"},
    {"SecondDuplicateKeyUntouched", "[S]\r\nk=1\r\nk=2\r\n",
     [](TIniFile& f) { f.WriteString("S", "k", "3"); }, "[S]\r\nk=3\r\nk=2\r\n"},
};

class IniWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWrite, GivesExactBytes) {
  TTestFolder folder;
  const std::string path = folder / "t.ini";
  if (GetParam().before) WriteAll(path, GetParam().before);
  TIniFile ini(path);
  GetParam().calls(ini);
  ini.UpdateFile();
  EXPECT_EQ(ReadAll(path), GetParam().after);
  // What was written reads back through a fresh load the same way.
  TIniFile again(path);
  again.UpdateFile();
  EXPECT_EQ(ReadAll(path), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniWrite, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Reading: file bytes, section and key, the string returned -----------------------------

struct ReadCase {
  const char* name;
  const char* file;
  const char* section;
  const char* key;
  const char* defaultValue;
  const char* expected;
};

const ReadCase kReadCases[] = {
    {"Plain", "[S]\r\nk=v\r\n", "S", "k", "d", "v"},
    {"CaseBlindNames", "[Sec]\r\nNaMe1=v\r\n", "sEC", "name1", "d", "v"},
    {"ArgumentSpacesStripped", "[S]\r\nk=v\r\n", "  S ", " k  ", "d", "v"},
    {"ArgumentTabBreaksMatch", "[S]\r\nk=v\r\n", "S", "\tk", "d", "d"},
    {"BlanksAroundKeyAndValue", "[S]\r\n \t k \v=   value  \t\r\n", "S", "k", "", "value"},
    {"HeaderBlanksAndTrailingText", "  [ S ]junk=1\r\nk=v\r\n", "S", "k", "", "v"},
    {"HeaderWithoutClosingBracket", "[S  \r\nk=v\r\n", "S", "k", "", "v"},
    {"NameUpToFirstBracket", "[a]b]\r\nk=v\r\n", "a", "k", "", "v"},
    {"FirstSectionOnly", "[S]\r\n[S]\r\nk=v\r\n", "S", "k", "d", "d"},
    {"FirstKeyWins", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "", "1"},
    {"TextBeforeFirstHeaderUnreachable", "k=v\r\n[S]\r\n", "", "k", "d", "d"},
    {"EmptySectionName", "[]\r\nk=v\r\n", "", "k", "d", "v"},
    {"EmptyKeyName", "[S]\r\n=v\r\n", "S", "", "d", "v"},
    {"SplitAtFirstEquals", "[S]\r\nk=a=b\r\n", "S", "k", "", "a=b"},
    {"CommentLineNotAKey", "[S]\r\n ;k=v\r\n", "S", ";k", "d", "d"},
    {"SemicolonInValueKept", "[S]\r\nk=;x\r\n", "S", "k", "", ";x"},
    {"HashIsNoComment", "[S]\r\n#k=v\r\n", "S", "#k", "", "v"},
    {"LineWithoutEqualsIsNoKey", "[S]\r\nname3\r\n", "S", "name3", "d", "d"},
    {"EmptyValueIsNotDefault", "[S]\r\nk=\r\n", "S", "k", "d", ""},
    {"DoubleQuotesStripped", "[S]\r\nk=  \"  x  \"  \r\n", "S", "k", "", "  x  "},
    {"SingleQuotesStripped", "[S]\r\nk='a'\r\n", "S", "k", "", "a"},
    {"OnlyOnePair", "[S]\r\nk=\"'a'\"\r\n", "S", "k", "", "'a'"},
    {"MixedQuotesKept", "[S]\r\nk=\"a'\r\n", "S", "k", "", "\"a'"},
    {"LoneQuoteKept", "[S]\r\nk=\"\r\n", "S", "k", "", "\""},
    {"DefaultLosesTrailingSpaces", "", "S", "k", " one two  ", " one two"},
    {"LfOnly", "[S]\nk=v\n[T]\nk=w\n", "T", "k", "", "w"},
    {"CrOnly", "[S]\rk=v\r[T]\rk=w\r", "T", "k", "", "w"},
    {"Windows1252ToUtf8", "[S]\r\nk=\x80 caf\xE9\r\n", "S", "k", "", "€ café"},
    {"Windows1252NamesFoldCase", "[\xC4]\r\nk=v\r\n", "ä", "K", "", "v"},
    {"Utf8BomIsPlainText", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", "d", "d"},
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, ReturnsProfileValue) {
  TTestFolder folder;
  const std::string path = folder / "t.ini";
  WriteAll(path, GetParam().file);
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadString(GetParam().section, GetParam().key, GetParam().defaultValue),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Numbers: the text of a value and the integer it reads as (default 77) ------------------

struct IntCase {
  const char* value;
  int decimal;  // ReadInteger
  int hex;      // ReadIntegerOrHex
};

TEST(IniNumbers, DecimalOrDefault) {
  const IntCase cases[] = {
      {"0", 0, 0},
      {"12", 12, 12},
      {"-1", -1, -1},
      {"+1", 1, 1},
      {"  42  ", 42, 42},
      {"2147483647", 2147483647, 2147483647},
      {"-2147483648", -2147483647 - 1, -2147483647 - 1},
      {"2147483648", 77, 77},
      {"4294967296", 77, 77},
      {"12abc", 77, 77},
      {"abc", 77, 77},
      {"", 77, 77},
      {"-", 77, 77},
      {"1 2", 77, 77},
      {"\"5\"", 5, 5},
      {"$1F", 77, 31},
      {"0x1f", 77, 31},
      {"0XFFFFFFFF", 77, -1},
      {"$", 77, 77},
      {"0x", 77, 77},
      {"$123456789", 77, 77},
      {"$G", 77, 77},
  };
  TTestFolder folder;
  const std::string path = folder / "n.ini";
  {
    TIniFile ini(path);
    for (std::size_t i = 0; i < std::size(cases); ++i)
      ini.WriteString("N", "k" + std::to_string(i), cases[i].value);
    ini.UpdateFile();
  }
  const TIniFile ini(path);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string key = "k" + std::to_string(i);
    EXPECT_EQ(ini.ReadInteger("N", key, 77), cases[i].decimal) << '"' << cases[i].value << '"';
    EXPECT_EQ(ini.ReadIntegerOrHex("N", key, 77), cases[i].hex) << '"' << cases[i].value << '"';
  }
  EXPECT_EQ(ini.ReadInteger("N", "missing", 77), 77);
}

TEST(IniNumbers, BooleansAreIntegers) {
  TTestFolder folder;
  const std::string path = folder / "b.ini";
  WriteAll(path, "[B]\r\nzero=0\r\none=1\r\ntwo=2\r\njunk=yes\r\n");
  const TIniFile ini(path);
  EXPECT_FALSE(ini.ReadBool("B", "zero", true));
  EXPECT_TRUE(ini.ReadBool("B", "one", false));
  EXPECT_TRUE(ini.ReadBool("B", "two", false));
  EXPECT_TRUE(ini.ReadBool("B", "junk", true));
  EXPECT_FALSE(ini.ReadBool("B", "junk", false));
  EXPECT_TRUE(ini.ReadBool("B", "missing", true));
}

// ---- Whole sections, long values, existence -------------------------------------------------

TEST(IniSections, LinesInFileOrder) {
  TTestFolder folder;
  const std::string path = folder / "s.ini";
  WriteAll(path,
           "[section1]\r\nname1=val1\r\nname2=\r\n;comment\r\n\r\nname3\r\n  name4 = \"val4\" \r\n"
           "[section2]\r\n[section3]\r\n=val5\r\n[section1]\r\nlater=1\r\n");
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadSectionLines("SECTION1"),
            (std::vector<std::string>{"name1=val1", "name2=", "name3", "name4=\"val4\""}));
  EXPECT_TRUE(ini.ReadSectionLines("section2").empty());
  EXPECT_EQ(ini.ReadSectionValues("section3"),
            (std::vector<std::pair<std::string, std::string>>{{"", "val5"}}));
  EXPECT_EQ(ini.ReadSectionValues("section1")[2],
            (std::pair<std::string, std::string>{"name3", ""}));
  EXPECT_TRUE(ini.ReadSectionLines("missing").empty());
  EXPECT_TRUE(ini.SectionExists(" Section2 "));
  EXPECT_FALSE(ini.SectionExists("section4"));
  EXPECT_TRUE(ini.ValueExists("section1", "NAME2"));
  EXPECT_FALSE(ini.ValueExists("section1", "name3"));
  EXPECT_FALSE(ini.ValueExists("section1", "later"));
}

// The original cut every value at 2047 characters; a long description must survive whole.
TEST(IniValues, LongValueSurvivesSaveAndLoad) {
  TTestFolder folder;
  const std::string path = folder / "long.ini";
  std::string value;
  for (int i = 0; value.size() < 70000; ++i) value += "component" + std::to_string(i) + ",";
  {
    TIniFile ini(path);
    ini.WriteString("Project", "descr", value);
    ini.UpdateFile();
  }
  EXPECT_EQ(TIniFile(path).ReadString("Project", "descr", ""), value);
}

TEST(IniFile, MissingFileReadsEmptyAndIsNotCreatedByReading) {
  TTestFolder folder;
  const std::string path = folder / "none.ini";
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
  ini.DeleteKey("S", "k");
  ini.EraseSection("S");
  ini.UpdateFile();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(IniFile, RefusedWriteRaisesAndKeepsNothingHalfWritten) {
  TTestFolder folder;
  const std::string path = folder / "no-such-folder/x.ini";
  TIniFile ini(path);
  ini.WriteString("S", "k", "v");
  try {
    ini.UpdateFile();
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    EXPECT_STREQ(e.ClassName(), "EInOutError");
  }
  // A folder in the file's place: the platform refuses, the folder stays.
  const std::string dirPath = folder / "dir.ini";
  std::filesystem::create_directory(dirPath);
  TIniFile onDir(dirPath);
  onDir.WriteString("S", "k", "v");
  EXPECT_THROW(onDir.UpdateFile(), EInOutError);
  EXPECT_TRUE(std::filesystem::is_directory(dirPath));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left behind
}

TEST(IniFile, WritesThroughSymbolicLink) {
  TTestFolder folder;
  WriteAll(folder / "real.ini", "[S]\r\nk=1\r\n");
  std::filesystem::create_symlink(folder / "real.ini", folder / "link.ini");
  TIniFile ini(folder / "link.ini");
  ini.WriteString("S", "k", "2");
  ini.UpdateFile();
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.ini"));
  EXPECT_EQ(ReadAll(folder / "real.ini"), "[S]\r\nk=2\r\n");
}

}  // namespace
}  // namespace kelvane
