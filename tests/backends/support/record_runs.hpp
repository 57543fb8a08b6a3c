// Transforms run through a committed record's compute entry on random data
// (USM or buffer) and measured against the long-double reference; the
// bounds of a length, the assertion on a run, and the workspace estimate
// configuration of a rank-1 complex record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/backends/support/run_words.hpp"
#include "tests/support/accuracy.hpp"

namespace backend_test {

struct run_result {
  int status = -1;
  qez_test::accuracy error;
  // Output positions outside every transform that the compute changed.
  std::int64_t stray_writes = 0;
};

// Position k of an array that holds `count` transforms of `length`, each
// `distance` apart (0 for a single transform), lies inside a transform.
inline bool inside_a_transform(std::int64_t k, std::int64_t length, std::int64_t count, std::int64_t distance) {
  if (k < 0 || k >= distance * (count - 1) + length) return false;
  return distance == 0 ? k < length : k % distance < length;
}

// `count` transforms of `length` packed one after the other.
struct packed_data {
  std::int64_t length = 1;
  std::int64_t count = 1;
  bool in_place = false;
  std::uint64_t seed = 0;
};

// The random input of a packed run, what the compute left in the result,
// and how many values of the guard zone after the result it changed.
struct packed_outcome {
  int status = -1;
  std::vector<qez_test::cld> input;
  std::vector<qez_test::cld> output;
  // Positions of the result's guard zones that the compute changed.
  std::int64_t stray_writes = 0;
};

// One direction through the compute entry on random packed data inside
// guard zones; the output is read back only when the entry succeeded.
packed_outcome run_packed(DFTI_DESCRIPTOR* record, precision p, const packed_data& d, direction dir, container c);

// The outcome against the scaled reference, over `transforms` (empty: the
// whole batch at once). The reference is FFTW's long double, or its double
// precision when the measured transforms hold more than
// long_double_reference_values values.
constexpr std::int64_t long_double_reference_values = std::int64_t{1} << 22;
run_result measure_packed(const packed_outcome& o, const packed_data& d, direction dir, long double scale,
                          const std::vector<std::int64_t>& transforms = {});

// `count` transforms of `length`, each `read_distance` apart in the input
// and `write_distance` apart in the result.
struct distanced_data {
  std::int64_t length = 1;
  std::int64_t count = 1;
  std::int64_t read_distance = 0;
  std::int64_t write_distance = 0;
  bool in_place = false;
  std::uint64_t seed = 0;
};

// One direction through the compute entry on deterministic data in [-1, 1)
// over the whole container, inside guard zones (positions between the
// transforms count as guards too); `sample` lists the transforms measured
// (empty: all).
run_result run_distanced(DFTI_DESCRIPTOR* record, precision p, const distanced_data& d, direction dir, container c,
                         long double scale, const std::vector<std::int64_t>& sample = {});

qez_test::accuracy_bounds bounds_of(bool double_precision, std::int64_t length);
inline qez_test::accuracy_bounds bounds_of(precision p, std::int64_t length) { return bounds_of(is_double(p), length); }

// The record holds nothing of a backend, as before its commit: no table, no
// private block, no compute entry and no workspace size.
void expect_no_backend_state(const DFTI_DESCRIPTOR* record);

// The workspace estimate that backend class `Backend` (a template over the
// scalar type) gives for `c` in the precision.
template <template <class> class Backend>
std::int64_t estimate_of(bool double_precision, const ulmara::qez::dft::dft_estimate_config& c) {
  return double_precision ? Backend<double>().workspace_estimate(c) : Backend<float>().workspace_estimate(c);
}

// The estimate configuration of a rank-1 complex record with unit strides.
ulmara::qez::dft::dft_estimate_config estimate_config_c2c_1d(std::int64_t length, std::int64_t count,
                                                             std::int64_t fwd_distance, std::int64_t bwd_distance,
                                                             std::uint32_t directions, bool in_place);

// Where element n of transform t of a batch lies in its array: at
// t * length + n (packed), or at t + n * count (interleaved columns).
enum class batch_layout { packed, interleaved };

// Two forward USM computes of `count` transforms of `length` submitted back
// to back without dependencies between them (on an out-of-order queue):
// both results, times `scale`, within the bounds of the precision.
void expect_back_to_back_usm_computes(DFTI_DESCRIPTOR* record, std::int64_t length, std::int64_t count,
                                      precision p = precision::double_precision,
                                      batch_layout layout = batch_layout::packed, long double scale = 1.0L);

// How many forward computes run back to back, and on which data.
struct back_to_back {
  int count = 2;
  container data = container::usm;
};

// The same for `calls.count` computes on `calls.data`: each result within
// the bounds.
void expect_back_to_back_computes(DFTI_DESCRIPTOR* record, std::int64_t length, std::int64_t count,
                                  const back_to_back& calls, precision p = precision::double_precision,
                                  batch_layout layout = batch_layout::packed, long double scale = 1.0L);

}  // namespace backend_test

namespace backend_test {

// A run through the public interface measured against the bounds it
// carries.
struct bounded_run {
  qez_test::accuracy error;
  qez_test::accuracy_bounds bounds{};
  int status = 0;  // of the compute call, where the run reports one
};

// Prints what the run was and its errors in units of their bounds.
void report_bounded_run(const bounded_run& r, const std::string& what);

}  // namespace backend_test

// A test's assertion on a bounded run: status 0 and errors within the
// bounds; `what` names the run in messages.
#define EXPECT_WITHIN_BOUNDS(run, what)                                 \
  do {                                                                  \
    const ::backend_test::bounded_run r_ = (run);                       \
    EXPECT_EQ(r_.status, 0) << (what);                                  \
    EXPECT_TRUE(::qez_test::within(r_.error, r_.bounds))                \
        << (what) << ": " << ::qez_test::describe(r_.error, r_.bounds); \
    ::backend_test::report_bounded_run(r_, what);                       \
  } while (0)

// A test's assertion on a run: status 0, nothing written outside the
// transforms, and errors within the bounds (printed in their units).
#define EXPECT_RUN_ACCURATE(run, bounds)                                                  \
  do {                                                                                    \
    const ::backend_test::run_result r_ = (run);                                          \
    EXPECT_EQ(r_.status, 0);                                                              \
    EXPECT_EQ(r_.stray_writes, 0);                                                        \
    const ::qez_test::accuracy_bounds b_ = (bounds);                                      \
    EXPECT_TRUE(::qez_test::within(r_.error, b_)) << ::qez_test::describe(r_.error, b_); \
    ::backend_test::report_in_bound_units(r_.error, b_);                                  \
  } while (0)

// A test's assertion on a run of `length` points in a precision (a
// precision or whether it is double).
#define EXPECT_ACCURATE(run, precision, length) \
  EXPECT_RUN_ACCURATE((run), ::backend_test::bounds_of((precision), (length)))

namespace backend_test {

// A committed record that owns no workspace: nothing runs before the
// workspace arrives; then with a USM workspace, and with a fresh buffer
// that replaces it, both directions are accurate. `run(direction,
// container)` runs one direction; `first_backward` is the container of the
// first backward run.
template <class Run>
void expect_caller_workspace_sequence(DFTI_DESCRIPTOR* record, caller_workspace& workspace, const Run& run,
                                      const qez_test::accuracy_bounds& bounds, container first_backward) {
  EXPECT_EQ(run(direction::forward, container::usm).status, ulmara::qez::dft::status_no_workspace);
  const std::uint64_t bytes = workspace_bytes(record);
  ASSERT_EQ(workspace.give_usm(record, bytes), 0);
  EXPECT_RUN_ACCURATE(run(direction::forward, container::usm), bounds);
  EXPECT_RUN_ACCURATE(run(direction::backward, first_backward), bounds);
  // A second workspace replaces the first: fresh tables in a buffer.
  ASSERT_EQ(workspace.give_buffer(record, bytes), 0);
  EXPECT_RUN_ACCURATE(run(direction::forward, container::buffer), bounds);
  EXPECT_RUN_ACCURATE(run(direction::backward, container::usm), bounds);
}

}  // namespace backend_test
