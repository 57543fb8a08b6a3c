// Codelets: one in-register DFT routine `fft_S_s(ptype *in, const ftype pmOne)`
// per size, each guarded by NEED_FFT_FUNC(S) so a build pays only for the
// sizes it names. The same text serves every lane form: the direction and
// the lane layout enter only through pmOne and swapReIm. The split form
// `fft_S_s_split(ftype *re, ftype *im)` computes the same DFT on real and
// imaginary parts held apart (scalar code only, direction by FWD_DIR).
#pragma once

#include <ostream>
#include <string>

#include "emitter.hpp"

namespace qez_codelets {

// Appended to a codelet's name for its split form.
inline constexpr char split_codelet_suffix[] = "_split";

void write_codelet(std::ostream& out, precision p, int size, value_form form = value_form::complex_values);
void write_codelets(std::ostream& out, precision p, int first_size, int last_size,
                    value_form form = value_form::complex_values);

}  // namespace qez_codelets
