// Four-factor column-batch records committed on the GPU (PoCL under a GPU
// profile) through a list that holds only this backend and the terminator,
// and transforms run through their compute entries against the long-double
// reference. Element n of transform t of outer index o lies at complex
// offset o * outer_distance + t + n * stride on each side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace colbatch_test {

namespace dft = ulmara::qez::dft;
namespace cb = ulmara::qez::dft::four_factor_colbatch;

// One side of the data: stride of the transform dimension and distance of
// the second batch dimension, in complex elements.
struct side_layout {
  std::int64_t stride = 0;          // 0: the number of transforms
  std::int64_t outer_distance = 0;  // 0: stride * length (only with outer_count)
};

struct record_config {
  bool double_precision = true;
  std::int64_t length = 4096;
  std::int64_t count = 20;        // first batch dimension (distance 1)
  std::int64_t outer_count = 0;   // second batch dimension; 0: none
  bool io_layout = false;         // input/output instead of forward/backward domain
  side_layout first_side;         // forward domain (or input)
  side_layout second_side;        // backward domain (or output)
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
};

// The layout of a side with its defaults filled in.
side_layout resolved(const record_config& c, const side_layout& s);

class committed_record {
 public:
  explicit committed_record(const record_config& c);
  ~committed_record();
  committed_record(const committed_record&) = delete;
  committed_record& operator=(const committed_record&) = delete;

  int commit_status() const { return commit_status_; }
  DFTI_DESCRIPTOR* record() const { return record_; }
  const record_config& config() const { return config_; }
  // Committed, and to the column-batch backend of the record's precision.
  bool committed_here() const;
  template <class T>
  cb::four_fact_colbatch_state<T>& plan() const {
    return *static_cast<cb::four_fact_colbatch_state<T>*>(record_->bkd_data);
  }
  std::string description() const;
  backend_test::caller_workspace& workspace() { return workspace_; }
  // Commits the record again with new scales; the commit's status.
  int recommit_with_scales(double fwd_scale, double bwd_scale);

 private:
  record_config config_;
  backend_test::caller_workspace workspace_;  // outlives the record (declared first)
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
};

struct run_result {
  int status = -1;
  qez_test::accuracy error;
  // Output positions outside every transform that the compute changed.
  std::int64_t stray_writes = 0;
};

// One direction on random data through the compute entry.
run_result run_and_measure(const committed_record& r, bool forward, bool usm);

qez_test::accuracy_bounds bounds_of(bool double_precision, std::int64_t length);

#define EXPECT_ACCURATE(run, dp, n)                                                       \
  do {                                                                                    \
    const ::colbatch_test::run_result r_ = (run);                                         \
    EXPECT_EQ(r_.status, 0);                                                              \
    EXPECT_EQ(r_.stray_writes, 0);                                                        \
    const ::qez_test::accuracy_bounds b_ = ::colbatch_test::bounds_of((dp), (n));         \
    EXPECT_TRUE(::qez_test::within(r_.error, b_)) << ::qez_test::describe(r_.error, b_); \
    ::backend_test::report_in_bound_units(r_.error, b_);                                  \
  } while (0)

}  // namespace colbatch_test
