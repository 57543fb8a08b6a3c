// n-factor SLM records committed on the GPU (PoCL under a GPU profile)
// through the record's method table, their workspaces, and transforms run
// through their compute entries on USM or buffers against the long-double
// reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace slm_test {

namespace dft = ulmara::qez::dft;
namespace nf = ulmara::qez::dft::n_facts_slm;

using backend_test::container;
using backend_test::direction;
using backend_test::precision;

struct record_config {
  precision p = precision::double_precision;
  std::int64_t length = 4096;
  std::int64_t count = 1;
  bool io_distances = false;  // input/output instead of forward/backward distances
  std::int64_t distance = 0;  // 0: the length
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
};

const char* name_of(precision p);
sycl::queue& test_queue();

using slm_backend = backend_test::backend_of<nf::block, dft::dft_c2c_n_facts_gpu_bkd_table_double,
                                             dft::dft_c2c_n_facts_gpu_bkd_table_float>;

// A record as the front end makes it, on the library's list.
class committed_record : public backend_test::backend_case<slm_backend, record_config> {
 public:
  explicit committed_record(const record_config& c);
};

using backend_test::run_result;
using backend_test::report_in_bound_units;

// One direction on random data through the compute entry; `sample` > 0
// measures only that many transforms spread over the batch.
run_result run_and_measure(const committed_record& r, direction d, container c, std::int64_t sample = 0);

using backend_test::bounds_of;

// The workspace estimate of the record's configuration.
std::int64_t estimator_of(const committed_record& r);

}  // namespace slm_test
