#include "cabinet/cabformat.h"

#include <cstring>

namespace kelvane::cab {

std::uint32_t Checksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed) {
  std::uint32_t sum = seed;
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) sum ^= GetU32(data + i);
  std::uint32_t tail = 0;
  for (; i < size; ++i) tail = (tail << 8) | data[i];
  return sum ^ tail;
}

std::uint32_t DataBlockChecksum(const std::uint8_t* payload, std::uint16_t cbData,
                                std::uint16_t cbUncomp) {
  std::uint8_t sizes[4];
  PutU16(sizes, cbData);
  PutU16(sizes + 2, cbUncomp);
  return Checksum(sizes, 4, Checksum(payload, cbData, 0));
}

namespace {
// Translation stops after the first 2^30 bytes of a folder, and the last 10 bytes of a frame are
// never inspected as a call opcode.
bool E8Applies(std::size_t size, std::uint32_t frameOffset) {
  return size > 10 && frameOffset < (1u << 30);
}
}  // namespace

void E8Encode(std::uint8_t* frame, std::size_t size, std::uint32_t frameOffset) {
  if (!E8Applies(size, frameOffset)) return;
  const std::size_t limit = size - 10;  // leaders at 0 .. size-11
  std::size_t p = 0;
  while (p < limit) {
    const void* hit = std::memchr(frame + p, 0xE8, limit - p);
    if (!hit) break;
    p = static_cast<const std::uint8_t*>(hit) - frame;
    const std::int32_t cur = static_cast<std::int32_t>(frameOffset + p);
    const std::int32_t rel = static_cast<std::int32_t>(GetU32(frame + p + 1));
    if (rel >= -cur && rel < kE8TranslationSize) {
      const std::int32_t v = rel < kE8TranslationSize - cur ? rel + cur : rel - kE8TranslationSize;
      PutU32(frame + p + 1, static_cast<std::uint32_t>(v));
    }
    p += 5;
  }
}

void E8Decode(std::uint8_t* frame, std::size_t size, std::uint32_t frameOffset) {
  if (!E8Applies(size, frameOffset)) return;
  const std::size_t limit = size - 10;
  std::size_t p = 0;
  while (p < limit) {
    const void* hit = std::memchr(frame + p, 0xE8, limit - p);
    if (!hit) break;
    p = static_cast<const std::uint8_t*>(hit) - frame;
    const std::int32_t cur = static_cast<std::int32_t>(frameOffset + p);
    const std::int32_t v = static_cast<std::int32_t>(GetU32(frame + p + 1));
    if (v >= -cur && v < kE8TranslationSize) {
      const std::int32_t rel = v >= 0 ? v - cur : v + kE8TranslationSize;
      PutU32(frame + p + 1, static_cast<std::uint32_t>(rel));
    }
    p += 5;
  }
}

}  // namespace kelvane::cab
