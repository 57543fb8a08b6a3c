#include "codelets.hpp"

#include "butterflies.hpp"
#include "dft/gpu/kernels/program_names.hpp"

namespace qez_codelets {

void write_codelet(std::ostream& out, precision p, int size, value_form form) {
  emitter em(out, p, form);
  const bool split = form == value_form::split_parts;
  out << "#if NEED_FFT_FUNC(" << size << ")\n";
  out << "/* " << size << "-point DFT" << (split ? " on split parts" : "") << ": " << describe_plan(size) << " */\n";
  em.begin_codelet(ulmara::qez::dft::kernels::codelet_name(size) + (split ? split_codelet_suffix : ""));
  if (size > 1) {
    values x;
    for (int i = 0; i < size; ++i) x.push_back(em.load_input(i));
    const values y = transform(em, x);
    for (int k = 0; k < size; ++k) em.store_output(k, y[k]);
  }
  em.end_codelet();
  out << "#endif\n\n";
}

void write_codelets(std::ostream& out, precision p, int first_size, int last_size, value_form form) {
  for (int size = first_size; size <= last_size; ++size) write_codelet(out, p, size, form);
}

}  // namespace qez_codelets
