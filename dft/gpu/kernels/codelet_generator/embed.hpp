// Embedding of program texts in the library: a C++ source with each text as
// an array of raw-string chunks (each below every compiler's limit for one
// literal), so no text is ever escaped by hand.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qez_codelets {

struct embedded_family {
  std::string name;
  std::string single_text;
  std::string double_text;
};

// Splits at line ends into pieces of at most `limit` characters (a longer
// line is a piece of its own).
std::vector<std::string> split_in_chunks(const std::string& text, std::size_t limit);

// Writes the source that defines program_text_table (program_text_table.hpp).
void write_embedding_source(std::ostream& out, const std::vector<embedded_family>& families);

}  // namespace qez_codelets
