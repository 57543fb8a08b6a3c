#include "tests/backends/four_factor/four_factor_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_lists.hpp"

namespace four_factor_test {

const dft::backend_table* table_of(bool double_precision) {
  return double_precision ? &dft::dft_c2c_4_facts_gpu_bkd_table_double : &dft::dft_c2c_4_facts_gpu_bkd_table_float;
}

committed_record::committed_record(const record_config& c)
    : committed_case(c, c.queue != nullptr ? *c.queue : backend_test::gpu_test_queue()) {
  if (!create_child(c.double_precision, c.length)) return;
  if (c.library_list) {
    DFTI_DESCRIPTOR* r = record();
    c.double_precision ? dft::bind_backend_list_c2c_1d_double(&r) : dft::bind_backend_list_c2c_1d_float(&r);
  } else {
    // Earlier backends of the library's lists take many of these lengths;
    // these records try the four-factor backend alone.
    record()->backend_list = backend_test::solo_backend_list(table_of(c.double_precision), c.double_precision);
  }
  backend_test::configure_distanced(record(), c);
  commit(true);
}

bool committed_record::committed_here() const { return committed_here_to(table_of(config_.double_precision)); }

std::string committed_record::description() const {
  if (!committed_here()) return "not committed to the four-factor backend";
  return config_.double_precision ? ff::describe(plan<double>()) : ff::describe(plan<float>());
}

run_result run_and_measure(const committed_record& r, bool forward, bool usm, const std::vector<std::int64_t>& sample) {
  return backend_test::run_distanced(r.record(), r.config(), forward, usm, sample);
}

std::int64_t estimator_of(const record_config& cfg) {
  const dft::dft_estimate_config c = backend_test::estimate_config_of(cfg);
  return cfg.double_precision ? dft::dft_c2c_4_facts_gpu_bkd<double>().workspace_estimate(c)
                              : dft::dft_c2c_4_facts_gpu_bkd<float>().workspace_estimate(c);
}

}  // namespace four_factor_test
