// 8192-point records committed on the GPU (PoCL under a GPU profile) through
// the record's method table, their workspaces, and transforms run through
// their compute entries on USM or buffers against the long-double reference.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/eight_k/plan.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace eight_k_test {

namespace dft = ulmara::qez::dft;
namespace ek = ulmara::qez::dft::eight_k;

constexpr std::int64_t n = 8192;

enum class precision { single_precision, double_precision };
enum class container { usm, buffer };
enum class distances { forward_backward, input_output, none };

struct record_config {
  precision p = precision::double_precision;
  std::int64_t length = n;
  std::int64_t count = 1;
  distances convention = distances::forward_backward;
  std::int64_t in_distance = n;
  std::int64_t out_distance = n;
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
};

// The out-of-order queue every record of a test process uses, and an
// in-order one.
sycl::queue& test_queue();
sycl::queue& in_order_queue();

// A record of the configuration, committed through the method table;
// destroyed before the caller workspaces it was given.
class committed_record {
 public:
  explicit committed_record(const record_config& c, sycl::queue* q = &test_queue());
  ~committed_record();
  committed_record(const committed_record&) = delete;
  committed_record& operator=(const committed_record&) = delete;

  int commit_status() const { return commit_status_; }
  DFTI_DESCRIPTOR* record() const { return record_; }
  const record_config& config() const { return config_; }
  bool committed_here() const;
  template <class T>
  const ek::block<T>& plan() const {
    return *static_cast<const ek::block<T>*>(record_->bkd_data);
  }
  std::uint64_t workspace_bytes() const { return record_->workspace_bytes[0] + record_->workspace_bytes[1]; }

  // Hands a fresh caller workspace of the committed size over.
  int give_buffer_workspace();
  int give_usm_workspace();
  sycl::buffer<char, 1>* buffer_workspace() const { return workspace_.buffer(); }
  void* usm_workspace() const { return workspace_.usm(); }

 private:
  record_config config_;
  sycl::queue* queue_;
  backend_test::caller_workspace workspace_;  // outlives the record
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
};

enum class direction { forward, backward };

struct run_result {
  int status = -1;
  qez_test::accuracy error;
};

// One direction on random data through the record's compute entry,
// measured against the reference with the direction's scale.
run_result run_and_measure(const committed_record& r, direction d, container c);

qez_test::accuracy_bounds bounds_of(precision p);

// Prints the errors in units of their bounds (for the test log).
void report_in_bound_units(const qez_test::accuracy& a, const qez_test::accuracy_bounds& b);

// A test's assertion on a run: status 0 and errors within the bounds.
#define EXPECT_ACCURATE(run, p)                                                           \
  do {                                                                                    \
    const ::eight_k_test::run_result r_ = (run);                                          \
    EXPECT_EQ(r_.status, 0);                                                              \
    const ::qez_test::accuracy_bounds b_ = ::eight_k_test::bounds_of(p);                  \
    EXPECT_TRUE(::qez_test::within(r_.error, b_)) << ::qez_test::describe(r_.error, b_); \
    ::eight_k_test::report_in_bound_units(r_.error, b_);                                  \
  } while (0)

}  // namespace eight_k_test
