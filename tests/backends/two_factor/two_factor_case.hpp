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
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace two_factor_test {

using ulmara::qez::dft::two_factor::block;

using backend_test::container;
using backend_test::distance_convention;
using backend_test::placement;
using backend_test::precision;
using backend_test::workspace;

struct record_config {
  precision p = precision::single_precision;
  std::int64_t n = 16;
  std::int64_t howmany = 1;
  std::int64_t in_distance = 0;   // 0: packed (n) for several transforms
  std::int64_t out_distance = 0;
  distance_convention convention = distance_convention::forward_backward;
  placement place = placement::out_of_place;
  backend_test::workspace workspace = workspace::internal;
  std::uint32_t directions = 2;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  std::int64_t fused_twiddle_length = 0;
  std::int64_t in_offset = 0;
};

// `howmany` transforms of `n` in precision `p`, the backward one scaled by
// 1/n, so that a round trip gives the input back.
inline record_config round_trip_config(precision p, std::int64_t n, std::int64_t howmany = 1) {
  record_config c;
  c.p = p;
  c.n = n;
  c.howmany = howmany;
  c.bwd_scale = 1.0 / static_cast<double>(n);
  return c;
}

// The queue every record of a test process uses.
sycl::queue& test_queue();

// A record of the configuration, committed through the record's method
// table; destroyed (with its caller workspace) when the case goes.
using two_factor_backend = backend_test::backend_of<block, ulmara::qez::dft::dft_c2c_2_facts_gpu_bkd_table_double,
                                                    ulmara::qez::dft::dft_c2c_2_facts_gpu_bkd_table_float>;

// A child record on the library's list as its creation binds it.
class committed_record : public backend_test::backend_case<two_factor_backend, record_config> {
 public:
  explicit committed_record(const record_config& c);

  // Hands the caller's workspace over (when the configuration asks for one).
  int give_workspace();
};

using backend_test::direction;

// Runs one direction on random data through the record's compute entry and
// measures it against the reference (scale of the direction included).
qez_test::accuracy run_and_measure(const committed_record& r, direction d, container c);

qez_test::accuracy_bounds bounds_of(const record_config& c);

}  // namespace two_factor_test
