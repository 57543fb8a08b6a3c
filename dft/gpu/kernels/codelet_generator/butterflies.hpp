// Radix butterflies and their composition into straight-line DFTs of any
// small size. This layer decides the arithmetic only; every statement goes
// through the emitter.
#pragma once

#include <string>
#include <vector>

#include "emitter.hpp"

namespace qez_codelets {

using values = std::vector<value>;

enum class algorithm {
  identity,         // n = 1
  radix_2,          // n = 2
  odd_prime_pairs,  // odd prime: x_j paired with x_(n-j), outputs k and n-k together
  prime_factor,     // n = a*b with gcd(a, b) = 1: index maps, no twiddles
  cooley_tukey,     // n = a*b otherwise: a-point DFTs, constant twiddles, b-point DFTs
};

struct plan {
  algorithm kind;
  int first = 1;   // a of the split forms
  int second = 1;  // b of the split forms
};

// The decomposition used for size n (n >= 1).
plan choose_plan(int n);
std::string describe_plan(int n);

// The DFT of x in natural order, sign of the exponent given by the build
// direction through the emitter's unit J.
values transform(emitter& em, const values& x);

}  // namespace qez_codelets
