// Three-factor records committed on the GPU (PoCL under a GPU profile)
// through a list that holds only the three-factor backend and the
// terminator, and transforms run through their compute entries against the
// long-double reference.
#pragma once

#include <cstdint>
#include <string>

#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/distanced_case.hpp"

namespace three_factor_test {

namespace dft = ulmara::qez::dft;
namespace tf = ulmara::qez::dft::three_factor;

using three_factor_backend = backend_test::backend_of<tf::block, dft::dft_c2c_3_facts_gpu_bkd_table_double,
                                                      dft::dft_c2c_3_facts_gpu_bkd_table_float>;

struct record_config : backend_test::distanced_config {
  record_config() { length = 160; }
};

using committed_record = backend_test::distanced_record<three_factor_backend, record_config>;

// Three transforms of 160 points (40 x 2 x 2) at input distance 170 and
// output distance 164.
inline record_config io_distances_160() {
  record_config c;
  c.length = 160;
  c.count = 3;
  c.io_distances = true;
  c.in_distance = 170;
  c.out_distance = 164;
  return c;
}

using backend_test::bounds_of;
using backend_test::container;
using backend_test::direction;
using backend_test::run_result;

// The workspace estimate of the record's configuration.
std::int64_t estimator_of(const record_config& c);

}  // namespace three_factor_test
