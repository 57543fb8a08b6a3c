// FFTW3 guru64 plans for the CPU engine, one template over the precision.
//
// Each direction carries plans run through the new-array execute functions:
// one for SIMD-aligned data (the common case: SYCL allocations and FFTW's
// own are aligned), one more for each other alignment that the chunks of a
// chunked transform start at, and one planned with FFTW_UNALIGNED for any
// other address. Transforms of at least `measured_points` points are planned
// with FFTW_MEASURE, on scratch arrays of the planned problem's own span,
// within `planning_seconds` per plan (or with FFTW_ESTIMATE when the caller
// knows that measuring would run out of time); smaller ones with
// FFTW_ESTIMATE on one thread, where measuring and threads cost more than
// they give. A large transform runs on the record's threads: a batch with
// enough transforms as chunks of the batch, each chunk planned on one thread
// and the chunks shared out at execution between the calling thread and the
// engine's thread team; any other transform of at least `threaded_points`
// points as one plan on FFTW's threads, and a smaller one on one thread.
// Scales are applied after the transform (per chunk for chunked ones).
// Plans are shared through the engine's plan cache.
// FFTW's planner is not thread-safe: planning and destruction take one lock.
#include "platform/threading/engine/fftw_plans.hpp"
#include "platform/threading/engine/plan_cache.hpp"
#include "platform/threading/engine/thread_team.hpp"

#include <fftw3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "dft/api/status_codes.hpp"

namespace ulmara {
namespace qez {
namespace cpu_engine {
namespace {

using ::ulmara::qez::dft::status_allocation_failed;
using ::ulmara::qez::dft::status_success;
using ::ulmara::qez::dft::status_unimplemented;

std::mutex& planner_mutex() {
  static std::mutex m;
  return m;
}

// ---------------------------------------------------------------------------
// The FFTW interface per precision.

template <class Real>
struct fftw_api;

#define QEZ_FFTW_API(REAL, X)                                                                   \
  template <>                                                                                  \
  struct fftw_api<REAL> {                                                                      \
    using plan = X(plan);                                                                      \
    using complex = X(complex);                                                                \
    static plan dft(int rank, const fftw_iodim64* dims, int howmany_rank,                     \
                    const fftw_iodim64* howmany, void* in, void* out, int sign,               \
                    unsigned flags) {                                                          \
      return X(plan_guru64_dft)(rank, dims, howmany_rank, howmany, static_cast<complex*>(in), \
                                static_cast<complex*>(out), sign, flags);                      \
    }                                                                                          \
    static plan r2c(int rank, const fftw_iodim64* dims, int howmany_rank,                     \
                    const fftw_iodim64* howmany, void* in, void* out, unsigned flags) {       \
      return X(plan_guru64_dft_r2c)(rank, dims, howmany_rank, howmany, static_cast<REAL*>(in), \
                                    static_cast<complex*>(out), flags);                        \
    }                                                                                          \
    static plan c2r(int rank, const fftw_iodim64* dims, int howmany_rank,                     \
                    const fftw_iodim64* howmany, void* in, void* out, unsigned flags) {       \
      return X(plan_guru64_dft_c2r)(rank, dims, howmany_rank, howmany,                        \
                                    static_cast<complex*>(in), static_cast<REAL*>(out), flags); \
    }                                                                                          \
    static void execute(plan p, transform_kind kind, void* in, void* out) {                   \
      switch (kind) {                                                                          \
        case transform_kind::c2c:                                                              \
          X(execute_dft)(p, static_cast<complex*>(in), static_cast<complex*>(out));            \
          break;                                                                               \
        case transform_kind::r2c:                                                              \
          X(execute_dft_r2c)(p, static_cast<REAL*>(in), static_cast<complex*>(out));           \
          break;                                                                               \
        case transform_kind::c2r:                                                              \
          X(execute_dft_c2r)(p, static_cast<complex*>(in), static_cast<REAL*>(out));           \
          break;                                                                               \
      }                                                                                        \
    }                                                                                          \
    static void destroy(plan p) { X(destroy_plan)(p); }                                       \
    static int alignment_of(void* p) { return X(alignment_of)(static_cast<REAL*>(p)); }       \
    static void start_threads() { X(init_threads)(); }                                        \
    static void set_planning(int threads, double seconds) {                                   \
      X(plan_with_nthreads)(threads);                                                          \
      X(set_timelimit)(seconds);                                                               \
    }                                                                                          \
    static void* allocate(std::size_t bytes) { return X(malloc)(bytes); }                     \
    static void release(void* p) { X(free)(p); }                                              \
  };
#define QEZ_FFTW_DOUBLE(name) fftw_##name
#define QEZ_FFTW_FLOAT(name) fftwf_##name
QEZ_FFTW_API(double, QEZ_FFTW_DOUBLE)
QEZ_FFTW_API(float, QEZ_FFTW_FLOAT)
#undef QEZ_FFTW_API
#undef QEZ_FFTW_DOUBLE
#undef QEZ_FFTW_FLOAT

template <class Real>
struct fftw_buffer_deleter {
  void operator()(void* p) const { fftw_api<Real>::release(p); }
};
template <class Real>
using fftw_buffer = std::unique_ptr<void, fftw_buffer_deleter<Real>>;

// ---------------------------------------------------------------------------
// Strided boxes: the transform dimensions followed by the batch dimensions,
// with the caller's strides, walked row by row (dimension 0 innermost).

constexpr int max_box_dims = max_rank + max_batch_rank;

struct element_box {
  int dims = 0;
  std::int64_t extent[max_box_dims] = {};
  std::int64_t stride[max_box_dims] = {};

  std::int64_t elements() const {
    std::int64_t n = 1;
    for (int d = 0; d < dims; ++d) n *= extent[d];
    return n;
  }
};

enum class side { input, output };

element_box box_of(const direction_layout& l, side s) {
  element_box box;
  const side_layout& layout = s == side::input ? l.input : l.output;
  for (int k = 0; k < l.rank; ++k, ++box.dims) {
    box.extent[box.dims] = s == side::input ? l.input_extent(k) : l.output_extent(k);
    box.stride[box.dims] = layout.strides[k];
  }
  for (int j = 0; j < l.batch_rank; ++j, ++box.dims) {
    box.extent[box.dims] = l.counts[j];
    box.stride[box.dims] = layout.distances[j];
  }
  return box;
}

// The same box stored densely, dimension 0 fastest.
element_box packed_box(const element_box& box) {
  element_box packed = box;
  std::int64_t product = 1;
  for (int d = 0; d < box.dims; ++d) {
    packed.stride[d] = product;
    product *= box.extent[d];
  }
  return packed;
}

// Calls row(offset of the row's first element, index of that row's first
// element in dense order) for every row along dimension 0.
template <class Row>
void for_each_row(const element_box& box, Row row) {
  std::int64_t rows = 1;
  for (int d = 1; d < box.dims; ++d) rows *= box.extent[d];
  std::int64_t index[max_box_dims] = {};
  std::int64_t offset = 0;
  for (std::int64_t r = 0; r < rows; ++r) {
    row(offset, r * box.extent[0]);
    for (int d = 1; d < box.dims; ++d) {
      offset += box.stride[d];
      if (++index[d] < box.extent[d]) break;
      offset -= box.stride[d] * box.extent[d];
      index[d] = 0;
    }
  }
}

template <class Element>
void gather(const Element* from, const element_box& box, Element* dense) {
  const std::int64_t n = box.extent[0], s = box.stride[0];
  for_each_row(box, [&](std::int64_t offset, std::int64_t first) {
    const Element* src = from + offset;
    Element* dst = dense + first;
    for (std::int64_t i = 0; i < n; ++i) dst[i] = src[i * s];
  });
}

template <class Element, class Real>
void scatter(const Element* dense, const element_box& box, Element* to, Real scale) {
  const std::int64_t n = box.extent[0], s = box.stride[0];
  for_each_row(box, [&](std::int64_t offset, std::int64_t first) {
    const Element* src = dense + first;
    Element* dst = to + offset;
    for (std::int64_t i = 0; i < n; ++i) dst[i * s] = src[i] * scale;
  });
}

template <class Element, class Real>
void scale_in_place(Element* data, const element_box& box, Real scale) {
  const std::int64_t n = box.extent[0], s = box.stride[0];
  for_each_row(box, [&](std::int64_t offset, std::int64_t) {
    Element* row = data + offset;
    for (std::int64_t i = 0; i < n; ++i) row[i * s] *= scale;
  });
}

// FFTW's dimension records: slowest dimension first (FFTW halves the last
// dimension of a real transform, which is our innermost one).
struct fftw_dims {
  fftw_iodim64 dims[max_rank];
  fftw_iodim64 howmany[max_batch_rank];
  int rank = 0;
  int howmany_rank = 0;
};

fftw_dims dims_of(const direction_layout& l, const element_box& in, const element_box& out) {
  fftw_dims f;
  f.rank = l.rank;
  for (int k = 0; k < l.rank; ++k) {
    fftw_iodim64& d = f.dims[l.rank - 1 - k];
    d.n = l.lengths[k];
    d.is = in.stride[k];
    d.os = out.stride[k];
  }
  f.howmany_rank = l.batch_rank;
  for (int j = 0; j < l.batch_rank; ++j) {
    f.howmany[j].n = l.counts[j];
    f.howmany[j].is = in.stride[l.rank + j];
    f.howmany[j].os = out.stride[l.rank + j];
  }
  return f;
}

// ---------------------------------------------------------------------------

// Transforms of at least this many points (all batches together) are
// planned with FFTW_MEASURE; smaller ones with FFTW_ESTIMATE. From here on
// the measured plan pays for its planning: single 1D transforms of 2^12 to
// 2^15 points ran 1.2 to 1.7 times as fast on it as on the estimate on the
// machine we bench on, for 0.1 to 0.5 s of measuring per direction; below,
// 1.05 to 1.25 times as fast, at most 0.2 us a transform, for 10 to 90 ms.
constexpr std::int64_t measured_points = std::int64_t(1) << 12;
// A transform that is not cut into chunks runs on FFTW's threads from this
// many points on. Below, FFTW's threads cost more than they give: single
// transforms of 2^15 and 2^16 points (1D, 2D and 3D) ran 1 to 3.5 times as
// fast on one thread as on the eight of the machine we bench on, whose
// threaded plans FFTW measured as well.
constexpr std::int64_t threaded_points = std::int64_t(1) << 17;
// The bound on FFTW's measuring per plan, in seconds. FFTW checks it between
// candidates, and when measuring runs out of time it keeps the plan of its
// estimate, made before measuring: there is no partly measured plan. The
// bound lets a transform of 2^16 points in double precision (or 2^17 in
// single) on one thread finish measuring on the machines we bench on; its
// measured plan runs about 1.6 to 1.8 times as fast as the estimate. A commit
// plans two directions; the second one is not measured when the first one
// ran out of time, so a commit measures for at most twice the bound, and
// for about the bound where measuring cannot finish.
constexpr double planning_seconds = 2.0;

// Points of all batches together, saturating at the largest int64_t.
std::int64_t points_of(const direction_layout& l) {
  std::int64_t n = 1;
  for (int k = 0; k < l.rank; ++k)
    if (__builtin_mul_overflow(n, l.lengths[k], &n)) return INT64_MAX;
  for (int j = 0; j < l.batch_rank; ++j)
    if (__builtin_mul_overflow(n, l.counts[j], &n)) return INT64_MAX;
  return n;
}

// Lowest and highest element offsets a box reaches from its first element;
// nothing when they (or the span between them) leave 64 bits, which any
// stride can ask for.
struct box_reach {
  std::int64_t lowest = 0;
  std::int64_t highest = 0;
  std::int64_t span() const { return highest - lowest + 1; }
};

std::optional<box_reach> reach_of(const element_box& box) {
  box_reach r;
  for (int d = 0; d < box.dims; ++d) {
    std::int64_t step = 0;
    if (__builtin_mul_overflow(box.extent[d] - 1, box.stride[d], &step)) return std::nullopt;
    std::int64_t& end = step < 0 ? r.lowest : r.highest;
    if (__builtin_add_overflow(end, step, &end)) return std::nullopt;
  }
  std::int64_t span = 0;
  if (__builtin_sub_overflow(r.highest, r.lowest, &span) || span == INT64_MAX) return std::nullopt;
  return r;
}

// Bytes of a box's whole span of elements of `element_bytes`; 0 when that
// does not fit in memory's size.
std::size_t span_bytes(const box_reach& reach, std::size_t element_bytes) {
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<std::size_t>(reach.span()), element_bytes, &bytes)) return 0;
  return bytes;
}

// Byte offsets of each side's first element from the SIMD alignment.
struct byte_shift {
  std::int64_t in = 0;
  std::int64_t out = 0;
  bool operator==(const byte_shift& o) const { return in == o.in && out == o.out; }
};

// Arrays FFTW plans on: scratch of the transform's own span for measuring
// (FFTW overwrites them), small placeholders for estimating (FFTW_ESTIMATE
// never touches the arrays). Both come from fftw_malloc, so they are aligned;
// a shift (in bytes, each side its own) moves the first elements off that
// alignment, to plan for data that starts there. Scratch for a span that does
// not fit in memory is never ready.
template <class Real>
class planning_arrays {
public:
  planning_arrays(const element_box& in, std::size_t in_bytes, const element_box& out,
                  std::size_t out_bytes, bool in_place, bool full_size, byte_shift shift = {}) {
    box_reach in_reach, out_reach;
    std::size_t in_span = 64, out_span = 64;
    if (full_size) {
      const std::optional<box_reach> in_box = reach_of(in), out_box = reach_of(out);
      if (!in_box || !out_box) return;
      in_reach = *in_box;
      out_reach = *out_box;
      in_span = span_bytes(in_reach, in_bytes);
      out_span = span_bytes(out_reach, out_bytes);
      if (in_span == 0 || out_span == 0) return;
    }
    in_span += static_cast<std::size_t>(shift.in);
    out_span += static_cast<std::size_t>(shift.out);
    const std::size_t in_bytes_total = in_place ? std::max(in_span, out_span) : in_span;
    in_.reset(fftw_api<Real>::allocate(in_bytes_total));
    if (!in_place) out_.reset(fftw_api<Real>::allocate(out_span));
    if (!in_ || (!in_place && !out_)) return;
    // Scratch pages are touched before FFTW times anything on them, so that
    // the first candidates measured do not pay the page faults.
    if (full_size) {
      std::memset(in_.get(), 0, in_bytes_total);
      if (!in_place) std::memset(out_.get(), 0, out_span);
    }
    // The plan's arrays point at each side's first element.
    const std::int64_t in_skip = -in_reach.lowest;
    const std::int64_t out_skip = -out_reach.lowest;
    in_first_ = static_cast<char*>(in_.get()) + shift.in + in_skip * std::int64_t(in_bytes);
    out_first_ = static_cast<char*>(in_place ? in_.get() : out_.get()) + shift.out +
                 out_skip * std::int64_t(out_bytes);
  }

  bool ready() const { return in_first_ != nullptr; }
  void* input() const { return in_first_; }
  void* output() const { return out_first_; }

private:
  fftw_buffer<Real> in_;
  fftw_buffer<Real> out_;
  void* in_first_ = nullptr;
  void* out_first_ = nullptr;
};

// Batched transforms are cut along their outermost batch dimension into
// chunks of about `chunk_points` points (they stay in a core's cache while
// FFTW works on them), each planned and run on one thread. Measuring such a
// chunk takes a fraction of measuring the whole threaded transform, so the
// planning time bound is met with a measured plan. Only worth it when every
// thread gets several chunks; otherwise FFTW's own threads split the work.
constexpr std::int64_t chunk_points = std::int64_t(1) << 15;
constexpr std::int64_t chunks_per_thread = 4;

// The smallest step in bytes that keeps an address at FFTW's SIMD alignment
// (the modulus of its alignment_of).
template <class Real>
std::int64_t alignment_period() {
  static const std::int64_t period = [] {
    fftw_buffer<Real> probe(fftw_api<Real>::allocate(256));
    if (!probe) return std::int64_t(64);
    char* base = static_cast<char*>(probe.get());
    std::int64_t step = sizeof(Real);
    while (step < 64 && fftw_api<Real>::alignment_of(base + step) !=
                            fftw_api<Real>::alignment_of(base))
      step *= 2;
    return step;
  }();
  return period;
}

// The number of chunks a transform runs as, 1 when it is not cut: the
// chunk's count of transforms is the largest divisor of the outermost batch
// count that keeps the chunk near `chunk_points` and every chunk at the
// first one's alignment, so that all run one measured plan (failing that,
// the largest divisor, whose chunks at other alignments get plans of their
// own: see chunk_start_shifts).
std::int64_t chunk_count(const direction_layout& l, int threads, std::int64_t in_bytes,
                         std::int64_t out_bytes, std::int64_t alignment) {
  if (threads < 2 || l.batch_rank == 0 || points_of(l) == INT64_MAX) return 1;
  const int last = l.batch_rank - 1;
  const std::int64_t outer = l.counts[last];
  const std::int64_t points_per_outer = points_of(l) / outer;
  // Whether a step of `per_chunk` transforms of `distance` elements of
  // `bytes` is a whole number of alignment periods.
  const auto aligned_step = [&](std::int64_t per_chunk, std::int64_t distance, std::int64_t bytes) {
    std::int64_t step = 0;
    return !__builtin_mul_overflow(per_chunk, distance, &step) &&
           !__builtin_mul_overflow(step, bytes, &step) && step % alignment == 0;
  };
  const auto keeps_alignment = [&](std::int64_t per_chunk) {
    return aligned_step(per_chunk, l.input.distances[last], in_bytes) &&
           aligned_step(per_chunk, l.output.distances[last], out_bytes);
  };
  const std::int64_t most = std::max<std::int64_t>(1, chunk_points / points_per_outer);
  std::int64_t per_chunk = 0, aligned_per_chunk = 0;
  for (std::int64_t k = most; k >= 1 && aligned_per_chunk == 0; --k) {
    if (outer % k != 0) continue;
    if (per_chunk == 0) per_chunk = k;
    if (keeps_alignment(k)) aligned_per_chunk = k;
  }
  // An aligned chunk far below the size wanted costs more in calls than
  // planning the other alignments costs.
  if (aligned_per_chunk != 0 && aligned_per_chunk * 4 >= per_chunk) per_chunk = aligned_per_chunk;
  const std::int64_t chunks = outer / per_chunk;
  return chunks >= chunks_per_thread * threads ? chunks : 1;
}

// The layout of one chunk: the outermost batch count divided by `chunks`.
direction_layout chunk_layout(const direction_layout& whole, std::int64_t chunks) {
  direction_layout chunk = whole;
  chunk.counts[chunk.batch_rank - 1] /= chunks;
  return chunk;
}

// Chunks start at the first chunk's alignment plus a multiple of the chunk
// step. Those that start elsewhere (steps that are no whole number of
// alignment periods) would run the unaligned plan, a third as fast as an
// aligned one: each shift they start at gets a measured plan of its own, up
// to `max_aligned_plans` in all. Shifts are in bytes modulo `period`, the
// first chunk's own (none) first; in place both sides share one array and
// so must shift alike.
constexpr int max_aligned_plans = 4;

std::vector<byte_shift> chunk_start_shifts(std::int64_t chunks, std::int64_t in_step_bytes,
                                           std::int64_t out_step_bytes, std::int64_t period,
                                           bool in_place) {
  std::vector<byte_shift> shifts{byte_shift{}};
  const std::int64_t in_step = in_step_bytes % period, out_step = out_step_bytes % period;
  byte_shift at;
  for (std::int64_t c = 1; c < std::min(chunks, period) && int(shifts.size()) < max_aligned_plans;
       ++c) {
    at = {(at.in + in_step) % period, (at.out + out_step) % period};
    const bool fits = !in_place || at.in == at.out;
    if (fits && std::find(shifts.begin(), shifts.end(), at) == shifts.end()) shifts.push_back(at);
  }
  return shifts;
}

// Starts FFTW's threads once per precision; called under the planner lock.
template <class Real>
void start_fftw_threads() {
  static bool started = false;
  if (!started) fftw_api<Real>::start_threads();
  started = true;
}

template <class Real>
class fftw_direction_plan final : public direction_plan {
public:
  using api = fftw_api<Real>;
  using complex = std::complex<Real>;

  ~fftw_direction_plan() override {
    std::lock_guard<std::mutex> lock(planner_mutex());
    for (const aligned_plan& a : aligned_) api::destroy(a.plan);
    if (unaligned_ != nullptr) api::destroy(unaligned_);
  }

  // Plans the route; false when FFTW has no plan for it.
  bool plan(const direction_layout& whole, plan_route route, bool destroy_input_allowed,
            int threads, planning_effort effort) {
    const bool large = points_of(whole) >= measured_points;
    const bool measure = large && effort == planning_effort::measure;
    const bool threaded = points_of(whole) >= threaded_points;
    const std::size_t real_bytes = sizeof(Real), complex_bytes = 2 * sizeof(Real);
    const std::size_t in_bytes = whole.input_is_complex() ? complex_bytes : real_bytes;
    const std::size_t out_bytes = whole.output_is_complex() ? complex_bytes : real_bytes;
    const std::int64_t chunks = large && route == plan_route::direct
                                    ? chunk_count(whole, threads, std::int64_t(in_bytes),
                                                  std::int64_t(out_bytes), alignment_period<Real>())
                                    : 1;
    // A chunked transform plans one chunk on one thread; the chunks run on
    // the threads at execution.
    const direction_layout l = chunks > 1 ? chunk_layout(whole, chunks) : whole;
    chunks_ = chunks;
    threads_ = std::max(threads, 1);
    if (chunks > 1) {
      const int outer = l.batch_rank - 1;
      in_chunk_step_ = l.counts[outer] * l.input.distances[outer];
      out_chunk_step_ = l.counts[outer] * l.output.distances[outer];
    }
    kind_ = l.kind;
    route_ = route;
    scale_ = static_cast<Real>(l.scale);
    in_box_ = box_of(l, side::input);
    out_box_ = box_of(l, side::output);
    in_offset_ = l.input.offset;
    out_offset_ = l.output.offset;
    const element_box fftw_in = route == plan_route::gather_input ? packed_box(in_box_) : in_box_;
    const element_box fftw_out =
        route == plan_route::scatter_output ? packed_box(out_box_) : out_box_;
    const bool fftw_in_place = l.in_place && route == plan_route::direct;

    // FFTW may destroy the input of c2r transforms; a packed copy or an
    // in-place transform may be destroyed, the caller's input otherwise not.
    const bool may_destroy = l.in_place || route == plan_route::gather_input ||
                             (l.kind == transform_kind::c2r && destroy_input_allowed);
    const unsigned input_rule = may_destroy ? FFTW_DESTROY_INPUT : FFTW_PRESERVE_INPUT;
    const fftw_dims d = dims_of(l, fftw_in, fftw_out);

    const std::vector<byte_shift> shifts =
        chunks > 1 ? chunk_start_shifts(chunks, in_chunk_step_ * std::int64_t(in_bytes),
                                        out_chunk_step_ * std::int64_t(out_bytes),
                                        alignment_period<Real>(), fftw_in_place)
                   : std::vector<byte_shift>{byte_shift{}};
    std::lock_guard<std::mutex> lock(planner_mutex());
    start_fftw_threads<Real>();
    // The aligned plans share one bound on measuring; once it has passed,
    // the plans left are estimates.
    double seconds_left = planning_seconds;
    for (const byte_shift& shift : shifts) {
      const bool measure_this = measure && seconds_left > 0;
      api::set_planning(threaded && chunks == 1 ? threads_ : 1, std::max(seconds_left, 0.0));
      planning_arrays<Real> arrays(fftw_in, in_bytes, fftw_out, out_bytes, fftw_in_place,
                                   measure_this, shift);
      if (!arrays.ready()) continue;
      const auto start = std::chrono::steady_clock::now();
      typename api::plan p = make(l, d, arrays.input(), arrays.output(),
                                  input_rule | (measure_this ? FFTW_MEASURE : FFTW_ESTIMATE));
      const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
      seconds_left -= spent.count();
      if (p != nullptr)
        aligned_.push_back({p, api::alignment_of(arrays.input()), api::alignment_of(arrays.output())});
      // FFTW stops measuring only once the bound has passed; a first plan
      // that took that long is its estimate, and the problem cannot be
      // measured within the bound.
      if (shift == shifts.front()) out_of_time_ = measure_this && seconds_left <= 0;
    }
    planning_arrays<Real> placeholders(fftw_in, in_bytes, fftw_out, out_bytes, fftw_in_place,
                                       false);
    if (!placeholders.ready()) return false;
    unaligned_ = make(l, d, placeholders.input(), placeholders.output(),
                      input_rule | FFTW_ESTIMATE | FFTW_UNALIGNED);
    return unaligned_ != nullptr;
  }

  int execute(void* input, void* output) const override {
    switch (kind_) {
      case transform_kind::c2c: return run<complex, complex>(input, output);
      case transform_kind::r2c: return run<Real, complex>(input, output);
      case transform_kind::c2r: return run<complex, Real>(input, output);
    }
    return status_unimplemented;
  }

  plan_route route() const override { return route_; }
  bool measuring_ran_out_of_time() const override { return out_of_time_; }

private:
  static typename api::plan make(const direction_layout& l, const fftw_dims& d, void* in,
                                 void* out, unsigned flags) {
    switch (l.kind) {
      case transform_kind::c2c:
        return api::dft(d.rank, d.dims, d.howmany_rank, d.howmany, in, out, l.sign, flags);
      case transform_kind::r2c:
        return api::r2c(d.rank, d.dims, d.howmany_rank, d.howmany, in, out, flags);
      case transform_kind::c2r:
        return api::c2r(d.rank, d.dims, d.howmany_rank, d.howmany, in, out, flags);
    }
    return nullptr;
  }

  // An aligned plan serves arrays aligned as the ones it was planned on
  // (FFTW's rule for the new-array execute functions); the unaligned plan
  // serves any others.
  void execute_plan(void* in, void* out) const {
    const int in_alignment = api::alignment_of(in), out_alignment = api::alignment_of(out);
    for (const aligned_plan& a : aligned_)
      if (a.in_alignment == in_alignment && a.out_alignment == out_alignment) {
        api::execute(a.plan, kind_, in, out);
        return;
      }
    api::execute(unaligned_, kind_, in, out);
  }

  template <class In, class Out>
  int run(void* input, void* output) const {
    In* in = static_cast<In*>(input) + in_offset_;
    Out* out = static_cast<Out*>(output) + out_offset_;
    fftw_buffer<Real> dense;
    if (route_ == plan_route::gather_input) {
      dense.reset(api::allocate(sizeof(In) * static_cast<std::size_t>(in_box_.elements())));
      if (!dense) return status_allocation_failed;
      gather(in, in_box_, static_cast<In*>(dense.get()));
      execute_plan(dense.get(), out);
    } else if (route_ == plan_route::scatter_output) {
      dense.reset(api::allocate(sizeof(Out) * static_cast<std::size_t>(out_box_.elements())));
      if (!dense) return status_allocation_failed;
      execute_plan(in, dense.get());
      scatter(static_cast<const Out*>(dense.get()), out_box_, out, scale_);
      return status_success;
    } else if (chunks_ > 1) {
      run_chunks(in, out);
      return status_success;
    } else {
      execute_plan(in, out);
    }
    if (scale_ != Real(1)) scale_in_place(out, out_box_, scale_);
    return status_success;
  }

  // Runs the chunks on the calling thread and up to threads_ - 1 helpers of
  // the engine's thread team, each taking the next chunk left; a chunk is
  // scaled while it is still in cache.
  template <class In, class Out>
  void run_chunks(In* in, Out* out) const {
    struct job {
      const fftw_direction_plan* plan;
      In* in;
      Out* out;
      std::atomic<std::int64_t> next{0};
    } j{this, in, out};
    const auto work = [](void* context) {
      job& j = *static_cast<job*>(context);
      const fftw_direction_plan& p = *j.plan;
      for (std::int64_t c = j.next.fetch_add(1); c < p.chunks_; c = j.next.fetch_add(1)) {
        Out* chunk_out = j.out + c * p.out_chunk_step_;
        p.execute_plan(j.in + c * p.in_chunk_step_, chunk_out);
        if (p.scale_ != Real(1)) scale_in_place(chunk_out, p.out_box_, p.scale_);
      }
    };
    const std::int64_t helpers = std::min<std::int64_t>(threads_, chunks_) - 1;
    engine_thread_team().run(static_cast<int>(helpers), work, &j);
  }

  struct aligned_plan {
    typename api::plan plan;
    int in_alignment;  // FFTW's alignment_of of the arrays it was planned on
    int out_alignment;
  };
  std::vector<aligned_plan> aligned_;  // the first chunk's alignment first
  typename api::plan unaligned_ = nullptr;
  std::int64_t chunks_ = 1;          // chunks along the outermost batch dimension
  std::int64_t in_chunk_step_ = 0;   // elements from one chunk's input to the next
  std::int64_t out_chunk_step_ = 0;  // and from one chunk's output to the next
  int threads_ = 1;
  bool out_of_time_ = false;
  transform_kind kind_ = transform_kind::c2c;
  plan_route route_ = plan_route::direct;
  Real scale_ = 1;
  element_box in_box_;
  element_box out_box_;
  std::int64_t in_offset_ = 0;
  std::int64_t out_offset_ = 0;
};

// The routes worth trying for a layout, best first.
int candidate_routes(const direction_layout& l, bool destroy_input_allowed, plan_route* routes) {
  const std::int64_t in_bytes = l.input.offset * (l.input_is_complex() ? 2 : 1);
  const std::int64_t out_bytes = l.output.offset * (l.output_is_complex() ? 2 : 1);
  int n = 0;
  if (l.in_place) {
    // FFTW works in place only when both sides start at the same address.
    if (in_bytes == out_bytes) routes[n++] = plan_route::direct;
    routes[n++] = plan_route::scatter_output;
  } else if (l.kind == transform_kind::c2r && !destroy_input_allowed) {
    // FFTW keeps a c2r input only in one dimension; otherwise work on a copy.
    if (l.rank == 1) routes[n++] = plan_route::direct;
    routes[n++] = plan_route::gather_input;
  } else {
    routes[n++] = plan_route::direct;
  }
  return n;
}

template <class Real>
int make_plan(const direction_layout& l, bool destroy_input_allowed, int threads,
              planning_effort effort, std::shared_ptr<const direction_plan>* plan) {
  plan_route routes[2];
  const int n = candidate_routes(l, destroy_input_allowed, routes);
  for (int i = 0; i < n; ++i) {
    std::shared_ptr<fftw_direction_plan<Real>> p(new (std::nothrow) fftw_direction_plan<Real>);
    if (!p) return status_allocation_failed;
    if (p->plan(l, routes[i], destroy_input_allowed, threads, effort)) {
      *plan = std::move(p);
      return status_success;
    }
  }
  return status_unimplemented;
}

}  // namespace

int make_direction_plan(const direction_layout& layout, bool double_precision,
                        bool destroy_input_allowed, int threads,
                        std::shared_ptr<const direction_plan>* plan, planning_effort effort) {
  plan_cache& cache = shared_plan_cache();
  plan_key key = key_of(layout, double_precision, destroy_input_allowed, threads, effort);
  if ((*plan = cache.find(key))) return status_success;
  const int status =
      double_precision ? make_plan<double>(layout, destroy_input_allowed, threads, effort, plan)
                       : make_plan<float>(layout, destroy_input_allowed, threads, effort, plan);
  if (status == status_success) cache.keep(std::move(key), *plan);
  return status;
}

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
