// Planning steps that query the device: a query that throws (an
// unrecognised GPU, a device property that cannot be read) ends the step
// with a status chosen by the backend instead of leaving the commit.
#pragma once

#include <exception>

namespace ulmara::qez::dft {

// The status `step()` returns, or `thrown` when it throws a std::exception.
template <class Step>
int status_unless_thrown(int thrown, Step step) {
  try {
    return step();
  } catch (const std::exception&) {
    return thrown;
  }
}

}  // namespace ulmara::qez::dft
