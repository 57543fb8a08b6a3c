#include "tests/backends/eight_k/eight_k_case.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/support/reference_dft.hpp"

namespace eight_k_test {

namespace {

bool is_double(const record_config& c) { return c.p == precision::double_precision; }

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  ASSERT_EQ(m->set_number_of_transforms(r, c.count), 0);
  if (c.convention == distances::forward_backward) {
    ASSERT_EQ(m->set_forward_distance(r, c.in_distance), 0);
    ASSERT_EQ(m->set_backward_distance(r, c.out_distance), 0);
  } else if (c.convention == distances::input_output) {
    ASSERT_EQ(m->set_input_distance(r, c.in_distance), 0);
    ASSERT_EQ(m->set_output_distance(r, c.out_distance), 0);
  }
  ASSERT_EQ(m->set_scale(r, c.fwd_scale, dft::scale_forward), 0);
  ASSERT_EQ(m->set_scale(r, c.bwd_scale, dft::scale_backward), 0);
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = c.directions;
  r->workspace_internal = c.internal_workspace ? 1 : 0;
}

template <class T>
using cplx = std::complex<T>;

template <class T>
run_result run_typed(const committed_record& r, direction d, container c) {
  const record_config& cfg = r.config();
  const bool usm = c == container::usm;
  const bool forward = d == direction::forward;
  const std::int64_t values = n * cfg.count;
  const std::vector<qez_test::cld> input = qez_test::random_complex(values, 8192 + cfg.count);
  backend_test::device_array<cplx<T>> in_dev(test_queue(), std::vector<cplx<T>>(input.begin(), input.end()), usm);
  std::unique_ptr<backend_test::device_array<cplx<T>>> out_dev;
  if (!cfg.in_place)
    out_dev = std::make_unique<backend_test::device_array<cplx<T>>>(test_queue(), std::vector<cplx<T>>(values), usm);
  const backend_test::device_array<cplx<T>>& result = cfg.in_place ? in_dev : *out_dev;

  run_result out;
  out.status = backend_test::call_compute_entry(r.record(), forward, in_dev.argument(), result.argument(), usm);
  if (out.status != 0) return out;

  const std::vector<qez_test::cld> reference = backend_test::scaled_reference_c2c(
      input, {n}, cfg.count, forward, forward ? cfg.fwd_scale : cfg.bwd_scale);
  const std::vector<cplx<T>> got = result.read();
  out.error = qez_test::measure(std::vector<qez_test::cld>(got.begin(), got.end()), reference);
  return out;
}

}  // namespace

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

sycl::queue& in_order_queue() {
  static sycl::queue* queue =
      new sycl::queue(test_queue().get_context(), test_queue().get_device(), sycl::property::queue::in_order());
  return *queue;
}

committed_record::committed_record(const record_config& c, sycl::queue* q)
    : config_(c), queue_(q), workspace_(*q) {
  // A record as the front end makes it (one batch record), bound to the
  // complex one-dimensional list of its precision.
  if (!backend_test::create_listed_c2c_1d_record(&record_, is_double(c), c.length, queue_)) return;
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
  return backend_test::committed_to(record_, is_double(config_) ? &dft::dft_c2c_8k_2_facts_gpu_bkd_table_double
                                                                : &dft::dft_c2c_8k_2_facts_gpu_bkd_table_float);
}

run_result run_and_measure(const committed_record& r, direction d, container c) {
  return is_double(r.config()) ? run_typed<double>(r, d, c) : run_typed<float>(r, d, c);
}

qez_test::accuracy_bounds bounds_of(precision p) {
  return p == precision::double_precision ? qez_test::bounds_for<double>(n) : qez_test::bounds_for<float>(n);
}

void report_in_bound_units(const qez_test::accuracy& a, const qez_test::accuracy_bounds& b) {
  backend_test::report_in_bound_units(a, b);
}

}  // namespace eight_k_test
