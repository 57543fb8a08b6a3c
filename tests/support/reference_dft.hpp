// Reference transforms in long double (FFTW's fftwl_* planner) on packed
// row-major data: `lengths` slowest dimension first, `batch` transforms one
// after another. Real transforms use the conjugate-even layout whose last
// dimension holds n/2+1 complex values.
#pragma once

#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace qez_test {

using cld = std::complex<long double>;

enum class dft_sign : int { forward = -1, backward = +1 };

std::vector<cld> reference_c2c(const std::vector<cld>& input, const std::vector<std::int64_t>& lengths,
                               std::int64_t batch, dft_sign sign);
std::vector<cld> reference_r2c(const std::vector<long double>& input,
                               const std::vector<std::int64_t>& lengths, std::int64_t batch);
// The input must be the transform of real data (Hermitian where the layout
// stores a value twice); the result is unnormalised.
std::vector<long double> reference_c2r(const std::vector<cld>& input,
                                       const std::vector<std::int64_t>& lengths,
                                       std::int64_t batch);

// Elements of one transform on the real side and on the conjugate-even side.
std::int64_t real_elements(const std::vector<std::int64_t>& lengths);
std::int64_t conjugate_even_elements(const std::vector<std::int64_t>& lengths);

// Deterministic data uniform in [-1, 1].
std::vector<cld> random_complex(std::int64_t count, std::uint64_t seed);
std::vector<long double> random_real(std::int64_t count, std::uint64_t seed);

}  // namespace qez_test
