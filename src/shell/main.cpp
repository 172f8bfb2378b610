#include <cstdio>

int main() {
  std::puts("Kelvane: start-up is being built.");
  return 1;
}
