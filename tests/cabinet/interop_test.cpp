// Cabinets of every compression type and LZX window, with several folders, empty files, RelPath
// names, binary and text data, checked by independent readers (cabextract, 7z, bsdtar, gcab) and by
// our own extractor: each must verify and give back identical bytes.
#include "cabinet/cabfile.h"
#include "cabinet/extract.h"
#include "cabtest.h"

using namespace kelvane;
using namespace cabtest;

namespace {

struct Config {
  const char* name;
  TCompressionType type;
  TLZXMemory memory;
};

struct Source {
  std::string file, relPath;
  Bytes data;
  std::string stored() const { return (relPath.empty() ? "" : relPath + "/") + file; }
};

std::vector<Source> MakeSources() {
  std::vector<Source> s;
  s.push_back({"empty.txt", "", {}});
  s.push_back({"one.bin", "", {0x42}});
  s.push_back({"text.txt", "docs", TextBytes(1, 150000)});
  s.push_back({"code.bin", "bin", StructuredBytes(2, 600000)});
  s.push_back({"b32767.bin", "", StructuredBytes(3, 32767)});
  s.push_back({"b32768.bin", "", StructuredBytes(4, 32768)});
  s.push_back({"b32769.bin", "", StructuredBytes(5, 32769)});
  // Incompressible: pushes the first folder past 900 000 compressed bytes.
  s.push_back({"noise.bin", "bin/raw", RandomBytes(6, 1000000)});
  s.push_back({"after.txt", "bin/raw", TextBytes(7, 70001)});
  s.push_back({"empty2.txt", "", {}});
  return s;
}

class Interop : public ::testing::TestWithParam<Config> {
 protected:
  void SetUp() override {
    sources_ = MakeSources();
    std::filesystem::create_directories(dir_ / "src");
    for (auto& s : sources_) WriteFile(dir_ / ("src/" + s.file), s.data);
    TCABFile cab;
    cab.CABFile = dir_ / "test.cab";
    cab.CompressionType = GetParam().type;
    cab.LZXMemory = GetParam().memory;
    for (auto& s : sources_) {
      auto& e = cab.CABFileContents.Add();
      e.Name = dir_ / ("src/" + s.file);
      e.RelPath = s.relPath;
      for (char& c : e.RelPath)
        if (c == '/') c = '\\';
    }
    ASSERT_TRUE(cab.Compress());
    const CabInfo info = ParseCabinet(cab.CABFile);
    EXPECT_GE(info.folders.size(), 2u);
    ASSERT_EQ(sources_.size(), info.files.size());
  }

  void ExpectExtracted(const std::string& out, const std::string& reader) {
    for (auto& s : sources_) {
      const std::string path = out + "/" + s.stored();
      ASSERT_TRUE(Exists(path)) << reader << ": " << s.stored();
      EXPECT_TRUE(ReadFile(path) == s.data) << reader << ": " << s.stored() << " differs";
    }
  }

  void CheckTool(const std::string& tool, const std::string& test, const std::string& extract) {
    if (!HaveTool(tool))
      GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    const std::string cab = Quote(dir_ / "test.cab");
    const std::string out = dir_ / ("out-" + tool);
    EXPECT_EQ(0, RunQuiet(test + " " + cab)) << tool << " does not verify the cabinet";
    EXPECT_EQ(0, RunQuiet(extract + " " + Quote(out) + " " + cab)) << tool << " extraction failed";
    ExpectExtracted(out, tool);
  }

  TTestFolder dir_;
  std::vector<Source> sources_;
};

TEST_P(Interop, Cabextract) { CheckTool("cabextract", "cabextract -t", "cabextract -q -d"); }

TEST_P(Interop, SevenZip) {
  // 7z wants -o glued to the folder; a tiny wrapper keeps CheckTool's shape.
  CheckTool("7z", "7z t", "sh -c 'out=$0; cab=$1; 7z x -y -o\"$out\" \"$cab\"'");
}

TEST_P(Interop, Bsdtar) {
  CheckTool("bsdtar", "bsdtar -tf", "sh -c 'mkdir -p \"$0\" && bsdtar -xf \"$1\" -C \"$0\"'");
}

TEST_P(Interop, Gcab) {
  // Not one of the required readers, but its decoders descend from another lineage (Wine's).
  CheckTool("gcab", "gcab -l", "sh -c 'mkdir -p \"$0\" && gcab -x -C \"$0\" \"$1\"'");
}

TEST_P(Interop, OwnExtractor) {
  ASSERT_EQ(0, ExtractCabinet(dir_ / "test.cab", dir_ / "out-own"));
  ExpectExtracted(dir_ / "out-own", "ExtractCabinet");
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, Interop,
    ::testing::Values(Config{"None", typNone, lzxLowest}, Config{"MSZIP", typMSZIP, lzxLowest},
                      Config{"LZX15", typLZX, lzxLowest}, Config{"LZX16", typLZX, lzxLower},
                      Config{"LZX17", typLZX, lzxLow}, Config{"LZX18", typLZX, lzxMedium},
                      Config{"LZX19", typLZX, lzxHigh}, Config{"LZX20", typLZX, lzxHigher},
                      Config{"LZX21", typLZX, lzxHighest}),
    [](const ::testing::TestParamInfo<Config>& info) { return std::string(info.param.name); });

}  // namespace
