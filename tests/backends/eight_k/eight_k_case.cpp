#include "tests/backends/eight_k/eight_k_case.hpp"

#include <cstdio>
#include <cstring>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/api/descriptor_node.hpp"
#include "dft/gpu/core/backend_lists.hpp"
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

// The caller's array on the device, in one container kind.
template <class T>
class device_array {
 public:
  device_array(std::vector<cplx<T>> host, container c) : host_(std::move(host)), kind_(c) {
    if (kind_ == container::usm) {
      usm_ = sycl::malloc_device<cplx<T>>(host_.size(), test_queue());
      test_queue().memcpy(usm_, host_.data(), bytes()).wait();
    } else {
      buffer_ = std::make_unique<sycl::buffer<char, 1>>(reinterpret_cast<char*>(host_.data()),
                                                        sycl::range<1>(bytes()));
    }
  }
  ~device_array() {
    if (usm_ != nullptr) sycl::free(usm_, test_queue());
  }
  device_array(const device_array&) = delete;
  device_array& operator=(const device_array&) = delete;

  void* argument() const {
    return kind_ == container::usm ? static_cast<void*>(usm_) : static_cast<void*>(buffer_.get());
  }
  std::vector<qez_test::cld> read() const {
    std::vector<cplx<T>> out(host_.size());
    if (kind_ == container::usm) {
      test_queue().memcpy(out.data(), usm_, bytes()).wait();
    } else {
      sycl::host_accessor<char, 1> a(*buffer_);
      std::memcpy(out.data(), &a[0], bytes());
    }
    return std::vector<qez_test::cld>(out.begin(), out.end());
  }

 private:
  size_t bytes() const { return host_.size() * sizeof(cplx<T>); }
  std::vector<cplx<T>> host_;
  container kind_;
  cplx<T>* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<char, 1>> buffer_;
};

template <class T>
run_result run_typed(const committed_record& r, direction d, container c) {
  const record_config& cfg = r.config();
  const std::int64_t values = n * cfg.count;
  const std::vector<qez_test::cld> input = qez_test::random_complex(values, 8192 + cfg.count);
  device_array<T> in_dev(std::vector<cplx<T>>(input.begin(), input.end()), c);
  std::unique_ptr<device_array<T>> out_dev;
  if (!cfg.in_place) out_dev = std::make_unique<device_array<T>>(std::vector<cplx<T>>(values), c);
  const device_array<T>& result = cfg.in_place ? in_dev : *out_dev;

  std::uint64_t kind = c == container::usm ? dft::container_usm : dft::container_buffer;
  std::vector<sycl::event> dependencies;
  sycl::event done;
  DFTI_DESCRIPTOR* rec = r.record();
  const auto entry = d == direction::forward ? rec->compute_fwd : rec->compute_bwd;
  run_result out;
  out.status = c == container::usm ? entry(rec, in_dev.argument(), result.argument(), &dependencies, &kind, &done)
                                   : entry(rec, in_dev.argument(), result.argument(), nullptr, &kind, nullptr);
  if (out.status != 0) return out;
  if (c == container::usm) done.wait();

  std::vector<qez_test::cld> reference = qez_test::reference_c2c(
      input, {n}, cfg.count, d == direction::forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
  const long double scale = d == direction::forward ? cfg.fwd_scale : cfg.bwd_scale;
  for (qez_test::cld& v : reference) v *= scale;
  out.error = qez_test::measure(result.read(), reference);
  return out;
}

}  // namespace

sycl::queue& test_queue() {
  static sycl::queue* queue = new sycl::queue(sycl::gpu_selector_v);
  return *queue;
}

sycl::queue& in_order_queue() {
  static sycl::queue* queue =
      new sycl::queue(test_queue().get_context(), test_queue().get_device(), sycl::property::queue::in_order());
  return *queue;
}

committed_record::committed_record(const record_config& c, sycl::queue* q) : config_(c), queue_(q) {
  // A record as the front end makes it (one batch record), bound to the
  // complex one-dimensional list of its precision.
  const std::int64_t created = dft::create_descriptor_node(
      &record_, is_double(c) ? dft::dfti_double : dft::dfti_single, dft::dfti_complex, 1, &c.length);
  if (created != 0 || record_ == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return;
  }
  is_double(c) ? dft::bind_backend_list_c2c_1d_double(&record_) : dft::bind_backend_list_c2c_1d_float(&record_);
  record_->queue = queue_;
  configure(record_, c);
  commit_status_ = record_->methods->commit(record_);
}

committed_record::~committed_record() {
  if (record_ != nullptr) record_->free(record_, record_);
  if (usm_workspace_ != nullptr) sycl::free(usm_workspace_, *queue_);
}

int committed_record::give_buffer_workspace() {
  buffer_workspace_ = std::make_unique<sycl::buffer<char, 1>>(sycl::range<1>(workspace_bytes()));
  return record_->methods->set_workspace(record_, buffer_workspace_.get(), dft::container_buffer);
}

int committed_record::give_usm_workspace() {
  if (usm_workspace_ == nullptr) usm_workspace_ = sycl::malloc_device(workspace_bytes(), *queue_);
  return record_->methods->set_workspace(record_, usm_workspace_, dft::container_usm);
}

bool committed_record::committed_here() const {
  if (record_ == nullptr || commit_status_ != 0) return false;
  const dft::backend_table* mine = is_double(config_) ? &dft::dft_c2c_8k_2_facts_gpu_bkd_table_double
                                                      : &dft::dft_c2c_8k_2_facts_gpu_bkd_table_float;
  return record_->backend == mine && record_->commit_status == dft::dfti_committed;
}

run_result run_and_measure(const committed_record& r, direction d, container c) {
  return is_double(r.config()) ? run_typed<double>(r, d, c) : run_typed<float>(r, d, c);
}

qez_test::accuracy_bounds bounds_of(precision p) {
  return p == precision::double_precision ? qez_test::bounds_for<double>(n) : qez_test::bounds_for<float>(n);
}

void report_in_bound_units(const qez_test::accuracy& a, const qez_test::accuracy_bounds& b) {
  std::printf("[ accuracy ] L2 %.3f, max %.3f (in units of their bounds)\n",
              static_cast<double>(a.relative_l2 / b.relative_l2), static_cast<double>(a.relative_max / b.relative_max));
}

}  // namespace eight_k_test
