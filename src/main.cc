// Entry point (placeholder until the application shell exists).
#include <cstdio>

int main() {
  std::puts("Lumbra " LUMBRA_VERSION_TEXT);
  return 0;
}
