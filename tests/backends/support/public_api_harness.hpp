// Shared by the backend tests that go through the public interface: the
// caller's typed data on the device (USM or a buffer), the descriptor type
// of a scalar type, the view of real data as complex and back, one compute
// call of either direction and placement, and a caller's workspace handed
// to a committed descriptor.
#pragma once

#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "ulmara/qez/dft.hpp"

namespace backend_test {

namespace qd = ulmara::qez::dft;

enum class container { usm, buffer };
enum class workspace { internal, external_usm, external_buffer };

template <class T>
constexpr qd::precision precision_of() {
  return sizeof(T) == sizeof(float) ? qd::precision::SINGLE : qd::precision::DOUBLE;
}
template <class T>
using real_descriptor = qd::descriptor<precision_of<T>(), qd::domain::REAL>;
template <class T>
using complex_descriptor = qd::descriptor<precision_of<T>(), qd::domain::COMPLEX>;

// Values of one side of the caller's data, in one container kind, on the
// GPU queue of the test process.
template <class V>
class typed_device_data {
 public:
  typed_device_data(const std::vector<V>& host, container c) : size_(host.size()), kind_(c) {
    if (kind_ == container::usm) {
      usm_ = sycl::malloc_device<V>(size_, gpu_test_queue());
      gpu_test_queue().memcpy(usm_, host.data(), bytes()).wait();
    } else {
      buffer_ = std::make_unique<sycl::buffer<V, 1>>(sycl::range<1>(size_));
      sycl::host_accessor<V, 1> a(*buffer_);
      std::memcpy(&a[0], host.data(), bytes());
    }
  }
  ~typed_device_data() {
    if (usm_ != nullptr) sycl::free(usm_, gpu_test_queue());
  }
  typed_device_data(const typed_device_data&) = delete;
  typed_device_data& operator=(const typed_device_data&) = delete;

  V* usm() const { return usm_; }
  sycl::buffer<V, 1>& buffer() const { return *buffer_; }
  template <class U>
  sycl::buffer<U, 1> buffer_as() const {
    return buffer_->template reinterpret<U, 1>(sycl::range<1>(bytes() / sizeof(U)));
  }
  template <class U>
  U* usm_as() const {
    return reinterpret_cast<U*>(usm_);
  }
  std::vector<V> read() const {
    std::vector<V> out(size_);
    if (kind_ == container::usm) {
      gpu_test_queue().memcpy(out.data(), usm_, bytes()).wait();
    } else {
      sycl::host_accessor<V, 1> a(*buffer_);
      std::memcpy(out.data(), &a[0], bytes());
    }
    return out;
  }

 private:
  size_t bytes() const { return size_ * sizeof(V); }
  size_t size_;
  container kind_;
  V* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<V, 1>> buffer_;
};

// Interleaved reals as complex values, and back.
template <class T>
std::vector<std::complex<T>> as_complex(const std::vector<T>& v) {
  std::vector<std::complex<T>> out(v.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = {v[2 * i], v[2 * i + 1]};
  return out;
}
template <class T>
std::vector<T> as_real(const std::vector<std::complex<T>>& v) {
  std::vector<T> out;
  out.reserve(2 * v.size());
  for (const std::complex<T>& c : v) {
    out.push_back(c.real());
    out.push_back(c.imag());
  }
  return out;
}

// One call of the public compute function of the direction, in place (on
// `in`) or out of place; USM calls are waited for.
template <bool forward, class Descriptor, class I, class O>
void run_public_compute(Descriptor& d, const typed_device_data<I>& in, const typed_device_data<O>& out,
                        container kind, bool in_place) {
  const auto call = [&](auto&&... a) {
    if constexpr (forward)
      return qd::compute_forward(d, std::forward<decltype(a)>(a)...);
    else
      return qd::compute_backward(d, std::forward<decltype(a)>(a)...);
  };
  if (kind == container::usm) {
    sycl::event done = in_place ? call(in.usm()) : call(in.usm(), out.usm());
    done.wait();
  } else if (in_place) {
    call(in.buffer());
  } else {
    call(in.buffer(), out.buffer());
  }
}

// The caller's workspace of a committed descriptor, in the descriptor's
// scalar type; declared before the descriptor, it is freed after it.
template <class T>
class public_workspace {
 public:
  public_workspace() = default;
  public_workspace(const public_workspace&) = delete;
  public_workspace& operator=(const public_workspace&) = delete;
  ~public_workspace() {
    if (usm_ != nullptr) sycl::free(usm_, gpu_test_queue());
  }
  // Allocates what `record` asked for (plus `spare` elements) and hands it
  // to `d`; nothing for an internal workspace.
  template <class Descriptor>
  void attach(Descriptor& d, const DFTI_DESCRIPTOR* record, workspace kind, size_t spare = 0) {
    if (kind == workspace::internal) return;
    const std::uint64_t bytes = record->workspace_bytes[0] + record->workspace_bytes[1];
    const size_t count = static_cast<size_t>((bytes + sizeof(T) - 1) / sizeof(T)) + spare;
    if (kind == workspace::external_usm) {
      usm_ = sycl::malloc_device<T>(count, gpu_test_queue());
      d.set_workspace(usm_);
    } else {
      buffer_ = std::make_unique<sycl::buffer<T, 1>>(sycl::range<1>(count));
      d.set_workspace(*buffer_);
    }
  }

 private:
  T* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<T, 1>> buffer_;
};

}  // namespace backend_test
