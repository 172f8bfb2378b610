#include <iostream>

#include "shell/startup.h"

namespace kelvane {

// The editor window comes with the editor module.
int RunWindowMode(const std::string& /*projectToOpen*/) {
  std::cerr << "Kelvane: the editor window is not built yet; use /C to build a project\n";
  return 1;
}

}  // namespace kelvane
