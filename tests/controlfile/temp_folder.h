#pragma once
// A fresh folder per test under the temporary folder; kept when the test failed, so its files can
// be looked at.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace kelvane {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = TempFolder::Base() + "kelvane-controlfile-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    if (!::testing::Test::HasFailure()) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  static std::string Base() {
    const char* tmp = ::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    if (base.back() != '/') base.push_back('/');
    return base;
  }
  std::string path_;
};

}  // namespace kelvane
