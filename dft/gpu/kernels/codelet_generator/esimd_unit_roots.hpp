// The roots of unity of the explicit-SIMD engine's radix routines, written
// as a C++ header of constant tables: computed here on the host in long
// double and rounded once to each precision, so that the device code uses
// neither long double nor run-time trigonometry.
#pragma once

#include <ostream>

namespace qez_codelets {

// Writes the header: for each size N the engine uses (butterflies of 3 and
// 5, transforms of 8 to 64 points and their parts) and each precision, the table
// esimd_unit_root_table<T, N>::values = {cos(2 pi k/N), sin(2 pi k/N), ...}.
void write_esimd_unit_roots(std::ostream& out);

}  // namespace qez_codelets
