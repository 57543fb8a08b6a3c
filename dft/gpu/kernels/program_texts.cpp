#include "dft/gpu/kernels/program_texts.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "dft/gpu/kernels/program_text_table.hpp"

namespace ulmara::qez::dft::kernels {

namespace {

std::string join(const char* const* chunks) {
  std::string text;
  for (; *chunks != nullptr; ++chunks) text += *chunks;
  return text;
}

struct joined_texts {
  std::string single_text;
  std::string double_text;
};

// Joined once, on first use (thread-safe static initialisation).
const std::vector<joined_texts>& all_texts() {
  static const std::vector<joined_texts> texts = [] {
    std::vector<joined_texts> t;
    for (std::size_t i = 0; i < program_text_table_size; ++i)
      t.push_back({join(program_text_table[i].single_chunks),
                   join(program_text_table[i].double_chunks)});
    return t;
  }();
  return texts;
}

}  // namespace

const char* program_text(const char* family, bool double_precision) {
  if (family == nullptr) return nullptr;
  for (std::size_t i = 0; i < program_text_table_size; ++i) {
    if (std::strcmp(program_text_table[i].family, family) != 0) continue;
    const joined_texts& t = all_texts()[i];
    return double_precision ? t.double_text.c_str() : t.single_text.c_str();
  }
  return nullptr;
}

const char* program_text_c2c_1d_def(bool double_precision) {
  return program_text(family_c2c_1d_def, double_precision);
}

const char* program_text_c2c_1d_2_facts(bool double_precision) {
  return program_text(family_c2c_1d_2_facts, double_precision);
}

const char* program_text_c2c_8k(bool double_precision) {
  return program_text(family_c2c_8k, double_precision);
}

const char* program_text_c2c_1d_n_facts_slm(bool double_precision) {
  return program_text(family_c2c_1d_n_facts_slm, double_precision);
}

const char* program_text_c2c_1d_3_facts(bool double_precision) {
  return program_text(family_c2c_1d_3_facts, double_precision);
}

const char* program_text_r2c_1d_def(bool double_precision) {
  return program_text(family_r2c_1d_def, double_precision);
}

const char* program_text_small_md_slm(bool double_precision) {
  return program_text(family_small_md_slm, double_precision);
}

}  // namespace ulmara::qez::dft::kernels
