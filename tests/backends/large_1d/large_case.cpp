#include "tests/backends/large_1d/large_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"

namespace large_test {

namespace {

bool is_double(const record_config& c) { return backend_test::is_double(c.p); }

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

committed_record::committed_record(const record_config& c)
    : committed_case(c, backend_test::gpu_test_queue()) {
  if (!create_listed(is_double(c), c.length)) return;
  configure(record(), c);
  commit(false);
}

bool committed_record::committed_here() const {
  return committed_here_to(is_double(config_) ? &dft::dft_c2c_large_1d_gpu_bkd_table_double
                                              : &dft::dft_c2c_large_1d_gpu_bkd_table_float);
}

DFTI_DESCRIPTOR* committed_record::column_child() const {
  if (!committed_here()) return nullptr;
  return is_double(config_) ? plan<double>().col_child : plan<float>().col_child;
}

DFTI_DESCRIPTOR* committed_record::row_child() const {
  if (!committed_here()) return nullptr;
  return is_double(config_) ? plan<double>().row_child : plan<float>().row_child;
}

std::string committed_record::description() const {
  if (!committed_here()) return "not committed to the large 1D backend (status " + std::to_string(commit_status()) + ")";
  return is_double(config_) ? l1::describe(plan<double>()) : l1::describe(plan<float>());
}

run_result run_and_measure(const committed_record& r, bool forward, bool usm) {
  const record_config& c = r.config();
  const backend_test::packed_data data{c.length, c.count, c.in_place, static_cast<std::uint64_t>(c.count + 11)};
  return backend_test::measure_packed(backend_test::run_packed(r.record(), is_double(c), data, forward, usm), data,
                                      forward, forward ? c.fwd_scale : c.bwd_scale);
}

}  // namespace large_test
