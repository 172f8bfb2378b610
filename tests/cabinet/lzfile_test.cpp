// ExpandLZFile: SZDD files expanded beside themselves under the name their header records;
// files that are not LZ files are never lost; a size that disagrees with the header is a
// failure that leaves nothing half-written.
#include "cabinet/extract.h"
#include "cabtest.h"

using namespace kelvane;
using namespace cabtest;

namespace {

// An SZDD file: the 14-byte header, then groups of a flag byte and up to 8 items. With
// `useMatches` a run of the first byte is sent as ring references, else all literals.
Bytes Szdd(const Bytes& data, char lastChar, std::uint32_t headerLength) {
  Bytes out = {'S',  'Z',  'D',  'D', 0x88,
               0xF0, 0x27, 0x33, 'A', static_cast<std::uint8_t>(lastChar)};
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(headerLength >> (8 * k)));
  for (std::size_t i = 0; i < data.size(); i += 8) {
    const std::size_t n = std::min<std::size_t>(8, data.size() - i);
    out.push_back(static_cast<std::uint8_t>((1u << n) - 1));
    out.insert(out.end(), data.begin() + i, data.begin() + i + n);
  }
  return out;
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(LZExpandedName, HeaderCharacterInTheCaseOfTheName) {
  struct Row {
    const char* name;
    char last;
    const char* expanded;
  } rows[] = {
      {"tarvoxsetup.ex_", 'e', "tarvoxsetup.exe"},
      {"TARVOXSETUP.EX_", 'e', "TARVOXSETUP.EXE"},
      {"/tmp/dir.x/setup.ex_", 'E', "/tmp/dir.x/setup.exe"},
      {"data.tx_", '\0', "data.tx"},
      {"readme.", 'x', "readme"},
      {"noext_", 'e', "noext_"},
      {"plain.txt", 'e', "plain.txt"},
      {"v1.2.dl_", 'l', "v1.2.dll"},
      {"weird.ex_", '/', "weird.ex"},
      {"num.12_", '3', "num.123"},
  };
  for (const Row& r : rows) EXPECT_EQ(r.expanded, LZExpandedName(r.name, r.last)) << r.name;
}

TEST(ExpandLZFile, ExpandsBesideAndDeletesTheCompressedFile) {
  TTestFolder dir;
  const Bytes content = StructuredBytes(1, 20000);
  WriteFile(dir / "tarvoxsetup.ex_",
            Szdd(content, 'e', static_cast<std::uint32_t>(content.size())));
  WriteAll(dir / "tarvoxsetup.exe", "an older copy, replaced");
  ASSERT_TRUE(ExpandLZFile(dir / "tarvoxsetup.ex_"));
  EXPECT_TRUE(ReadFile(dir / "tarvoxsetup.exe") == content);
  EXPECT_FALSE(Exists(dir / "tarvoxsetup.ex_"));
  EXPECT_EQ((std::vector<std::string>{"tarvoxsetup.exe"}), ListTree(dir.Path()));
}

TEST(ExpandLZFile, FileMadeByMscompress) {
  if (!HaveTool("mscompress"))
    GTEST_SKIP() << "mscompress is not installed (scripts/install-deps installs it)";
  TTestFolder dir;
  const Bytes content = TextBytes(2, 50000);
  WriteFile(dir / "notes.txt", content);
  ASSERT_EQ(0, RunQuiet("mscompress " + Quote(dir / "notes.txt")));
  std::filesystem::remove(dir / "notes.txt");
  // mscompress appends "_" and records no character, so expanding cuts the "_" off again.
  ASSERT_TRUE(Exists(dir / "notes.txt_"));
  ASSERT_TRUE(ExpandLZFile(dir / "notes.txt_"));
  EXPECT_TRUE(ReadFile(dir / "notes.txt") == content);
  EXPECT_FALSE(Exists(dir / "notes.txt_"));
}

TEST(ExpandLZFile, NotAnLZFileStaysUnderItsOwnName) {
  TTestFolder dir;
  WriteAll(dir / "setup.ex_", "MZ plain, never compressed");
  EXPECT_TRUE(ExpandLZFile(dir / "setup.ex_"));
  EXPECT_TRUE(ReadFile(dir / "setup.ex_") == B("MZ plain, never compressed"));
  EXPECT_EQ((std::vector<std::string>{"setup.ex_"}), ListTree(dir.Path()));
}

TEST(ExpandLZFile, SizeMismatchOrMissingFileFailsAndWritesNothing) {
  const Bytes content = TextBytes(3, 5000);
  struct Case {
    const char* why;
    Bytes file;
  } cases[] = {
      {"header longer than the data", Szdd(content, 'e', 6000)},
      {"header shorter than the data", Szdd(content, 'e', 4000)},
      {"truncated data",
       [&] {
         Bytes b = Szdd(content, 'e', 5000);
         b.resize(b.size() / 2);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    TTestFolder dir;
    WriteFile(dir / "app.ex_", c.file);
    WriteAll(dir / "app.exe", "previous");
    EXPECT_FALSE(ExpandLZFile(dir / "app.ex_")) << c.why;
    EXPECT_TRUE(ReadFile(dir / "app.exe") == B("previous")) << c.why;
    EXPECT_TRUE(ReadFile(dir / "app.ex_") == c.file) << c.why << ": the compressed file stays";
    EXPECT_EQ((std::vector<std::string>{"app.ex_", "app.exe"}), ListTree(dir.Path())) << c.why;
  }
  TTestFolder dir;
  EXPECT_FALSE(ExpandLZFile(dir / "missing.ex_"));
}
