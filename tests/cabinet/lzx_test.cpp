// The LZX encoder: round trips of structured random data through our writer and libmspack's
// decoder for every window, the frame-boundary cases of the E8 translation, and the Huffman
// code construction it rests on.
#include <random>

#include "cabinet/cabfile.h"
#include "cabinet/cabformat.h"
#include "cabinet/extract.h"
#include "cabinet/huffman.h"
#include "cabtest.h"

using namespace kelvane;
using namespace cabtest;

namespace {

// Writes `data` as the only file of an LZX cabinet, extracts it with ExtractCabinet and returns
// the cabinet's size; the bytes must come back unchanged.
std::size_t RoundTrip(const TTestFolder& dir, const Bytes& data, TLZXMemory memory,
                      const std::string& what) {
  WriteFile(dir / "in.bin", data);
  TCABFile cab;
  cab.CABFile = dir / "rt.cab";
  cab.CompressionType = typLZX;
  cab.LZXMemory = memory;
  cab.CABFileContents.Add().Name = dir / "in.bin";
  EXPECT_TRUE(cab.Compress());
  ParseCabinet(cab.CABFile);
  std::filesystem::remove_all(dir / "out");
  EXPECT_EQ(0, ExtractCabinet(cab.CABFile, dir / "out")) << what;
  EXPECT_TRUE(ReadFile(dir / "out/in.bin") == data) << what << ": bytes differ";
  return ReadFile(cab.CABFile).size();
}

const TLZXMemory kAllWindows[] = {lzxLowest, lzxLower,  lzxLow,    lzxMedium,
                                  lzxHigh,   lzxHigher, lzxHighest};

}  // namespace

TEST(LzxEncoder, RoundTripSizesAroundFramesForEveryWindow) {
  TTestFolder dir;
  const std::size_t sizes[] = {1, 2, 10, 11, 12, 32767, 32768, 32769, 65535, 65536, 98305};
  for (TLZXMemory memory : kAllWindows)
    for (std::size_t size : sizes)
      RoundTrip(dir, StructuredBytes(static_cast<std::uint32_t>(size + memory), size), memory,
                "window " + std::to_string(15 + memory) + ", size " + std::to_string(size));
}

TEST(LzxEncoder, RoundTripLongStructuredDataForEveryWindow) {
  TTestFolder dir;
  for (TLZXMemory memory : kAllWindows)
    for (std::uint32_t seed : {11u, 12u})
      RoundTrip(dir, StructuredBytes(seed * 7 + memory, 2500000), memory,
                "window " + std::to_string(15 + memory) + ", seed " + std::to_string(seed));
}

TEST(LzxEncoder, SpecialDataShapes) {
  TTestFolder dir;
  struct Case {
    const char* what;
    Bytes data;
  } cases[] = {
      {"zeros", Bytes(500000, 0)},
      {"noise", RandomBytes(3, 200000)},
      {"one repeated byte", Bytes(100001, 0xE8)},
      {"text", TextBytes(4, 300000)},
      {"noise then its copy",
       [] {
         Bytes b = RandomBytes(5, 20000);
         b.insert(b.end(), b.begin(), b.end());
         return b;
       }()},
  };
  for (auto& c : cases)
    for (TLZXMemory memory : {lzxLowest, lzxHighest}) RoundTrip(dir, c.data, memory, c.what);
}

TEST(LzxEncoder, E8CallsAtFrameEnds) {
  // Leaders at n-11 (translated), n-10 and n-6 (never inspected) of full and short frames, and
  // calls whose operands straddle the frame boundary.
  TTestFolder dir;
  for (std::size_t total :
       {std::size_t(65536), std::size_t(32768 + 5000), std::size_t(32768 + 11)}) {
    Bytes data(total, 0x90);
    auto call = [&](std::size_t at, std::uint32_t target) {
      if (at + 5 > data.size()) return;
      data[at] = 0xE8;
      for (int k = 0; k < 4; ++k) data[at + 1 + k] = static_cast<std::uint8_t>(target >> (8 * k));
    };
    for (std::size_t frameEnd : {std::size_t(32768), total}) {
      for (std::size_t back : {11, 10, 6, 3}) call(frameEnd - back, 0x1234 + back);
    }
    call(100, 0xFFFFFFF0u);  // negative relative target
    call(200, 5);
    for (TLZXMemory memory : {lzxLowest, lzxHigh})
      RoundTrip(dir, data, memory, "E8 layout of " + std::to_string(total) + " bytes");
  }
}

TEST(LzxEncoder, E8TranslationIsInvertedByTheDecoderRule) {
  std::mt19937 rng(9);
  for (int round = 0; round < 50; ++round) {
    Bytes frame = StructuredBytes(rng(), 32768 - (round % 3) * 1000);
    const Bytes original = frame;
    const std::uint32_t offset = static_cast<std::uint32_t>(rng() % 400) * 32768u;
    cab::E8Encode(frame.data(), frame.size(), offset);
    cab::E8Decode(frame.data(), frame.size(), offset);
    ASSERT_TRUE(frame == original) << "round " << round;
  }
}

TEST(LzxEncoder, CompressesAndPrefersLargerWindowsOnFarRepeats) {
  TTestFolder dir;
  const std::size_t textSize = RoundTrip(dir, TextBytes(1, 300000), lzxLowest, "text");
  EXPECT_LT(textSize, 300000u / 4);
  // 200 KB of noise, repeated: only a window of 2^18 or more reaches back to the copy.
  Bytes twice = RandomBytes(8, 200000);
  twice.insert(twice.end(), twice.begin(), twice.end());
  const std::size_t small = RoundTrip(dir, twice, lzxLowest, "repeat at 200 KB, 2^15");
  const std::size_t large = RoundTrip(dir, twice, lzxMedium, "repeat at 200 KB, 2^18");
  EXPECT_GT(small, 400000u);
  EXPECT_LT(large, 220000u);
}

TEST(Huffman, CompleteLengthLimitedCodes) {
  auto kraft = [](const std::uint8_t* lens, int n, int limit) {
    std::uint64_t sum = 0;
    for (int i = 0; i < n; ++i)
      if (lens[i]) sum += std::uint64_t(1) << (limit - lens[i]);
    return sum;
  };
  // Fibonacci frequencies give the deepest unrestricted trees.
  std::uint32_t fib[40];
  fib[0] = fib[1] = 1;
  for (int i = 2; i < 40; ++i) fib[i] = fib[i - 1] + fib[i - 2];
  for (int limit : {7, 15, 16}) {
    std::uint8_t lens[40];
    cab::BuildCodeLengths(fib, 40, limit, lens);
    for (int i = 0; i < 40; ++i) {
      EXPECT_GE(lens[i], 1);
      EXPECT_LE(lens[i], limit);
    }
    EXPECT_EQ(std::uint64_t(1) << limit, kraft(lens, 40, limit)) << "limit " << limit;
    for (int i = 1; i < 40; ++i) EXPECT_LE(lens[i], lens[i - 1]) << "more frequent, not longer";
  }
  std::uint32_t one[8] = {0, 0, 0, 5, 0, 0, 0, 0};
  std::uint8_t lens[8];
  cab::BuildCodeLengths(one, 8, 7, lens);
  EXPECT_EQ(1, lens[3]);
  EXPECT_EQ(1, lens[0]) << "a lone symbol is paired so that the code is complete";
  EXPECT_EQ(std::uint64_t(1) << 7, kraft(lens, 8, 7));
  std::uint32_t none[8] = {};
  cab::BuildCodeLengths(none, 8, 7, lens);
  for (auto l : lens) EXPECT_EQ(0, l);

  std::uint16_t codes[6];
  std::uint8_t four[6] = {3, 1, 3, 3, 0, 3};
  cab::BuildCodes(four, 6, codes);
  EXPECT_EQ(0b0, codes[1]);
  EXPECT_EQ(0b100, codes[0]);
  EXPECT_EQ(0b101, codes[2]);
  EXPECT_EQ(0b111, codes[5]);
}
