#include "platform/encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane {
namespace {

TEST(Encoding, Utf8ToWindows1252) {
  const struct {
    const char* utf8;
    std::string ansi;
  } cases[] = {
      {"plain ASCII", "plain ASCII"},
      {"café Größe",
       "caf\xE9 Gr\xF6\xDF"
       "e"},
      {"€‚ƒ„…†‡ˆ‰Š‹ŒŽ", "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E"},
      {"‘’“”•–—˜™š›œžŸ", "\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F"},
      {"\u00A0ÿ", "\xA0\xFF"},
      {"Unicode❤︎", "Unicode??"},  // two characters outside the code page, two '?'
      {"日本語", "???"},
      {"𝄞x", "?x"},  // one character beyond the BMP is one '?'
      {"a\xFF"
       "b",
       "a?b"},                  // an invalid byte
      {"\xC3", "?"},            // a cut sequence
      {"\xE0\x80\x80", "???"},  // overlong
      {"\xED\xA0\x80", "???"},  // surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi) << c.utf8;
}

TEST(Encoding, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = AnsiToUtf8(all);
  EXPECT_TRUE(IsAnsiRepresentable(utf8));
  EXPECT_EQ(Utf8ToAnsi(utf8), all);
  // The five undefined bytes become their C1 controls, as Windows converts them.
  EXPECT_EQ(AnsiToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(AnsiToUtf8("\x80\xE9"), "€é");
}

TEST(Encoding, Representable) {
  EXPECT_TRUE(IsAnsiRepresentable("Ünïcödé €"));
  EXPECT_FALSE(IsAnsiRepresentable("Ω"));
  EXPECT_FALSE(IsAnsiRepresentable("a\xFF"));
  EXPECT_TRUE(IsAnsiRepresentable(""));
}

}  // namespace
}  // namespace kelvane
