// Runs a complex 1D forward transform on USM through the installed library,
// once committed to the GPU and once to the CPU device, and checks each
// result against a direct DFT. Exits non-zero when a device is missing or a
// result misses its bound.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "ulmara/qez/dft.hpp"

namespace dft = ulmara::qez::dft;

namespace {

using complex_float = std::complex<float>;
using complex_double = std::complex<double>;

constexpr std::int64_t length = 96;

std::vector<complex_float> test_signal() {
  std::vector<complex_float> x(length);
  for (std::int64_t j = 0; j < length; ++j)
    x[j] = complex_float(std::sin(0.37f * j) + 0.25f, std::cos(1.3f * j) - 0.5f * (j % 3));
  return x;
}

std::vector<complex_double> direct_forward_dft(const std::vector<complex_float>& x) {
  const double pi = 3.14159265358979323846;
  std::vector<complex_double> y(x.size());
  for (std::int64_t k = 0; k < length; ++k)
    for (std::int64_t j = 0; j < length; ++j) {
      const double angle = -2 * pi * static_cast<double>((j * k) % length) / length;
      y[k] += complex_double(x[j]) * complex_double(std::cos(angle), std::sin(angle));
    }
  return y;
}

double relative_error(const std::vector<complex_float>& got, const std::vector<complex_double>& want) {
  double error = 0, norm = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    error += std::norm(complex_double(got[i]) - want[i]);
    norm += std::norm(want[i]);
  }
  return std::sqrt(error / norm);
}

// Commits an out-of-place descriptor to `queue`, runs it forward on device
// USM and returns the result's relative error.
double forward_error_on(sycl::queue& queue) {
  const std::vector<complex_float> x = test_signal();
  dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> desc(length);
  desc.set_value(dft::config_param::PLACEMENT, dft::config_value::OUT_OF_PLACE);
  desc.commit(queue);
  complex_float* in = sycl::malloc_device<complex_float>(length, queue);
  complex_float* out = sycl::malloc_device<complex_float>(length, queue);
  sycl::event upload = queue.copy(x.data(), in, length);
  dft::compute_forward(desc, in, out, {upload}).wait();
  std::vector<complex_float> y(length);
  queue.copy(out, y.data(), length).wait();
  sycl::free(in, queue);
  sycl::free(out, queue);
  return relative_error(y, direct_forward_dft(x));
}

template <class Selector>
bool check_on(const char* name, const Selector& selector) {
  try {
    sycl::queue queue(selector);
    const double error = forward_error_on(queue);
    const double bound = 1e-5;
    std::printf("%s (%s): relative error %.2e\n", name,
                queue.get_device().get_info<sycl::info::device::name>().c_str(), error);
    return error <= bound;
  } catch (const std::exception& e) {
    std::printf("%s: failed: %s\n", name, e.what());
    return false;
  }
}

}  // namespace

int main() {
  const bool gpu_ok = check_on("gpu", sycl::gpu_selector_v);
  const bool cpu_ok = check_on("cpu", sycl::cpu_selector_v);
  return gpu_ok && cpu_ok ? 0 : 1;
}
