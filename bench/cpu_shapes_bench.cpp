// The CPU road beside FFTW for the shapes the one-dimensional bench leaves
// out: real 1D transforms, and complex and real 2D and 3D ones, out of
// place, forward. GFLOPS = 5 N log2(N) batch / time, half of that for real
// transforms, N the points of one transform.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_support.hpp"

namespace {

using namespace qez_bench;

// Powers of two for 1D, squares and cubes of them for 2D and 3D, up to
// about 2^22 points.
std::vector<shape> shapes() {
  std::vector<shape> out;
  for (int p = 6; p <= 22; p += 2) out.push_back({std::int64_t{1} << p});
  for (int p = 5; p <= 11; ++p) out.push_back({std::int64_t{1} << p, std::int64_t{1} << p});
  for (int p = 4; p <= 7; ++p) out.push_back({std::int64_t{1} << p, std::int64_t{1} << p, std::int64_t{1} << p});
  return out;
}

std::string shape_name(const shape& lengths) {
  std::string s;
  for (std::int64_t n : lengths) s += (s.empty() ? "" : "x") + std::to_string(n);
  return s;
}

template <class T, qd::domain D>
void register_shape(const char* precision, const shape& lengths, bool batched) {
  constexpr bool real = D == qd::domain::REAL;
  const int all_threads = available_cpus();
  const std::int64_t batch = batch_for(points_of(lengths), batched);
  if (batched && batch == 1) return;  // the single transform already runs
  const std::string tail = std::string("/") + (real ? "r" : "c") + "/" + precision + "/" + shape_name(lengths) +
                           "/batch:" + std::to_string(batch);
  benchmark::RegisterBenchmark(("cpu" + tail).c_str(), [=](benchmark::State& s) {
    library_road<T, D>(s, cpu_queue(), lengths, batch);
  })->UseRealTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("fftw1" + tail).c_str(), [=](benchmark::State& s) {
    fftw_road<T>(s, 1, lengths, batch, real);
  })->UseRealTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("fftwN" + tail).c_str(), [=](benchmark::State& s) {
    fftw_road<T>(s, all_threads, lengths, batch, real);
  })->UseRealTime()->Unit(benchmark::kMicrosecond);
}

template <class T>
void register_precision(const char* precision) {
  for (const shape& lengths : shapes())
    for (bool batched : {false, true}) {
      // Complex 1D transforms are the one-dimensional bench's.
      if (lengths.size() > 1) register_shape<T, qd::domain::COMPLEX>(precision, lengths, batched);
      register_shape<T, qd::domain::REAL>(precision, lengths, batched);
    }
}

}  // namespace

int main(int argc, char** argv) {
  return run_benchmarks(argc, argv, [] { register_precision<float>("s"); },
                        [] { register_precision<double>("d"); });
}
