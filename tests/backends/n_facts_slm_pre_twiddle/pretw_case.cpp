#include "tests/backends/n_facts_slm_pre_twiddle/pretw_case.hpp"

#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "tests/support/reference_dft.hpp"

namespace pretw_test {

namespace {

bool is_double(const record_config& c) { return c.p == precision::double_precision; }

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  const std::int64_t distance = c.distance != 0 ? c.distance : c.length;
  r->backend_list = is_double(c) ? pt::pre_twiddle_backend_list<double>() : pt::pre_twiddle_backend_list<float>();
  ASSERT_EQ(m->set_number_of_transforms(r, c.howmany), 0);
  ASSERT_EQ(m->set_input_distance(r, distance), 0);
  ASSERT_EQ(m->set_output_distance(r, distance), 0);
  ASSERT_EQ(m->set_scale(r, c.fwd_scale, dft::scale_forward), 0);
  ASSERT_EQ(m->set_scale(r, c.bwd_scale, dft::scale_backward), 0);
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = c.directions;
  r->workspace_internal = c.internal_workspace ? 1 : 0;
  r->is_child = 1;
}

template <class T>
using cplx = std::complex<T>;

// Transform b's reference: its N-point DFT, scaled, element k times the
// inter-step twiddle of howmany x N points.
std::vector<qez_test::cld> pre_twiddled_reference(const std::vector<qez_test::cld>& input, const record_config& c,
                                                  bool forward) {
  const std::int64_t n = c.length;
  const long double scale = forward ? c.fwd_scale : c.bwd_scale;
  std::vector<qez_test::cld> out =
      backend_test::scaled_reference_c2c(input, {n}, c.howmany, forward, scale);
  const long double two_pi = 6.283185307179586476925286766559005768L;
  const long double points = static_cast<long double>(n * c.howmany);
  const long double sign = forward ? -1.0L : 1.0L;
  for (std::int64_t b = 0; b < c.howmany; ++b)
    for (std::int64_t k = 0; k < n; ++k) {
      const long double theta = sign * two_pi * static_cast<long double>((b * k) % (n * c.howmany)) / points;
      out[b * n + k] *= qez_test::cld(std::cos(theta), std::sin(theta));
    }
  return out;
}

template <class T>
run_result run_typed(const committed_record& r, bool forward, bool usm) {
  const record_config& c = r.config();
  const std::int64_t values = c.length * c.howmany;
  const std::vector<qez_test::cld> input =
      qez_test::random_complex(values, static_cast<std::uint64_t>(c.length + 7 * c.howmany));
  sycl::queue& q = backend_test::gpu_test_queue();
  backend_test::device_array<cplx<T>> in_dev(q, std::vector<cplx<T>>(input.begin(), input.end()), usm);
  std::unique_ptr<backend_test::device_array<cplx<T>>> out_dev;
  if (!c.in_place) out_dev = std::make_unique<backend_test::device_array<cplx<T>>>(q, std::vector<cplx<T>>(values), usm);
  const backend_test::device_array<cplx<T>>& result = c.in_place ? in_dev : *out_dev;

  run_result out;
  out.status = backend_test::call_compute_entry(r.record(), forward, in_dev.argument(), result.argument(), usm);
  if (out.status != 0) return out;
  const std::vector<cplx<T>> got = result.read();
  out.error = qez_test::measure(std::vector<qez_test::cld>(got.begin(), got.end()),
                                pre_twiddled_reference(input, c, forward));
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
  return backend_test::committed_to(record_, is_double(config_) ? &dft::dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_double
                                                                : &dft::dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_float);
}

std::string committed_record::description() const {
  if (!committed_here()) return "not committed to the pre-twiddle backend";
  return is_double(config_) ? pt::describe(plan<double>()) : pt::describe(plan<float>());
}

std::string committed_record::options(pt::direction d) const {
  if (!committed_here()) return "";
  return is_double(config_) ? pt::pretw_build_options(plan<double>(), d) : pt::pretw_build_options(plan<float>(), d);
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

}  // namespace pretw_test
