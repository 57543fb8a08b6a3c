// Codelets: one in-register DFT routine `fft_S_s(ptype *in, const ftype pmOne)`
// per size, each guarded by NEED_FFT_FUNC(S) so a build pays only for the
// sizes it names. The same text serves every lane form: the direction and
// the lane layout enter only through pmOne and swapReIm.
#pragma once

#include <ostream>
#include <string>

#include "emitter.hpp"

namespace qez_codelets {

void write_codelet(std::ostream& out, precision p, int size);
void write_codelets(std::ostream& out, precision p, int first_size, int last_size);

}  // namespace qez_codelets
