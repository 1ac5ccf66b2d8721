// Runs every registered C++ test case; a filter argument runs the cases whose name contains it.
#include <cstring>

#include "testing.hpp"

int main(int argc, char** argv) {
  int passed = 0, failed = 0;
  for (const auto& c : testing::registry()) {
    if (argc > 1 && std::strstr(c.name, argv[1]) == nullptr) continue;
    testing::failures_in_case() = 0;
    testing::checks_in_case() = 0;
    c.fn();
    if (testing::checks_in_case() == 0) {
      ++failed;
      std::cerr << "FAILED: " << c.name << " (it checks nothing)\n";
    } else if (testing::failures_in_case() == 0) {
      ++passed;
    } else {
      ++failed;
      std::cerr << "FAILED: " << c.name << "\n";
    }
  }
  std::cout << passed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}
