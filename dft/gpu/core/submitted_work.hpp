// The work a compute has submitted so far, waited for when the compute ends
// without success. A compute that chains several submissions (its own
// kernels and its children's computes) and then fails by status or by
// exception must not hand control back while that work still reads or
// writes the caller's data: a caller that frees its data on the failure
// would free memory a kernel uses. On success the work runs on; the caller
// holds the compute's last event.
#pragma once

#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/status_codes.hpp"

namespace ulmara::qez::dft {

class submitted_work {
 public:
  submitted_work() = default;
  submitted_work(const submitted_work&) = delete;
  submitted_work& operator=(const submitted_work&) = delete;
  // Unless released: waits for every recorded event (a failure status, or
  // an exception unwinding the compute). A wait that throws is dropped, so
  // the compute's own failure is the one the caller sees.
  ~submitted_work() {
    if (!released_) wait_quietly();
  }

  // Records `e` (a submission of the compute, or the event a child's
  // successful compute handed back) and returns it.
  const sycl::event& add(const sycl::event& e) {
    events_.push_back(e);
    return e;
  }

  // The compute ends with `status`: success releases the work, a failure
  // leaves it to the destructor's wait. Returns `status`.
  int settle(int status) {
    if (status == status_success) released_ = true;
    return status;
  }

 private:
  void wait_quietly() noexcept {
    for (sycl::event& e : events_) {
      try {
        e.wait();
      } catch (...) {
      }
    }
  }

  std::vector<sycl::event> events_;
  bool released_ = false;
};

}  // namespace ulmara::qez::dft
