// Build options of a program, written piece by piece into a text of fixed
// capacity. What happens when a piece no longer fits is the caller's choice:
// some backends keep what fits (the compiler then reports the cut option),
// others hand on no options at all so that a cut set never reaches it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace ulmara {
namespace qez {
namespace dft {

enum class option_overflow {
  keep_prefix,  // keep the text up to the capacity; later pieces are dropped
  empty_text,   // the whole text becomes empty; later pieces are dropped
};

class option_text {
 public:
  // `capacity` counts the terminating NUL, like the size of a char buffer.
  option_text(std::size_t capacity, option_overflow policy) : buffer_(capacity, '\0'), policy_(policy) {}

  // Appends printf-formatted text.
  template <class... A>
  void add(const char* format, A... args) {
    if (overflowed_ || buffer_.empty()) return;
    const std::size_t room = buffer_.size() - used_;
    const int n = std::snprintf(&buffer_[used_], room, format, args...);
    if (n >= 0 && static_cast<std::size_t>(n) < room) {
      used_ += static_cast<std::size_t>(n);
      return;
    }
    // Cut (or, on a format error, not written at all): nothing is added after it.
    overflowed_ = true;
    if (policy_ == option_overflow::keep_prefix) {
      if (n >= 0) used_ = buffer_.size() - 1;
    } else {
      used_ = 0;
      buffer_[0] = '\0';
    }
  }

  bool overflowed() const { return overflowed_; }
  std::string str() const { return std::string(buffer_.data(), used_); }

 private:
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool overflowed_ = false;
  option_overflow policy_;
};

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
