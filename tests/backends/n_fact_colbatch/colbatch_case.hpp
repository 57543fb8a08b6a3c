// Column-batch records committed on the GPU (PoCL under a GPU profile)
// through a list that holds only the n-factor column-batch backend and the
// terminator, and transforms run through their compute entries against the
// long-double reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace colbatch_test {

namespace dft = ulmara::qez::dft;
namespace cb = ulmara::qez::dft::n_fact_colbatch;

// H transforms of N points as adjacent columns with row stride `stride`,
// optionally O such blocks at an outer distance.
struct record_config {
  bool double_precision = true;
  std::int64_t length = 12;     // N
  std::int64_t columns = 6;     // H
  std::int64_t blocks = 1;      // O (a second batch dimension when above 1)
  std::int64_t stride = 0;      // row stride of the input side; 0: H
  std::int64_t out_stride = 0;  // of the output side; 0: the input side's
  std::int64_t outer_in = 0;    // outer distance of the input side; 0: N x stride
  std::int64_t outer_out = 0;   // of the output side; 0: N x output stride (N x H transposed)
  bool io_form = true;          // input/output strides, else forward/backward domain
  bool transposed = false;      // output stride 1, each transform contiguous (distance N)
  std::int64_t in_offset = 0;   // input (or forward-domain) first element
  std::int64_t out_offset = 0;  // output (or backward-domain) first element
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  std::int64_t post_twiddle = 0;
};

// Where element r of transform (o, c) of one side lives, in complex values.
struct side_layout {
  std::int64_t offset, stride, inner, outer;
  std::int64_t at(std::int64_t o, std::int64_t c, std::int64_t r) const {
    return offset + o * outer + c * inner + r * stride;
  }
};
side_layout input_side(const record_config& c, bool forward);
side_layout output_side(const record_config& c, bool forward);

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
  const cb::block<T>& plan() const {
    return *static_cast<const cb::block<T>*>(record_->bkd_data);
  }
  std::string description() const;
  backend_test::caller_workspace& workspace() { return workspace_; }

 private:
  record_config config_;
  backend_test::caller_workspace workspace_;  // outlives the record (declared first)
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
};

struct run_result {
  int status = -1;
  qez_test::accuracy error;
  bool untouched_kept = true;  // values outside the output layout kept (not in place)
};

// One direction on random data through the compute entry.
run_result run_and_measure(const committed_record& r, bool forward, bool usm);

qez_test::accuracy_bounds bounds_of(bool double_precision, std::int64_t length);

#define EXPECT_ACCURATE(run, dp, n)                                                     \
  do {                                                                                  \
    const ::colbatch_test::run_result r_ = (run);                                       \
    EXPECT_EQ(r_.status, 0);                                                            \
    EXPECT_TRUE(r_.untouched_kept) << "values outside the output layout changed";       \
    const ::qez_test::accuracy_bounds b_ = ::colbatch_test::bounds_of((dp), (n));       \
    EXPECT_TRUE(::qez_test::within(r_.error, b_)) << ::qez_test::describe(r_.error, b_); \
    ::backend_test::report_in_bound_units(r_.error, b_);                                \
  } while (0)

}  // namespace colbatch_test
