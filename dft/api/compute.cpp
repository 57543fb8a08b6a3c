// compute_forward and compute_backward on USM pointers and SYCL buffers.
//
// GPU road: the compute entry the committed backend stored in the record
// does the work; verbose modes 1 and 2 print a line through the GPU
// verbose printer. CPU road: a host task on the committed queue runs the
// CPU copy of the configuration through the CPU DFTI front end, which
// prints its own verbose line.
#include "dft/api/compute.hpp"

#include <cstdint>

#include "dft/api/cpu_dfti.hpp"
#include "dft/api/descriptor_state.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/api/verbose_descriptor_sycl.hpp"
#include "dft/api/verbose_timing.hpp"
#include "dft/api/workspace.hpp"
#include "gpu/service/verbose_gpu_output.hpp"
#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

enum verbose_mode : int { verbose_off = 0, verbose_untimed = 1 };

bool is_forward(verbose_direction d) { return d == verbose_direction::forward; }

const char* operation_of(verbose_direction d) {
  return is_forward(d) ? "compute_forward" : "compute_backward";
}

// ---------------------------------------------------------------------------
// GPU road.

// Committed, and the workspace the backend needs is there in the form this
// container can use.
void check_gpu_ready(const DFTI_DESCRIPTOR* r, container_kind kind) {
  if (r->commit_status != dfti_committed) throw invalid_descriptor_exception();
  if (r->workspace_internal == 0 && required_workspace_bytes(r) != 0 && r->workspace_kind != kind)
    throw no_workspace_exception();
}

compute_entry entry_of(const DFTI_DESCRIPTOR* r, verbose_direction d) {
  const compute_entry entry = is_forward(d) ? r->compute_fwd : r->compute_bwd;
  if (entry == nullptr) throw invalid_descriptor_exception();
  return entry;
}

template <class Data>
void print_gpu_line(DFTI_DESCRIPTOR* r, verbose_direction d, const Data& input,
                    const Data& output, double host_seconds) {
  sycl::queue* queue = record_queue(r);
  char text[verbose_text_bytes];
  format_verbose_descriptor(r, d, *queue, text, input, output);
  gpu::print_verbose_gpu_info(queue, text, host_seconds);
}

sycl::event gpu_compute_usm(DFTI_DESCRIPTOR* r, verbose_direction d, void* input, void* output,
                            const std::vector<sycl::event>& dependencies) {
  std::uint64_t kind = container_usm;
  const compute_entry entry = entry_of(r, d);
  auto* deps = const_cast<std::vector<sycl::event>*>(&dependencies);
  sycl::event result;
  int status;
  const int mode = *qez_serv_verbose_mode();
  if (mode == verbose_off) {
    status = entry(r, input, output, deps, &kind, &result);
  } else if (mode == verbose_untimed) {
    status = entry(r, input, output, deps, &kind, &result);
    print_gpu_line<const void*>(r, d, input, output, 0.0);
  } else {
    double t = 0.0;
    verbose_start_timer(&t, dependencies);
    {
      verbose_depth_guard restore(true);
      status = entry(r, input, output, deps, &kind, &result);
      restore.dismiss();
    }
    verbose_stop_timer(&t, result);
    print_gpu_line<const void*>(r, d, input, output, t);
  }
  throw_on_dfti_status(status);
  return result;
}

void gpu_compute_buffer(DFTI_DESCRIPTOR* r, verbose_direction d, sycl::buffer<char, 1>& input,
                        sycl::buffer<char, 1>& output) {
  std::uint64_t kind = container_buffer;
  const compute_entry entry = entry_of(r, d);
  int status;
  const int mode = *qez_serv_verbose_mode();
  if (mode == verbose_off) {
    status = entry(r, &input, &output, nullptr, &kind, nullptr);
  } else if (mode == verbose_untimed) {
    status = entry(r, &input, &output, nullptr, &kind, nullptr);
    print_gpu_line<sycl::buffer<char, 1>>(r, d, input, output, 0.0);
  } else {
    // Forward transforms mark their input, backward ones both sides.
    sycl::buffer<char, 1>* second = is_forward(d) ? nullptr : &output;
    double t = 0.0;
    const bool started = verbose_buffer_start(&t, input, second);
    {
      verbose_depth_guard restore(started);
      status = entry(r, &input, &output, nullptr, &kind, nullptr);
      restore.dismiss();
    }
    verbose_buffer_end(&t, started, input, second);
    print_gpu_line<sycl::buffer<char, 1>>(r, d, input, output, t);
  }
  throw_on_dfti_status(status);
}

// ---------------------------------------------------------------------------
// The call's arguments, checked alike on both roads before anything is
// submitted: a null pointer must never reach a kernel or the CPU engine.

// The call form must be the descriptor's placement: one pointer or buffer
// for an in-place descriptor, two for an out-of-place one.
void check_call_placement(const DFTI_DESCRIPTOR* r, bool in_place_call) {
  const bool in_place = r->placement == dfti_inplace;
  if (in_place != in_place_call) throw invalid_descriptor_exception();
}

// No null data pointer, and an out-of-place call does not write over its
// input: two equal pointers would make it an in-place transform.
void check_usm_pointers(const void* input, const void* output, bool in_place_call) {
  if (input == nullptr || output == nullptr) throw invalid_descriptor_exception();
  if (!in_place_call && input == output) throw invalid_descriptor_exception();
}

// ---------------------------------------------------------------------------
// CPU road.

// The descriptor must hold a committed CPU copy; a copy that a later
// set_value uncommitted would compute nothing.
void check_cpu_ready(const DFTI_DESCRIPTOR* r, slot_buffer_type& slot) {
  if (r->commit_status != dfti_committed) throw invalid_descriptor_exception();
  sycl::host_accessor access(slot, sycl::read_only);
  const SYCL_DFTI_DESCRIPTOR* holder = access[0];
  if (holder == nullptr || holder->record == nullptr ||
      holder->record->commit_status != dfti_committed)
    throw invalid_descriptor_exception();
}

std::int64_t run_cpu_transform(DFTI_DESCRIPTOR* copy, verbose_direction d, void* input,
                               void* output, bool in_place) {
  if (is_forward(d))
    return in_place ? dfti_cpu_compute_forward_inplace(copy, input)
                    : dfti_cpu_compute_forward_outofplace(copy, input, output);
  return in_place ? dfti_cpu_compute_backward_inplace(copy, input)
                  : dfti_cpu_compute_backward_outofplace(copy, input, output);
}

// The host task has no way back to the caller and raises nothing: an
// exception escaping it would be an asynchronous error, which ends the
// program on a queue without an asynchronous handler. What can be refused is
// refused before submission; the status of the transform itself is dropped.
void run_in_host_task(SYCL_DFTI_DESCRIPTOR* holder, verbose_direction d, void* input,
                      void* output, bool in_place) {
  DFTI_DESCRIPTOR* copy = holder != nullptr ? holder->record : nullptr;
  if (copy == nullptr) return;
  try {
    (void)run_cpu_transform(copy, d, input, output, in_place);
  } catch (...) {
  }
}

using code_location = sycl::detail::code_location;

sycl::event submit_usm_task(slot_buffer_type slot, sycl::queue& queue, verbose_direction d,
                            void* input, void* output, bool in_place,
                            const std::vector<sycl::event>& dependencies,
                            const code_location& location) {
  return queue.submit(
      [&](sycl::handler& cgh) {
        cgh.depends_on(dependencies);
        sycl::accessor slot_access(slot, cgh, sycl::read_write);
        cgh.host_task([=]() { run_in_host_task(slot_access[0], d, input, output, in_place); });
      },
      location);
}

sycl::event submit_buffer_task(slot_buffer_type slot, sycl::queue& queue, verbose_direction d,
                               sycl::buffer<char, 1>& input, sycl::buffer<char, 1>* output,
                               const code_location& location) {
  return queue.submit(
      [&](sycl::handler& cgh) {
        sycl::accessor slot_access(slot, cgh, sycl::read_write);
        sycl::accessor in_access(input, cgh, sycl::read_write);
        if (output == nullptr) {
          cgh.host_task([=]() {
            run_in_host_task(slot_access[0], d, in_access.get_pointer(), nullptr, true);
          });
          return;
        }
        sycl::accessor out_access(*output, cgh, sycl::read_write);
        cgh.host_task([=]() {
          run_in_host_task(slot_access[0], d, in_access.get_pointer(), out_access.get_pointer(),
                           false);
        });
      },
      location);
}

}  // namespace

// The host tasks, one per direction and placement and per container.
sycl::event cpu_host_compute_forward_inplace(slot_buffer_type slot, sycl::queue& queue, void* data,
                                             const std::vector<sycl::event>& dependencies) {
  return submit_usm_task(slot, queue, verbose_direction::forward, data, data, true, dependencies,
                         code_location::current());
}
sycl::event cpu_host_compute_backward_inplace(slot_buffer_type slot, sycl::queue& queue, void* data,
                                              const std::vector<sycl::event>& dependencies) {
  return submit_usm_task(slot, queue, verbose_direction::backward, data, data, true, dependencies,
                         code_location::current());
}
sycl::event cpu_host_compute_forward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                void* input, void* output,
                                                const std::vector<sycl::event>& dependencies) {
  return submit_usm_task(slot, queue, verbose_direction::forward, input, output, false,
                         dependencies, code_location::current());
}
sycl::event cpu_host_compute_backward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                 void* input, void* output,
                                                 const std::vector<sycl::event>& dependencies) {
  return submit_usm_task(slot, queue, verbose_direction::backward, input, output, false,
                         dependencies, code_location::current());
}
sycl::event cpu_host_compute_forward_inplace(slot_buffer_type slot, sycl::queue& queue,
                                             sycl::buffer<char, 1>& data) {
  return submit_buffer_task(slot, queue, verbose_direction::forward, data, nullptr,
                            code_location::current());
}
sycl::event cpu_host_compute_backward_inplace(slot_buffer_type slot, sycl::queue& queue,
                                              sycl::buffer<char, 1>& data) {
  return submit_buffer_task(slot, queue, verbose_direction::backward, data, nullptr,
                            code_location::current());
}
sycl::event cpu_host_compute_forward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                sycl::buffer<char, 1>& input,
                                                sycl::buffer<char, 1>& output) {
  return submit_buffer_task(slot, queue, verbose_direction::forward, input, &output,
                            code_location::current());
}
sycl::event cpu_host_compute_backward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                 sycl::buffer<char, 1>& input,
                                                 sycl::buffer<char, 1>& output) {
  return submit_buffer_task(slot, queue, verbose_direction::backward, input, &output,
                            code_location::current());
}

sycl::event compute_usm(DFTI_DESCRIPTOR* r, slot_buffer_type& slot, verbose_direction d,
                        void* input, void* output, bool in_place_call,
                        const std::vector<sycl::event>& dependencies) {
  ensure_initialized(r, operation_of(d));
  switch (device_of(r)) {
    case committed_device::none: throw invalid_descriptor_exception();
    case committed_device::gpu:
      check_gpu_ready(r, container_usm);
      check_call_placement(r, in_place_call);
      check_usm_pointers(input, output, in_place_call);
      return gpu_compute_usm(r, d, input, output, dependencies);
    case committed_device::cpu: break;
    default: return sycl::event();
  }
  check_cpu_ready(r, slot);
  check_call_placement(r, in_place_call);
  check_usm_pointers(input, output, in_place_call);
  sycl::queue& queue = *record_queue(r);
  if (in_place_call)
    return is_forward(d) ? cpu_host_compute_forward_inplace(slot, queue, input, dependencies)
                         : cpu_host_compute_backward_inplace(slot, queue, input, dependencies);
  return is_forward(d) ? cpu_host_compute_forward_outofplace(slot, queue, input, output, dependencies)
                       : cpu_host_compute_backward_outofplace(slot, queue, input, output, dependencies);
}

void compute_buffer(DFTI_DESCRIPTOR* r, slot_buffer_type& slot, verbose_direction d,
                    sycl::buffer<char, 1>& input, sycl::buffer<char, 1>& output,
                    bool in_place_call) {
  ensure_initialized(r, operation_of(d));
  switch (device_of(r)) {
    case committed_device::none: throw invalid_descriptor_exception();
    case committed_device::gpu:
      check_gpu_ready(r, container_buffer);
      check_call_placement(r, in_place_call);
      gpu_compute_buffer(r, d, input, output);
      return;
    case committed_device::cpu: break;
    default: return;
  }
  check_cpu_ready(r, slot);
  check_call_placement(r, in_place_call);
  sycl::queue& queue = *record_queue(r);
  if (in_place_call) {
    if (is_forward(d)) cpu_host_compute_forward_inplace(slot, queue, input);
    else cpu_host_compute_backward_inplace(slot, queue, input);
    return;
  }
  if (is_forward(d)) cpu_host_compute_forward_outofplace(slot, queue, input, output);
  else cpu_host_compute_backward_outofplace(slot, queue, input, output);
}

// ---------------------------------------------------------------------------
// The public templates, one instantiation per supported element type.

template <precision prec, domain dom, class T, std::enable_if_t<detail::is_element_v<prec, T>, int>>
sycl::event compute_forward(descriptor<prec, dom>& desc, T* inout,
                            const std::vector<sycl::event>& dependencies) {
  return compute_usm(descriptor_access::record(desc), descriptor_access::slot_buffer(desc),
                     verbose_direction::forward, inout, inout, true, dependencies);
}
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TI, TO>, int>>
sycl::event compute_forward(descriptor<prec, dom>& desc, TI* in, TO* out,
                            const std::vector<sycl::event>& dependencies) {
  return compute_usm(descriptor_access::record(desc), descriptor_access::slot_buffer(desc),
                     verbose_direction::forward, in, out, false, dependencies);
}
template <precision prec, domain dom, class T, std::enable_if_t<detail::is_element_v<prec, T>, int>>
sycl::event compute_backward(descriptor<prec, dom>& desc, T* inout,
                             const std::vector<sycl::event>& dependencies) {
  return compute_usm(descriptor_access::record(desc), descriptor_access::slot_buffer(desc),
                     verbose_direction::backward, inout, inout, true, dependencies);
}
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TO, TI>, int>>
sycl::event compute_backward(descriptor<prec, dom>& desc, TI* in, TO* out,
                             const std::vector<sycl::event>& dependencies) {
  return compute_usm(descriptor_access::record(desc), descriptor_access::slot_buffer(desc),
                     verbose_direction::backward, in, out, false, dependencies);
}

namespace {

// The buffer forms: the descriptor must be initialised (the error names
// `routine`), then the call runs on byte views of `in` and of `*out`, or
// in place on the one view of `in` when `out` is null.
template <precision prec, domain dom, class TI, class TO = TI>
void compute_on_buffers(descriptor<prec, dom>& desc, verbose_direction d, const char* routine,
                        sycl::buffer<TI, 1>& in, sycl::buffer<TO, 1>* out = nullptr) {
  ensure_initialized(descriptor_access::record(desc), routine);
  sycl::buffer<char, 1> in_view = byte_view(in);
  if (out == nullptr) {
    compute_buffer(descriptor_access::record(desc), descriptor_access::slot_buffer(desc), d, in_view, in_view, true);
    return;
  }
  sycl::buffer<char, 1> out_view = byte_view(*out);
  compute_buffer(descriptor_access::record(desc), descriptor_access::slot_buffer(desc), d, in_view, out_view, false);
}

}  // namespace

template <precision prec, domain dom, class T, std::enable_if_t<detail::is_element_v<prec, T>, int>>
void compute_forward(descriptor<prec, dom>& desc, sycl::buffer<T, 1>& inout) {
  compute_on_buffers(desc, verbose_direction::forward, "compute_forward", inout);
}
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TI, TO>, int>>
void compute_forward(descriptor<prec, dom>& desc, sycl::buffer<TI, 1>& in,
                     sycl::buffer<TO, 1>& out) {
  compute_on_buffers(desc, verbose_direction::forward, "compute_forward", in, &out);
}
template <precision prec, domain dom, class T, std::enable_if_t<detail::is_element_v<prec, T>, int>>
void compute_backward(descriptor<prec, dom>& desc, sycl::buffer<T, 1>& inout) {
  compute_on_buffers(desc, verbose_direction::backward, "compute_backward", inout);
}
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TO, TI>, int>>
void compute_backward(descriptor<prec, dom>& desc, sycl::buffer<TI, 1>& in,
                      sycl::buffer<TO, 1>& out) {
  compute_on_buffers(desc, verbose_direction::backward, "compute_backward", in, &out);
}

// In-place forms for both element types of a precision; out-of-place forms
// with the same type on both sides, and real <-> complex for real domains.
#define QEZ_INSTANTIATE_INPLACE(P, D, T)                                                      \
  template sycl::event compute_forward<P, D, T, 0>(descriptor<P, D>&, T*,                     \
                                                   const std::vector<sycl::event>&);          \
  template sycl::event compute_backward<P, D, T, 0>(descriptor<P, D>&, T*,                    \
                                                    const std::vector<sycl::event>&);         \
  template void compute_forward<P, D, T, 0>(descriptor<P, D>&, sycl::buffer<T, 1>&);          \
  template void compute_backward<P, D, T, 0>(descriptor<P, D>&, sycl::buffer<T, 1>&);
#define QEZ_INSTANTIATE_PAIR(P, D, TF, TB)                                                    \
  template sycl::event compute_forward<P, D, TF, TB, 0>(descriptor<P, D>&, TF*, TB*,          \
                                                        const std::vector<sycl::event>&);     \
  template sycl::event compute_backward<P, D, TB, TF, 0>(descriptor<P, D>&, TB*, TF*,         \
                                                         const std::vector<sycl::event>&);    \
  template void compute_forward<P, D, TF, TB, 0>(descriptor<P, D>&, sycl::buffer<TF, 1>&,     \
                                                 sycl::buffer<TB, 1>&);                       \
  template void compute_backward<P, D, TB, TF, 0>(descriptor<P, D>&, sycl::buffer<TB, 1>&,    \
                                                  sycl::buffer<TF, 1>&);
#define QEZ_INSTANTIATE_KIND(P, D, R)                                                         \
  QEZ_INSTANTIATE_INPLACE(P, D, R)                                                            \
  QEZ_INSTANTIATE_INPLACE(P, D, std::complex<R>)                                              \
  QEZ_INSTANTIATE_PAIR(P, D, R, R)                                                            \
  QEZ_INSTANTIATE_PAIR(P, D, std::complex<R>, std::complex<R>)

QEZ_INSTANTIATE_KIND(precision::SINGLE, domain::COMPLEX, float)
QEZ_INSTANTIATE_KIND(precision::SINGLE, domain::REAL, float)
QEZ_INSTANTIATE_KIND(precision::DOUBLE, domain::COMPLEX, double)
QEZ_INSTANTIATE_KIND(precision::DOUBLE, domain::REAL, double)
QEZ_INSTANTIATE_PAIR(precision::SINGLE, domain::REAL, float, std::complex<float>)
QEZ_INSTANTIATE_PAIR(precision::DOUBLE, domain::REAL, double, std::complex<double>)
#undef QEZ_INSTANTIATE_KIND
#undef QEZ_INSTANTIATE_PAIR
#undef QEZ_INSTANTIATE_INPLACE

}  // namespace ulmara::qez::dft
