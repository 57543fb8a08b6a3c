// Verbose output of timed GPU calls: one line "QEZ_VERBOSE <text> <timing>"
// per outermost call, with the host time, the device time measured from the
// profiling data of the kernels the call registered, and the GPU number;
// the first line of the process is preceded by a header listing the GPUs.
//
// Nesting depth and the registered events are per thread: a call made while
// the depth is above 0 prints nothing and leaves its events to the
// enclosing call's line.
#pragma once

#include <cstddef>
#include <string>

#include <sycl/sycl.hpp>

#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::gpu {

void verbose_depth_inc();
void verbose_depth_dec();
int verbose_depth();

// In verbose mode 2, keeps a copy of the event for the device time of the
// next line printed at depth 0 on this thread.
void verbose_register_event(const sycl::event& event);
// Events this thread holds for its next line.
std::size_t verbose_registered_event_count();

// 1 selects GPU interface 1 for the service library's header; other values
// change nothing.
void set_verbose_gpu_iface(int value);
int verbose_gpu_iface();

// Prints the line of a timed call made on `queue` (nothing at depth above
// 0 or in verbose mode 0). Never fails because of the timing: a device time
// that cannot be read shows as "N/A".
void print_verbose_gpu_info(sycl::queue* queue, const char* text, double host_seconds);

// Appends the time as "N/A", "1.50s", "2.00ms", "3.25us" or "800ns".
char* format_verbose_time(double seconds, char* position, std::size_t* free);

std::string verbose_demangle(const char* name);

// Label of an architecture in the GPU header ("Unknown_GPU" for any value
// outside the table) and of a backend ("Unknown_backend").
const char* verbose_arch_label(qez_gpu_arch_t architecture);
const char* verbose_backend_label(qez_gpu_backend_t backend);

// What the GPU header asks about a device, answered by the device registry.
// Where the registry's functions are not linked into the library, answers
// come from the SYCL runtime's device information (architecture unknown).
struct verbose_device_queries {
  qez_gpu_backend_t (*backend)(sycl::queue* queue);
  qez_gpu_arch_t (*architecture)(int* status, sycl::queue* queue);
  int (*eu_count)(sycl::queue* queue);
  int (*tile_count)(sycl::queue* queue);
  int (*max_work_group_size)(sycl::queue* queue);
};
verbose_device_queries default_verbose_device_queries();
// Replaces the queries (tests); returns the previous ones.
verbose_device_queries set_verbose_device_queries(const verbose_device_queries& queries);

// Forgets the GPU header and the GPU list, so that the next line prints the
// header again (tests).
void reset_verbose_gpu_header();

// Events kept per thread before completed ones are folded into a running
// span: a thread that registers without ever printing stays bounded.
constexpr std::size_t verbose_event_capacity = 256;

}  // namespace ulmara::qez::gpu
