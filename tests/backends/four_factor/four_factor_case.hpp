// Four-factor records committed on the GPU (PoCL under a GPU profile)
// through a list that holds only the four-factor backend and the
// terminator (or the library's own list), and transforms run through their
// compute entries against the long-double reference.
#pragma once

#include <cstdint>
#include <string>

#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/distanced_case.hpp"

namespace four_factor_test {

namespace dft = ulmara::qez::dft;
namespace ff = ulmara::qez::dft::four_factor;

using four_factor_backend = backend_test::backend_of<ff::block, dft::dft_c2c_4_facts_gpu_bkd_table_double,
                                                     dft::dft_c2c_4_facts_gpu_bkd_table_float>;

struct record_config : backend_test::distanced_config {
  record_config() { length = 2048; }
};

using committed_record = backend_test::distanced_record<four_factor_backend, record_config>;

// The four-factor table of a precision.
inline const dft::backend_table* table_of(bool double_precision) {
  return four_factor_backend::table(double_precision);
}

using backend_test::bounds_of;
using backend_test::container;
using backend_test::direction;
using backend_test::run_result;

// The library's workspace estimate for the record's configuration.
std::int64_t estimator_of(const record_config& c);

}  // namespace four_factor_test
