// Very large 1D records committed on the GPU (PoCL under a GPU profile),
// either through a list that holds only the very large backend and the
// terminator, or through the library's own list, and the data of huge
// transforms checked against FFTW in double precision.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"

namespace very_large_test {

namespace dft = ulmara::qez::dft;
namespace vl = ulmara::qez::dft::very_large_1d;

using backend_test::container;
using backend_test::direction;

struct record_config {
  bool real = false;
  std::int64_t length = std::int64_t{1} << 25;
  std::int64_t count = 1;
  bool io_distances = false;       // input/output instead of forward/backward distances
  std::int64_t first_distance = 0;   // input (or forward-domain) distance; 0: not set
  std::int64_t second_distance = 0;  // output (or backward-domain) distance; 0: not set
  bool in_place = false;
  bool internal_workspace = false;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  bool child_mark = false;
  bool library_list = false;  // the library's own list instead of this backend alone
};

class committed_record {
 public:
  explicit committed_record(const record_config& c);
  ~committed_record();
  committed_record(const committed_record&) = delete;
  committed_record& operator=(const committed_record&) = delete;

  int commit_status() const { return commit_status_; }
  DFTI_DESCRIPTOR* record() const { return record_; }
  // Committed, and to the very large backend.
  bool committed_here() const;
  const vl::block& plan() const { return *vl::block_of(record_); }
  DFTI_DESCRIPTOR* child(int stage, int j) const { return plan().children[vl::child_slot(stage, j)]; }
  // The child's label up to its terminator.
  std::string child_name(int stage, int j) const;
  backend_test::caller_workspace& workspace() { return workspace_; }

 private:
  backend_test::caller_workspace workspace_;  // outlives the record (declared first)
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
};

// The children of every stage can be committed: a stage-0 child plan of the
// smallest length is accepted by the list (a backend that takes
// post-twiddled column batches is in it).
bool stage_children_available();
#define REQUIRE_STAGE_CHILDREN() \
  ASSERT_TRUE(stage_children_available()) << "no backend of the list takes post-twiddled children"

// Error of a single-precision result against a double-precision reference,
// accumulated value by value.
using error_sum = qez_test::error_accumulator;

// Asserts that `e` meets the bounds of single precision for length n.
void expect_single_precision_accuracy(const error_sum& e, std::int64_t n);

// Deterministic data in [-1, 1).
std::vector<float> random_floats(std::int64_t count, std::uint64_t seed);

}  // namespace very_large_test
