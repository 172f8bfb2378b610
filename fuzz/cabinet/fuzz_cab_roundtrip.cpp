// Encoder round trip: the first byte picks the compression (stored, MSZIP, LZX 2^15..2^21) and
// how the rest is split into files; the cabinet we write must extract to the same bytes.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "cabinet/cabfile.h"
#include "cabinet/extract.h"
#include "fuzztemp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int mode = data[0] % 9;
  const int files = 1 + (data[0] / 9) % 3;
  data++;
  size--;
  kelvane::TCABFile cab;
  cab.CABFile = fuzzcab::Folder() + "/rt.cab";
  cab.CompressionType = mode == 0   ? kelvane::typNone
                        : mode == 1 ? kelvane::typMSZIP
                                    : kelvane::typLZX;
  if (mode >= 2) cab.LZXMemory = static_cast<kelvane::TLZXMemory>(mode - 2);
  std::vector<std::pair<std::size_t, std::size_t>> parts;
  for (int i = 0; i < files; ++i) {
    const std::size_t from = size * i / files, to = size * (i + 1) / files;
    const std::string name = fuzzcab::Folder() + "/f" + std::to_string(i);
    fuzzcab::Write(name, data + from, to - from);
    cab.CABFileContents.Add().Name = name;
    parts.emplace_back(from, to);
  }
  cab.Compress();
  if (kelvane::ExtractCabinet(cab.CABFile, fuzzcab::Folder() + "/out") != 0) std::abort();
  for (int i = 0; i < files; ++i) {
    std::ifstream in(fuzzcab::Folder() + "/out/f" + std::to_string(i), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::uint8_t> back(text.begin(), text.end());
    const std::size_t n = parts[i].second - parts[i].first;
    if (back.size() != n || !std::equal(back.begin(), back.end(), data + parts[i].first))
      std::abort();
  }
  fuzzcab::Clear();
  return 0;
}
