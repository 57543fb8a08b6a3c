// The table of embedded program texts that the build generates
// (program_texts_generated.cpp); read it through program_texts.hpp.
#pragma once

#include <cstddef>

namespace ulmara::qez::dft::kernels {

// One program family: its text in each precision, as null-terminated arrays
// of pieces to be joined.
struct program_text_chunks {
  const char* family;
  const char* const* single_chunks;
  const char* const* double_chunks;
};

extern const program_text_chunks program_text_table[];
extern const std::size_t program_text_table_size;

}  // namespace ulmara::qez::dft::kernels
