// Records of the pre-twiddle n-factor SLM backend committed on the GPU
// (PoCL under a GPU profile) through its one-entry list, and their
// transforms checked against the long-double reference with the inter-step
// twiddle exp(-+2 pi i b k / (N x howmany)) applied.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm_pre_twiddle/plan.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace pretw_test {

namespace dft = ulmara::qez::dft;
namespace pt = ulmara::qez::dft::pretw_slm;

enum class precision { single_precision, double_precision };

struct record_config {
  precision p = precision::double_precision;
  std::int64_t length = 2048;
  std::int64_t howmany = 16;
  std::int64_t distance = 0;  // 0: the length
  bool in_place = true;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
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
  bool committed_here() const;
  template <class T>
  const pt::block<T>& plan() const {
    return *static_cast<const pt::block<T>*>(record_->bkd_data);
  }
  std::string description() const;
  std::string options(pt::direction d) const;

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

#define EXPECT_PRETW_ACCURATE(run, p, n)                                                  \
  do {                                                                                    \
    const ::pretw_test::run_result r_ = (run);                                            \
    EXPECT_EQ(r_.status, 0);                                                              \
    const ::qez_test::accuracy_bounds b_ = ::pretw_test::bounds_of((p), (n));             \
    EXPECT_TRUE(::qez_test::within(r_.error, b_)) << ::qez_test::describe(r_.error, b_); \
    ::backend_test::report_in_bound_units(r_.error, b_);                                  \
  } while (0)

}  // namespace pretw_test
