#pragma once
// A private folder per fuzzing process, emptied after every input.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzcab {

// Removed again when the process ends normally (libFuzzer exits after -max_total_time).
struct TempFolder {
  std::string path;
  TempFolder() {
    path = (std::filesystem::temp_directory_path() / "kelvane-fuzz-XXXXXX").string();
    if (!::mkdtemp(path.data())) std::abort();
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

inline const std::string& Folder() {
  static const TempFolder folder;
  return folder.path;
}

inline void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void Clear() {
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(Folder(), ec)) {
    std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(e.path(), ec);
  }
}

}  // namespace fuzzcab
