// Shared pieces of the OpenMP-offload tests: owners of descriptors and
// interop objects, USM arrays on a queue, and the standard-error lines the
// entry points print.
#pragma once

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <functional>
#include <string>

#include <sycl/sycl.hpp>

#include "dft/api/cpu_dfti.hpp"
#include "qez_dfti_omp_offload.h"

namespace qez_offload_test {

constexpr const char* commit_name = "qez_DftiCommitDescriptor_omp_offload";
constexpr const char* forward_name = "qez_DftiComputeForward_omp_offload";
constexpr const char* backward_name = "qez_DftiComputeBackward_omp_offload";
constexpr const char* load_message = "Failed to load the OpenMP offloading library.";
constexpr const char* runtime_id_message = "Failed to retrieve the required runtime id.";
constexpr const char* commit_queue_message = "Failed to retrieve the required queue for openMP offloading.";
constexpr const char* compute_queue_message = "Failed to retrieve the required queue for OpenMP offloading.";
constexpr const char* not_exposed_message = "Native device isn't exposed to SYCL.";

inline std::string offload_line(const std::string& entry, const std::string& message) {
  return entry + ": An error specific to OpenMP offload was detected. Message: " + message + "\n";
}
inline std::string sycl_line(const std::string& entry, sycl::errc code, const std::string& message) {
  return entry + ": A sycl::exception was caught internally (code " +
         std::to_string(static_cast<int>(code)) + "). Message: " + message + "\n";
}

// Runs `call` with standard error captured; returns the status and stores
// what was printed.
inline std::int64_t with_stderr(const std::function<std::int64_t()>& call, std::string* printed) {
  testing::internal::CaptureStderr();
  const std::int64_t status = call();
  *printed = testing::internal::GetCapturedStderr();
  return status;
}

// A DFTI descriptor of the CPU DFTI front end, freed at the end of scope.
class descriptor_owner {
public:
  descriptor_owner() = default;
  ~descriptor_owner() { release(); }
  descriptor_owner(const descriptor_owner&) = delete;
  descriptor_owner& operator=(const descriptor_owner&) = delete;
  DFTI_DESCRIPTOR* get() const { return handle_; }
  // The handle for a create to fill. A create overwrites the handle, so the
  // record held until now is freed first: one owner may serve several
  // descriptors in turn.
  DFTI_DESCRIPTOR** slot() {
    release();
    return &handle_;
  }
  DFTI_DESCRIPTOR* operator->() const { return handle_; }

private:
  void release() {
    if (handle_ != nullptr) ulmara::qez::dft::free_cpu_descriptor(&handle_);
  }
  DFTI_DESCRIPTOR* handle_ = nullptr;
};

template <class Real>
std::int64_t create_complex_1d(descriptor_owner& d, std::int64_t length) {
  namespace dft = ulmara::qez::dft;
  if constexpr (sizeof(Real) == sizeof(float)) return dft::dfti_cpu_create_single_1d(d.slot(), 32, length);
  else return dft::dfti_cpu_create_double_1d(d.slot(), 32, length);
}

// A one-dimensional complex descriptor, in place or not, with `batch`
// transforms packed one after another.
template <class Real>
void make_complex_1d(descriptor_owner& d, std::int64_t length, bool in_place, std::int64_t batch = 1) {
  namespace dft = ulmara::qez::dft;
  ASSERT_EQ(create_complex_1d<Real>(d, length), 0);
  if (!in_place) {
    ASSERT_EQ(dft::dfti_cpu_set_value(d.get(), dft::dfti_param_placement, 44), 0);
  }
  if (batch > 1) {
    ASSERT_EQ(dft::dfti_cpu_set_value(d.get(), dft::dfti_param_number_of_transforms, batch), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(d.get(), dft::dfti_param_fwd_distance, length), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(d.get(), dft::dfti_param_bwd_distance, length), 0);
  }
}

// USM of `count` elements of T on `queue`, freed at the end of scope.
template <class T>
class usm_array {
public:
  usm_array(sycl::queue& queue, std::size_t count, sycl::usm::alloc kind = sycl::usm::alloc::shared)
      : queue_(queue), count_(count), data_(sycl::malloc<T>(count, queue, kind)) {}
  ~usm_array() { sycl::free(data_, queue_); }
  usm_array(const usm_array&) = delete;
  usm_array& operator=(const usm_array&) = delete;
  T* data() const { return data_; }
  std::size_t size() const { return count_; }

private:
  sycl::queue& queue_;
  std::size_t count_;
  T* data_;
};

}  // namespace qez_offload_test
