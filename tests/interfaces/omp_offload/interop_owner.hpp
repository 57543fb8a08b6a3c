// An interop object of the OpenMP runtime double, destroyed at the end of
// scope as the runtime destroys interop objects.
#pragma once

#include "tests/doubles/omptarget/omptarget_double.h"

namespace qez_offload_test {

class interop_owner {
public:
  explicit interop_owner(void* interop) : interop_(interop) {}
  ~interop_owner() { qez_omp_double_destroy_interop(interop_); }
  interop_owner(const interop_owner&) = delete;
  interop_owner& operator=(const interop_owner&) = delete;
  void* get() const { return interop_; }

private:
  void* interop_;
};

}  // namespace qez_offload_test
