// Host stand-in for the OpenMP-offload entry points, defined in the test
// executable while the library has none of its own: commit commits the
// descriptor on the host CPU, compute runs its CPU compute. Each call is
// logged so that tests see what the FFTW-style layer handed over.
#pragma once

#include <cstdint>
#include <vector>

#include "dft/api/descriptor_record.hpp"

namespace qez_test {

struct offload_call {
  bool commit = false;
  bool forward = false;
  DFTI_DESCRIPTOR* descriptor = nullptr;
  void* interop = nullptr;
  void* input = nullptr;
  void* output = nullptr;  // read only for out-of-place descriptors
  std::int64_t status = 0;
};

std::vector<offload_call>& offload_calls();
// Status the next commits return without committing (0: commit on the host).
void set_offload_commit_status(std::int64_t status);

}  // namespace qez_test
