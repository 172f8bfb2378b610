#pragma once
// A fresh folder per test under the temporary folder, unique per process (ctest runs of several
// build folders may run the same test at once); removed when the test passed, kept with its path
// printed when it failed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

namespace kelvane::testing {

class TTestFolder {
 public:
  TTestFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = std::filesystem::temp_directory_path() /
            ("kelvane-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TTestFolder() {
    if (::testing::Test::HasFailure()) {
      std::cerr << "test folder kept: " << path_ << "\n";
      return;
    }
    // Read-only files and folders made by a test must not stop the clean-up.
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TTestFolder(const TTestFolder&) = delete;
  TTestFolder& operator=(const TTestFolder&) = delete;

  // The folder with a trailing "/", or a file in it.
  std::string Path(std::string_view name = "") const {
    return path_.string() + "/" + std::string(name);
  }
  std::string operator/(std::string_view name) const { return Path(name); }
  // Writes a file in the folder (creating its folders) and returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string file = Path(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes a file whole, creating its folders.
inline void WriteAll(const std::string& path, std::string_view data) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  std::ofstream(path, std::ios::binary) << data;
}

}  // namespace kelvane::testing
