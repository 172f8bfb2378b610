// Arbitrary bytes as an LZ (SZDD) file: ExpandLZFile must not crash, must keep the input when it
// fails, and must leave at most one file behind.
#include <filesystem>

#include "cabinet/extract.h"
#include "fuzztemp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name = fuzzcab::Folder() + "/setup.ex_";
  fuzzcab::Write(name, data, size);
  const bool ok = kelvane::ExpandLZFile(name);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(fuzzcab::Folder())) {
    (void)e;
    ++files;
  }
  if (files != 1) std::abort();
  if (!ok && !std::filesystem::exists(name)) std::abort();
  fuzzcab::Clear();
  return 0;
}
