#include "tests/backends/two_factor/two_factor_case.hpp"

#include <complex>
#include <cstring>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"
#include "tests/support/reference_dft.hpp"
#include "tests/support/strided_layout.hpp"

namespace two_factor_test {

namespace dft = ulmara::qez::dft;

namespace {

bool is_double(const record_config& c) { return c.p == precision::double_precision; }

std::int64_t packed_or(std::int64_t distance, const record_config& c) {
  return distance != 0 ? distance : (c.howmany > 1 ? c.n : 0);
}

// Distances of the data of one direction: {input, output}.
struct distances {
  std::int64_t in, out;
};
distances distances_of(const record_config& c, direction d) {
  const std::int64_t fwd_in = packed_or(c.in_distance, c), fwd_out = packed_or(c.out_distance, c);
  if (c.convention == distance_convention::input_output || d == direction::forward) return {fwd_in, fwd_out};
  return {fwd_out, fwd_in};
}

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  ASSERT_EQ(m->set_number_of_transforms(r, c.howmany), 0);
  const std::int64_t in = packed_or(c.in_distance, c), out = packed_or(c.out_distance, c);
  if (in != 0 || out != 0) {
    if (c.convention == distance_convention::forward_backward) {
      ASSERT_EQ(m->set_forward_distance(r, in), 0);
      ASSERT_EQ(m->set_backward_distance(r, out), 0);
    } else {
      ASSERT_EQ(m->set_input_distance(r, in), 0);
      ASSERT_EQ(m->set_output_distance(r, out), 0);
    }
  }
  ASSERT_EQ(m->set_scale(r, c.fwd_scale, dft::scale_forward), 0);
  ASSERT_EQ(m->set_scale(r, c.bwd_scale, dft::scale_backward), 0);
  if (c.in_offset != 0) {
    const std::int64_t strides[2] = {c.in_offset, 1};
    ASSERT_EQ(m->set_forward_strides(r, strides), 0);
  }
  r->placement = c.place == placement::in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = c.directions;
  r->fused_twiddle_length = c.fused_twiddle_length;
  r->workspace_internal = c.workspace == workspace_source::internal ? 1 : 0;
}

template <class T>
using cplx = std::complex<T>;

// Device copies of the caller's arrays in one container kind.
template <class T>
class device_array {
 public:
  device_array(std::vector<cplx<T>> host, container c) : host_(std::move(host)), kind_(c) {
    sycl::queue& q = test_queue();
    if (kind_ == container::usm) {
      usm_ = sycl::malloc_device<cplx<T>>(host_.size(), q);
      q.memcpy(usm_, host_.data(), bytes()).wait();
    } else {
      buffer_ = std::make_unique<sycl::buffer<char, 1>>(reinterpret_cast<char*>(host_.data()),
                                                        sycl::range<1>(bytes()));
    }
  }
  ~device_array() {
    if (usm_ != nullptr) sycl::free(usm_, test_queue());
  }
  void* argument() { return kind_ == container::usm ? static_cast<void*>(usm_) : static_cast<void*>(buffer_.get()); }
  std::vector<cplx<T>> read() {
    std::vector<cplx<T>> out(host_.size());
    if (kind_ == container::usm) {
      test_queue().memcpy(out.data(), usm_, bytes()).wait();
    } else {
      sycl::host_accessor<char, 1> a(*buffer_);
      std::memcpy(out.data(), &a[0], bytes());
    }
    return out;
  }

 private:
  size_t bytes() const { return host_.size() * sizeof(cplx<T>); }
  std::vector<cplx<T>> host_;
  container kind_;
  cplx<T>* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<char, 1>> buffer_;
};

template <class T>
qez_test::accuracy run_typed(const committed_record& r, direction d, container c) {
  const record_config& cfg = r.config();
  const std::vector<std::int64_t> extents{cfg.n};
  const distances dist = distances_of(cfg, d);
  qez_test::strided_layout in_layout = qez_test::make_layout(extents);
  qez_test::strided_layout out_layout = in_layout;
  in_layout.distance = dist.in;
  out_layout.distance = dist.out;

  const std::vector<qez_test::cld> input = qez_test::random_complex(cfg.n * cfg.howmany, 17 + cfg.n);
  const bool in_place = cfg.place == placement::in_place;
  const std::int64_t in_span = in_layout.span(extents, cfg.howmany);
  const std::int64_t out_span = out_layout.span(extents, cfg.howmany);
  std::vector<cplx<T>> in_host(static_cast<size_t>(in_place ? std::max(in_span, out_span) : in_span));
  qez_test::place(input, extents, cfg.howmany, in_layout, in_host.data());

  device_array<T> in_dev(in_host, c);
  std::unique_ptr<device_array<T>> out_dev;
  if (!in_place) out_dev = std::make_unique<device_array<T>>(std::vector<cplx<T>>(out_span), c);
  device_array<T>& result = in_place ? in_dev : *out_dev;

  std::uint64_t kind = c == container::usm ? dft::container_usm : dft::container_buffer;
  std::vector<sycl::event> dependencies;
  sycl::event done;
  DFTI_DESCRIPTOR* rec = r.record();
  const auto entry = d == direction::forward ? rec->compute_fwd : rec->compute_bwd;
  EXPECT_EQ(entry(rec, in_dev.argument(), result.argument(), &dependencies, &kind, &done), 0);
  done.wait();

  const std::vector<cplx<T>> out_host = result.read();
  const std::vector<qez_test::cld> got =
      qez_test::collect<qez_test::cld>(out_host.data(), extents, cfg.howmany, out_layout);
  std::vector<qez_test::cld> reference = qez_test::reference_c2c(
      input, extents, cfg.howmany,
      d == direction::forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
  const long double scale = d == direction::forward ? cfg.fwd_scale : cfg.bwd_scale;
  for (qez_test::cld& v : reference) v *= scale;
  return qez_test::measure(got, reference);
}

}  // namespace

sycl::queue& test_queue() {
  static sycl::queue* queue = new sycl::queue(sycl::gpu_selector_v);
  return *queue;
}

committed_record::committed_record(const record_config& c) : config_(c) {
  const int created = is_double(c) ? dft::create_child_descriptor_c2c_1d_double(&record_, c.n, nullptr)
                                   : dft::create_child_descriptor_c2c_1d_float(&record_, c.n, nullptr);
  if (created != 0 || record_ == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return;
  }
  record_->queue = &test_queue();
  configure(record_, c);
  if (qez_dft_bless_node_thr(record_) != 0) ADD_FAILURE() << "blessing failed";
  commit_status_ = record_->methods->commit(record_);
  if (commit_status_ == 0 && c.workspace != workspace_source::internal) {
    EXPECT_EQ(give_workspace(), 0);
  }
}

committed_record::~committed_record() {
  if (record_ != nullptr) record_->free(record_, record_);
  if (usm_workspace_ != nullptr) sycl::free(usm_workspace_, test_queue());
}

int committed_record::give_workspace() {
  const std::uint64_t bytes = record_->workspace_bytes[0] + record_->workspace_bytes[1];
  if (config_.workspace == workspace_source::caller_usm) {
    if (usm_workspace_ == nullptr) usm_workspace_ = sycl::malloc_device(bytes, test_queue());
    return record_->methods->set_workspace(record_, usm_workspace_, dft::container_usm);
  }
  if (!buffer_workspace_) buffer_workspace_ = std::make_unique<sycl::buffer<char, 1>>(sycl::range<1>(bytes));
  return record_->methods->set_workspace(record_, buffer_workspace_.get(), dft::container_buffer);
}

bool committed_record::committed_by_two_factor() const {
  if (record_ == nullptr || commit_status_ != 0) return false;
  const dft::backend_table* mine = is_double(config_) ? &dft::dft_c2c_2_facts_gpu_bkd_table_double
                                                      : &dft::dft_c2c_2_facts_gpu_bkd_table_float;
  return record_->backend == mine;
}

std::string committed_record::describe() const {
  if (!committed_by_two_factor()) return "not committed by the two-factor backend";
  return is_double(config_) ? dft::two_factor::describe(plan<double>())
                            : dft::two_factor::describe(plan<float>());
}

qez_test::accuracy run_and_measure(const committed_record& r, direction d, container c) {
  return is_double(r.config()) ? run_typed<double>(r, d, c) : run_typed<float>(r, d, c);
}

qez_test::accuracy_bounds bounds_of(const record_config& c) {
  return is_double(c) ? qez_test::bounds_for<double>(c.n) : qez_test::bounds_for<float>(c.n);
}

}  // namespace two_factor_test
