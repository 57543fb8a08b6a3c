#include "tests/backends/md_3d/c2c_3d_case.hpp"

#include <complex>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_harness.hpp"
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

template <class T>
constexpr qd::precision precision_of() {
  return sizeof(T) == sizeof(float) ? qd::precision::SINGLE : qd::precision::DOUBLE;
}

std::int64_t points(const c2c_config& c) { return qez_test::element_count(c.lengths) * c.batch; }

qez_test::strided_layout layout_of(const c2c_config& c, const side_layout& s) {
  return qez_test::make_layout(c.lengths, s.spread, s.pad);
}

std::vector<std::int64_t> with_offset(const qez_test::strided_layout& l) {
  std::vector<std::int64_t> out{l.offset};
  out.insert(out.end(), l.strides.begin(), l.strides.end());
  return out;
}

template <class V>
using device_data = backend_test::device_array<V>;

// A caller's byte buffer seen as a buffer of complex values.
template <class V>
sycl::buffer<V, 1> typed_view(const device_data<V>& data) {
  auto* bytes = static_cast<sycl::buffer<char, 1>*>(data.argument());
  return bytes->template reinterpret<V, 1>(sycl::range<1>(bytes->byte_size() / sizeof(V)));
}

}  // namespace

struct c2c_plan::impl {
  virtual ~impl() = default;
  virtual DFTI_DESCRIPTOR* record() const = 0;
  virtual run_result run(container c, bool forward) const = 0;
};

namespace {

template <class T>
class typed_plan : public c2c_plan::impl {
  using value = std::complex<T>;

 public:
  explicit typed_plan(const c2c_config& c)
      : c_(c), fwd_(layout_of(c, c.forward_side)), bwd_(layout_of(c, c.backward_side)), desc_(c.lengths) {
    desc_.set_value(qd::config_param::PLACEMENT, c.in_place ? qd::config_value::IN_PLACE : qd::config_value::OUT_OF_PLACE);
    desc_.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    desc_.set_value(qd::config_param::FWD_STRIDES, with_offset(fwd_));
    desc_.set_value(qd::config_param::BWD_STRIDES, with_offset(bwd_));
    desc_.set_value(qd::config_param::FWD_DISTANCE, fwd_.distance);
    desc_.set_value(qd::config_param::BWD_DISTANCE, bwd_.distance);
    desc_.set_value(qd::config_param::FORWARD_SCALE, static_cast<T>(c.fwd_scale));
    desc_.set_value(qd::config_param::BACKWARD_SCALE, static_cast<T>(c.bwd_scale));
    if (c.ws != workspace::internal)
      desc_.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
    record()->directions = c.directions;
    desc_.commit(test_queue());
    if (c.ws == workspace::internal) return;
    const std::uint64_t bytes = record()->workspace_bytes[0] + record()->workspace_bytes[1];
    const size_t count = static_cast<size_t>((bytes + sizeof(T) - 1) / sizeof(T)) + 1;
    if (c.ws == workspace::external_usm) {
      usm_workspace_ = sycl::malloc_device<T>(count, test_queue());
      desc_.set_workspace(usm_workspace_);
    } else {
      buffer_workspace_ = std::make_unique<sycl::buffer<T, 1>>(sycl::range<1>(count));
      desc_.set_workspace(*buffer_workspace_);
    }
  }
  ~typed_plan() override {
    // Table writes handed to the workspace may still be running.
    test_queue().wait();
    if (usm_workspace_ != nullptr) sycl::free(usm_workspace_, test_queue());
  }
  DFTI_DESCRIPTOR* record() const override { return qd::descriptor_access::record(desc_); }

  run_result run(container kind, bool forward) const override {
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
    const bool usm = kind == container::usm;
    device_data<value> in(test_queue(), input, usm);
    std::vector<value> result;
    if (c_.in_place) {
      call(in, in, usm, forward);
      result = in.read();
    } else {
      device_data<value> out(test_queue(), std::vector<value>(size_t(out_span), value(5, -5)), usm);
      call(in, out, usm, forward);
      result = out.read();
    }
    const std::vector<cld> got = qez_test::collect<cld>(result.data(), c_.lengths, c_.batch, to);
    return {qez_test::measure(got, reference), qez_test::bounds_for<T>(qez_test::element_count(c_.lengths))};
  }

 private:
  void call(const device_data<value>& in, const device_data<value>& out, bool usm, bool forward) const {
    auto& d = const_cast<qd::descriptor<precision_of<T>(), qd::domain::COMPLEX>&>(desc_);
    const bool same = &in == &out;
    if (usm) {
      auto* i = static_cast<value*>(in.argument());
      auto* o = static_cast<value*>(out.argument());
      if (same)
        (forward ? qd::compute_forward(d, i) : qd::compute_backward(d, i)).wait();
      else
        (forward ? qd::compute_forward(d, i, o) : qd::compute_backward(d, i, o)).wait();
      return;
    }
    sycl::buffer<value, 1> i = typed_view(in);
    if (same) {
      forward ? qd::compute_forward(d, i) : qd::compute_backward(d, i);
      return;
    }
    sycl::buffer<value, 1> o = typed_view(out);
    forward ? qd::compute_forward(d, i, o) : qd::compute_backward(d, i, o);
  }

  c2c_config c_;
  qez_test::strided_layout fwd_, bwd_;
  qd::descriptor<precision_of<T>(), qd::domain::COMPLEX> desc_;
  T* usm_workspace_ = nullptr;
  std::unique_ptr<sycl::buffer<T, 1>> buffer_workspace_;
};

}  // namespace

c2c_plan::c2c_plan(const c2c_config& c) {
  if (c.double_precision)
    impl_ = std::make_unique<typed_plan<double>>(c);
  else
    impl_ = std::make_unique<typed_plan<float>>(c);
}
c2c_plan::~c2c_plan() = default;
DFTI_DESCRIPTOR* c2c_plan::record() const { return impl_->record(); }
run_result c2c_plan::forward(container c) const { return impl_->run(c, true); }
run_result c2c_plan::backward(container c) const { return impl_->run(c, false); }

}  // namespace md_3d_test
