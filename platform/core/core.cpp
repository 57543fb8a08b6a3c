// Core library stand-in: shutdown callbacks, process exit, file printing,
// sincospif, and the output sink the stand-ins print through.
#include "qez_core.h"
#include "qez_standin_output.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex output_mutex;
bool capturing = false;
std::string captured;

std::mutex destructor_mutex;
std::vector<void (*)(void)> shutdown_callbacks;

void run_shutdown_callbacks() {
  std::vector<void (*)(void)> callbacks;
  {
    std::lock_guard<std::mutex> lock(destructor_mutex);
    callbacks.swap(shutdown_callbacks);
  }
  for (auto callback : callbacks) callback();
}

}  // namespace

namespace qez_standin {

void emit(int stream, const std::string& text) {
  std::lock_guard<std::mutex> lock(output_mutex);
  if (capturing) {
    captured += text;
    return;
  }
  std::FILE* out = stream == 1 ? stderr : stdout;
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

}  // namespace qez_standin

extern "C" {

void qez_standin_capture_output(int on) {
  std::lock_guard<std::mutex> lock(output_mutex);
  capturing = on != 0;
}

size_t qez_standin_captured_output(char* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(output_mutex);
  if (buffer && size > 0) {
    const std::size_t n = std::min(size - 1, captured.size());
    std::memcpy(buffer, captured.data(), n);
    buffer[n] = '\0';
  }
  return captured.size();
}

void qez_standin_clear_captured_output(void) {
  std::lock_guard<std::mutex> lock(output_mutex);
  captured.clear();
}

void qez_serv_core_register_sycl_destructor(void (*destructor)(void)) {
  if (destructor == nullptr) return;
  static std::once_flag at_exit_once;
  std::call_once(at_exit_once, [] { std::atexit(run_shutdown_callbacks); });
  std::lock_guard<std::mutex> lock(destructor_mutex);
  shutdown_callbacks.push_back(destructor);
}

void qez_serv_exit(int code) {
  std::fflush(nullptr);
  std::exit(code);
}

int qez_serv_file_format_print(FILE* file, const char* format, int count, ...) {
  if (file == nullptr || format == nullptr) return -1;
  va_list args;
  va_start(args, count);
  const int n = std::vfprintf(file, format, args);
  va_end(args);
  return n;
}

// Reduces x to [-1, 1) modulo 2 exactly (x is a float, so the reduction is
// exact in double), then evaluates in long double; the quarter points give
// exact zeros and ones.
void qez_serv_libm_sincospif(float x, float* sin_out, float* cos_out) {
  double r = std::fmod(static_cast<double>(x), 2.0);
  if (r >= 1.0) r -= 2.0;
  if (r < -1.0) r += 2.0;
  float s, c;
  if (r == 0.0 || r == -1.0) {
    s = 0.0f;
    c = r == 0.0 ? 1.0f : -1.0f;
  } else if (r == 0.5 || r == -0.5) {
    s = r > 0 ? 1.0f : -1.0f;
    c = 0.0f;
  } else {
    const long double pi = 3.141592653589793238462643383279502884L;
    s = static_cast<float>(std::sin(pi * static_cast<long double>(r)));
    c = static_cast<float>(std::cos(pi * static_cast<long double>(r)));
  }
  if (sin_out) *sin_out = s;
  if (cos_out) *cos_out = c;
}

}  // extern "C"
