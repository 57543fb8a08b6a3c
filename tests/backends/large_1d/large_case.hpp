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
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace large_test {

namespace dft = ulmara::qez::dft;
namespace l1 = ulmara::qez::dft::large_1d;

using backend_test::precision;

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

class committed_record : public backend_test::committed_case<record_config, l1::block> {
 public:
  explicit committed_record(const record_config& c);

  // Committed, and to this backend.
  bool committed_here() const;
  DFTI_DESCRIPTOR* column_child() const;
  DFTI_DESCRIPTOR* row_child() const;
  std::string description() const;
};

using backend_test::run_result;

// One direction on random data through the compute entry (USM or buffer).
run_result run_and_measure(const committed_record& r, bool forward, bool usm);

using backend_test::bounds_of;

#define EXPECT_LARGE_ACCURATE(run, p, n) EXPECT_RUN_ACCURATE((run), ::large_test::bounds_of((p), (n)))

}  // namespace large_test
