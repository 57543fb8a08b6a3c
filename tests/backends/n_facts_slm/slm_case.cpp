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

// The caller's array on the device, in one container kind.
template <class T>
class device_array {
 public:
  device_array(std::vector<cplx<T>> host, container c) : host_(std::move(host)), kind_(c) {
    if (kind_ == container::usm) {
      usm_ = sycl::malloc_device<cplx<T>>(host_.size(), test_queue());
      test_queue().memcpy(usm_, host_.data(), bytes()).wait();
    } else {
      buffer_ = std::make_unique<sycl::buffer<char, 1>>(reinterpret_cast<char*>(host_.data()), sycl::range<1>(bytes()));
    }
  }
  ~device_array() {
    if (usm_ != nullptr) sycl::free(usm_, test_queue());
  }
  device_array(const device_array&) = delete;
  device_array& operator=(const device_array&) = delete;

  void* argument() const { return kind_ == container::usm ? static_cast<void*>(usm_) : static_cast<void*>(buffer_.get()); }
  std::vector<cplx<T>> read() const {
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

  const std::vector<cplx<T>> got_all = result.read();
  const long double scale = d == direction::forward ? cfg.fwd_scale : cfg.bwd_scale;
  std::vector<qez_test::cld> got, reference;
  for (std::int64_t t : measured_transforms(cfg.count, sample)) {
    const std::vector<qez_test::cld> one(input.begin() + t * n, input.begin() + (t + 1) * n);
    std::vector<qez_test::cld> ref = qez_test::reference_c2c(
        one, {n}, 1, d == direction::forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
    for (qez_test::cld& v : ref) reference.push_back(v * scale);
    got.insert(got.end(), got_all.begin() + t * n, got_all.begin() + (t + 1) * n);
  }
  out.error = qez_test::measure(got, reference);
  return out;
}

}  // namespace

const char* name_of(precision p) { return p == precision::double_precision ? "double" : "float"; }

sycl::queue& test_queue() {
  static sycl::queue* queue = new sycl::queue(sycl::gpu_selector_v);
  return *queue;
}

committed_record::committed_record(const record_config& c) : config_(c) {
  const std::int64_t created = dft::create_descriptor_node(
      &record_, is_double(c) ? dft::dfti_double : dft::dfti_single, dft::dfti_complex, 1, &c.length);
  if (created != 0 || record_ == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return;
  }
  is_double(c) ? dft::bind_backend_list_c2c_1d_double(&record_) : dft::bind_backend_list_c2c_1d_float(&record_);
  record_->queue = &test_queue();
  configure(record_, c);
  commit_status_ = record_->methods->commit(record_);
}

committed_record::~committed_record() {
  if (record_ != nullptr) record_->free(record_, record_);
  if (usm_workspace_ != nullptr) sycl::free(usm_workspace_, test_queue());
}

int committed_record::give_buffer_workspace() {
  buffer_workspace_ = std::make_unique<sycl::buffer<char, 1>>(sycl::range<1>(workspace_bytes()));
  return record_->methods->set_workspace(record_, buffer_workspace_.get(), dft::container_buffer);
}

int committed_record::give_usm_workspace() {
  if (usm_workspace_ == nullptr) usm_workspace_ = sycl::malloc_device(workspace_bytes(), test_queue());
  return record_->methods->set_workspace(record_, usm_workspace_, dft::container_usm);
}

bool committed_record::committed_here() const {
  if (record_ == nullptr || commit_status_ != 0) return false;
  const dft::backend_table* mine =
      is_double(config_) ? &dft::dft_c2c_n_facts_gpu_bkd_table_double : &dft::dft_c2c_n_facts_gpu_bkd_table_float;
  return record_->backend == mine && record_->commit_status == dft::dfti_committed;
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
  std::printf("[ accuracy ] L2 %.3f, max %.3f (in units of their bounds)\n",
              static_cast<double>(a.relative_l2 / b.relative_l2), static_cast<double>(a.relative_max / b.relative_max));
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
