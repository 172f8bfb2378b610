#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "common/testfolder.h"
#include "filefacts/filefacts.h"
#include "reference.h"

namespace kelvane {
namespace {

using testing::ReadAll;
using testing::ReferenceRead;
using testing::TTestFolder;
using testing::WriteAll;

struct KnownCase {
  const char* name;
  std::string bytes;
  std::uint32_t checksum;
  std::uint32_t crc32;
};

TEST(FileFacts, KnownValues) {
  const KnownCase cases[] = {
      {"empty", "", 0xFFFFFFFF, 0},
      {"abc", "abc", 293, 0x6C8D9D41},           // the standard CRC-32 would be 0x352441C2
      {"a", "a", 0xFFFFFFFF + 97u, 0xE8B7BE44},  // the standard CRC-32 would be 0xE8B7BE43
  };
  TTestFolder folder;
  for (const auto& c : cases) {
    const std::string path = folder / c.name;
    WriteAll(path, c.bytes);
    EXPECT_EQ(FileChecksum(path), c.checksum) << c.name;
    EXPECT_EQ(FileCRC32(path), c.crc32) << c.name;
    EXPECT_EQ(FileSize32(path), static_cast<std::int32_t>(c.bytes.size())) << c.name;
    const TFileFacts facts = ReadFileFacts(path);
    EXPECT_EQ(facts.checksum, c.checksum) << c.name;
    EXPECT_EQ(facts.crc32, c.crc32) << c.name;
    EXPECT_FALSE(facts.hasVersion);
  }
  // As signed 32-bit values, the way the project and control files hold them.
  EXPECT_EQ(static_cast<std::int32_t>(0x6C8D9D41u), 1821220161);
  EXPECT_EQ(static_cast<std::int32_t>(0xE8B7BE44u), -390611388);
}

// Sizes around the 4096-byte block and the reader's larger buffer, random content with runs.
std::vector<std::size_t> InterestingSizes() {
  return {0,
          1,
          4095,
          4096,
          4097,
          8191,
          8192,
          65535,
          65536,
          65537,
          131071,
          131072,
          131073,
          131072 + 4096,
          3 * 131072,
          1048576 + 17,
          2 * 1048576 + 4096 * 3};
}

std::string RandomBytes(std::size_t size, std::mt19937& random) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size;) {
    const std::size_t run = std::min<std::size_t>(size - i, 1 + random() % 3000);
    if (random() % 4 == 0) {
      std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(i), run, static_cast<char>(random()));
    } else {
      for (std::size_t k = 0; k < run; ++k) data[i + k] = static_cast<char>(random());
    }
    i += run;
  }
  return data;
}

TEST(FileFacts, EqualsBlockByBlockAlgorithm) {
  TTestFolder folder;
  std::mt19937 random(20261209);
  std::vector<std::string> paths;
  for (const std::size_t size : InterestingSizes()) {
    const std::string path = folder / ("f" + std::to_string(size));
    WriteAll(path, RandomBytes(size, random));
    paths.push_back(path);
    const auto expected = ReferenceRead(path);
    EXPECT_EQ(FileChecksum(path), expected.checksum) << size;
    EXPECT_EQ(FileCRC32(path), expected.crc32) << size;
    const TFileFacts facts = ReadFileFacts(path);
    EXPECT_EQ(facts.checksum, expected.checksum) << size;
    EXPECT_EQ(facts.crc32, expected.crc32) << size;
    EXPECT_EQ(facts.size, static_cast<std::int32_t>(size));
  }
  // Many files at once, interleaved, with unreadable ones among them, in a shuffled order.
  paths.push_back(folder / "missing");
  paths.push_back(folder.Path());
  for (int extra = 0; extra < 40; ++extra) {
    const std::string path = folder / ("small" + std::to_string(extra));
    WriteAll(path, RandomBytes(random() % 20000, random));
    paths.push_back(path);
  }
  std::shuffle(paths.begin(), paths.end(), random);
  const std::vector<TFileFacts> many = ReadFileFactsMany(paths);
  ASSERT_EQ(many.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const auto expected = ReferenceRead(paths[i]);
    EXPECT_EQ(many[i], ReadFileFacts(paths[i])) << paths[i];
    if (!std::filesystem::is_directory(paths[i])) {
      EXPECT_EQ(many[i].checksum, expected.checksum) << paths[i];
      EXPECT_EQ(many[i].crc32, expected.crc32) << paths[i];
    }
  }
  EXPECT_TRUE(ReadFileFactsMany({}).empty());
}

TEST(FileFacts, RunningFormsOverPieces) {
  std::mt19937 random(7);
  const std::string data = RandomBytes(300000, random);
  std::uint32_t sum = 0xFFFFFFFF, crc = 0xFFFFFFFF, sumPieces = 0xFFFFFFFF, crcPieces = 0xFFFFFFFF;
  sum = ChecksumUpdate(sum, data.data(), data.size());
  crc = CRC32Update(crc, data.data(), data.size());
  std::uint32_t slow = 0xFFFFFFFF;
  for (const char c : data) slow += CRC32Step(slow, static_cast<std::uint8_t>(c));
  EXPECT_EQ(crc, slow);
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t n = std::min<std::size_t>(data.size() - at, random() % 5000);
    sumPieces = ChecksumUpdate(sumPieces, data.data() + at, n);
    crcPieces = CRC32Update(crcPieces, data.data() + at, n);
    at += n;
  }
  EXPECT_EQ(sumPieces, sum);
  EXPECT_EQ(crcPieces, crc);
}

// A missing or unreadable file reads as an empty one; so does anything that is not a regular
// file (a folder cannot be read, and a pipe or device could block or never end).
TEST(FileFacts, UnreadableReadsAsEmpty) {
  TTestFolder folder;
  const std::string fifo = folder / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const TFileFacts empty;
  for (const std::string& path :
       {folder / "missing", folder.Path(), fifo, std::string("/dev/zero"), std::string("")}) {
    EXPECT_EQ(ReadFileFacts(path), empty) << path;
    EXPECT_EQ(FileSize32(path), 0) << path;
    EXPECT_EQ(FileChecksum(path), 0xFFFFFFFFu) << path;
    EXPECT_EQ(FileCRC32(path), 0u) << path;
  }
  EXPECT_EQ(empty.checksum, 0xFFFFFFFFu);
  EXPECT_EQ(empty.crc32, 0u);
}

TEST(FileFacts, SizeIsLow32Bits) {
  TTestFolder folder;
  const struct {
    std::uint64_t size;
    std::int32_t size32;
  } cases[] = {{0x80000005ull, -2147483643}, {0x100000003ull, 3}, {0xFFFFFFFFull, -1}};
  for (const auto& c : cases) {
    const std::string path = folder / "sparse";
    std::filesystem::remove(path);
    WriteAll(path, "");
    std::filesystem::resize_file(path, c.size);  // sparse: nothing is written
    EXPECT_EQ(FileSize32(path), c.size32) << c.size;
  }
}

}  // namespace
}  // namespace kelvane
