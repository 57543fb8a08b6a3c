// Records committed to the two-factor backend on the GPU (PoCL under a GPU
// profile), and transforms run through their compute entries on USM or
// buffers, checked against the long-double reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/plan.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace two_factor_test {

using ulmara::qez::dft::two_factor::block;

using backend_test::container;
using backend_test::precision;
enum class workspace_source { internal, caller_usm, caller_buffer };
enum class placement { in_place, out_of_place };
enum class distance_convention { forward_backward, input_output };

struct record_config {
  precision p = precision::single_precision;
  std::int64_t n = 16;
  std::int64_t howmany = 1;
  std::int64_t in_distance = 0;   // 0: packed (n) for several transforms
  std::int64_t out_distance = 0;
  distance_convention convention = distance_convention::forward_backward;
  placement place = placement::out_of_place;
  workspace_source workspace = workspace_source::internal;
  std::uint32_t directions = 2;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  std::int64_t fused_twiddle_length = 0;
  std::int64_t in_offset = 0;
};

// The queue every record of a test process uses.
sycl::queue& test_queue();

// A record of the configuration, committed through the record's method
// table; destroyed (with its caller workspace) when the case goes.
class committed_record : public backend_test::committed_case<record_config, block> {
 public:
  explicit committed_record(const record_config& c);

  bool committed_by_two_factor() const;
  // The committed plan in one line (for messages).
  std::string describe() const;
  // Hands the caller's workspace over (when the configuration asks for one).
  int give_workspace();
};

using backend_test::direction;

// Runs one direction on random data through the record's compute entry and
// measures it against the reference (scale of the direction included).
qez_test::accuracy run_and_measure(const committed_record& r, direction d, container c);

qez_test::accuracy_bounds bounds_of(const record_config& c);

}  // namespace two_factor_test
