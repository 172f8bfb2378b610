// ExtractCabinet: destinations, folders, replacement, time stamps, failures, and the refusal of
// names that would leave the destination.
#include "cabinet/extract.h"

#include <sys/stat.h>

#include <ctime>

#include "cabinet/cabfile.h"
#include "cabinet/cabformat.h"
#include "cabtest.h"

using namespace kelvane;
using namespace cabtest;

namespace {

struct Item {
  std::string file, relPath;
  Bytes data;
};

// A cabinet of the given items, each written from dir/src/<file>.
std::string MakeCab(const TTestFolder& dir, const std::vector<Item>& items,
                    TCompressionType type = typMSZIP, const std::string& name = "t.cab") {
  std::filesystem::create_directories(dir / "src");
  TCABFile cab;
  cab.CABFile = dir / name;
  cab.CompressionType = type;
  for (const Item& item : items) {
    WriteFile(dir / ("src/" + item.file), item.data);
    auto& e = cab.CABFileContents.Add();
    e.Name = dir / ("src/" + item.file);
    e.RelPath = item.relPath;
  }
  EXPECT_TRUE(cab.Compress());
  return cab.CABFile;
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(ExtractCabinet, CreatesFoldersWithParentsAndBackslashesSeparate) {
  TTestFolder dir;
  const std::string cab = MakeCab(
      dir,
      {{"a.txt", "sub", B("alpha")}, {"b.txt", "", B("beta")}, {"c.txt", "x\\y\\z", B("gamma")}});
  for (const std::string& dest : {dir / "T", dir / "U/", dir / "V\\", dir / "deep/W"}) {
    ASSERT_EQ(0, ExtractCabinet(cab, dest)) << dest;
    std::string base = dest;
    while (base.back() == '/' || base.back() == '\\') base.pop_back();
    EXPECT_EQ((std::vector<std::string>{"b.txt", "sub/a.txt", "x/y/z/c.txt"}), ListTree(base))
        << dest;
    EXPECT_TRUE(ReadFile(base + "/sub/a.txt") == B("alpha"));
  }
}

TEST(ExtractCabinet, EmptyDestinationMeansCurrentFolder) {
  TTestFolder dir;
  const std::string cab = MakeCab(dir, {{"a.txt", "sub", B("alpha")}, {"b.txt", "", B("beta")}});
  std::filesystem::create_directories(dir / "cwd");
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir / "cwd");
  const int rc = ExtractCabinet(cab, "");
  std::filesystem::current_path(saved);
  ASSERT_EQ(0, rc);
  EXPECT_EQ((std::vector<std::string>{"b.txt", "sub/a.txt"}), ListTree(dir / "cwd"));
}

TEST(ExtractCabinet, ReplacesExistingFilesAndSetsStoredTime) {
  TTestFolder dir;
  const std::string cab = MakeCab(dir, {{"a.txt", "", B("new content")}});
  struct stat src {};
  ASSERT_EQ(0, ::stat((dir / "src/a.txt").c_str(), &src));
  std::filesystem::create_directories(dir / "out");
  WriteAll(dir / "out/a.txt", "old content that is longer");
  ASSERT_EQ(0, ExtractCabinet(cab, dir / "out"));
  EXPECT_TRUE(ReadFile(dir / "out/a.txt") == B("new content"));
  struct stat out {};
  ASSERT_EQ(0, ::stat((dir / "out/a.txt").c_str(), &out));
  // DOS stamps keep even seconds.
  EXPECT_EQ(src.st_mtime - (src.st_mtime % 2), out.st_mtime);
}

TEST(ExtractCabinet, ReadOnlyTargetFailsEarlierFilesStay) {
  TTestFolder dir;
  const std::string cab = MakeCab(dir, {{"first.txt", "", B("1")}, {"second.txt", "", B("2")}});
  std::filesystem::create_directories(dir / "out");
  WriteAll(dir / "out/second.txt", "keep me");
  ::chmod((dir / "out/second.txt").c_str(), 0444);
  EXPECT_EQ(-1, ExtractCabinet(cab, dir / "out"));
  EXPECT_TRUE(ReadFile(dir / "out/first.txt") == B("1"));
  EXPECT_TRUE(ReadFile(dir / "out/second.txt") == B("keep me"));
}

TEST(ExtractCabinet, NotACabinetOrMissingGivesMinusOneAndWritesNothing) {
  TTestFolder dir;
  WriteAll(dir / "fake.CAB", "this is only text, not a cabinet\r\n");
  EXPECT_EQ(-1, ExtractCabinet(dir / "fake.CAB", dir / "out"));
  EXPECT_EQ(-1, ExtractCabinet(dir / "missing.cab", dir / "out"));
  EXPECT_EQ(-1, ExtractCabinet(dir.Path(), dir / "out"));
  EXPECT_FALSE(Exists(dir / "out"));
}

TEST(ExtractCabinet, CorruptDataFailsWithoutHalfWrittenFile) {
  TTestFolder dir;
  // "a" lies in blocks 0..1, "b" in blocks 1..3; the data of the last block is damaged.
  const std::string cab = MakeCab(
      dir, {{"a.bin", "", StructuredBytes(1, 40000)}, {"b.bin", "", StructuredBytes(2, 60000)}},
      typNone);
  Bytes bytes = ReadFile(cab);
  bytes[bytes.size() - 5] ^= 0x55;
  WriteFile(cab, bytes);
  EXPECT_EQ(-1, ExtractCabinet(cab, dir / "out"));
  EXPECT_EQ((std::vector<std::string>{"a.bin"}), ListTree(dir / "out"));
  EXPECT_TRUE(ReadFile(dir / "out/a.bin") == StructuredBytes(1, 40000));
}

TEST(ExtractCabinet, RefusesNamesLeavingTheDestination) {
  struct Case {
    const char* relPath;
    const char* why;
  } cases[] = {
      {"..", "parent of the destination"},
      {"dir\\..\\..", "climbs out through a folder"},
      {"\\", "absolute with a backslash"},
      {"/", "absolute with a slash"},
      {"C:", "drive letter"},
      {"ok\\..", "even a '..' that would stay inside"},
  };
  for (const Case& c : cases) {
    TTestFolder dir;
    const std::string cab =
        MakeCab(dir, {{"fine.txt", "", B("fine")}, {"evil.txt", c.relPath, B("evil")}});
    if (std::string(c.relPath) == "/") {
      // The writer stores "\"; put a literal slash into the name (names are not checksummed).
      Bytes bytes = ReadFile(cab);
      const std::string needle = "\\evil.txt";
      auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
      ASSERT_NE(bytes.end(), at);
      *at = '/';
      WriteFile(cab, bytes);
    }
    std::filesystem::create_directories(dir / "box/dest");
    EXPECT_EQ(-1, ExtractCabinet(cab, dir / "box/dest")) << c.why;
    EXPECT_TRUE(ListTree(dir / "box").empty()) << c.why << ": nothing may be written";
    EXPECT_FALSE(Exists("/evil.txt"));
  }
}
