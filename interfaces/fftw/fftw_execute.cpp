// Running FFTW3-style plans.
#include "interfaces/fftw/fftw_execute.hpp"

#include <cstdarg>

#include "dft/api/status_codes.hpp"
#include "dft/api/verbose_descriptor.hpp"
#include "interfaces/omp_offload/omp_offload_entry_points.hpp"
#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

// ---------------------------------------------------------------------------
// Offload.

int offload_compute(bool forward, fftw_plan_record* plan, void* interop, bool in_place) {
  auto* compute = forward ? &qez_DftiComputeForward_omp_offload
                          : &qez_DftiComputeBackward_omp_offload;
  const std::int64_t status = in_place ? compute(plan->descriptor, plan->input, interop)
                                       : compute(plan->descriptor, plan->input, interop,
                                                 plan->output);
  return static_cast<int>(status);
}

// ---------------------------------------------------------------------------
// CPU.

constexpr int max_data_arrays = 4;

std::int64_t compute_fftw(DFTI_DESCRIPTOR* descriptor, verbose_direction direction, void* input,
                          va_list further) {
  if (descriptor == nullptr) return status_bad_descriptor;
  const bool forward = direction == verbose_direction::forward;
  const compute_entry entry = forward ? descriptor->compute_fwd : descriptor->compute_bwd;
  if (entry == nullptr) return status_invalid_configuration;
  if (input == nullptr) return status_invalid_descriptor;
  // The addresses after the input, as many as the descriptor takes.
  void* more[max_data_arrays - 1] = {};
  const auto count = static_cast<std::int32_t>(descriptor->data_arrays);
  for (int i = 0; i + 1 < count && i < max_data_arrays - 1; ++i) {
    more[i] = va_arg(further, void*);
    if (more[i] == nullptr) return status_invalid_descriptor;
  }
  // Split-complex descriptors take their third and fourth arrays in the
  // slots that follow the output.
  auto run = [&] {
    return entry(descriptor, input, more[0], more[1], static_cast<std::uint64_t*>(more[2]),
                 nullptr);
  };
  if (*qez_serv_verbose_mode() == 0) return run();
  const double start = qez_serv_dsecnd();
  const int status = run();
  const double seconds = qez_serv_dsecnd() - start;
  const void* output = count >= 2 ? more[0] : nullptr;
  if (forward) print_verbose_cpu_descriptor_forward(descriptor, input, output, seconds);
  else print_verbose_cpu_descriptor_backward(descriptor, input, output, seconds);
  return status;
}

}  // namespace

int fftw_plan_record_execute_forward_inplace(qez_fftw_plan_record* plan, void* interop) {
  return offload_compute(true, library_plan(plan), interop, true);
}
int fftw_plan_record_execute_backward_inplace(qez_fftw_plan_record* plan, void* interop) {
  return offload_compute(false, library_plan(plan), interop, true);
}
int fftw_plan_record_execute_forward(qez_fftw_plan_record* plan, void* interop) {
  return offload_compute(true, library_plan(plan), interop, false);
}
int fftw_plan_record_execute_backward(qez_fftw_plan_record* plan, void* interop) {
  return offload_compute(false, library_plan(plan), interop, false);
}

// In-place operations hand on the output they are called with; the compute
// reads it only when its descriptor takes a second array.
int fftw_plan_record_execute_forward_inplace_cpu(qez_fftw_plan_record* record, void*, void* out) {
  const fftw_plan_record* plan = library_plan(record);
  return static_cast<int>(dfti_cpu_compute_forward_fftw(plan->descriptor, plan->input, out));
}
int fftw_plan_record_execute_backward_inplace_cpu(qez_fftw_plan_record* record, void*, void* out) {
  const fftw_plan_record* plan = library_plan(record);
  return static_cast<int>(dfti_cpu_compute_backward_fftw(plan->descriptor, plan->input, out));
}
int fftw_plan_record_execute_forward_cpu(qez_fftw_plan_record* record, void*, void*) {
  const fftw_plan_record* plan = library_plan(record);
  return static_cast<int>(
      dfti_cpu_compute_forward_fftw(plan->descriptor, plan->input, plan->output));
}
int fftw_plan_record_execute_backward_cpu(qez_fftw_plan_record* record, void*, void*) {
  const fftw_plan_record* plan = library_plan(record);
  return static_cast<int>(
      dfti_cpu_compute_backward_fftw(plan->descriptor, plan->input, plan->output));
}

fftw_plan_execute_offload offload_execute_operation(bool forward, bool in_place) {
  if (forward)
    return in_place ? fftw_plan_record_execute_forward_inplace : fftw_plan_record_execute_forward;
  return in_place ? fftw_plan_record_execute_backward_inplace : fftw_plan_record_execute_backward;
}

fftw_plan_execute_cpu cpu_execute_operation(bool forward, bool in_place) {
  if (forward)
    return in_place ? fftw_plan_record_execute_forward_inplace_cpu
                    : fftw_plan_record_execute_forward_cpu;
  return in_place ? fftw_plan_record_execute_backward_inplace_cpu
                  : fftw_plan_record_execute_backward_cpu;
}

std::int64_t dfti_cpu_compute_forward_fftw(DFTI_DESCRIPTOR* descriptor, void* input, ...) {
  va_list further;
  va_start(further, input);
  const std::int64_t status = compute_fftw(descriptor, verbose_direction::forward, input, further);
  va_end(further);
  return status;
}

std::int64_t dfti_cpu_compute_backward_fftw(DFTI_DESCRIPTOR* descriptor, void* input, ...) {
  va_list further;
  va_start(further, input);
  const std::int64_t status =
      compute_fftw(descriptor, verbose_direction::backward, input, further);
  va_end(further);
  return status;
}

void fftw_execute_offload(const fftw_plan_record* plan, void* interop) {
  if (plan == nullptr || plan->execute_offload == nullptr) return;
  plan->execute_offload(public_plan(const_cast<fftw_plan_record*>(plan)), interop);
}

// The plan itself is never written: a copy on the stack carries the new
// arrays, so one plan may run on several array pairs at once.
void fftw_execute_dft_offload(const fftw_plan_record* plan, void* in, void* out, void* interop,
                              bool check_arrays) {
  if (plan == nullptr || plan->execute_offload == nullptr) return;
  if (check_arrays && (in == nullptr || out == nullptr)) return;
  fftw_plan_record copy = *plan;
  copy.input = in;
  copy.output = out;
  copy.execute_offload(public_plan(&copy), interop);
}

void fftw_execute_dft_r2c_cpu(const fftw_plan_record* plan, void* in, void* out) {
  if (plan == nullptr || plan->execute_cpu == nullptr) return;
  fftw_plan_record copy = *plan;
  copy.input = in;
  copy.output = out;
  copy.execute_cpu(public_plan(&copy), in, out);
}

void fftw_execute_dft_cpu(const fftw_plan_record* plan, void* in, void* out) {
  if (in == nullptr || out == nullptr) return;
  fftw_execute_dft_r2c_cpu(plan, in, out);
}

}  // namespace ulmara::qez::dft
