#include <iostream>

#include "shell/startup.h"

namespace kelvane {

// Compile mode (open the project, run one build, print its progress) comes with the build driver.
int RunCompileMode(const std::string& path) {
  std::cerr << "Kelvane: compile mode is not built yet; " << path << " was not built\n";
  return 1;
}

}  // namespace kelvane
