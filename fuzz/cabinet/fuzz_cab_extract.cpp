// Arbitrary bytes as a cabinet: ExtractCabinet must return 0 or -1, never crash, and never
// write outside its destination.
#include <filesystem>

#include "cabinet/extract.h"
#include "fuzztemp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string cab = fuzzcab::Folder() + "/in.cab";
  const std::string dest = fuzzcab::Folder() + "/out/";
  fuzzcab::Write(cab, data, size);
  const int rc = kelvane::ExtractCabinet(cab, dest);
  if (rc != 0 && rc != -1) std::abort();
  // Only the input and the destination may exist in the folder.
  for (auto& e : std::filesystem::directory_iterator(fuzzcab::Folder())) {
    const auto name = e.path().filename().string();
    if (name != "in.cab" && name != "out") std::abort();
  }
  fuzzcab::Clear();
  return 0;
}
