// One-dimensional complex transforms, out of place, forward: the library's
// GPU road (PoCL under the default GPU profile) and CPU road through the
// public interface, FFTW directly (one thread and all threads), and clFFT
// and VkFFT on the same PoCL device. GFLOPS = 5 N log2(N) batch / time.
// The `commit` benchmarks time a second commit of a configuration whose
// programs (GPU) or plans (CPU) the first commit already made.
#include <benchmark/benchmark.h>

#include <pthread.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.hpp"
#if defined(QEZ_BENCH_CLFFT) || defined(QEZ_BENCH_VKFFT)
#include "bench/opencl_peer.hpp"
#endif

namespace {

using namespace qez_bench;

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
  set_flops(state, {n}, batch);
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

template <class T>
void register_precision(const char* letter) {
  const int all_threads = available_cpus();
  for (std::int64_t n : lengths()) {
    for (bool batched : {false, true}) {
      const std::int64_t batch = batch_for(n, batched);
      const shape lengths{n};
      if (batched && batch == 1) continue;  // the single transform already runs
      const std::string tail = std::string("/") + letter + "/N:" + std::to_string(n) + "/batch:" + std::to_string(batch);
      benchmark::RegisterBenchmark(("gpu" + tail).c_str(), [=](benchmark::State& s) {
        library_road<T, qd::domain::COMPLEX>(s, gpu_queue(), lengths, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("cpu" + tail).c_str(), [=](benchmark::State& s) {
        library_road<T, qd::domain::COMPLEX>(s, cpu_queue(), lengths, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("fftw1" + tail).c_str(), [=](benchmark::State& s) {
        fftw_road<T>(s, 1, lengths, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("fftwN" + tail).c_str(), [=](benchmark::State& s) {
        fftw_road<T>(s, all_threads, lengths, batch);
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
        second_commit<T, qd::domain::COMPLEX>(s, gpu_queue(), lengths, batch);
      })->UseRealTime()->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("commit_cpu" + tail).c_str(), [=](benchmark::State& s) {
        second_commit<T, qd::domain::COMPLEX>(s, cpu_queue(), lengths, batch);
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
  return run_benchmarks(argc, argv, [] { register_precision<float>("s"); },
                        [] { register_precision<double>("d"); });
}
