#include "tests/backends/four_factor/four_factor_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"

namespace four_factor_test {

std::int64_t estimator_of(const record_config& cfg) {
  const dft::dft_estimate_config c = backend_test::estimate_config_of(cfg);
  return cfg.double_precision ? dft::dft_c2c_4_facts_gpu_bkd<double>().workspace_estimate(c)
                              : dft::dft_c2c_4_facts_gpu_bkd<float>().workspace_estimate(c);
}

}  // namespace four_factor_test
