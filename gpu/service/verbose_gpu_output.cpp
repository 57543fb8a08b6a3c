#include "gpu/service/verbose_gpu_output.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"
#include "gpu/service/safe_routines.hpp"
#include "gpu/service/service_lock.hpp"
#include "qez_core.h"
#include "qez_service.h"

namespace ulmara::qez::gpu {

namespace {

constexpr std::size_t verbose_text_limit = 399;
constexpr int verbose_mode_timed = 2;
constexpr int stdout_stream = 0;
constexpr int warning_stream = 1;

const char* const arch_labels[] = {"Tavir(R)_Vemra", "Tavir(R)_Sutal", "Tavir(R)_Dorik",
                                   "Tavir(R)_Fenwa", "Tavir(R)_Gulon", "Tavir(R)_Harix",
                                   "Tavir(R)_Jorva", "Tavir(R)_Lumet", "Tavir(R)_Nopra"};

// ---------------------------------------------------------------------------
// Per-thread state.

// The profiling span [start, end] of events, in nanoseconds.
struct device_span {
  std::uint64_t start = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t end = 0;
  bool unreadable = false;  // some event had no profiling data

  void add(const sycl::event& event) {
    try {
      start = std::min(start, event.get_profiling_info<sycl::info::event_profiling::command_start>());
      end = std::max(end, event.get_profiling_info<sycl::info::event_profiling::command_end>());
    } catch (const std::exception&) {
      unreadable = true;  // e.g. a queue made without enable_profiling
    }
  }
  double seconds() const {
    if (unreadable || end < start) return 0.0;
    return static_cast<double>(end - start) * 1e-9;
  }
};

struct verbose_thread_state {
  int depth = 0;
  std::vector<sycl::event> timed_events;
  // Events folded out of the list to keep it bounded.
  device_span folded;
  bool has_folded = false;

  void fold(const sycl::event& event) {
    folded.add(event);
    has_folded = true;
  }

  // Folds the completed events; when none has completed, waits for the
  // oldest and folds it.
  void make_room() {
    auto is_complete = [](const sycl::event& e) {
      try {
        return e.get_info<sycl::info::event::command_execution_status>() ==
               sycl::info::event_command_status::complete;
      } catch (const std::exception&) {
        return true;  // nothing to wait for
      }
    };
    const auto first_pending = std::stable_partition(timed_events.begin(), timed_events.end(),
                                                     [&](const sycl::event& e) { return !is_complete(e); });
    if (first_pending == timed_events.end()) {
      try {
        timed_events.front().wait();
      } catch (const std::exception&) {
      }
      fold(timed_events.front());
      timed_events.erase(timed_events.begin());
      return;
    }
    std::for_each(first_pending, timed_events.end(), [&](const sycl::event& e) { fold(e); });
    timed_events.erase(first_pending, timed_events.end());
  }

  // Device seconds of everything collected since the last line; empties the
  // collection whatever happens.
  double take_device_seconds() {
    device_span span = folded;
    const bool any = has_folded || !timed_events.empty();
    for (const sycl::event& e : timed_events) span.add(e);
    timed_events.clear();
    folded = device_span{};
    has_folded = false;
    return any ? span.seconds() : 0.0;
  }
};

verbose_thread_state& thread_state() {
  thread_local verbose_thread_state state;
  return state;
}

// ---------------------------------------------------------------------------
// Process-wide state.

std::vector<sycl::device>& verbose_gpu_list() {
  static std::vector<sycl::device> list;
  return list;
}
std::atomic<std::uint32_t> gpu_list_printed{0};
volatile std::uint32_t gpu_list_lock = 0;
volatile std::uint32_t verbose_line_lock = 0;
std::atomic<int> verbose_gpu_iface_value{2};

verbose_device_queries& current_queries() {
  static verbose_device_queries queries = default_verbose_device_queries();
  return queries;
}

// ---------------------------------------------------------------------------
// Output: the verbose file when one is named, else standard output.

template <class... Strings>
void emit(const char* format, const Strings*... strings) {
  constexpr int count = sizeof...(Strings);
  const char* file_name = qez_serv_verbose_output_file_mode();
  if (file_name != nullptr && file_name[0] != '\0') {
    if (std::FILE* file = open_file(file_name, "a")) {
      qez_serv_file_format_print(file, format, count, strings...);
      close_file(file);
      return;
    }
    qez_serv_format_print(warning_stream, "QEZ_VERBOSE WARNING: %s\n", 1,
                          "unable to open output file. Print to STDOUT");
    qez_serv_format_print(stdout_stream, format, count, strings...);
    return;
  }
  service_lock_guard lock(&verbose_line_lock);
  qez_serv_format_print(stdout_stream, format, count, strings...);
}

// ---------------------------------------------------------------------------
// The GPU header.

template <class Query, class... Args>
auto ask(Query query, decltype(query(std::declval<Args>()...)) fallback, Args... args) {
  try {
    return query != nullptr ? query(args...) : fallback;
  } catch (...) {
    return fallback;
  }
}

// Lists the GPUs of the calling queue's backend; the others leave the list.
void build_gpu_header(sycl::queue* queue, char* text) {
  const verbose_device_queries& q = current_queries();
  const qez_gpu_backend_t backend = ask(q.backend, QEZ_GPU_BACKEND_OTHER, queue);
  std::vector<sycl::device>& list = verbose_gpu_list();
  try {
    list = sycl::device::get_devices(sycl::info::device_type::gpu);
  } catch (...) {
    list.clear();
  }
  char* position = text;
  std::size_t free = verbose_text_limit;
  int k = 0;
  for (auto it = list.begin(); it != list.end();) {
    try {
      sycl::queue device_queue(*it);
      if (ask(q.backend, QEZ_GPU_BACKEND_OTHER, &device_queue) != backend) {
        it = list.erase(it);
        continue;
      }
      int status = 0;
      const qez_gpu_arch_t arch = ask(q.architecture, QEZ_GPU_ARCH_UNKNOWN, &status, &device_queue);
      position = append_format(position, &free,
                               "QEZ_VERBOSE Detected GPU%d %s Backend:%s VE:%d Stack:%d maxWGsize:%d\n",
                               k, verbose_arch_label(arch), verbose_backend_label(backend),
                               ask(q.eu_count, 0, &device_queue), ask(q.tile_count, 1, &device_queue),
                               ask(q.max_work_group_size, 0, &device_queue));
      ++k;
      ++it;
    } catch (...) {
      it = list.erase(it);  // a device without a usable queue is not listed
    }
  }
}

void print_gpu_header_once(sycl::queue* queue) {
  if (gpu_list_printed.load(std::memory_order_acquire) != 0) return;
  service_lock_guard lock(&gpu_list_lock);
  if (gpu_list_printed.load(std::memory_order_relaxed) != 0) return;
  char text[verbose_text_limit + 1] = {};
  build_gpu_header(queue, text);
  emit("%s\n", text);
  gpu_list_printed.store(1, std::memory_order_release);
}

// " GPU<i>" with the position of the queue's own device in the list. A
// device that is not listed itself (a sub-device, say) takes the first
// listed GPU of its vendor; matching by vendor alone would number every
// GPU of one vendor 0.
void append_gpu_number(sycl::queue* queue, char* position, std::size_t* free) {
  try {
    const sycl::device device = queue->get_device();
    const std::vector<sycl::device>& list = verbose_gpu_list();
    std::size_t found = list.size();
    for (std::size_t i = 0; i < list.size() && found == list.size(); ++i)
      if (list[i] == device) found = i;
    const std::uint32_t vendor = device.get_info<sycl::info::device::vendor_id>();
    for (std::size_t i = 0; i < list.size() && found == list.size(); ++i)
      if (list[i].get_info<sycl::info::device::vendor_id>() == vendor) found = i;
    if (found < list.size()) append_format(position, free, " GPU%d", static_cast<int>(found));
  } catch (...) {
  }
}

}  // namespace

void verbose_depth_inc() { ++thread_state().depth; }
void verbose_depth_dec() { --thread_state().depth; }
int verbose_depth() { return thread_state().depth; }

void verbose_register_event(const sycl::event& event) {
  if (*qez_serv_verbose_mode() != verbose_mode_timed) return;
  verbose_thread_state& state = thread_state();
  if (state.timed_events.size() >= verbose_event_capacity) state.make_room();
  state.timed_events.push_back(event);
}

std::size_t verbose_registered_event_count() { return thread_state().timed_events.size(); }

void set_verbose_gpu_iface(int value) {
  if (value == 1) verbose_gpu_iface_value.store(1);
}
int verbose_gpu_iface() { return verbose_gpu_iface_value.load(); }

char* format_verbose_time(double seconds, char* position, std::size_t* free) {
  if (seconds <= 0) return append_format(position, free, "N/A");
  if (seconds > 1) return append_format(position, free, "%.2fs", seconds);
  if (seconds * 1000 > 1) return append_format(position, free, "%.2fms", seconds * 1000);
  if (seconds * 1e6 > 1) return append_format(position, free, "%.2fus", seconds * 1e6);
  return append_format(position, free, "%.0fns", seconds * 1e9);
}

void print_verbose_gpu_info(sycl::queue* queue, const char* text, double host_seconds) {
  verbose_thread_state& state = thread_state();
  if (state.depth != 0) return;
  if (*qez_serv_verbose_mode() == 0) return;
  // Taken first, so the list is emptied whatever happens below.
  const double device_seconds = state.take_device_seconds();
  qez_serv_print_verbose_header(verbose_gpu_iface());
  print_gpu_header_once(queue);

  char timing[verbose_text_limit + 1] = {};
  std::size_t free = verbose_text_limit;
  char* position = append_format(timing, &free, "host:");
  position = format_verbose_time(host_seconds, position, &free);
  position = append_format(position, &free, " device:");
  position = format_verbose_time(device_seconds, position, &free);
  append_gpu_number(queue, position, &free);
  emit("QEZ_VERBOSE %s %s\n", text != nullptr ? text : "", static_cast<const char*>(timing));
}

std::string verbose_demangle(const char* name) { return name != nullptr ? std::string(name) : std::string(); }

const char* verbose_arch_label(qez_gpu_arch_t architecture) {
  if (architecture >= QEZ_GPU_ARCH_VEMRA && architecture <= QEZ_GPU_ARCH_NOPRA)
    return arch_labels[architecture - 1];
  return "Unknown_GPU";
}

const char* verbose_backend_label(qez_gpu_backend_t backend) {
  if (backend == QEZ_GPU_BACKEND_NIVOLO) return "Nivolo";
  if (backend == QEZ_GPU_BACKEND_OPENCL) return "OpenCL";
  return "Unknown_backend";
}

verbose_device_queries default_verbose_device_queries() {
  verbose_device_queries q;
  q.backend = get_queue_backend;
  q.architecture = get_architecture;
  q.eu_count = get_eu_count;
  q.tile_count = get_tile_count;
  q.max_work_group_size = qez_gpu_get_max_workgroup_size;
  return q;
}

verbose_device_queries set_verbose_device_queries(const verbose_device_queries& queries) {
  service_lock_guard lock(&gpu_list_lock);
  const verbose_device_queries previous = current_queries();
  current_queries() = queries;
  return previous;
}

void reset_verbose_gpu_header() {
  service_lock_guard lock(&gpu_list_lock);
  verbose_gpu_list().clear();
  gpu_list_printed.store(0);
}

}  // namespace ulmara::qez::gpu
