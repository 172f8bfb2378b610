// Any bytes as a control file: reading every key the format knows, with its default, must neither
// crash nor hang, and integers must come out as a number or the key's default.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "controlfile/reader.h"

namespace {

const std::string& ScratchPath() {
  static const std::string path = "/tmp/fuzz_controlfile_reader." + std::to_string(getpid());
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvane;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  int value = 0;
  ParseControlInteger(bytes, value);

  if (std::FILE* f = std::fopen(ScratchPath().c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  TControlFileReader reader(ScratchPath());
  const int count = reader.FileCount();
  for (const TControlKey* key : inf::AllKeys) {
    const bool numbered = key->Section == inf::SectionFile;
    // The engine walks [file1] to [fileN]; a hostile count must not make it read forever here.
    const int last = numbered ? (count < 1 ? 1 : count > 8 ? 8 : count) : 0;
    for (int n = numbered ? 1 : 0; n <= last; ++n) {
      const std::string suffix = numbered ? std::to_string(n) : std::string();
      reader.ReadText(*key, suffix);
      reader.ReadInteger(*key, suffix);
      reader.ReadFlag(*key, suffix);
      reader.ReadMultiLine(*key, suffix);
    }
  }
  return 0;
}
