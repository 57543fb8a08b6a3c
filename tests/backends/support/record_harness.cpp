#include "tests/backends/support/record_harness.hpp"

#include <cstdio>

#include <gtest/gtest.h>

#include "dft/api/descriptor_node.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "tests/support/reference_dft.hpp"

namespace backend_test {

namespace dft = ulmara::qez::dft;

sycl::queue& gpu_test_queue() {
  static sycl::queue* queue = new sycl::queue(sycl::gpu_selector_v);
  return *queue;
}

int call_compute_entry(DFTI_DESCRIPTOR* record, direction d, void* input, void* output, container c,
                       call_events events) {
  const bool with_events = is_usm(c) || events == call_events::always;
  std::uint64_t kind = is_usm(c) ? dft::container_usm : dft::container_buffer;
  std::vector<sycl::event> dependencies;
  sycl::event done;
  const auto entry = is_forward(d) ? record->compute_fwd : record->compute_bwd;
  const int status = entry(record, input, output, with_events ? &dependencies : nullptr, &kind,
                           with_events ? &done : nullptr);
  if (with_events) done.wait();
  return status;
}

caller_workspace::~caller_workspace() {
  if (usm_ != nullptr) sycl::free(usm_, queue_);
}

int caller_workspace::give_usm(DFTI_DESCRIPTOR* record, std::uint64_t bytes) {
  if (usm_ == nullptr) usm_ = sycl::malloc_device(bytes, queue_);
  return record->methods->set_workspace(record, usm_, dft::container_usm);
}

int caller_workspace::give_buffer(DFTI_DESCRIPTOR* record, std::uint64_t bytes) {
  buffer_ = std::make_unique<sycl::buffer<char, 1>>(sycl::range<1>(bytes));
  return record->methods->set_workspace(record, buffer_.get(), dft::container_buffer);
}

int caller_workspace::give_buffer_once(DFTI_DESCRIPTOR* record, std::uint64_t bytes) {
  if (!buffer_) buffer_ = std::make_unique<sycl::buffer<char, 1>>(sycl::range<1>(bytes));
  return record->methods->set_workspace(record, buffer_.get(), dft::container_buffer);
}

bool create_listed_c2c_1d_record(DFTI_DESCRIPTOR** record, bool double_precision, std::int64_t length,
                                 sycl::queue* queue) {
  const std::int64_t created = dft::create_descriptor_node(
      record, double_precision ? dft::dfti_double : dft::dfti_single, dft::dfti_complex, 1, &length);
  if (created != 0 || *record == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return false;
  }
  double_precision ? dft::bind_backend_list_c2c_1d_double(record) : dft::bind_backend_list_c2c_1d_float(record);
  (*record)->queue = queue;
  return true;
}

bool committed_to(const DFTI_DESCRIPTOR* record, const dft::backend_table* mine) {
  return record != nullptr && record->backend == mine && record->commit_status == dft::dfti_committed;
}

std::vector<qez_test::cld> scaled_reference_c2c(const std::vector<qez_test::cld>& input,
                                                const std::vector<std::int64_t>& lengths, std::int64_t count,
                                                bool forward, long double scale) {
  std::vector<qez_test::cld> reference = qez_test::reference_c2c(
      input, lengths, count, forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
  for (qez_test::cld& v : reference) v *= scale;
  return reference;
}

void report_in_bound_units(const qez_test::accuracy& a, const qez_test::accuracy_bounds& b) {
  std::printf("[ accuracy ] L2 %.3f, max %.3f (in units of their bounds)\n",
              static_cast<double>(a.relative_l2 / b.relative_l2),
              static_cast<double>(a.relative_max / b.relative_max));
}

}  // namespace backend_test
