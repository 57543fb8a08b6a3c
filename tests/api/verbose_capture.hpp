// Captures what the stand-ins print while alive, in a chosen verbose mode
// with output to standard output.
#pragma once

#include <string>

#include "qez_service_control.h"

namespace qez_api_test {

class verbose_capture {
public:
  explicit verbose_capture(int mode) {
    qez_standin_set_verbose_output_file("");
    qez_standin_set_verbose_mode(mode);
    qez_standin_clear_captured_output();
    qez_standin_capture_output(1);
  }
  ~verbose_capture() {
    qez_standin_capture_output(0);
    qez_standin_set_verbose_mode(0);
  }
  verbose_capture(const verbose_capture&) = delete;
  verbose_capture& operator=(const verbose_capture&) = delete;

  std::string text() const {
    const std::size_t n = qez_standin_captured_output(nullptr, 0);
    std::string s(n + 1, '\0');
    qez_standin_captured_output(&s[0], s.size());
    s.resize(n);
    return s;
  }
};

}  // namespace qez_api_test
