#include "tests/backends/support/scenario_test.hpp"

#include <cstdlib>

namespace backend_test {

std::string scenario() {
  const char* s = std::getenv("BACKEND_SCENARIO");
  return s != nullptr ? s : "";
}

bool scenario_is_one_of(std::initializer_list<const char*> names) {
  const std::string current = scenario();
  for (const char* n : names) {
    if (current == n) return true;
  }
  return false;
}

}  // namespace backend_test
