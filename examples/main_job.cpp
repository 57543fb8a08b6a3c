// The main job: describe transforms with ulmara::qez::dft::descriptor,
// commit them to a queue and run them forward and backward on USM pointers
// and on SYCL buffers, checking every result against a direct DFT computed
// in long double.
//
//   main_job [--device=auto|gpu|cpu]
//
// auto (the default) commits each descriptor to the GPU and falls back to
// the host CPU device when no GPU backend accepts it; gpu and cpu use only
// that device. The exit status is 0 when every transform that ran met its
// error bound.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ulmara/qez/dft.hpp"

namespace dft = ulmara::qez::dft;
using dft::config_param;
using dft::config_value;

namespace {

// ---------------------------------------------------------------------------
// Reference: a direct DFT in long double, one dimension at a time.

using cld = std::complex<long double>;

// Transforms `data` (row-major over `lengths`, slowest first) in place.
void direct_dft(std::vector<cld>& data, const std::vector<std::int64_t>& lengths, int sign) {
  const long double pi = 3.141592653589793238462643383279502884L;
  std::int64_t inner = 1;
  for (std::size_t d = lengths.size(); d-- > 0;) {
    const std::int64_t n = lengths[d];
    const std::int64_t outer = static_cast<std::int64_t>(data.size()) / (n * inner);
    std::vector<cld> line(n), out(n);
    for (std::int64_t o = 0; o < outer; ++o)
      for (std::int64_t i = 0; i < inner; ++i) {
        const std::int64_t base = o * n * inner + i;
        for (std::int64_t k = 0; k < n; ++k) line[k] = data[base + k * inner];
        for (std::int64_t k = 0; k < n; ++k) {
          cld sum = 0;
          for (std::int64_t j = 0; j < n; ++j) {
            const long double angle = sign * 2 * pi * static_cast<long double>((j * k) % n) / n;
            sum += line[j] * cld(std::cos(angle), std::sin(angle));
          }
          out[k] = sum;
        }
        for (std::int64_t k = 0; k < n; ++k) data[base + k * inner] = out[k];
      }
    inner *= n;
  }
}

template <class T>
long double relative_l2_error(const std::vector<T>& got, const std::vector<cld>& want) {
  long double err = 0, norm = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    err += std::norm(cld(got[i]) - want[i]);
    norm += std::norm(want[i]);
  }
  return std::sqrt(err / (norm > 0 ? norm : 1));
}

std::int64_t product(const std::vector<std::int64_t>& v) {
  std::int64_t p = 1;
  for (std::int64_t x : v) p *= x;
  return p;
}

// ---------------------------------------------------------------------------
// Where a descriptor runs.

enum class device_choice { automatic, gpu, cpu };

struct queues {
  std::optional<sycl::queue> gpu;
  sycl::queue cpu{sycl::cpu_selector_v};
};

// Commits to the GPU when allowed and accepted, else to the CPU device when
// allowed. Returns the device kind used, or nullptr when none took it.
template <class D>
const char* commit(D& desc, queues& q, device_choice choice, const std::string& name,
                   std::string* refusal) {
  if (choice != device_choice::cpu && q.gpu) {
    try {
      desc.commit(*q.gpu);
      return "gpu";
    } catch (const std::exception& e) {
      *refusal = e.what();
      if (choice == device_choice::gpu) return nullptr;
      std::printf("%-22s the GPU refused it (%s): the CPU device runs it\n", name.c_str(),
                  e.what());
    }
  }
  if (choice == device_choice::gpu) return nullptr;
  desc.commit(q.cpu);
  return "cpu";
}

// ---------------------------------------------------------------------------
// One line of the report per transform.

bool all_within = true;

void report(const std::string& name, const char* precision, const char* device,
            const char* container, const char* direction, long double error, double bound,
            double milliseconds) {
  const bool ok = error <= bound;
  all_within = all_within && ok;
  std::printf("%-22s %-7s %-4s %-7s %-9s %10.2Le %9.3f ms  %s\n", name.c_str(), precision, device,
              container, direction, error, milliseconds, ok ? "ok" : "ERROR ABOVE BOUND");
}

template <class R>
double bound_for(std::int64_t n) {
  // A few epsilons times the growth of rounding with log2 N.
  return 8.0 * std::numeric_limits<R>::epsilon() * std::log2(static_cast<double>(std::max<std::int64_t>(n, 2)));
}

template <class F>
double timed(F f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// ---------------------------------------------------------------------------
// Complex transforms: out of place on USM, in place on a buffer; forward
// against the reference, backward (scaled by 1/N) back to the input.

template <dft::precision P>
void run_complex(const std::string& name, const std::vector<std::int64_t>& lengths, queues& q,
                 device_choice choice) {
  using R = dft::detail::real_scalar_t<P>;
  using C = std::complex<R>;
  const char* precision = P == dft::precision::SINGLE ? "single" : "double";
  const std::int64_t n = product(lengths);
  const double bound = bound_for<R>(n);

  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> uniform(-1, 1);
  std::vector<C> x(n);
  for (C& v : x) v = C(static_cast<R>(uniform(random)), static_cast<R>(uniform(random)));
  std::vector<cld> expected(x.begin(), x.end());
  direct_dft(expected, lengths, -1);
  const std::vector<cld> original(x.begin(), x.end());

  // USM, out of place.
  {
    dft::descriptor<P, dft::domain::COMPLEX> desc(lengths);
    desc.set_value(config_param::PLACEMENT, config_value::OUT_OF_PLACE);
    desc.set_value(config_param::BACKWARD_SCALE, R(1) / static_cast<R>(n));
    std::string refusal;
    const char* device = commit(desc, q, choice, name, &refusal);
    if (device == nullptr) {
      std::printf("%-22s %-7s not run: %s\n", name.c_str(), precision, refusal.c_str());
    } else {
      sycl::queue& queue = std::strcmp(device, "gpu") == 0 ? *q.gpu : q.cpu;
      C* in = sycl::malloc_device<C>(n, queue);
      C* out = sycl::malloc_device<C>(n, queue);
      std::vector<C> result(n);
      sycl::event upload = queue.copy(x.data(), in, n);
      double ms = timed([&] { dft::compute_forward(desc, in, out, {upload}).wait(); });
      queue.copy(out, result.data(), n).wait();
      report(name, precision, device, "USM", "forward", relative_l2_error(result, expected), bound, ms);
      ms = timed([&] { dft::compute_backward(desc, out, in).wait(); });
      queue.copy(in, result.data(), n).wait();
      report(name, precision, device, "USM", "backward", relative_l2_error(result, original), bound, ms);
      sycl::free(in, queue);
      sycl::free(out, queue);
    }
  }

  // Buffer, in place.
  {
    dft::descriptor<P, dft::domain::COMPLEX> desc(lengths);
    desc.set_value(config_param::BACKWARD_SCALE, R(1) / static_cast<R>(n));
    std::string refusal;
    const char* device = commit(desc, q, choice, name, &refusal);
    if (device == nullptr) return;
    std::vector<C> data = x;
    double forward_ms, backward_ms;
    {
      sycl::buffer<C, 1> buffer(data.data(), sycl::range<1>(n));
      forward_ms = timed([&] {
        dft::compute_forward(desc, buffer);
        sycl::host_accessor wait_for_it(buffer, sycl::read_only);
      });
      {
        sycl::host_accessor view(buffer, sycl::read_only);
        std::vector<C> spectrum(view.get_pointer(), view.get_pointer() + n);
        report(name, precision, device, "buffer", "forward", relative_l2_error(spectrum, expected),
               bound, forward_ms);
      }
      backward_ms = timed([&] {
        dft::compute_backward(desc, buffer);
        sycl::host_accessor wait_for_it(buffer, sycl::read_only);
      });
    }
    report(name, precision, device, "buffer", "backward", relative_l2_error(data, original), bound,
           backward_ms);
  }
}

// ---------------------------------------------------------------------------
// Real transforms: real input of `lengths`, conjugate-even output whose last
// dimension holds L/2+1 values; out of place on USM and on buffers.

template <dft::precision P>
void run_real(const std::string& name, const std::vector<std::int64_t>& lengths, queues& q,
              device_choice choice) {
  using R = dft::detail::real_scalar_t<P>;
  using C = std::complex<R>;
  const char* precision = P == dft::precision::SINGLE ? "single" : "double";
  const std::int64_t n = product(lengths);
  const std::int64_t last = lengths.back(), half = last / 2 + 1;
  const std::int64_t rows = n / last;
  const double bound = bound_for<R>(n);

  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> uniform(-1, 1);
  std::vector<R> x(n);
  for (R& v : x) v = static_cast<R>(uniform(random));
  std::vector<cld> full(x.begin(), x.end());
  direct_dft(full, lengths, -1);
  std::vector<cld> expected(rows * half);
  for (std::int64_t r = 0; r < rows; ++r)
    for (std::int64_t k = 0; k < half; ++k) expected[r * half + k] = full[r * last + k];
  const std::vector<cld> original(x.begin(), x.end());

  // Packed rows on both sides: strides and distances given explicitly.
  std::vector<std::int64_t> real_strides{0}, complex_strides{0};
  for (std::size_t d = 0; d < lengths.size(); ++d) {
    std::int64_t real_stride = 1, complex_stride = 1;
    for (std::size_t e = d + 1; e < lengths.size(); ++e) {
      real_stride *= lengths[e];
      complex_stride *= e + 1 == lengths.size() ? half : lengths[e];
    }
    real_strides.push_back(real_stride);
    complex_strides.push_back(complex_stride);
  }

  for (const char* container : {"USM", "buffer"}) {
    dft::descriptor<P, dft::domain::REAL> desc(lengths);
    desc.set_value(config_param::PLACEMENT, config_value::OUT_OF_PLACE);
    desc.set_value(config_param::FWD_STRIDES, real_strides);
    desc.set_value(config_param::BWD_STRIDES, complex_strides);
    desc.set_value(config_param::BACKWARD_SCALE, R(1) / static_cast<R>(n));
    std::string refusal;
    const char* device = commit(desc, q, choice, name, &refusal);
    if (device == nullptr) {
      std::printf("%-22s %-7s not run: %s\n", name.c_str(), precision, refusal.c_str());
      continue;
    }
    sycl::queue& queue = std::strcmp(device, "gpu") == 0 ? *q.gpu : q.cpu;
    std::vector<C> spectrum(rows * half);
    std::vector<R> back(n);
    double forward_ms, backward_ms;
    if (std::strcmp(container, "USM") == 0) {
      R* in = sycl::malloc_shared<R>(n, queue);
      C* out = sycl::malloc_shared<C>(rows * half, queue);
      std::copy(x.begin(), x.end(), in);
      forward_ms = timed([&] { dft::compute_forward(desc, in, out).wait(); });
      std::copy(out, out + rows * half, spectrum.begin());
      backward_ms = timed([&] { dft::compute_backward(desc, out, in).wait(); });
      std::copy(in, in + n, back.begin());
      sycl::free(in, queue);
      sycl::free(out, queue);
    } else {
      std::vector<R> input = x;
      sycl::buffer<R, 1> in(input.data(), sycl::range<1>(n));
      sycl::buffer<C, 1> out(spectrum.data(), sycl::range<1>(rows * half));
      forward_ms = timed([&] {
        dft::compute_forward(desc, in, out);
        sycl::host_accessor wait_for_it(out, sycl::read_only);
      });
      {
        sycl::host_accessor view(out, sycl::read_only);
        std::copy(view.get_pointer(), view.get_pointer() + rows * half, spectrum.begin());
      }
      backward_ms = timed([&] {
        dft::compute_backward(desc, out, in);
        sycl::host_accessor wait_for_it(in, sycl::read_only);
      });
      sycl::host_accessor view(in, sycl::read_only);
      std::copy(view.get_pointer(), view.get_pointer() + n, back.begin());
    }
    report(name, precision, device, container, "forward", relative_l2_error(spectrum, expected),
           bound, forward_ms);
    report(name, precision, device, container, "backward", relative_l2_error(back, original), bound,
           backward_ms);
  }
}

}  // namespace

int main(int argc, char** argv) {
  device_choice choice = device_choice::automatic;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--device=gpu") choice = device_choice::gpu;
    else if (arg == "--device=cpu") choice = device_choice::cpu;
    else if (arg == "--device=auto") choice = device_choice::automatic;
    else {
      std::fprintf(stderr, "usage: %s [--device=auto|gpu|cpu]\n", argv[0]);
      return 2;
    }
  }

  queues q;
  try {
    q.gpu.emplace(sycl::gpu_selector_v);
  } catch (const std::exception&) {
  }
  std::printf("Transforms checked against a direct DFT in long double (relative L2 error).\n");
  if (q.gpu) std::printf("GPU: %s\n", q.gpu->get_device().get_info<sycl::info::device::name>().c_str());
  else std::printf("GPU: none\n");
  std::printf("CPU: %s\n\n", q.cpu.get_device().get_info<sycl::info::device::name>().c_str());
  std::printf("%-22s %-7s %-4s %-7s %-9s %10s %12s\n", "transform", "prec", "dev", "data",
              "direction", "error", "time");

  try {
    run_complex<dft::precision::SINGLE>("complex 1D 1024", {1024}, q, choice);
    run_complex<dft::precision::DOUBLE>("complex 2D 48x64", {48, 64}, q, choice);
    run_complex<dft::precision::SINGLE>("complex 3D 10x12x16", {10, 12, 16}, q, choice);
    run_real<dft::precision::SINGLE>("real 2D 60x64", {60, 64}, q, choice);
    run_real<dft::precision::DOUBLE>("real 1D 1000", {1000}, q, choice);
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    return 1;
  }
  std::printf("\n%s\n", all_within ? "All transforms within their error bounds."
                                   : "Some transforms exceeded their error bounds.");
  return all_within ? 0 : 1;
}
