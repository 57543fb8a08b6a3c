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
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace pretw_test {

namespace dft = ulmara::qez::dft;
namespace pt = ulmara::qez::dft::pretw_slm;

using backend_test::precision;

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

using pretw_backend = backend_test::backend_of<pt::block, dft::dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_double,
                                               dft::dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_float>;

// A record as the front end makes it (one batch record), marked a child, on
// the backend's own one-entry list.
class committed_record : public backend_test::backend_case<pretw_backend, record_config> {
 public:
  explicit committed_record(const record_config& c);

  std::string options(pt::direction d) const;
};

using backend_test::container;
using backend_test::direction;
using backend_test::run_result;

// One direction on random data through the compute entry.
run_result run_and_measure(const committed_record& r, direction d, container k);

using backend_test::bounds_of;

}  // namespace pretw_test
