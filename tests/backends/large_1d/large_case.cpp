#include "tests/backends/large_1d/large_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"

namespace large_test {

namespace {

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  if (c.count > 1 || c.in_distance != 0) {
    const std::int64_t in = c.in_distance != 0 ? c.in_distance : c.length;
    backend_test::set_count_and_distances(r, c.count, backend_test::distance_convention::input_output, in,
                                          c.out_distance != 0 ? c.out_distance : in);
  } else {
    ASSERT_EQ(r->methods->set_number_of_transforms(r, c.count), 0);
  }
  backend_test::set_scales(r, c.fwd_scale, c.bwd_scale);
  backend_test::set_placement(r, c.in_place, r->directions, c.internal_workspace);
  r->is_child = c.child_mark ? 1 : 0;
}

}  // namespace

committed_record::committed_record(const record_config& c) : backend_case(c, backend_test::gpu_test_queue()) {
  make_and_commit(backend_test::road::front_end, c.length, [&c](DFTI_DESCRIPTOR* r) { configure(r, c); });
}

DFTI_DESCRIPTOR* committed_record::column_child() const {
  if (!committed_here()) return nullptr;
  return double_precision() ? plan<double>().col_child : plan<float>().col_child;
}

DFTI_DESCRIPTOR* committed_record::row_child() const {
  if (!committed_here()) return nullptr;
  return double_precision() ? plan<double>().row_child : plan<float>().row_child;
}

run_result run_and_measure(const committed_record& r, direction d, container k) {
  const record_config& c = r.config();
  const backend_test::packed_data data{c.length, c.count, c.in_place, static_cast<std::uint64_t>(c.count + 11)};
  return backend_test::measure_packed(backend_test::run_packed(r.record(), c.p, data, d, k), data, d,
                                      backend_test::is_forward(d) ? c.fwd_scale : c.bwd_scale);
}

}  // namespace large_test
