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
#include "tests/backends/support/run_words.hpp"
#include "tests/support/accuracy.hpp"

namespace backend_test {

// The out-of-order GPU queue every record of a test process uses (never
// destroyed: records may outlive static destruction order).
sycl::queue& gpu_test_queue();

// The caller's array on the device, USM device memory or a buffer of the
// element type, filled from the host; read() gives the device contents back.
// A record's compute entry takes argument(): the USM pointer, or a byte
// buffer over the same memory; the public interface takes usm() or buffer().
template <class T>
class device_array {
 public:
  device_array(const std::vector<T>& host, container kind, sycl::queue& queue = gpu_test_queue())
      : device_array(host.size(), kind, queue, host.data()) {}
  // `count` zero values, without a host copy (for arrays too large for one).
  device_array(std::size_t count, container kind, sycl::queue& queue = gpu_test_queue())
      : device_array(count, kind, queue, nullptr) {}
  ~device_array() {
    if (usm_ != nullptr) sycl::free(usm_, queue_);
  }
  device_array(const device_array&) = delete;
  device_array& operator=(const device_array&) = delete;

  void* argument() const { return is_usm(kind_) ? static_cast<void*>(usm_) : static_cast<void*>(byte_view_.get()); }
  T* usm() const { return usm_; }
  sycl::buffer<T, 1>& buffer() const { return *buffer_; }
  std::vector<T> read() const {
    std::vector<T> out(size_);
    if (is_usm(kind_)) {
      queue_.memcpy(out.data(), usm_, bytes()).wait();
    } else {
      sycl::host_accessor<T, 1> a(*buffer_);
      std::memcpy(out.data(), &a[0], bytes());
    }
    return out;
  }

 private:
  // `count` values copied from `initial`, or zeros when it is null.
  device_array(std::size_t count, container kind, sycl::queue& queue, const T* initial)
      : queue_(queue), size_(count), kind_(kind) {
    if (is_usm(kind_)) {
      usm_ = sycl::malloc_device<T>(size_, queue_);
      (initial != nullptr ? queue_.memcpy(usm_, initial, bytes()) : queue_.memset(usm_, 0, bytes())).wait();
      return;
    }
    buffer_ = std::make_unique<sycl::buffer<T, 1>>(sycl::range<1>(size_));
    {
      sycl::host_accessor<T, 1> a(*buffer_);
      void* to = static_cast<void*>(&a[0]);
      initial != nullptr ? std::memcpy(to, initial, bytes()) : std::memset(to, 0, bytes());
    }
    byte_view_ =
        std::make_unique<sycl::buffer<char, 1>>(buffer_->template reinterpret<char, 1>(sycl::range<1>(bytes())));
  }
  size_t bytes() const { return size_ * sizeof(T); }
  sycl::queue& queue_;
  size_t size_;
  container kind_;
  T* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<T, 1>> buffer_;
  std::unique_ptr<sycl::buffer<char, 1>> byte_view_;
};

// The input array of a compute call on the device and, out of place, the
// output array (`output_values` of `fill`).
template <class T>
class run_arrays {
 public:
  run_arrays(const std::vector<T>& input, placement where, container kind, std::int64_t output_values,
             const T& fill = T(), sycl::queue& queue = gpu_test_queue())
      : run_arrays(input, where, kind, std::vector<T>(static_cast<size_t>(output_values), fill), queue) {}
  // The output of a call given its whole starting contents.
  run_arrays(const std::vector<T>& input, placement where, container kind, const std::vector<T>& output,
             sycl::queue& queue = gpu_test_queue())
      : kind_(kind), in_(input, kind, queue) {
    if (!is_in_place(where)) out_ = std::make_unique<device_array<T>>(output, kind, queue);
  }
  const device_array<T>& input() const { return in_; }
  const device_array<T>& result() const { return out_ ? *out_ : in_; }
  // One call of the record's compute entry of the direction on these arrays.
  int call(DFTI_DESCRIPTOR* record, direction d) const;

 private:
  container kind_;
  device_array<T> in_;
  std::unique_ptr<device_array<T>> out_;
};

// Which calls get a dependency list and a result event (then waited for).
enum class call_events { usm_only, always };

// One call of the record's forward or backward compute entry in the USM or
// buffer form; returns the entry's status.
int call_compute_entry(DFTI_DESCRIPTOR* record, direction d, void* input, void* output, container kind,
                       call_events events = call_events::usm_only);

template <class T>
int run_arrays<T>::call(DFTI_DESCRIPTOR* record, direction d) const {
  return call_compute_entry(record, d, in_.argument(), result().argument(), kind_);
}

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
