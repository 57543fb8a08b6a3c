// Roots of unity for the constants of the generated code, computed on the
// host in long double with exact symmetry: quadrant angles give exact 0 and
// +-1, and an angle and its complement give the same magnitudes.
#pragma once

#include <cstdint>

namespace qez_codelets {

struct unit_root {
  long double cosine;  // cos(2*pi*m/n)
  long double sine;    // sin(2*pi*m/n)
};

unit_root root_of_unity(std::int64_t m, std::int64_t n);

}  // namespace qez_codelets
