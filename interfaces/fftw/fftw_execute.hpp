// Running FFTW3-style plans: the execute operations that plan cores store in
// a plan record, the CPU compute entries they call, and the executors that
// run a plan on its own arrays or on a copy with new arrays.
#pragma once

#include <cstdint>
#include <type_traits>

#include "dft/api/fftw_plan_record.hpp"

namespace ulmara::qez::dft {

// Offload execute operations: compute on the interop's device.
int fftw_plan_record_execute_forward_inplace(qez_fftw_plan_record* plan, void* interop);
int fftw_plan_record_execute_backward_inplace(qez_fftw_plan_record* plan, void* interop);
int fftw_plan_record_execute_forward(qez_fftw_plan_record* plan, void* interop);
int fftw_plan_record_execute_backward(qez_fftw_plan_record* plan, void* interop);

// CPU execute operations: compute on the host through the descriptor's own
// compute functions.
int fftw_plan_record_execute_forward_inplace_cpu(qez_fftw_plan_record* plan, void* in, void* out);
int fftw_plan_record_execute_backward_inplace_cpu(qez_fftw_plan_record* plan, void* in, void* out);
int fftw_plan_record_execute_forward_cpu(qez_fftw_plan_record* plan, void* in, void* out);
int fftw_plan_record_execute_backward_cpu(qez_fftw_plan_record* plan, void* in, void* out);

fftw_plan_execute_offload offload_execute_operation(bool forward, bool in_place);
fftw_plan_execute_cpu cpu_execute_operation(bool forward, bool in_place);

// CPU compute of a committed descriptor on the input and as many further
// data addresses as the descriptor takes; with verbose mode on, the compute
// is timed and one verbose line written. 5 no descriptor, 2 no compute
// function for the direction, 3 a missing data address, else the compute
// function's status.
std::int64_t dfti_cpu_compute_forward_fftw(DFTI_DESCRIPTOR* descriptor, void* input, ...);
std::int64_t dfti_cpu_compute_backward_fftw(DFTI_DESCRIPTOR* descriptor, void* input, ...);

// Executors; the status of the transform is dropped.
// The plan on its own arrays (offload).
void fftw_execute_offload(const fftw_plan_record* plan, void* interop);
// A copy of the plan on new arrays; does nothing without a plan, its execute
// operation, or (when `check_arrays`) either array.
void fftw_execute_dft_offload(const fftw_plan_record* plan, void* in, void* out, void* interop,
                              bool check_arrays);
void fftw_execute_dft_cpu(const fftw_plan_record* plan, void* in, void* out);
// As fftw_execute_dft_cpu without the tests of the arrays.
void fftw_execute_dft_r2c_cpu(const fftw_plan_record* plan, void* in, void* out);

// The real-data executors of single precision test both arrays; those of
// double precision hand them on untested.
template <class Real>
constexpr bool real_executor_checks_arrays = std::is_same<Real, float>::value;

}  // namespace ulmara::qez::dft
