#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/testfolder.h"
#include "filefacts/filefacts.h"

namespace kelvane {
namespace {

using testing::ReadAll;
using testing::TTestFolder;
using testing::WriteAll;

std::string Fixture(const std::string& name) {
  return std::string(KELVANE_SOURCE_DIR) + "/tests/filefacts/data/" + name;
}

// Made by data/make-fixtures.sh with llvm-rc, clang and lld-link; versions confirmed by exiftool.
TEST(FileVersion, Fixtures) {
  const struct {
    const char* file;
    TFileVersion version;
    const char* text;
  } cases[] = {
      {"app64.exe", {1, 0, 0, 12}, "1.0.0.12"},    // PE32+ EXE
      {"lib64.dll", {2, 1, 0, 345}, "2.1.0.345"},  // PE32+ DLL
      {"app32.exe", {3, 4, 5, 6}, "3.4.5.6"},      // PE32 EXE
      {"lang32.exe", {3, 4, 5, 6}, "3.4.5.6"},     // English (US) wins over German 7.7.7.7
      {"lib32.dll", {65535, 0, 65535, 1}, "65535.0.65535.1"},  // PE32 DLL
  };
  for (const auto& c : cases) {
    TFileVersion version;
    ASSERT_TRUE(ReadFileVersion(Fixture(c.file), version)) << c.file;
    EXPECT_EQ(version, c.version) << c.file;
    EXPECT_EQ(VersionToText(version), c.text);
    const TFileFacts facts = ReadFileFacts(Fixture(c.file));
    EXPECT_TRUE(facts.hasVersion);
    EXPECT_EQ(facts.version, c.version);
    EXPECT_EQ(ReadFileFactsMany({Fixture(c.file)}).front(), facts);
  }
}

TEST(FileVersion, NoVersionLeavesPartsUntouched) {
  TTestFolder folder;
  WriteAll(folder / "notes.txt", "MZ but only a text file\r\n");
  for (const std::string& path : {Fixture("nover64.exe"), folder / "notes.txt", folder / "missing",
                                  Fixture("make-fixtures.sh")}) {
    TFileVersion version{9, 8, 7, 6};
    EXPECT_FALSE(ReadFileVersion(path, version)) << path;
    EXPECT_EQ(version, (TFileVersion{9, 8, 7, 6}));
    EXPECT_FALSE(ReadFileFacts(path).hasVersion);
  }
}

// Every cut of a real file, and random damage to it, gives a version or none and never a read
// outside the data (the sanitizer build of the fuzz target checks the same more widely).
TEST(FileVersion, TruncatedAndDamagedImages) {
  for (const char* name : {"app64.exe", "app32.exe", "lib64.dll"}) {
    const std::string image = ReadAll(Fixture(name));
    TFileVersion whole;
    ASSERT_TRUE(ReadVersionFromImage(image.data(), image.size(), whole));
    std::size_t firstComplete = image.size();
    for (std::size_t cut = 0; cut < image.size(); ++cut) {
      const std::string part = image.substr(0, cut);  // its own allocation: overreads are caught
      TFileVersion version;
      if (ReadVersionFromImage(part.data(), part.size(), version)) {
        EXPECT_EQ(version, whole);
        firstComplete = std::min(firstComplete, cut);
      }
    }
    // Files end with their resource section, so short cuts lose the version.
    EXPECT_GT(firstComplete, 512u) << name;

    std::mt19937 random(42);
    for (int round = 0; round < 3000; ++round) {
      std::string damaged = image;
      const int flips = 1 + static_cast<int>(random() % 8);
      for (int f = 0; f < flips; ++f)
        damaged[random() % damaged.size()] = static_cast<char>(random());
      TFileVersion version;
      ReadVersionFromImage(damaged.data(), damaged.size(), version);
    }
  }
}

// Hand-made hostile headers: each must read as no version.
TEST(FileVersion, HostileHeaders) {
  const std::string image = ReadAll(Fixture("app64.exe"));
  const auto peOffset = static_cast<std::size_t>(static_cast<unsigned char>(image[0x3C]) |
                                                 (static_cast<unsigned char>(image[0x3D]) << 8));
  auto patched = [&](std::size_t at, std::initializer_list<unsigned char> bytes) {
    std::string copy = image;
    for (unsigned char b : bytes) copy[at++] = static_cast<char>(b);
    return copy;
  };
  const std::string cases[] = {
      patched(0x3C, {0xFF, 0xFF, 0xFF, 0x7F}),                      // e_lfanew far beyond the file
      patched(0x3C, {0xFC, 0xFF, 0xFF, 0xFF}),                      // e_lfanew that wraps around
      patched(peOffset, {'P', 'X'}),                                // wrong signature
      patched(peOffset + 6, {0xFF, 0xFF}),                          // 65535 sections
      patched(peOffset + 6, {0, 0}),                                // no sections
      patched(peOffset + 20, {0xFF, 0xFF}),                         // optional header past the end
      patched(peOffset + 20, {4, 0}),                               // optional header too short
      patched(peOffset + 24, {0x07, 0x01}),                         // unknown optional-header magic
      patched(peOffset + 24 + 108, {2, 0, 0, 0}),                   // only two data directories
      patched(peOffset + 24 + 112 + 16, {0xF0, 0xFF, 0xFF, 0xFF}),  // resource RVA near 4 GiB
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    TFileVersion version;
    EXPECT_FALSE(ReadVersionFromImage(cases[i].data(), cases[i].size(), version)) << "case " << i;
  }
}

}  // namespace
}  // namespace kelvane
