// Helpers for death tests of code that prints through the service layer to
// standard output: the child sends standard output to standard error, where
// the death-test matcher reads it.
#pragma once

#include <unistd.h>

#include <cstdio>

namespace qez_test {

inline void route_stdout_to_stderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

}  // namespace qez_test
