// The table of program families: each family is an ordered list of program
// sections, written once per precision. Adding a family is one row here
// (plus, for a new kernel, one section writer in program_sections).
#pragma once

#include <string>
#include <vector>

#include "program_sections.hpp"

namespace qez_codelets {

struct program_family {
  std::string name;                      // e.g. "gpu_framework_c2c_1d_def"
  std::vector<section_writer> sections;  // in dependence order
  // A variant of another family's program: `selector` (#define lines) goes
  // ahead of that family's whole text, and `sections` stays empty.
  std::string variant_of = {};
  std::string selector = {};
};

const std::vector<program_family>& program_families();

// A text that a backend completes at run time (printf holes) or puts ahead
// of a program; the same in both precisions.
struct program_template {
  std::string name;  // e.g. "gpu_framework_c2c_1d_def_registers_template"
  void (*write)(std::ostream& out);
};

const std::vector<program_template>& program_templates();
std::string template_text(const program_template& t);

// The complete text of a family in one precision, starting with a line that
// says it is generated.
std::string program_text(const program_family& family, precision p);

}  // namespace qez_codelets
