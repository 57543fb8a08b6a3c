#include "tests/backends/n_facts_slm/slm_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"

namespace slm_test {

namespace {

std::int64_t distance_of(const record_config& c) { return c.distance != 0 ? c.distance : c.length; }

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  backend_test::set_count_and_distances(r, c.count,
                                        c.io_distances ? backend_test::distance_convention::input_output
                                                       : backend_test::distance_convention::forward_backward,
                                        distance_of(c), distance_of(c));
  backend_test::set_scales(r, c.fwd_scale, c.bwd_scale);
  backend_test::set_placement(r, c.in_place, c.directions, c.internal_workspace);
}

// Transforms measured: all, or `sample` spread over the batch (first and last included).
std::vector<std::int64_t> measured_transforms(std::int64_t count, std::int64_t sample) {
  std::vector<std::int64_t> picked;
  if (sample <= 0 || sample >= count) {
    for (std::int64_t t = 0; t < count; ++t) picked.push_back(t);
    return picked;
  }
  for (std::int64_t i = 0; i < sample; ++i) picked.push_back(i * (count - 1) / (sample - 1));
  return picked;
}

}  // namespace

const char* name_of(precision p) { return p == precision::double_precision ? "double" : "float"; }

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

committed_record::committed_record(const record_config& c) : backend_case(c, test_queue()) {
  make_and_commit(backend_test::road::front_end, c.length, [&c](DFTI_DESCRIPTOR* r) { configure(r, c); });
}

run_result run_and_measure(const committed_record& r, direction d, container c, std::int64_t sample) {
  const record_config& cfg = r.config();
  const backend_test::packed_data data{cfg.length, cfg.count, cfg.in_place,
                                       static_cast<std::uint64_t>(cfg.length + cfg.count)};
  return backend_test::measure_packed(backend_test::run_packed(r.record(), cfg.p, data, d, c), data, d,
                                      backend_test::is_forward(d) ? cfg.fwd_scale : cfg.bwd_scale,
                                      measured_transforms(cfg.count, sample));
}

std::int64_t estimator_of(const committed_record& r) {
  const record_config& cfg = r.config();
  const dft::dft_estimate_config c = backend_test::estimate_config_c2c_1d(
      cfg.length, cfg.count, distance_of(cfg), distance_of(cfg), cfg.directions, cfg.in_place);
  return backend_test::estimate_of<dft::dft_c2c_n_facts_gpu_bkd>(backend_test::is_double(cfg.p), c);
}

}  // namespace slm_test
