#include "tests/backends/n_facts_slm/slm_case.hpp"

#include <complex>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "dft/api/descriptor_node.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/support/reference_dft.hpp"

namespace slm_test {

namespace {

bool is_double(const record_config& c) { return c.p == precision::double_precision; }

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  const std::int64_t distance = c.distance != 0 ? c.distance : c.length;
  ASSERT_EQ(m->set_number_of_transforms(r, c.count), 0);
  if (c.io_distances) {
    ASSERT_EQ(m->set_input_distance(r, distance), 0);
    ASSERT_EQ(m->set_output_distance(r, distance), 0);
  } else {
    ASSERT_EQ(m->set_forward_distance(r, distance), 0);
    ASSERT_EQ(m->set_backward_distance(r, distance), 0);
  }
  ASSERT_EQ(m->set_scale(r, c.fwd_scale, dft::scale_forward), 0);
  ASSERT_EQ(m->set_scale(r, c.bwd_scale, dft::scale_backward), 0);
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = c.directions;
  r->workspace_internal = c.internal_workspace ? 1 : 0;
}

template <class T>
using cplx = std::complex<T>;

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

template <class T>
run_result run_typed(const committed_record& r, direction d, container c, std::int64_t sample) {
  const record_config& cfg = r.config();
  const std::int64_t n = cfg.length;
  const std::int64_t values = n * cfg.count;
  const std::vector<qez_test::cld> input = qez_test::random_complex(values, static_cast<std::uint64_t>(n + cfg.count));
  const bool usm = c == container::usm;
  backend_test::device_array<cplx<T>> in_dev(test_queue(), std::vector<cplx<T>>(input.begin(), input.end()), usm);
  std::unique_ptr<backend_test::device_array<cplx<T>>> out_dev;
  if (!cfg.in_place)
    out_dev = std::make_unique<backend_test::device_array<cplx<T>>>(test_queue(), std::vector<cplx<T>>(values), usm);
  const backend_test::device_array<cplx<T>>& result = cfg.in_place ? in_dev : *out_dev;

  run_result out;
  out.status = backend_test::call_compute_entry(r.record(), d == direction::forward, in_dev.argument(),
                                                result.argument(), usm);
  if (out.status != 0) return out;

  const std::vector<cplx<T>> got_all = result.read();
  const long double scale = d == direction::forward ? cfg.fwd_scale : cfg.bwd_scale;
  std::vector<qez_test::cld> got, reference;
  for (std::int64_t t : measured_transforms(cfg.count, sample)) {
    const std::vector<qez_test::cld> one(input.begin() + t * n, input.begin() + (t + 1) * n);
    const std::vector<qez_test::cld> ref =
        backend_test::scaled_reference_c2c(one, {n}, 1, d == direction::forward, scale);
    reference.insert(reference.end(), ref.begin(), ref.end());
    got.insert(got.end(), got_all.begin() + t * n, got_all.begin() + (t + 1) * n);
  }
  out.error = qez_test::measure(got, reference);
  return out;
}

}  // namespace

const char* name_of(precision p) { return p == precision::double_precision ? "double" : "float"; }

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

committed_record::committed_record(const record_config& c) : config_(c), workspace_(test_queue()) {
  if (!backend_test::create_listed_c2c_1d_record(&record_, is_double(c), c.length, &test_queue())) return;
  configure(record_, c);
  commit_status_ = record_->methods->commit(record_);
}

committed_record::~committed_record() {
  if (record_ != nullptr) record_->free(record_, record_);
}

int committed_record::give_buffer_workspace() { return workspace_.give_buffer(record_, workspace_bytes()); }

int committed_record::give_usm_workspace() { return workspace_.give_usm(record_, workspace_bytes()); }

bool committed_record::committed_here() const {
  if (record_ == nullptr || commit_status_ != 0) return false;
  return backend_test::committed_to(record_, is_double(config_) ? &dft::dft_c2c_n_facts_gpu_bkd_table_double
                                                                : &dft::dft_c2c_n_facts_gpu_bkd_table_float);
}

std::string committed_record::description() const {
  if (!committed_here()) return "not committed to the n-factor SLM backend";
  return is_double(config_) ? nf::describe(plan<double>()) : nf::describe(plan<float>());
}

run_result run_and_measure(const committed_record& r, direction d, container c, std::int64_t sample) {
  return is_double(r.config()) ? run_typed<double>(r, d, c, sample) : run_typed<float>(r, d, c, sample);
}

qez_test::accuracy_bounds bounds_of(precision p, std::int64_t length) {
  return p == precision::double_precision ? qez_test::bounds_for<double>(length)
                                          : qez_test::bounds_for<float>(length);
}

void report_in_bound_units(const qez_test::accuracy& a, const qez_test::accuracy_bounds& b) {
  backend_test::report_in_bound_units(a, b);
}

std::int64_t estimator_of(const committed_record& r) {
  const record_config& cfg = r.config();
  dft::dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = cfg.length;
  c.fwd_strides[0] = c.bwd_strides[0] = 1;
  c.input_strides[0] = c.output_strides[0] = 1;
  c.number_of_transforms = cfg.count;
  c.fwd_distance = c.bwd_distance = cfg.distance != 0 ? cfg.distance : cfg.length;
  c.direction_count = cfg.directions == dft::directions_both ? 2 : 1;
  c.in_place = cfg.in_place;
  return is_double(cfg) ? dft::dft_c2c_n_facts_gpu_bkd<double>().workspace_estimate(c)
                        : dft::dft_c2c_n_facts_gpu_bkd<float>().workspace_estimate(c);
}

}  // namespace slm_test
