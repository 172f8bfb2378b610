// PE version reader on arbitrary bytes: it may find a version or none, but must never read
// outside the data (the sanitizers watch). The same bytes also check the fast additive CRC32
// against one table step per byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "filefacts/filefacts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvane::TFileVersion version;
  (void)kelvane::ReadVersionFromImage(data, size, version);

  std::uint32_t slow = 0xFFFFFFFF, sum = 0xFFFFFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    slow += kelvane::CRC32Step(slow, data[i]);
    sum += data[i];
  }
  if (kelvane::CRC32Update(0xFFFFFFFF, data, size) != slow) std::abort();
  if (kelvane::ChecksumUpdate(0xFFFFFFFF, data, size) != sum) std::abort();
  return 0;
}
