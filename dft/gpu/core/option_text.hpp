// Build options of a program, written piece by piece into a text of fixed
// capacity. What happens when a piece no longer fits is the caller's choice:
// some backends keep what fits (the compiler then reports the cut option),
// others hand on no options at all so that a cut set never reaches it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace ulmara::qez::dft {

enum class option_overflow {
  keep_prefix,  // keep the text up to the capacity; later pieces are dropped
  empty_text,   // the whole text becomes empty; later pieces are dropped
};

class option_text {
 public:
  // `capacity` counts the terminating NUL, like the size of a char buffer.
  option_text(std::size_t capacity, option_overflow policy) : capacity_(capacity), policy_(policy) {}

  // Appends printf-formatted text.
  template <class... A>
  void add(const char* format, A... args) {
    if (overflowed_) return;
    const int n = std::snprintf(nullptr, 0, format, args...);
    if (n < 0) return overflow(std::string());
    std::string piece(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(&piece[0], piece.size(), format, args...);
    piece.resize(static_cast<std::size_t>(n));
    append(piece);
  }

  bool overflowed() const { return overflowed_; }
  const std::string& str() const { return text_; }

  // The text into a char buffer of `bytes` (at least 1), NUL-terminated and
  // cut to fit; true when nothing overflowed and the text fits.
  bool copy_to(char* out, std::size_t bytes) const {
    const std::size_t n = text_.size() < bytes ? text_.size() : bytes - 1;
    text_.copy(out, n);
    out[n] = '\0';
    return !overflowed_ && n == text_.size();
  }

 private:
  void append(const std::string& piece) {
    if (text_.size() + piece.size() < capacity_)
      text_ += piece;
    else
      overflow(piece);
  }
  // A piece that does not fit (or could not be formatted): nothing is added
  // after it.
  void overflow(const std::string& piece) {
    overflowed_ = true;
    if (policy_ == option_overflow::empty_text) {
      text_.clear();
    } else if (capacity_ > text_.size()) {
      text_ += piece.substr(0, capacity_ - 1 - text_.size());
    }
  }

  std::string text_;
  std::size_t capacity_;
  option_overflow policy_;
  bool overflowed_ = false;
};

}  // namespace ulmara::qez::dft

// Defines, in the current namespace, the printf formats of a program's
// options in each precision, options_format_double and options_format_single,
// from one `format`: the double one first asks for the 64-bit sub-group
// operations.
#define QEZ_DEFINE_OPTION_FORMATS(format)                                       \
  constexpr char options_format_double[] = "-Dcl_tavir_subgroups_long " format; \
  constexpr char options_format_single[] = format;
