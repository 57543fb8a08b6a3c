// What the benches share: the library's road through its public interface,
// FFTW planned directly, the GFLOPS counter, and the CPUs the process may
// use. Transforms are out of place and forward; a transform's shape lists
// its lengths slowest first, and a real one keeps the library's default
// layout (rows of 2 (n/2+1) reals in, n/2+1 complex values out).
#pragma once

#include <benchmark/benchmark.h>

#include <fftw3.h>
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include <sycl/sycl.hpp>

#include "ulmara/qez/dft.hpp"

namespace qez_bench {

namespace qd = ulmara::qez::dft;

using shape = std::vector<std::int64_t>;

// Batches keep about 2^22 elements in flight.
constexpr std::int64_t batch_elements = std::int64_t{1} << 22;

inline std::int64_t points_of(const shape& lengths) {
  return std::accumulate(lengths.begin(), lengths.end(), std::int64_t{1}, std::multiplies<>());
}

inline std::int64_t batch_for(std::int64_t points, bool batched) {
  return batched ? std::max<std::int64_t>(1, batch_elements / points) : 1;
}

// Elements per transform on each side: the last length of a real transform
// is padded to n/2+1 complex values.
struct side_counts {
  std::int64_t forward;   // reals (real) or complex values (complex)
  std::int64_t backward;  // complex values
};

inline side_counts counts_of(const shape& lengths, bool real) {
  const std::int64_t points = points_of(lengths);
  if (!real) return {points, points};
  const std::int64_t rows = points / lengths.back();
  const std::int64_t half = lengths.back() / 2 + 1;
  return {rows * 2 * half, rows * half};
}

// GFLOPS = 5 N log2(N) batch / time for complex transforms of N points, half
// of that for real ones.
inline void set_flops(benchmark::State& state, const shape& lengths, std::int64_t batch, bool real = false) {
  const double n = static_cast<double>(points_of(lengths));
  const double flops = (real ? 2.5 : 5.0) * n * std::log2(std::max(n, 2.0)) * static_cast<double>(batch);
  state.counters["GFLOPS"] = benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["N"] = n;
  state.counters["batch"] = static_cast<double>(batch);
}

// FFTW keeps what its planner measured (its wisdom) for the whole process,
// and a later plan of the same problem resumes from it: a road planned after
// another that measured the same transform would get that time on top of its
// own bound. Each road that plans with FFTW (the CPU road, fftw1, fftwN)
// starts from none, so that its figure does not depend on which roads ran
// before it.
inline void forget_fftw_wisdom() {
  fftw_forget_wisdom();
  fftwf_forget_wisdom();
}

// FFTW's "all threads": the CPUs the process may run on, as many as the
// library's CPU road takes by default (fewer than the machine's under taskset).
inline int available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// ---------------------------------------------------------------------------
// The library through its public interface.

inline sycl::queue& gpu_queue() {
  static sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order()};
  return q;
}
inline sycl::queue& cpu_queue() {
  static sycl::queue q{sycl::cpu_selector_v, sycl::property::queue::in_order()};
  return q;
}

template <class T>
constexpr qd::precision precision_of() {
  return sizeof(T) == sizeof(double) ? qd::precision::DOUBLE : qd::precision::SINGLE;
}

template <class T, qd::domain D>
using descriptor = qd::descriptor<precision_of<T>(), D>;

template <class T, qd::domain D>
descriptor<T, D> make_descriptor(const shape& lengths, std::int64_t batch) {
  descriptor<T, D> desc = lengths.size() == 1 ? descriptor<T, D>(lengths[0]) : descriptor<T, D>(lengths);
  const side_counts c = counts_of(lengths, D == qd::domain::REAL);
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  desc.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, batch);
  desc.set_value(qd::config_param::FWD_DISTANCE, c.forward);
  desc.set_value(qd::config_param::BWD_DISTANCE, c.backward);
  return desc;
}

// Forward transforms of zeros, one call after the other, each waited for.
template <class T, qd::domain D>
void library_road(benchmark::State& state, sycl::queue& queue, const shape& lengths, std::int64_t batch) {
  using forward_type = std::conditional_t<D == qd::domain::REAL, T, std::complex<T>>;
  if (queue.get_device().is_cpu()) forget_fftw_wisdom();
  descriptor<T, D> desc = make_descriptor<T, D>(lengths, batch);
  desc.commit(queue);
  const side_counts c = counts_of(lengths, D == qd::domain::REAL);
  auto* in = sycl::malloc_device<forward_type>(c.forward * batch, queue);
  auto* out = sycl::malloc_device<std::complex<T>>(c.backward * batch, queue);
  queue.memset(in, 0, sizeof(forward_type) * c.forward * batch).wait();
  qd::compute_forward(desc, in, out).wait();  // warm-up: first launches
  for (auto _ : state) qd::compute_forward(desc, in, out).wait();
  set_flops(state, lengths, batch, D == qd::domain::REAL);
  sycl::free(in, queue);
  sycl::free(out, queue);
}

// A commit of a configuration an earlier commit in the process has made.
template <class T, qd::domain D>
void second_commit(benchmark::State& state, sycl::queue& queue, const shape& lengths, std::int64_t batch) {
  make_descriptor<T, D>(lengths, batch).commit(queue);
  for (auto _ : state) make_descriptor<T, D>(lengths, batch).commit(queue);
}

// ---------------------------------------------------------------------------
// FFTW directly: `plan_many` over the same layouts, FFTW_MEASURE within 2 s.

template <class T>
struct fftw_api;
// The same interface over fftw_ (double) and fftwf_ (single).
#define QEZ_FFTW_API(T, X)                                                                                    \
  template <>                                                                                                 \
  struct fftw_api<T> {                                                                                        \
    using plan = X##_plan;                                                                                    \
    using complex = X##_complex;                                                                              \
    static plan make(const std::vector<int>& dims, int batch, int threads, bool real, side_counts dist, void* in, \
                     complex* out) {                                                                          \
      X##_plan_with_nthreads(threads);                                                                        \
      X##_set_timelimit(2.0);                                                                                 \
      const int rank = static_cast<int>(dims.size());                                                         \
      const int in_dist = static_cast<int>(dist.forward), out_dist = static_cast<int>(dist.backward);        \
      if (!real)                                                                                              \
        return X##_plan_many_dft(rank, dims.data(), batch, static_cast<complex*>(in), nullptr, 1, in_dist, out, \
                                 nullptr, 1, out_dist, FFTW_FORWARD, FFTW_MEASURE);                           \
      std::vector<int> in_embed = dims, out_embed = dims;                                                     \
      in_embed.back() = 2 * (dims.back() / 2 + 1);                                                            \
      out_embed.back() = dims.back() / 2 + 1;                                                                 \
      return X##_plan_many_dft_r2c(rank, dims.data(), batch, static_cast<T*>(in), in_embed.data(), 1, in_dist, \
                                   out, out_embed.data(), 1, out_dist, FFTW_MEASURE);                         \
    }                                                                                                         \
    static void execute(plan p) { X##_execute(p); }                                                           \
    static void destroy(plan p) { X##_destroy_plan(p); }                                                      \
    static complex* alloc(std::size_t count) { return X##_alloc_complex(count); }                             \
    static void free(void* p) { X##_free(p); }                                                                \
  };
QEZ_FFTW_API(double, fftw)
QEZ_FFTW_API(float, fftwf)
#undef QEZ_FFTW_API

template <class T>
void fftw_road(benchmark::State& state, int threads, const shape& lengths, std::int64_t batch, bool real = false) {
  using api = fftw_api<T>;
  const side_counts c = counts_of(lengths, real);
  // Complex buffers of either side's size hold the real input too.
  const std::size_t in_count = static_cast<std::size_t>(real ? (c.forward + 1) / 2 : c.forward) * batch;
  const std::size_t out_count = static_cast<std::size_t>(c.backward * batch);
  auto* in = api::alloc(in_count);
  auto* out = api::alloc(out_count);
  forget_fftw_wisdom();
  const std::vector<int> dims(lengths.begin(), lengths.end());
  auto plan = api::make(dims, static_cast<int>(batch), threads, real, c, in, out);
  std::fill_n(reinterpret_cast<T*>(in), 2 * in_count, T(0));
  for (auto _ : state) api::execute(plan);
  set_flops(state, lengths, batch, real);
  api::destroy(plan);
  api::free(in);
  api::free(out);
}

// Registers both precisions' benchmarks (after FFTW's threads are set up)
// and runs those the command line selects.
inline int run_benchmarks(int argc, char** argv, void (*register_single)(), void (*register_double)()) {
  fftw_init_threads();
  fftwf_init_threads();
  register_single();
  register_double();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace qez_bench
