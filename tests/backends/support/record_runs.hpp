// Transforms run through a committed record's compute entry on random data
// (USM or buffer) and measured against the long-double reference; the
// bounds of a length, the assertion on a run, and the workspace estimate
// configuration of a rank-1 complex record.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace backend_test {

// The words the tests use for a record and a run.
enum class precision { single_precision, double_precision };
enum class container { usm, buffer };
enum class direction { forward, backward };

inline bool is_double(precision p) { return p == precision::double_precision; }

struct run_result {
  int status = -1;
  qez_test::accuracy error;
  // Output positions outside every transform that the compute changed.
  std::int64_t stray_writes = 0;
};

// `count` transforms of `length` packed one after the other.
struct packed_data {
  std::int64_t length = 1;
  std::int64_t count = 1;
  bool in_place = false;
  std::uint64_t seed = 0;
};

// The random input of a packed run and what the compute left in the result.
struct packed_outcome {
  int status = -1;
  std::vector<qez_test::cld> input;
  std::vector<qez_test::cld> output;
};

// One direction through the compute entry on random packed data; the
// output is read back only when the entry succeeded.
packed_outcome run_packed(DFTI_DESCRIPTOR* record, bool double_precision, const packed_data& d, bool forward,
                          bool usm);

// The outcome against the scaled reference, over `transforms` (empty: the
// whole batch at once).
run_result measure_packed(const packed_outcome& o, const packed_data& d, bool forward, long double scale,
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
// over the whole container; `sample` lists the transforms measured (empty:
// all).
run_result run_distanced(DFTI_DESCRIPTOR* record, bool double_precision, const distanced_data& d, bool forward,
                         bool usm, long double scale, const std::vector<std::int64_t>& sample = {});

qez_test::accuracy_bounds bounds_of(bool double_precision, std::int64_t length);
inline qez_test::accuracy_bounds bounds_of(precision p, std::int64_t length) { return bounds_of(is_double(p), length); }

// The estimate configuration of a rank-1 complex record with unit strides.
ulmara::qez::dft::dft_estimate_config estimate_config_c2c_1d(std::int64_t length, std::int64_t count,
                                                             std::int64_t fwd_distance, std::int64_t bwd_distance,
                                                             std::uint32_t directions, bool in_place);

// Two forward USM computes of `count` packed transforms of `length`
// submitted back to back without dependencies between them (on an
// out-of-order queue): both results within the double-precision bounds.
void expect_back_to_back_usm_computes(DFTI_DESCRIPTOR* record, std::int64_t length, std::int64_t count);

}  // namespace backend_test

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

namespace backend_test {

// A committed record that owns no workspace: nothing runs before the
// workspace arrives; then with a USM workspace, and with a fresh buffer
// that replaces it, both directions are accurate. `run(forward, usm)` runs
// one direction; `backward_on_usm` is the container of the first backward
// run.
template <class Run>
void expect_caller_workspace_sequence(DFTI_DESCRIPTOR* record, caller_workspace& workspace, const Run& run,
                                      const qez_test::accuracy_bounds& bounds, bool backward_on_usm) {
  EXPECT_EQ(run(true, true).status, ulmara::qez::dft::status_no_workspace);
  const std::uint64_t bytes = workspace_bytes(record);
  ASSERT_EQ(workspace.give_usm(record, bytes), 0);
  EXPECT_RUN_ACCURATE(run(true, true), bounds);
  EXPECT_RUN_ACCURATE(run(false, backward_on_usm), bounds);
  // A second workspace replaces the first: fresh tables in a buffer.
  ASSERT_EQ(workspace.give_buffer(record, bytes), 0);
  EXPECT_RUN_ACCURATE(run(true, false), bounds);
  EXPECT_RUN_ACCURATE(run(false, true), bounds);
}

}  // namespace backend_test
