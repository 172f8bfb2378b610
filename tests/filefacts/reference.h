#pragma once
// The block-by-block algorithm written the obvious way: 4096-byte reads, stop after a short one,
// the additive CRC32 one table step at a time. The fast readers must give exactly these values.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace kelvane::testing {

inline std::uint32_t ReferenceTable(std::uint32_t i) {
  std::uint32_t c = i;
  for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  return c;
}

struct ReferenceFacts {
  std::uint32_t checksum = 0xFFFFFFFF;
  std::uint32_t crc32 = 0;
};

inline ReferenceFacts ReferenceRead(const std::string& path) {
  std::uint32_t table[256];
  for (std::uint32_t i = 0; i < 256; ++i) table[i] = ReferenceTable(i);
  ReferenceFacts facts;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return facts;
  std::uint32_t sum = 0xFFFFFFFF, acc = 0xFFFFFFFF;
  unsigned char block[4096];
  while (true) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      sum += block[i];
      acc += table[(acc ^ block[i]) & 0xFF] ^ (acc >> 8);
    }
    if (n < 4096) break;
  }
  close(fd);
  facts.checksum = sum;
  facts.crc32 = ~acc;
  return facts;
}

}  // namespace kelvane::testing
