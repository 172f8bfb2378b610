#pragma once
// Internal: length-limited canonical Huffman codes as LZX (and DEFLATE) define them.
#include <cstdint>

namespace kelvane::cab {

// Code lengths for `count` symbols from their frequencies, none longer than maxLength. Unused
// symbols get 0. The code is always complete: with a single used symbol a second symbol gets
// length 1 too, because readers refuse a lone one-bit code.
void BuildCodeLengths(const std::uint32_t* freq, int count, int maxLength, std::uint8_t* lengths);

// Canonical codes: by increasing length, ties by increasing symbol number.
void BuildCodes(const std::uint8_t* lengths, int count, std::uint16_t* codes);

}  // namespace kelvane::cab
