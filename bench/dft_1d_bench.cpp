// One-dimensional complex transforms, out of place, forward: the library's
// GPU road (PoCL under the default GPU profile) and CPU road through the
// public interface, FFTW directly (one thread and all threads), and clFFT
// and VkFFT on the same PoCL device. GFLOPS = 5 N log2(N) batch / time.
// The `commit` benchmarks time a second commit of a configuration whose
// programs (GPU) or plans (CPU) the first commit already made.
#include <benchmark/benchmark.h>

#include <fftw3.h>
#include <pthread.h>
#include <sched.h>

#include <cmath>
#include <complex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sycl/sycl.hpp>

#include "ulmara/qez/dft.hpp"
#if defined(QEZ_BENCH_CLFFT) || defined(QEZ_BENCH_VKFFT)
#include "bench/opencl_peer.hpp"
#endif

namespace {

namespace qd = ulmara::qez::dft;

// Batches keep about 2^22 elements in flight.
constexpr std::int64_t batch_elements = std::int64_t{1} << 22;

std::int64_t batch_for(std::int64_t n, bool batched) {
  return batched ? std::max<std::int64_t>(1, batch_elements / n) : 1;
}

void set_flops(benchmark::State& state, std::int64_t n, std::int64_t batch) {
  const double flops = 5.0 * static_cast<double>(n) * std::log2(static_cast<double>(std::max<std::int64_t>(n, 2))) *
                       static_cast<double>(batch);
  state.counters["GFLOPS"] =
      benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["N"] = static_cast<double>(n);
  state.counters["batch"] = static_cast<double>(batch);
}

template <class T>
constexpr qd::precision precision_of() {
  return sizeof(T) == sizeof(double) ? qd::precision::DOUBLE : qd::precision::SINGLE;
}

// FFTW keeps what its planner measured (its wisdom) for the whole process,
// and a later plan of the same problem resumes from it: a road planned after
// another that measured the same transform would get that time on top of its
// own bound. Each road that plans with FFTW (the CPU road, fftw1, fftwN)
// starts from none, so that its figure does not depend on which roads ran
// before it.
void forget_fftw_wisdom() {
  fftw_forget_wisdom();
  fftwf_forget_wisdom();
}

// ---------------------------------------------------------------------------
// The library through its public interface, on a GPU or a CPU queue.

template <class T>
using complex_descriptor = qd::descriptor<precision_of<T>(), qd::domain::COMPLEX>;

template <class T>
void configure_batch(complex_descriptor<T>& desc, std::int64_t n, std::int64_t batch) {
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  desc.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, batch);
  desc.set_value(qd::config_param::FWD_DISTANCE, n);
  desc.set_value(qd::config_param::BWD_DISTANCE, n);
}

// A commit of a configuration an earlier commit in the process has made.
template <class T>
void second_commit(benchmark::State& state, sycl::queue& queue, std::int64_t n,
                   std::int64_t batch) {
  {
    complex_descriptor<T> first(n);
    configure_batch<T>(first, n, batch);
    first.commit(queue);
  }
  for (auto _ : state) {
    complex_descriptor<T> desc(n);
    configure_batch<T>(desc, n, batch);
    desc.commit(queue);
  }
}

template <class T>
void library_road(benchmark::State& state, sycl::queue& queue, std::int64_t n, std::int64_t batch) {
  if (queue.get_device().is_cpu()) forget_fftw_wisdom();
  complex_descriptor<T> desc(n);
  configure_batch<T>(desc, n, batch);
  desc.commit(queue);
  auto* in = sycl::malloc_device<std::complex<T>>(n * batch, queue);
  auto* out = sycl::malloc_device<std::complex<T>>(n * batch, queue);
  queue.memset(in, 0, sizeof(std::complex<T>) * n * batch).wait();
  qd::compute_forward(desc, in, out).wait();  // warm-up: first launches
  for (auto _ : state) qd::compute_forward(desc, in, out).wait();
  set_flops(state, n, batch);
  sycl::free(in, queue);
  sycl::free(out, queue);
}

sycl::queue& gpu_queue() {
  static sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order()};
  return q;
}
sycl::queue& cpu_queue() {
  static sycl::queue q{sycl::cpu_selector_v, sycl::property::queue::in_order()};
  return q;
}

// ---------------------------------------------------------------------------
// FFTW directly.

template <class T>
struct fftw_api;
// The same interface over fftw_ (double) and fftwf_ (single).
#define QEZ_FFTW_API(T, X)                                                                          \
  template <>                                                                                       \
  struct fftw_api<T> {                                                                              \
    using plan = X##_plan;                                                                          \
    using complex = X##_complex;                                                                    \
    static plan make(int n, int batch, int threads, complex* in, complex* out) {                   \
      X##_plan_with_nthreads(threads);                                                              \
      X##_set_timelimit(2.0);                                                                       \
      return X##_plan_many_dft(1, &n, batch, in, nullptr, 1, n, out, nullptr, 1, n, FFTW_FORWARD,  \
                               FFTW_MEASURE);                                                       \
    }                                                                                               \
    static void execute(plan p) { X##_execute(p); }                                                 \
    static void destroy(plan p) { X##_destroy_plan(p); }                                            \
    static complex* alloc(std::size_t count) { return X##_alloc_complex(count); }                   \
    static void free(complex* p) { X##_free(p); }                                                   \
  };
QEZ_FFTW_API(double, fftw)
QEZ_FFTW_API(float, fftwf)
#undef QEZ_FFTW_API

template <class T>
void fftw_road(benchmark::State& state, int threads, std::int64_t n, std::int64_t batch) {
  using api = fftw_api<T>;
  const std::size_t count = static_cast<std::size_t>(n * batch);
  auto* in = api::alloc(count);
  auto* out = api::alloc(count);
  forget_fftw_wisdom();
  auto plan = api::make(static_cast<int>(n), static_cast<int>(batch), threads, in, out);
  std::fill_n(reinterpret_cast<T*>(in), 2 * count, T(0));
  for (auto _ : state) api::execute(plan);
  set_flops(state, n, batch);
  api::destroy(plan);
  api::free(in);
  api::free(out);
}

// ---------------------------------------------------------------------------
// Peer libraries on the same OpenCL device.

#if defined(QEZ_BENCH_CLFFT) || defined(QEZ_BENCH_VKFFT)
using peer_maker = std::unique_ptr<qez_bench::peer_road> (*)(std::int64_t, std::int64_t, bool);

template <class T>
void peer_road(benchmark::State& state, peer_maker make, std::int64_t n, std::int64_t batch) {
  const auto road = make(n, batch, sizeof(T) == sizeof(double));
  if (!road->ready()) {
    state.SkipWithError("the library has no plan for this size");
    return;
  }
  road->run();
  for (auto _ : state) road->run();
  set_flops(state, n, batch);
}
#endif

// ---------------------------------------------------------------------------
// Registration: road x precision x length x (single transform, batch).

std::vector<std::int64_t> lengths() {
  std::vector<std::int64_t> out;
  for (int p = 6; p <= 22; ++p) out.push_back(std::int64_t{1} << p);
  for (std::int64_t n : {75, 1000, 4099, 30030}) out.push_back(n);
  return out;
}

// FFTW's "all threads": the CPUs the process may run on, as many as the
// library's CPU road takes by default (fewer than the machine's under taskset).
int available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

template <class T>
void register_precision(const char* letter) {
  const int all_threads = available_cpus();
  for (std::int64_t n : lengths()) {
    for (bool batched : {false, true}) {
      const std::int64_t batch = batch_for(n, batched);
      if (batched && batch == 1) continue;  // the single transform already runs
      const std::string tail = std::string("/") + letter + "/N:" + std::to_string(n) + "/batch:" + std::to_string(batch);
      benchmark::RegisterBenchmark(("gpu" + tail).c_str(), [=](benchmark::State& s) {
        library_road<T>(s, gpu_queue(), n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("cpu" + tail).c_str(), [=](benchmark::State& s) {
        library_road<T>(s, cpu_queue(), n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("fftw1" + tail).c_str(), [=](benchmark::State& s) {
        fftw_road<T>(s, 1, n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("fftwN" + tail).c_str(), [=](benchmark::State& s) {
        fftw_road<T>(s, all_threads, n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
#ifdef QEZ_BENCH_CLFFT
      benchmark::RegisterBenchmark(("clfft" + tail).c_str(), [=](benchmark::State& s) {
        peer_road<T>(s, qez_bench::make_clfft_road, n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
#endif
#ifdef QEZ_BENCH_VKFFT
      benchmark::RegisterBenchmark(("vkfft" + tail).c_str(), [=](benchmark::State& s) {
        peer_road<T>(s, qez_bench::make_vkfft_road, n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
#endif
      benchmark::RegisterBenchmark(("commit_gpu" + tail).c_str(), [=](benchmark::State& s) {
        second_commit<T>(s, gpu_queue(), n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("commit_cpu" + tail).c_str(), [=](benchmark::State& s) {
        second_commit<T>(s, cpu_queue(), n, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
    }
  }
}

// PoCL runs a work-group as one function on one of its worker threads, the
// work-items' private values held in stack arrays as long as the work-group.
// VkFFT's kernel for a work-group of 4096 (PoCL's largest, which VkFFT takes
// at single 2^17 batch 32) needs a frame of about 9 MiB, more than the 8 MiB
// stack a thread gets by default, and crashed the process. Threads
// started after this (PoCL starts its workers with the device) get 64 MiB of
// stack, of which only the pages used are ever backed.
void enlarge_thread_stacks() {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return;
  if (pthread_attr_setstacksize(&attr, std::size_t{64} << 20) == 0) pthread_setattr_default_np(&attr);
  pthread_attr_destroy(&attr);
}

}  // namespace

int main(int argc, char** argv) {
  enlarge_thread_stacks();
  fftw_init_threads();
  fftwf_init_threads();
  register_precision<float>("s");
  register_precision<double>("d");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
