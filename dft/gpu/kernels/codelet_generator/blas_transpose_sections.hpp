// The program "blas_transpose": scaled copies and transposes of column-major
// matrices (real or complex, single or double, one matrix, a strided batch
// or a batch of matrix addresses) through a 16 x 16 local-memory tile. The
// text is the same for both precisions; the build options choose the
// element type, the form and the entry-point name.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

void write_blas_transpose(std::ostream& out, precision p);

}  // namespace qez_codelets
