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
#include "dft/gpu/backends/1d_basic/eight_k/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace eight_k_test {

namespace dft = ulmara::qez::dft;
namespace ek = ulmara::qez::dft::eight_k;

constexpr std::int64_t n = 8192;

using backend_test::container;
using backend_test::precision;
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
using eight_k_backend = backend_test::backend_of<ek::block, dft::dft_c2c_8k_2_facts_gpu_bkd_table_double,
                                                 dft::dft_c2c_8k_2_facts_gpu_bkd_table_float>;

class committed_record : public backend_test::backend_case<eight_k_backend, record_config> {
 public:
  explicit committed_record(const record_config& c, sycl::queue* q = &test_queue());
};

using backend_test::direction;

using backend_test::run_result;
using backend_test::report_in_bound_units;

// One direction on random data through the record's compute entry,
// measured against the reference with the direction's scale.
run_result run_and_measure(const committed_record& r, direction d, container c);

}  // namespace eight_k_test
