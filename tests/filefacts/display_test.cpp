#include <gtest/gtest.h>

#include <filesystem>

#include "common/testfolder.h"
#include "filefacts/filefacts.h"

namespace kelvane {
namespace {

using testing::TTestFolder;
using testing::WriteAll;

TEST(Display, VersionToText) {
  EXPECT_EQ(VersionToText(1, 0, 0, 12), "1.0.0.12");
  EXPECT_EQ(VersionToText(0, 0, 0, 0), "0.0.0.0");
  EXPECT_EQ(VersionToText(TFileVersion{65535, 65535, 65535, 65535}), "65535.65535.65535.65535");
}

TEST(Display, TextToVersion) {
  const struct {
    const char* text;
    TVersionWords words;
  } cases[] = {
      {"7", {0x00070000, 0}},
      {"abc", kNoVersion},
      {"", kNoVersion},
      {"1.2", {0x00010002, 0}},
      {"1.2.3", {0x00010002, 0x00030000}},
      {"1,2,3,4", {0x00010002, 0x00030004}},
      {"1,2.5", kNoVersion},  // both: split at the commas, and "2.5" is no number
      {"1,2", {0x00010002, 0}},
      {"2.1.0.345", {0x00020001, 0x00000159}},
      {"1, 0, 0, 1", {0x00010000, 0x00000001}},       // the resource compiler's own spelling
      {"65536.65537.1.2", {0x00000001, 0x00010002}},  // each part modulo 65536
      {"70000", {(70000 % 65536) << 16, 0}},
      {"1.2.3.4.5", {0x00010002, 0x00030004}},
      {"1..3", {0x00010000, 0x00030000}},
      {"1.x.3", kNoVersion},
      {"-1", kNoVersion},
      {"99999999999999999999", {0xFFFF0000, 0}},
  };
  for (const auto& c : cases) {
    const TVersionWords words = TextToVersion(c.text);
    EXPECT_EQ(words.high, c.words.high) << c.text;
    EXPECT_EQ(words.low, c.words.low) << c.text;
  }
}

TEST(Display, FormatFileSize) {
  const struct {
    std::int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 bytes"},
      {1, "1 bytes"},
      {1024, "1024 bytes"},
      {1025, "1 KB"},
      {1536, "1.5 KB"},
      {1048576, "1024 KB"},
      {1048577, "1 MB"},
      {1234567, "1.18 MB"},
      {1073741824, "1024 MB"},
      {1073741825, "1 GB"},
      {2147483647, "2 GB"},
      {-2147483647 - 1, "2 GB"},  // 2 GiB held in 32 bits
      {-1, "4 GB"},
      {5368709120, "5 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFileSize(c.bytes), c.text) << c.bytes;
}

TEST(Display, ShortFileName) {
  const struct {
    const char* name;
    const char* shown;
  } cases[] = {
      {"", ""},
      {"short.exe", "short.exe"},
      {"abcdefghijklmnopqrstuvw.y", "abcdefghijklmnopqrstuvw.y"},        // 25: unchanged
      {"abcdefghijklmnopqrstuvwx.yz", "abcdefghijklmnopqrstuvwx. ..."},  // 27
      {"abcdefghijklmnopqrstuvwxyz", "abcdefghijklmnopqrstuvwxy ..."},   // 26
      {"ÄÖÜäöüßÄÖÜäöüßÄÖÜäöüßÄÖÜä", "ÄÖÜäöüßÄÖÜäöüßÄÖÜäöüßÄÖÜä"},        // 25 characters, 50 bytes
      {"ÄÖÜäöüßÄÖÜäöüßÄÖÜäöüßÄÖÜäö", "ÄÖÜäöüßÄÖÜäöüßÄÖÜäöüßÄÖÜä ..."},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortFileName(c.name), c.shown) << c.name;
}

TEST(Display, ShellFileInfo) {
  TTestFolder folder;
  WriteAll(folder / "Setup.exe", std::string(1536, 'x'));
  TFileInfo info;
  GetShellFileInfo(folder / "Setup.exe", info);
  EXPECT_EQ(info.DisplayName, "Setup.exe");
  EXPECT_EQ(info.TypeName, "Application");
  EXPECT_EQ(info.Size, 1536);
  EXPECT_EQ(info.SizeText, "1.5 Kb");
  EXPECT_EQ(info.Icon, nullptr);
  EXPECT_FALSE(info.Directory);

  const struct {
    std::size_t size;
    const char* text;
  } sizes[] = {
      {0, "0 bytes"}, {1023, "1023 bytes"}, {1024, "1 Kb"}, {3 * 1048576 + 262144, "3.25 Mb"}};
  for (const auto& s : sizes) {
    WriteAll(folder / "f.dat", std::string(s.size, 'y'));
    TFileInfo i;
    GetShellFileInfo(folder / "f.dat", i);
    EXPECT_EQ(i.SizeText, s.text);
    EXPECT_EQ(i.TypeName, "DAT File");
  }

  // Blank and missing paths leave the record as it was; a folder gets names but no size.
  TFileInfo untouched;
  untouched.SizeText = "keep";
  untouched.DisplayName = "keep";
  for (const std::string& path : {std::string("   "), std::string(""), folder / "missing"}) {
    TFileInfo i = untouched;
    GetShellFileInfo(path, i);
    EXPECT_EQ(i.DisplayName, "keep");
    EXPECT_EQ(i.SizeText, "keep");
  }
  std::filesystem::create_directory(folder / "sub");
  TFileInfo dir = untouched;
  GetShellFileInfo(folder / "sub", dir);
  EXPECT_EQ(dir.DisplayName, "sub");
  EXPECT_EQ(dir.TypeName, "File folder");
  EXPECT_EQ(dir.SizeText, "keep");
}

}  // namespace
}  // namespace kelvane
