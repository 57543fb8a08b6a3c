#include "tests/support/reference_dft.hpp"

#include <fftw3.h>

#include <cmath>
#include <mutex>
#include <stdexcept>

namespace qez_test {
namespace {

std::vector<int> int_lengths(const std::vector<std::int64_t>& lengths) {
  return std::vector<int>(lengths.begin(), lengths.end());
}

struct plan_guard {
  fftwl_plan plan;
  ~plan_guard() { fftwl_destroy_plan(plan); }
};

fftwl_complex* as_fftw(cld* p) { return reinterpret_cast<fftwl_complex*>(p); }

// FFTW's planner is not thread-safe: reference transforms asked for on
// several threads at once take turns.
std::mutex& planner_mutex() {
  static std::mutex m;
  return m;
}

void check(fftwl_plan p) {
  if (p == nullptr) throw std::runtime_error("long-double reference: no plan");
}

// The value libstdc++'s std::uniform_real_distribution<double>(-1, 1) draws
// from a 64-bit engine, bit for bit, without the long-double logarithm it
// evaluates on every draw (two fifths of the time of a test that fills 2^25
// points).
double uniform_minus_one_to_one(std::mt19937_64& gen) {
  double unit = static_cast<double>(gen()) * 0x1.0p-64;
  if (unit >= 1.0) unit = std::nextafter(1.0, 0.0);
  return unit * 2.0 - 1.0;
}

}  // namespace

std::int64_t real_elements(const std::vector<std::int64_t>& lengths) {
  std::int64_t n = 1;
  for (std::int64_t l : lengths) n *= l;
  return n;
}

std::int64_t conjugate_even_elements(const std::vector<std::int64_t>& lengths) {
  return real_elements(lengths) / lengths.back() * (lengths.back() / 2 + 1);
}

std::vector<cld> reference_c2c(const std::vector<cld>& input, const std::vector<std::int64_t>& lengths,
                               std::int64_t batch, dft_sign sign) {
  const std::lock_guard<std::mutex> one_planner(planner_mutex());
  const std::int64_t n = real_elements(lengths);
  std::vector<cld> in(input), out(input.size());
  const std::vector<int> dims = int_lengths(lengths);
  plan_guard g{fftwl_plan_many_dft(static_cast<int>(dims.size()), dims.data(), static_cast<int>(batch),
                                   as_fftw(in.data()), nullptr, 1, static_cast<int>(n),
                                   as_fftw(out.data()), nullptr, 1, static_cast<int>(n),
                                   static_cast<int>(sign), FFTW_ESTIMATE)};
  check(g.plan);
  fftwl_execute(g.plan);
  return out;
}

std::vector<cld> reference_r2c(const std::vector<long double>& input,
                               const std::vector<std::int64_t>& lengths, std::int64_t batch) {
  const std::lock_guard<std::mutex> one_planner(planner_mutex());
  const std::int64_t n = real_elements(lengths), m = conjugate_even_elements(lengths);
  std::vector<long double> in(input);
  std::vector<cld> out(static_cast<std::size_t>(m * batch));
  const std::vector<int> dims = int_lengths(lengths);
  plan_guard g{fftwl_plan_many_dft_r2c(static_cast<int>(dims.size()), dims.data(),
                                       static_cast<int>(batch), in.data(), nullptr, 1,
                                       static_cast<int>(n), as_fftw(out.data()), nullptr, 1,
                                       static_cast<int>(m), FFTW_ESTIMATE)};
  check(g.plan);
  fftwl_execute(g.plan);
  return out;
}

std::vector<long double> reference_c2r(const std::vector<cld>& input,
                                       const std::vector<std::int64_t>& lengths,
                                       std::int64_t batch) {
  const std::lock_guard<std::mutex> one_planner(planner_mutex());
  const std::int64_t n = real_elements(lengths), m = conjugate_even_elements(lengths);
  std::vector<cld> in(input);
  std::vector<long double> out(static_cast<std::size_t>(n * batch));
  const std::vector<int> dims = int_lengths(lengths);
  plan_guard g{fftwl_plan_many_dft_c2r(static_cast<int>(dims.size()), dims.data(),
                                       static_cast<int>(batch), as_fftw(in.data()), nullptr, 1,
                                       static_cast<int>(m), out.data(), nullptr, 1,
                                       static_cast<int>(n), FFTW_ESTIMATE)};
  check(g.plan);
  fftwl_execute(g.plan);
  return out;
}

std::vector<cld> random_complex(std::int64_t count, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::vector<cld> v(static_cast<std::size_t>(count));
  for (cld& x : v) {
    const double re = uniform_minus_one_to_one(gen);
    x = cld(re, uniform_minus_one_to_one(gen));
  }
  return v;
}

std::vector<long double> random_real(std::int64_t count, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::vector<long double> v(static_cast<std::size_t>(count));
  for (long double& x : v) x = uniform_minus_one_to_one(gen);
  return v;
}

}  // namespace qez_test
