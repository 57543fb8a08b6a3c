#include "tests/backends/md_3d/c2c_3d_case.hpp"

#include <complex>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/public_api_harness.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace md_3d_test {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

std::string name_of(const c2c_config& c) {
  std::string s = c.double_precision ? "d" : "s";
  for (std::int64_t n : c.lengths) s += "_" + std::to_string(n);
  s += "_b" + std::to_string(c.batch) + (c.in_place ? "_ip" : "_oop");
  s += "_f" + std::to_string(c.forward_side.spread) + "p" + std::to_string(c.forward_side.pad);
  s += "_b" + std::to_string(c.backward_side.spread) + "p" + std::to_string(c.backward_side.pad);
  s += c.ws == workspace::internal ? "_int" : c.ws == workspace::external_usm ? "_extusm" : "_extbuf";
  return s;
}

bool taken_by_3d_main(const DFTI_DESCRIPTOR* r) {
  return r->commit_status == qd::dfti_committed &&
         (r->backend == &qd::dft_c2c_3d_main_gpu_bkd_table_double ||
          r->backend == &qd::dft_c2c_3d_main_gpu_bkd_table_float);
}

bool taken_by_3d_padded(const DFTI_DESCRIPTOR* r) {
  return r->commit_status == qd::dfti_committed &&
         (r->backend == &qd::dft_c2c_3d_padded_gpu_bkd_table_double ||
          r->backend == &qd::dft_c2c_3d_padded_gpu_bkd_table_float);
}

std::string child_name(const DFTI_DESCRIPTOR* child) {
  std::string s(child->name, sizeof child->name);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

namespace {

std::int64_t points(const c2c_config& c) { return qez_test::element_count(c.lengths) * c.batch; }

qez_test::strided_layout layout_of(const c2c_config& c, const side_layout& s) {
  return qez_test::make_layout(c.lengths, s.spread, s.pad);
}

std::vector<std::int64_t> with_offset(const qez_test::strided_layout& l) {
  std::vector<std::int64_t> out{l.offset};
  out.insert(out.end(), l.strides.begin(), l.strides.end());
  return out;
}

template <class T>
class typed_plan : public backend_test::typed_public_plan {
  using value = std::complex<T>;

 public:
  explicit typed_plan(const c2c_config& c)
      : c_(c), fwd_(layout_of(c, c.forward_side)), bwd_(layout_of(c, c.backward_side)), desc_(c.lengths) {
    backend_test::apply_settings<T>(desc_, {c.in_place, c.batch, with_offset(fwd_), with_offset(bwd_), fwd_.distance,
                                            bwd_.distance, c.fwd_scale, c.bwd_scale, c.ws});
    record()->directions = c.directions;
    desc_.commit(test_queue());
    workspace_.attach(desc_, record(), c.ws, 1);
  }
  ~typed_plan() override {
    // Table writes handed to the workspace may still be running.
    test_queue().wait();
  }
  DFTI_DESCRIPTOR* record() const override { return qd::descriptor_access::record(desc_); }

  run_result forward(container kind) const override { return run(kind, true); }
  run_result backward(container kind) const override { return run(kind, false); }

 private:
  run_result run(container kind, bool forward) const {
    const qez_test::strided_layout& from = forward ? fwd_ : bwd_;
    const qez_test::strided_layout& to = forward ? bwd_ : fwd_;
    const std::vector<cld> x = qez_test::random_complex(points(c_), forward ? 101 : 202);
    std::vector<cld> reference =
        qez_test::reference_c2c(x, c_.lengths, c_.batch, forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
    const long double scale = forward ? c_.fwd_scale : c_.bwd_scale;
    for (cld& v : reference) v *= scale;

    const std::int64_t in_span = from.span(c_.lengths, c_.batch);
    const std::int64_t out_span = to.span(c_.lengths, c_.batch);
    std::vector<value> input(size_t(c_.in_place ? std::max(in_span, out_span) : in_span), value(-7, 3));
    qez_test::place(x, c_.lengths, c_.batch, from, input.data());
    const backend_test::run_arrays<value> arrays(input, backend_test::placement_from(c_.in_place), kind, out_span,
                                                 value(5, -5));
    auto& d = const_cast<backend_test::complex_descriptor<T>&>(desc_);
    if (forward)
      backend_test::run_public_compute<true>(d, arrays.input(), arrays.result(), kind, c_.in_place);
    else
      backend_test::run_public_compute<false>(d, arrays.input(), arrays.result(), kind, c_.in_place);
    const std::vector<value> result = arrays.result().read();
    const std::vector<cld> got = qez_test::collect<cld>(result.data(), c_.lengths, c_.batch, to);
    return {qez_test::measure(got, reference), qez_test::bounds_for<T>(qez_test::element_count(c_.lengths))};
  }

  c2c_config c_;
  qez_test::strided_layout fwd_, bwd_;
  // Declared before the descriptor: freed after it.
  backend_test::public_workspace<T> workspace_;
  backend_test::complex_descriptor<T> desc_;
};

}  // namespace

c2c_plan::c2c_plan(const c2c_config& c) : committed_public_plan(of<typed_plan>(c.double_precision, c)) {}

}  // namespace md_3d_test
