#include "tests/backends/four_factor/four_factor_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"

namespace four_factor_test {

std::int64_t estimator_of(const record_config& cfg) {
  return backend_test::estimate_of<dft::dft_c2c_4_facts_gpu_bkd>(cfg.double_precision,
                                                                backend_test::estimate_config_of(cfg));
}

}  // namespace four_factor_test
