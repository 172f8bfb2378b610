#pragma once
// Shared helpers of the cabinet tests: a fresh folder per test, file helpers, an independent
// parser of the cabinets we write (it checks the structural rules readers rely on), the
// external readers, and generators of structured test data.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/testfolder.h"

namespace cabtest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder per test and whole-file text helpers (tests/common).
using kelvane::testing::ReadAll;
using kelvane::testing::TTestFolder;
using kelvane::testing::WriteAll;

void WriteFile(const std::string& path, const Bytes& data);
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> ListTree(const std::string& root);  // relative paths of regular files

struct CabEntry {
  std::string name;  // bytes as stored
  std::uint32_t size, offset;
  std::uint16_t folder, date, time, attribs;
};
struct CabFolder {
  std::uint32_t start;
  std::uint16_t blocks, type;
};
struct CabInfo {
  std::uint16_t setId, iCabinet, flags;
  std::vector<CabFolder> folders;
  std::vector<CabEntry> files;
  std::vector<std::uint16_t> blockSizes;  // cbUncomp of every CFDATA, folder after folder
};
// Parses and checks a cabinet: sizes and offsets, CFDATA checksums, 32 KiB blocks except the
// last of each folder, files contiguous inside their folder. Fails the test on a violation.
CabInfo ParseCabinet(const std::string& path);

bool HaveTool(const std::string& tool);
int RunQuiet(const std::string& command);  // exit status of a shell command, output discarded
std::string Quote(const std::string& s);

// Data generators, deterministic per seed.
Bytes RandomBytes(std::uint32_t seed, std::size_t size);
Bytes TextBytes(std::uint32_t seed, std::size_t size);
// Runs, near and far repeats, long zero stretches, noise and x86-like code rich in E8 calls.
Bytes StructuredBytes(std::uint32_t seed, std::size_t size);

}  // namespace cabtest
