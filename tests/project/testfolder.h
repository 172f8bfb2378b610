#pragma once
// A fresh folder per test under the temporary folder, removed when the test passed and kept
// (its path printed) when it failed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    path_ = std::filesystem::temp_directory_path() / ("kelvane-" + name);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TTestFolder() {
    if (::testing::Test::HasFailure())
      std::cerr << "test folder kept: " << path_ << "\n";
    else
      std::filesystem::remove_all(path_);
  }
  // The folder with a trailing "/", or a file in it.
  std::string Path(std::string_view name = "") const {
    return path_.string() + "/" + std::string(name);
  }
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string file = Path(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kelvane::testing
