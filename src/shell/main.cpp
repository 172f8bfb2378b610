#include <iostream>
#include <string>
#include <vector>

#include "shell/startup.h"

int main(int argc, char** argv) {
  const std::vector<std::string> params(argv + (argc > 0 ? 1 : 0), argv + argc);
  return kelvane::RunStartup(params, std::cout);
}
