// Replays every input that once made the INI fuzz target fail; the target aborts on a broken rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "common/testfolder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(FuzzRegressions, IniInputs) {
  const std::filesystem::path folder = KELVANE_SOURCE_DIR "/tests/platform/data/fuzz_ini";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string data = kelvane::testing::ReadAll(entry.path().string());
    SCOPED_TRACE(entry.path().filename().string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    ++count;
  }
  EXPECT_GT(count, 0);
}
