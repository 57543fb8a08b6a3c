// Four-factor records committed on the GPU (PoCL under a GPU profile)
// through a list that holds only the four-factor backend and the
// terminator, and transforms run through their compute entries against the
// long-double reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace four_factor_test {

namespace dft = ulmara::qez::dft;
namespace ff = ulmara::qez::dft::four_factor;

struct record_config {
  bool double_precision = true;
  std::int64_t length = 2048;
  std::int64_t count = 1;
  bool io_distances = false;     // input/output instead of forward/backward distances
  std::int64_t in_distance = 0;  // 0: the length (input side, or forward domain)
  std::int64_t out_distance = 0; // 0: the length (output side, or backward domain)
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  bool library_list = false;  // the library's own list instead of this backend alone
  sycl::queue* queue = nullptr;  // null: the test process's out-of-order queue
};

class committed_record {
 public:
  explicit committed_record(const record_config& c);
  ~committed_record();
  committed_record(const committed_record&) = delete;
  committed_record& operator=(const committed_record&) = delete;

  int commit_status() const { return commit_status_; }
  DFTI_DESCRIPTOR* record() const { return record_; }
  const record_config& config() const { return config_; }
  // Committed, and to the four-factor backend of the record's precision.
  bool committed_here() const;
  template <class T>
  ff::four_fact_state<T>& plan() const {
    return *static_cast<ff::four_fact_state<T>*>(record_->bkd_data);
  }
  std::string description() const;
  backend_test::caller_workspace& workspace() { return workspace_; }

 private:
  record_config config_;
  backend_test::caller_workspace workspace_;  // outlives the record (declared first)
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
};

// The four-factor table of a precision.
const dft::backend_table* table_of(bool double_precision);

struct run_result {
  int status = -1;
  qez_test::accuracy error;
};

// One direction on random data through the compute entry; `sample` lists the
// transforms measured (empty: all).
run_result run_and_measure(const committed_record& r, bool forward, bool usm,
                           const std::vector<std::int64_t>& sample = {});

qez_test::accuracy_bounds bounds_of(bool double_precision, std::int64_t length);

// The library's workspace estimate for the record's configuration.
std::int64_t estimator_of(const record_config& c);

#define EXPECT_ACCURATE(run, dp, n)                                                        \
  do {                                                                                     \
    const ::four_factor_test::run_result r_ = (run);                                       \
    EXPECT_EQ(r_.status, 0);                                                               \
    const ::qez_test::accuracy_bounds b_ = ::four_factor_test::bounds_of((dp), (n));       \
    EXPECT_TRUE(::qez_test::within(r_.error, b_)) << ::qez_test::describe(r_.error, b_);  \
    ::backend_test::report_in_bound_units(r_.error, b_);                                   \
  } while (0)

}  // namespace four_factor_test
