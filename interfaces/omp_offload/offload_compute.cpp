// qez_DftiComputeForward_omp_offload and qez_DftiComputeBackward_omp_offload:
// run a transform of a descriptor committed for OpenMP offload on USM data,
// on the queue of the interop object of the call, without waiting for it.
#include "interfaces/omp_offload/omp_offload_entry_points.hpp"

#include <cstdarg>
#include <string>
#include <vector>

#include "dft/api/verbose_descriptor_sycl.hpp"
#include "dft/api/verbose_timing.hpp"
#include "gpu/service/service_errors.hpp"
#include "gpu/service/verbose_gpu_output.hpp"
#include "interfaces/omp_offload/offload_status_guard.hpp"
#include "qez_service.h"

namespace ulmara::qez::omp {
namespace {

constexpr const char* compute_queue_message =
    "Failed to retrieve the required queue for OpenMP offloading.";
constexpr std::int32_t data_arrays_out_of_place = 2;

enum offload_mode : std::uint32_t { offload_asynchronous = 2 };
enum verbose_level : int { verbose_off = 0, verbose_on = 1 };

// What tells the two entry points apart.
struct compute_direction {
  const char* name;
  dft::compute_entry DFTI_DESCRIPTOR::*entry;
  dft::verbose_direction verbose;
};
constexpr compute_direction forward_direction = {
    "qez_DftiComputeForward_omp_offload", &DFTI_DESCRIPTOR::compute_fwd, dft::verbose_direction::forward};
constexpr compute_direction backward_direction = {
    "qez_DftiComputeBackward_omp_offload", &DFTI_DESCRIPTOR::compute_bwd, dft::verbose_direction::backward};

struct compute_call {
  DFTI_DESCRIPTOR* desc;
  void* input;
  void* output;
  omp_interop_t interop;
};

// ---------------------------------------------------------------------------
// Checks made before anything touches the OpenMP runtime.

// The record is live and carries a GPU commitment made for offload.
std::int64_t committed_status(const DFTI_DESCRIPTOR* desc, const compute_direction& d) {
  if (!dft::is_live_record(desc)) return dft::status_bad_descriptor;
  if (desc->*d.entry == nullptr) return dft::status_invalid_configuration;
  const bool committed = desc->commit_status == dft::dfti_committed && desc->offload_mode != 0 &&
                         desc->backend != nullptr && desc->queue != nullptr;
  return committed ? dft::status_success : dft::status_invalid_configuration;
}

// Reads the output from the variable arguments only for out-of-place
// descriptors.
std::int64_t argument_status(compute_call* call, va_list further) {
  const auto arrays = static_cast<std::int32_t>(call->desc->data_arrays);
  if (arrays > data_arrays_out_of_place) return dft::status_unimplemented;
  if (call->input == nullptr) return dft::status_invalid_descriptor;
  call->output = nullptr;
  if (arrays != data_arrays_out_of_place) return dft::status_success;
  call->output = va_arg(further, void*);
  return call->output == nullptr ? dft::status_invalid_descriptor : dft::status_success;
}

// ---------------------------------------------------------------------------
// Memory the device reaches: device and shared USM, and system memory on a
// device that reaches it. Anything else is refused before a kernel could
// touch it.

void check_reachable(const void* pointer, const sycl::queue& queue, const char* name, const char* role) {
  switch (sycl::get_pointer_type(pointer, queue.get_context())) {
    case sycl::usm::alloc::device:
    case sycl::usm::alloc::shared: return;
    case sycl::usm::alloc::host:
      throw ulmara::qez::invalid_argument(
          "dft", name, std::string(role) + " pointer of type sycl::usm::alloc::host not supported");
    default:
      if (queue.get_device().has(sycl::aspect::usm_system_allocations)) return;
      throw ulmara::qez::invalid_argument("dft", name, "unknown allocation type (using OpenCL plugin)");
  }
}

// ---------------------------------------------------------------------------
// The call of the backend's entry, timed and described in verbose mode.

int call_entry(const compute_call& call, const compute_direction& d, sycl::event* done) {
  std::uint64_t kind = dft::container_usm;
  return (call.desc->*d.entry)(call.desc, call.input, call.output, nullptr, &kind, done);
}

void print_verbose_line(const compute_call& call, const compute_direction& d, sycl::queue& queue,
                        double host_seconds) {
  char text[dft::verbose_text_bytes];
  dft::format_verbose_descriptor(call.desc, d.verbose, queue, text, call.input, call.output);
  gpu::print_verbose_gpu_info(&queue, text, host_seconds);
}

int run_entry(const compute_call& call, const compute_direction& d, sycl::queue& queue, sycl::event* done) {
  const int mode = *qez_serv_verbose_mode();
  if (mode == verbose_off) return call_entry(call, d, done);
  if (mode == verbose_on) {
    const int status = call_entry(call, d, done);
    print_verbose_line(call, d, queue, 0.0);
    return status;
  }
  double host_seconds = 0.0;
  dft::verbose_start_timer(&host_seconds, std::vector<sycl::event>{});
  dft::verbose_depth_guard depth(true);  // an entry that throws must not leave the depth raised
  const int status = call_entry(call, d, done);
  depth.dismiss();
  dft::verbose_stop_timer(&host_seconds, *done);
  print_verbose_line(call, d, queue, host_seconds);
  return status;
}

std::int64_t compute_on_interop(compute_call call, const compute_direction& d) {
  const std::int32_t runtime_id = query_runtime_id(call.interop);
  call.desc->offload_mode = offload_asynchronous;
  if (sycl::queue* queue = resolve_interop_queue(call.interop, runtime_id, compute_queue_message))
    call.desc->queue = queue;
  sycl::queue& queue = *static_cast<sycl::queue*>(call.desc->queue);
  check_reachable(call.input, queue, d.name, "input");
  if (call.desc->placement == dft::dfti_inplace) call.output = call.input;
  else if (call.output != nullptr && call.output != call.input) check_reachable(call.output, queue, d.name, "output");

  sycl::event done;
  const int status = run_entry(call, d, queue, &done);
  if (runtime_id == foreign_runtime_nivolo && done.get_backend() != sycl::backend::ext_ulmara_nivolo)
    gpu::throw_backends_mismatch();
  return status;
}

std::int64_t compute(const compute_direction& d, DFTI_DESCRIPTOR* desc, void* input, omp_interop_t interop,
                     va_list further) {
  std::int64_t status = committed_status(desc, d);
  if (status != dft::status_success) return status;
  compute_call call{desc, input, nullptr, interop};
  status = argument_status(&call, further);
  if (status != dft::status_success) return status;
  return run_offload_guarded(d.name, [&] { return compute_on_interop(call, d); });
}

}  // namespace
}  // namespace ulmara::qez::omp

// The two entry points differ only in their direction.
#define QEZ_DEFINE_OFFLOAD_COMPUTE(entry_name, direction)                                          \
  extern "C" std::int64_t entry_name(DFTI_DESCRIPTOR* desc, void* input, omp_interop_t interop, ...) { \
    va_list further;                                                                              \
    va_start(further, interop);                                                                   \
    const std::int64_t status = ulmara::qez::omp::compute(direction, desc, input, interop, further); \
    va_end(further);                                                                              \
    return status;                                                                                \
  }
QEZ_DEFINE_OFFLOAD_COMPUTE(qez_DftiComputeForward_omp_offload, ulmara::qez::omp::forward_direction)
QEZ_DEFINE_OFFLOAD_COMPUTE(qez_DftiComputeBackward_omp_offload, ulmara::qez::omp::backward_direction)
#undef QEZ_DEFINE_OFFLOAD_COMPUTE
