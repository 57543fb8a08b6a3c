// Records of the large one-dimensional backend committed on the GPU (PoCL
// under a GPU profile) through the ordinary complex list, their children,
// workspaces, and transforms run through the compute entries against the
// long-double reference.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_slm_large/large_1d/plan.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace large_test {

namespace dft = ulmara::qez::dft;
namespace l1 = ulmara::qez::dft::large_1d;

enum class precision { single_precision, double_precision };

struct record_config {
  precision p = precision::double_precision;
  std::int64_t length = std::int64_t{1} << 21;
  std::int64_t count = 1;
  std::int64_t in_distance = 0;   // 0: the length (1 transform: left unset)
  std::int64_t out_distance = 0;  // 0: the input distance
  bool in_place = false;
  bool internal_workspace = true;
  bool child_mark = false;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
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
  // Committed, and to this backend.
  bool committed_here() const;
  template <class T>
  const l1::large_1d_bkd_data<T>& plan() const {
    return *static_cast<const l1::large_1d_bkd_data<T>*>(record_->bkd_data);
  }
  DFTI_DESCRIPTOR* column_child() const;
  DFTI_DESCRIPTOR* row_child() const;
  std::string description() const;

  int give_buffer_workspace();
  int give_usm_workspace();

 private:
  record_config config_;
  backend_test::caller_workspace workspace_;  // outlives the record
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
};

struct run_result {
  int status = -1;
  qez_test::accuracy error;
};

// One direction on random data through the compute entry (USM or buffer).
run_result run_and_measure(const committed_record& r, bool forward, bool usm);

qez_test::accuracy_bounds bounds_of(precision p, std::int64_t length);

#define EXPECT_LARGE_ACCURATE(run, p, n)                                                  \
  do {                                                                                    \
    const ::large_test::run_result r_ = (run);                                            \
    EXPECT_EQ(r_.status, 0);                                                              \
    const ::qez_test::accuracy_bounds b_ = ::large_test::bounds_of((p), (n));             \
    EXPECT_TRUE(::qez_test::within(r_.error, b_)) << ::qez_test::describe(r_.error, b_); \
    ::backend_test::report_in_bound_units(r_.error, b_);                                  \
  } while (0)

}  // namespace large_test
