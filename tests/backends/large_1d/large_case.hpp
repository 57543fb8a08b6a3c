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
#include "dft/gpu/core/backend_catalogue.hpp"
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

using large_backend = backend_test::backend_of<l1::block, dft::dft_c2c_large_1d_gpu_bkd_table_double,
                                               dft::dft_c2c_large_1d_gpu_bkd_table_float>;

// A record as the front end makes it, on the library's list.
class committed_record : public backend_test::backend_case<large_backend, record_config> {
 public:
  explicit committed_record(const record_config& c);

  DFTI_DESCRIPTOR* column_child() const;
  DFTI_DESCRIPTOR* row_child() const;
};

using backend_test::container;
using backend_test::direction;
using backend_test::run_result;

// One direction on random data through the compute entry.
run_result run_and_measure(const committed_record& r, direction d, container k);

using backend_test::bounds_of;

}  // namespace large_test
