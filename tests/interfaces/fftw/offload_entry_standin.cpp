#include "tests/interfaces/fftw/offload_entry_standin.hpp"

#include <cstdarg>

#include "dft/api/cpu_dfti.hpp"
#include "interfaces/omp_offload/omp_offload_entry_points.hpp"

namespace qez_test {

namespace {
std::int64_t commit_status = 0;

std::int64_t compute(bool forward, DFTI_DESCRIPTOR* desc, void* input, omp_interop_t interop,
                     va_list further) {
  offload_call call;
  call.forward = forward;
  call.descriptor = desc;
  call.interop = interop;
  call.input = input;
  if (desc != nullptr && desc->data_arrays == 2) call.output = va_arg(further, void*);
  namespace dft = ulmara::qez::dft;
  call.status = call.output != nullptr
                    ? (forward ? dft::dfti_cpu_compute_forward_outofplace(desc, input, call.output)
                               : dft::dfti_cpu_compute_backward_outofplace(desc, input,
                                                                            call.output))
                    : (forward ? dft::dfti_cpu_compute_forward_inplace(desc, input)
                               : dft::dfti_cpu_compute_backward_inplace(desc, input));
  offload_calls().push_back(call);
  return call.status;
}
}  // namespace

std::vector<offload_call>& offload_calls() {
  static std::vector<offload_call> calls;
  return calls;
}

void set_offload_commit_status(std::int64_t status) { commit_status = status; }

}  // namespace qez_test

extern "C" {

std::int64_t qez_DftiCommitDescriptor_omp_offload(DFTI_DESCRIPTOR* desc, omp_interop_t interop) {
  qez_test::offload_call call;
  call.commit = true;
  call.descriptor = desc;
  call.interop = interop;
  call.status = qez_test::commit_status != 0 ? qez_test::commit_status
                                             : ulmara::qez::dft::dfti_cpu_commit(desc);
  qez_test::offload_calls().push_back(call);
  return call.status;
}

std::int64_t qez_DftiComputeForward_omp_offload(DFTI_DESCRIPTOR* desc, void* input,
                                                omp_interop_t interop, ...) {
  va_list further;
  va_start(further, interop);
  const std::int64_t status = qez_test::compute(true, desc, input, interop, further);
  va_end(further);
  return status;
}

std::int64_t qez_DftiComputeBackward_omp_offload(DFTI_DESCRIPTOR* desc, void* input,
                                                 omp_interop_t interop, ...) {
  va_list further;
  va_start(further, interop);
  const std::int64_t status = qez_test::compute(false, desc, input, interop, further);
  va_end(further);
  return status;
}

}  // extern "C"
