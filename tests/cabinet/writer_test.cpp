// TCABFile: what binds in the cabinet it writes (codes, names, dates, attributes, folders,
// progress) and how it fails.
#include <sys/stat.h>
#include <utime.h>

#include <ctime>

#include "cabinet/cabfile.h"
#include "cabinet/extract.h"
#include "cabtest.h"
#include "platform/datetime.h"

using namespace kelvane;
using namespace cabtest;

namespace {

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  return DateTimeToUnix(EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0));
}

}  // namespace

TEST(CABFile, CompressionCodePerTypeAndWindow) {
  struct Row {
    TCompressionType type;
    TLZXMemory memory;
    std::uint16_t code;
  } rows[] = {
      {typNone, lzxHighest, 0x0000}, {typMSZIP, lzxHigh, 0x0001}, {typLZX, lzxLowest, 0x0F03},
      {typLZX, lzxLower, 0x1003},    {typLZX, lzxLow, 0x1103},    {typLZX, lzxMedium, 0x1203},
      {typLZX, lzxHigh, 0x1303},     {typLZX, lzxHigher, 0x1403}, {typLZX, lzxHighest, 0x1503},
  };
  TTestFolder dir;
  WriteAll(dir / "a.txt", "hello hello hello hello\n");
  for (const Row& row : rows) {
    TCABFile cab;
    cab.CompressionType = row.type;
    cab.LZXMemory = row.memory;
    EXPECT_EQ(row.code, cab.CompressionCode());
    cab.CABFileContents.Add().Name = dir / "a.txt";
    cab.CABFile = dir / "x.cab";
    ASSERT_TRUE(cab.Compress());
    const CabInfo info = ParseCabinet(dir / "x.cab");
    ASSERT_EQ(1u, info.folders.size());
    EXPECT_EQ(row.code, info.folders[0].type);
  }
}

TEST(CABFile, DefaultsAndVersion) {
  TCABFile cab;
  EXPECT_EQ(typMSZIP, cab.CompressionType);
  EXPECT_EQ(lzxLowest, cab.LZXMemory);
  EXPECT_EQ("1.5.3.0", cab.Version());
  EXPECT_EQ(0, cab.CABFileContents.Count());
  EXPECT_EQ(&cab, cab.CABFileContents.Owner());
}

TEST(CABFile, HeaderParametersAndStoredNames) {
  TTestFolder dir;
  std::filesystem::create_directories(dir / "deep/er");
  WriteAll(dir / "a.txt", "a");
  WriteAll(dir / "b.txt", "bb");
  WriteAll(dir / "deep/er/c.txt", "ccc");
  TCABFile cab;
  cab.CABFile = dir / "x.cab";
  auto add = [&](const std::string& name, const std::string& rel) {
    auto& e = cab.CABFileContents.Add();
    e.Name = name;
    e.RelPath = rel;
  };
  add(dir / "a.txt", "sub");
  add(dir / "b.txt", "sub\\");
  add(dir / "deep/er/c.txt", "");
  add(dir / "a.txt", "one\\two");
  ASSERT_TRUE(cab.Compress());
  const CabInfo info = ParseCabinet(dir / "x.cab");
  EXPECT_EQ(12345, info.setId);
  EXPECT_EQ(0, info.iCabinet);
  EXPECT_EQ(0, info.flags);
  ASSERT_EQ(4u, info.files.size());
  EXPECT_EQ("sub\\a.txt", info.files[0].name);
  EXPECT_EQ("sub\\b.txt", info.files[1].name);
  EXPECT_EQ("c.txt", info.files[2].name);
  EXPECT_EQ("one\\two\\a.txt", info.files[3].name);
}

TEST(CABFile, RelativeSourceNamesResolveAgainstCurrentFolder) {
  TTestFolder dir;
  WriteAll(dir / "rel.txt", "relative");
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  TCABFile cab;
  cab.CABFile = "out.cab";
  cab.CABFileContents.Add().Name = "rel.txt";
  const bool ok = cab.Compress();
  std::filesystem::current_path(saved);
  ASSERT_TRUE(ok);
  EXPECT_EQ("rel.txt", ParseCabinet(dir / "out.cab").files.at(0).name);
}

TEST(CABFile, DatesAreLocalDosStampsAndAttributesMasked) {
  TTestFolder dir;
  WriteAll(dir / "plain.txt", "x");
  WriteAll(dir / "ro.txt", "y");
  WriteAll(dir / "old.txt", "z");
  const std::time_t when = LocalTime(2024, 5, 17, 13, 45, 31);  // odd second: truncated
  struct utimbuf times {
    when, when
  };
  ::utime((dir / "plain.txt").c_str(), &times);
  ::utime((dir / "ro.txt").c_str(), &times);
  const std::time_t old = LocalTime(1975, 1, 1, 0, 0, 0);  // before DOS dates begin: clamped
  struct utimbuf oldTimes {
    old, old
  };
  ::utime((dir / "old.txt").c_str(), &oldTimes);
  ::chmod((dir / "ro.txt").c_str(), 0444);
  TCABFile cab;
  cab.CABFile = dir / "x.cab";
  for (const char* n : {"plain.txt", "ro.txt", "old.txt"}) cab.CABFileContents.Add().Name = dir / n;
  ASSERT_TRUE(cab.Compress());
  const CabInfo info = ParseCabinet(dir / "x.cab");
  ASSERT_EQ(3u, info.files.size());
  EXPECT_EQ(0x58B1, info.files[0].date);
  EXPECT_EQ(0x6DAF, info.files[0].time);
  EXPECT_EQ(0x20, info.files[0].attribs);
  EXPECT_EQ(0x21, info.files[1].attribs);
  EXPECT_EQ((0 << 9) | (1 << 5) | 1, info.files[2].date);
  for (const auto& f : info.files) EXPECT_EQ(0, f.attribs & ~0x27);
}

TEST(CABFile, NamesInWindows1252OrFlaggedUtf8) {
  TTestFolder dir;
  WriteAll(dir / "caf\xC3\xA9.txt", "latin");
  WriteAll(dir / "\xE6\x97\xA5\xE6\x9C\xAC.txt", "cjk");
  TCABFile cab;
  cab.CABFile = dir / "x.cab";
  cab.CompressionType = typLZX;
  cab.CABFileContents.Add().Name = dir / "caf\xC3\xA9.txt";
  cab.CABFileContents.Add().Name = dir / "\xE6\x97\xA5\xE6\x9C\xAC.txt";
  ASSERT_TRUE(cab.Compress());
  const CabInfo info = ParseCabinet(dir / "x.cab");
  ASSERT_EQ(2u, info.files.size());
  EXPECT_EQ("caf\xE9.txt", info.files[0].name);
  EXPECT_EQ(0, info.files[0].attribs & 0x80);
  EXPECT_EQ("\xE6\x97\xA5\xE6\x9C\xAC.txt", info.files[1].name);
  EXPECT_EQ(0x80, info.files[1].attribs & 0x80);
  // Our extractor gives both their UTF-8 names back.
  ASSERT_EQ(0, ExtractCabinet(dir / "x.cab", dir / "out"));
  EXPECT_EQ("latin", ReadAll(dir / "out/caf\xC3\xA9.txt"));
  EXPECT_TRUE(Exists(dir / "out/\xE6\x97\xA5\xE6\x9C\xAC.txt"));
}

TEST(CABFile, ProgressPerBlockUpToTotal) {
  TTestFolder dir;
  WriteFile(dir / "a.bin", StructuredBytes(1, 100000));
  WriteFile(dir / "b.bin", RandomBytes(2, 70000));
  for (TCompressionType type : {typNone, typMSZIP, typLZX}) {
    TCABFile cab;
    cab.CABFile = dir / "x.cab";
    cab.CompressionType = type;
    cab.CABFileContents.Add().Name = dir / "a.bin";
    cab.CABFileContents.Add().Name = dir / "b.bin";
    std::vector<std::int32_t> positions;
    cab.OnCompressProgress = [&](TCABFile* sender, std::int32_t pos, std::int32_t tot) {
      EXPECT_EQ(&cab, sender);
      EXPECT_EQ(170000, tot);
      positions.push_back(pos);
    };
    ASSERT_TRUE(cab.Compress());
    const CabInfo info = ParseCabinet(dir / "x.cab");
    ASSERT_EQ(info.blockSizes.size(), positions.size()) << "one event per data block";
    std::int32_t expected = 0;
    for (std::size_t i = 0; i < positions.size(); ++i) {
      expected += info.blockSizes[i];
      EXPECT_EQ(expected, positions[i]);
    }
    EXPECT_EQ(170000, positions.back());
  }
}

TEST(CABFile, FolderThresholdOnCompressedBytesFilesNeverSplit) {
  TTestFolder dir;
  // Incompressible 400 000-byte files: the third file brings a folder past 900 000 bytes.
  for (int i = 0; i < 5; ++i)
    WriteFile(dir / ("r" + std::to_string(i)), RandomBytes(10 + i, 400000));
  WriteAll(dir / "empty", "");
  TCABFile cab;
  cab.CABFile = dir / "x.cab";
  cab.CompressionType = typNone;
  for (int i = 0; i < 5; ++i) cab.CABFileContents.Add().Name = dir / ("r" + std::to_string(i));
  cab.CABFileContents.Add().Name = dir / "empty";
  ASSERT_TRUE(cab.Compress());
  const CabInfo info = ParseCabinet(dir / "x.cab");
  ASSERT_EQ(2u, info.folders.size());
  std::vector<int> folderOf;
  for (const auto& f : info.files) folderOf.push_back(f.folder);
  EXPECT_EQ((std::vector<int>{0, 0, 0, 1, 1, 1}), folderOf);
  EXPECT_EQ(0u, info.files[3].offset);
}

TEST(CABFile, EmptyListWritesAnEmptyCabinet) {
  TTestFolder dir;
  TCABFile cab;
  cab.CABFile = dir / "x.cab";
  ASSERT_TRUE(cab.Compress());
  const CabInfo info = ParseCabinet(dir / "x.cab");
  EXPECT_TRUE(info.folders.empty());
  EXPECT_TRUE(info.files.empty());
  EXPECT_EQ(0, ExtractCabinet(dir / "x.cab", dir / "out"));
}

TEST(CABFile, MissingSourceRaisesBeforeAnythingIsWritten) {
  TTestFolder dir;
  WriteAll(dir / "a.txt", "a");
  WriteAll(dir / "x.cab", "old cabinet");
  TCABFile cab;
  cab.CABFile = dir / "x.cab";
  cab.CABFileContents.Add().Name = dir / "a.txt";
  cab.CABFileContents.Add().Name = dir / "missing.txt";
  bool progressed = false;
  cab.OnCompressProgress = [&](TCABFile*, std::int32_t, std::int32_t) { progressed = true; };
  try {
    cab.Compress();
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("missing.txt"));
  }
  EXPECT_FALSE(progressed);
  EXPECT_EQ("old cabinet", ReadAll(dir / "x.cab"));
}

TEST(CABFile, FailuresRaiseECABFileErrorWithFixedTexts) {
  EXPECT_EQ("No error", CABErrorText(0));
  EXPECT_EQ("Failure opening file to be stored in cabinet", CABErrorText(1));
  EXPECT_EQ("Failure compressing data", CABErrorText(8));
  EXPECT_EQ("Unknown error", CABErrorText(9));
  EXPECT_EQ("Unknown error", CABErrorText(-1));

  TTestFolder dir;
  WriteAll(dir / "a.txt", "a");
  TCABFile cab;
  cab.CABFile = dir / "no/such/folder/x.cab";
  cab.CABFileContents.Add().Name = dir / "a.txt";
  try {
    cab.Compress();
    FAIL() << "no error raised";
  } catch (const ECABFileError& e) {
    EXPECT_STREQ("Could not create cabinet file", e.what());
    EXPECT_STREQ("ECABFileError", e.ClassName());
  }
  // A stored name longer than the format allows.
  const std::string longName(250, 'n');
  WriteAll(dir / (longName + ".txt"), "x");
  TCABFile cab2;
  cab2.CABFile = dir / "y.cab";
  cab2.CABFileContents.Add().Name = dir / (longName + ".txt");
  cab2.CABFileContents.Items(0).RelPath = "folder";
  EXPECT_THROW(cab2.Compress(), ECABFileError);
  EXPECT_FALSE(Exists(dir / "y.cab"));
}
