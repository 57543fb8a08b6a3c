#include "tests/backends/large_1d/large_case.hpp"

#include <complex>
#include <memory>
#include <vector>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/support/reference_dft.hpp"

namespace large_test {

namespace {

bool is_double(const record_config& c) { return c.p == precision::double_precision; }

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  ASSERT_EQ(m->set_number_of_transforms(r, c.count), 0);
  if (c.count > 1 || c.in_distance != 0) {
    const std::int64_t in = c.in_distance != 0 ? c.in_distance : c.length;
    ASSERT_EQ(m->set_input_distance(r, in), 0);
    ASSERT_EQ(m->set_output_distance(r, c.out_distance != 0 ? c.out_distance : in), 0);
  }
  ASSERT_EQ(m->set_scale(r, c.fwd_scale, dft::scale_forward), 0);
  ASSERT_EQ(m->set_scale(r, c.bwd_scale, dft::scale_backward), 0);
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->workspace_internal = c.internal_workspace ? 1 : 0;
  r->is_child = c.child_mark ? 1 : 0;
}

template <class T>
using cplx = std::complex<T>;

template <class T>
run_result run_typed(const committed_record& r, bool forward, bool usm) {
  const record_config& c = r.config();
  const std::int64_t values = c.length * c.count;
  const std::vector<qez_test::cld> input = qez_test::random_complex(values, static_cast<std::uint64_t>(c.count + 11));
  sycl::queue& q = backend_test::gpu_test_queue();
  backend_test::device_array<cplx<T>> in_dev(q, std::vector<cplx<T>>(input.begin(), input.end()), usm);
  std::unique_ptr<backend_test::device_array<cplx<T>>> out_dev;
  if (!c.in_place) out_dev = std::make_unique<backend_test::device_array<cplx<T>>>(q, std::vector<cplx<T>>(values), usm);
  const backend_test::device_array<cplx<T>>& result = c.in_place ? in_dev : *out_dev;

  run_result out;
  out.status = backend_test::call_compute_entry(r.record(), forward, in_dev.argument(), result.argument(), usm);
  if (out.status != 0) return out;
  const std::vector<cplx<T>> got = result.read();
  const std::vector<qez_test::cld> reference =
      backend_test::scaled_reference_c2c(input, {c.length}, c.count, forward, forward ? c.fwd_scale : c.bwd_scale);
  out.error = qez_test::measure(std::vector<qez_test::cld>(got.begin(), got.end()), reference);
  return out;
}

}  // namespace

committed_record::committed_record(const record_config& c)
    : config_(c), workspace_(backend_test::gpu_test_queue()) {
  if (!backend_test::create_listed_c2c_1d_record(&record_, is_double(c), c.length, &backend_test::gpu_test_queue()))
    return;
  configure(record_, c);
  commit_status_ = record_->methods->commit(record_);
}

committed_record::~committed_record() {
  if (record_ != nullptr) record_->free(record_, record_);
}

bool committed_record::committed_here() const {
  if (record_ == nullptr || commit_status_ != 0) return false;
  return backend_test::committed_to(record_, is_double(config_) ? &dft::dft_c2c_large_1d_gpu_bkd_table_double
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
  if (!committed_here()) return "not committed to the large 1D backend (status " + std::to_string(commit_status_) + ")";
  return is_double(config_) ? l1::describe(plan<double>()) : l1::describe(plan<float>());
}

int committed_record::give_buffer_workspace() {
  return workspace_.give_buffer(record_, backend_test::workspace_bytes(record_));
}

int committed_record::give_usm_workspace() {
  return workspace_.give_usm(record_, backend_test::workspace_bytes(record_));
}

run_result run_and_measure(const committed_record& r, bool forward, bool usm) {
  return is_double(r.config()) ? run_typed<double>(r, forward, usm) : run_typed<float>(r, forward, usm);
}

qez_test::accuracy_bounds bounds_of(precision p, std::int64_t length) {
  return p == precision::double_precision ? qez_test::bounds_for<double>(length)
                                          : qez_test::bounds_for<float>(length);
}

}  // namespace large_test
