// Shared by the backend tests that drive a record directly: the GPU queue of
// the test process, the caller's data on the device (USM or a byte buffer),
// one call of a record's compute entry, a caller workspace that outlives the
// record, and the scaled reference and accuracy report of a run.
#pragma once

#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/support/accuracy.hpp"

namespace backend_test {

// The out-of-order GPU queue every record of a test process uses (never
// destroyed: records may outlive static destruction order).
sycl::queue& gpu_test_queue();

// The caller's array on the device: USM device memory, or a byte buffer over
// the host copy; read() gives the device contents back.
template <class T>
class device_array {
 public:
  device_array(sycl::queue& queue, std::vector<T> host, bool usm)
      : queue_(queue), host_(std::move(host)), usm_form_(usm) {
    if (usm_form_) {
      usm_ = sycl::malloc_device<T>(host_.size(), queue_);
      queue_.memcpy(usm_, host_.data(), bytes()).wait();
    } else {
      buffer_ = std::make_unique<sycl::buffer<char, 1>>(reinterpret_cast<char*>(host_.data()),
                                                        sycl::range<1>(bytes()));
    }
  }
  ~device_array() {
    if (usm_ != nullptr) sycl::free(usm_, queue_);
  }
  device_array(const device_array&) = delete;
  device_array& operator=(const device_array&) = delete;

  // What a compute entry takes: the USM pointer or the buffer's address.
  void* argument() const { return usm_form_ ? static_cast<void*>(usm_) : static_cast<void*>(buffer_.get()); }
  std::vector<T> read() const {
    std::vector<T> out(host_.size());
    if (usm_form_) {
      queue_.memcpy(out.data(), usm_, bytes()).wait();
    } else {
      sycl::host_accessor<char, 1> a(*buffer_);
      std::memcpy(out.data(), &a[0], bytes());
    }
    return out;
  }

 private:
  size_t bytes() const { return host_.size() * sizeof(T); }
  sycl::queue& queue_;
  std::vector<T> host_;
  bool usm_form_;
  T* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<char, 1>> buffer_;
};

// Which calls get a dependency list and a result event (then waited for).
enum class call_events { usm_only, always };

// One call of the record's forward or backward compute entry in the USM or
// buffer form; returns the entry's status.
int call_compute_entry(DFTI_DESCRIPTOR* record, bool forward, void* input, void* output, bool usm,
                       call_events events = call_events::usm_only);

// A workspace the test hands a committed record; declared after (or freed
// after) the record it was given to.
class caller_workspace {
 public:
  explicit caller_workspace(sycl::queue& queue) : queue_(queue) {}
  ~caller_workspace();
  caller_workspace(const caller_workspace&) = delete;
  caller_workspace& operator=(const caller_workspace&) = delete;

  // USM device memory of `bytes` (made on the first call), handed over.
  int give_usm(DFTI_DESCRIPTOR* record, std::uint64_t bytes);
  // A fresh byte buffer of `bytes`, handed over.
  int give_buffer(DFTI_DESCRIPTOR* record, std::uint64_t bytes);
  // The buffer made by an earlier call if any, else a fresh one; handed over.
  int give_buffer_once(DFTI_DESCRIPTOR* record, std::uint64_t bytes);

  void* usm() const { return usm_; }
  sycl::buffer<char, 1>* buffer() const { return buffer_.get(); }

 private:
  sycl::queue& queue_;
  void* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<char, 1>> buffer_;
};

// A rank-1 complex record of `length` as the front end makes it (one batch
// record), bound to the complex one-dimensional list of its precision and
// given `queue`, into *record; false (and a test failure) when creation
// fails, *record then as creation left it.
bool create_listed_c2c_1d_record(DFTI_DESCRIPTOR** record, bool double_precision, std::int64_t length,
                                 sycl::queue* queue);

// Both workspace parts the record asked for.
inline std::uint64_t workspace_bytes(const DFTI_DESCRIPTOR* record) {
  return record->workspace_bytes[0] + record->workspace_bytes[1];
}

// The record is committed, to `mine`.
bool committed_to(const DFTI_DESCRIPTOR* record, const ulmara::qez::dft::backend_table* mine);

// The reference of `count` packed transforms of the direction, times `scale`.
std::vector<qez_test::cld> scaled_reference_c2c(const std::vector<qez_test::cld>& input,
                                                const std::vector<std::int64_t>& lengths, std::int64_t count,
                                                bool forward, long double scale);

// Prints the errors in units of their bounds (for the test log).
void report_in_bound_units(const qez_test::accuracy& a, const qez_test::accuracy_bounds& b);

}  // namespace backend_test
