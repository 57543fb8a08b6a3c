#include "tests/backends/eight_k/eight_k_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"

namespace eight_k_test {

namespace {

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  if (c.convention == distances::none) {
    ASSERT_EQ(r->methods->set_number_of_transforms(r, c.count), 0);
  } else {
    backend_test::set_count_and_distances(r, c.count,
                                          c.convention == distances::input_output
                                              ? backend_test::distance_convention::input_output
                                              : backend_test::distance_convention::forward_backward,
                                          c.in_distance, c.out_distance);
  }
  backend_test::set_scales(r, c.fwd_scale, c.bwd_scale);
  backend_test::set_placement(r, c.in_place, c.directions, c.internal_workspace);
}

}  // namespace

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

sycl::queue& in_order_queue() {
  static sycl::queue* queue =
      new sycl::queue(test_queue().get_context(), test_queue().get_device(), sycl::property::queue::in_order());
  return *queue;
}

committed_record::committed_record(const record_config& c, sycl::queue* q) : backend_case(c, *q) {
  // A record as the front end makes it (one batch record), bound to the
  // complex one-dimensional list of its precision.
  make_and_commit(backend_test::road::front_end, c.length, [&c](DFTI_DESCRIPTOR* r) { configure(r, c); });
}

run_result run_and_measure(const committed_record& r, direction d, container c) {
  const record_config& cfg = r.config();
  const backend_test::packed_data data{n, cfg.count, cfg.in_place, static_cast<std::uint64_t>(8192 + cfg.count)};
  return backend_test::measure_packed(backend_test::run_packed(r.record(), cfg.p, data, d, c), data, d,
                                      backend_test::is_forward(d) ? cfg.fwd_scale : cfg.bwd_scale);
}

}  // namespace eight_k_test
