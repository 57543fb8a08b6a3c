// SYCL stand-in: the runtime objects behind the public handles.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include <sycl/sycl.hpp>

#include "mirrored_transfers.hpp"
#include "nivolo_driver.h"

namespace sycl {
inline namespace _V1 {
namespace detail {

// ---- Errors and time ---------------------------------------------------------
[[noreturn]] void throw_error(errc code, const std::string& text);
// "<call>: OpenCL error <code>", with errc chosen from the code.
[[noreturn]] void throw_cl(const char* call, cl_int code, errc code_class = errc::runtime);
void check_cl(const char* call, cl_int code);
// Nanoseconds on the clock PoCL stamps its profiling data with.
uint64_t now_ns();

// ---- Failures on request (fail_on_request.cpp) ----------------------------------
// Throw when STANDIN_SYCL_FAIL_BUFFER / STANDIN_SYCL_FAIL_SUBMIT /
// STANDIN_SYCL_FAIL_WAIT name the code that makes the buffer / submits the
// command group / submitted the event's command; else nothing.
class event_impl;
void fail_buffer_on_request(const code_location& loc);
void fail_submit_on_request(const code_location& loc);
void fail_wait_on_request(const event_impl& e);

// ---- Host threads --------------------------------------------------------------
// Runs jobs on host threads; grows whenever every thread is busy, so a host
// task that blocks never starves the others.
void post(std::function<void()> job);
class host_command;
// Hands a host command that has just become ready to the host threads.
// `submitted`: it became ready at its submission, and the submitting thread
// most likely waits for it next and runs it itself (event_impl::wait): the
// watching thread leaves it for a few microseconds before taking it. A
// command readied by the completion of a host command that a pool thread
// ran runs next on that thread, without a hand-over.
void offer_host_command(std::shared_ptr<host_command> command, bool submitted);
// Takes back a command that a waiting thread has claimed to run itself.
void withdraw_host_command(const host_command* command);
// Completes the event of a host command that the calling thread ran; see
// offer_host_command.
void complete_host_command(event_impl& ev);
// Runs fn(i) for i in [0, n) on up to hardware-concurrency threads, the caller included.
void parallel_loop(size_t n, const std::function<void(size_t)>& fn);
unsigned host_concurrency();
// Polls `done` for up to `ns` nanoseconds; whether it became true. Waking a
// sleeping thread costs tens of microseconds on some systems, more than
// many host commands take: threads that expect work or completion soon
// watch for it a while before they sleep.
bool spin_until(const std::function<bool()>& done, uint64_t ns);

// ---- Platforms and devices -----------------------------------------------------
struct device_info_cache {
  info::device_type type = info::device_type::gpu;
  uint32_t vendor_id = 0, max_compute_units = 1, max_work_item_dimensions = 3, max_num_sub_groups = 0;
  size_t max_work_item_sizes[3] = {1, 1, 1};  // OpenCL order
  size_t max_work_group_size = 1;
  std::vector<size_t> sub_group_sizes;
  uint32_t max_clock_frequency = 0, address_bits = 64, mem_base_addr_align = 1024, cache_line = 64;
  uint64_t max_mem_alloc_size = 0, global_mem_size = 0, cache_size = 0, local_mem_size = 0, max_constant = 0;
  info::local_mem_type local_mem_type = info::local_mem_type::local;
  std::string name, vendor, driver_version, version, profile, extensions;
  std::vector<info::fp_config> half_fp, single_fp, double_fp;
  uint32_t partition_max_sub_devices = 0;
  cl_device_svm_capabilities svm = 0;
  bool has_tavir = false;
  uint32_t eu_count = 0, slices = 0, sub_slices = 0, eus_per_sub_slice = 0, threads_per_eu = 0, pci_id = 0;
  std::optional<uint32_t> ip_version;
};

class platform_impl {
 public:
  cl_platform_id cl = nullptr;  // null: the host platform (and the Nivolo one)
  bool nivolo = false;          // the Nivolo driver's platform
  std::vector<std::shared_ptr<device_impl>> devices;
  std::string name, vendor, version, profile;
  std::shared_ptr<context_impl> default_context();
  backend get_backend() const {
    return nivolo ? backend::ext_ulmara_nivolo : cl ? backend::opencl : backend::ext_ulmara_host;
  }

 private:
  std::mutex m_;
  std::shared_ptr<context_impl> default_context_;
};

class device_impl {
 public:
  cl_device_id cl = nullptr;  // null: the host CPU device; on Nivolo the device that runs the work
  qx_device_handle_t nivolo = nullptr;  // set on the Nivolo backend
  platform_impl* platform = nullptr;
  bool root = true;
  device_info_cache info;
  std::mutex sub_devices_m;
  std::vector<std::shared_ptr<device_impl>> sub_devices;  // made on the first partition
  bool is_host() const { return cl == nullptr; }
  backend get_backend() const {
    return nivolo ? backend::ext_ulmara_nivolo : is_host() ? backend::ext_ulmara_host : backend::opencl;
  }
  bool has(aspect a) const;
};

// ---- The Nivolo driver --------------------------------------------------------------
// The driver's entries, or null when the Nivolo backend is not asked for
// (STANDIN_SYCL_GPU_BACKEND=nivolo) or the driver cannot be loaded.
struct nivolo_driver {
#define QEZ_NIVOLO_RUNTIME_ENTRY(name, parameters) name##_fn name;
  QEZ_NIVOLO_RUNTIME_ENTRIES
#undef QEZ_NIVOLO_RUNTIME_ENTRY
};
const nivolo_driver* loaded_nivolo_driver();
// Throws errc::runtime "<call>: Nivolo error <hex code>" unless `result` is success.
void check_qx(const char* call, qx_result_t result);
// The OpenCL object the driver names as the carrier of `native`; when it names
// none, an object the runtime holds is destroyed before the error is raised.
template <class Handle, class Carrier>
Carrier nivolo_carrier(Handle native, bool held, qx_result_t (*get)(Handle, Carrier*), qx_result_t (*destroy)(Handle),
                       const char* call) {
  Carrier carrier = nullptr;
  const qx_result_t found = get(native, &carrier);
  if (found != QX_RESULT_SUCCESS) {
    if (held) destroy(native);
    check_qx(call, found);
  }
  return carrier;
}
// The Nivolo platform over the driver's devices (each the twin of a device
// of the `opencl` platforms), or null when it would be empty.
std::shared_ptr<platform_impl> make_nivolo_platform(const nivolo_driver& driver,
                                                    const std::vector<std::shared_ptr<platform_impl>>& opencl);
// Sub-devices of a Nivolo device, one per tile (made once).
const std::vector<std::shared_ptr<device_impl>>& nivolo_sub_devices(device_impl& d);

// Every platform: the Nivolo one when asked for, the OpenCL ones (devices presented as GPUs by the GPU
// profile library), then the host platform with its CPU device.
const std::vector<std::shared_ptr<platform_impl>>& all_platforms();
std::shared_ptr<device_impl> host_device();
std::shared_ptr<device_impl> find_device(cl_device_id id);  // registers sub-devices on first sight

// ---- Contexts and USM ----------------------------------------------------------
struct usm_block {
  size_t size;
  usm::alloc kind;
  device_impl* device;
  void* base;  // what to free (differs from the key for large alignments)
};

// Device memory of a context whose devices have no fine-grained SVM: an
// OpenCL buffer object, named in host code by the address of a host block of
// the same size (its mirror). Kernels get the buffer object; the mirror holds
// the buffer's bytes only while a host command of the context runs.
struct mirrored_block {
  cl_mem mem = nullptr;
  size_t size = 0;
  char* mirror = nullptr;
};
// A pointer into a mirrored block.
struct device_span {
  cl_mem mem = nullptr;
  size_t offset = 0;
  size_t size = 0;  // of the whole block
};

// Oclgrind's runtime (the platform of contexts without SVM here) is not
// thread-safe: the bookkeeping of its queues is shared by all threads
// unguarded. On such a context every call into OpenCL that enqueues, runs,
// waits for or releases commands, events or memory is made under this one
// lock. A flush there runs the queue's commands on the calling thread and
// blocks on any user event still pending, so commands that depend on host
// events are enqueued only once those have completed (see queue.cpp): no
// call then waits for another thread while it holds the lock.
std::recursive_mutex& simulator_mutex();
class context_impl;
// Holds simulator_mutex() while it lives when `ctx` has no SVM, else nothing.
class simulator_calls {
 public:
  explicit simulator_calls(const context_impl* ctx);

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};

class context_impl {
 public:
  context_impl(platform_impl* p, std::vector<std::shared_ptr<device_impl>> devs, async_handler h);
  context_impl(cl_context native, bool owns, platform_impl* p, std::vector<std::shared_ptr<device_impl>> devs,
               async_handler h);
  // A context of the Nivolo driver; its OpenCL context carries the memory and the work.
  context_impl(qx_context_handle_t native, bool owns, std::vector<std::shared_ptr<device_impl>> devs,
               async_handler h);
  ~context_impl();
  cl_context cl = nullptr;  // null for the host context
  qx_context_handle_t nivolo = nullptr;
  bool owns = true;
  backend get_backend() const {
    return nivolo ? backend::ext_ulmara_nivolo : is_host() ? backend::ext_ulmara_host : backend::opencl;
  }
  platform_impl* platform;
  std::vector<std::shared_ptr<device_impl>> devices;
  async_handler handler;
  bool is_host() const { return cl == nullptr; }
  bool has_device(const device_impl* d) const;

  void* usm_alloc(size_t alignment, size_t bytes, usm::alloc kind, device_impl* dev);
  void usm_free(void* ptr);
  std::optional<usm_block> usm_find(const void* ptr) const;
  // Opens `native` (null: a new driver context for the devices) and its OpenCL carrier.
  void open_nivolo(qx_context_handle_t native);
  void close_nivolo();
  // Raw memory of the context (buffer storage): SVM, a mirrored block, or aligned host memory.
  void* raw_alloc(size_t bytes);
  void raw_free(void* ptr);

  // False when a device of the context lacks fine-grained SVM buffers: its
  // device memory is then made of mirrored blocks.
  bool svm = true;
  bool mirrored() const { return !is_host() && !svm; }
  // The mirrored block `ptr` points into, if any.
  std::optional<device_span> device_memory(const void* ptr) const;
  // Blocking copies between a mirrored block and host memory.
  void read_device(const device_span& from, void* to, size_t bytes);
  void write_device(const device_span& to, const void* from, size_t bytes);
  // Runs `work` on the host with every mirrored block's bytes in its mirror,
  // then copies back the blocks `work` changed. One such run at a time.
  void run_with_mirrors(const std::function<void()>& work);
  // Called before a call into OpenCL that may run queued commands on this
  // thread (a flush, a wait, a blocking transfer); see context.cpp.
  void prepare_thread_to_run_commands();
  // Copies, writes and fills of mirrored blocks (made on first use).
  mirrored_transfers& transfers();

 private:
  void* mirrored_alloc(size_t alignment, size_t bytes);
  bool mirrored_free(void* ptr);
  // Gives a freed block's buffer object to the spares and frees its mirror.
  void retire_block(const mirrored_block& block);
  cl_command_queue transfer_queue();
  mutable std::mutex m_;
  std::map<uintptr_t, usm_block> usm_;
  std::map<uintptr_t, mirrored_block> mirrored_;
  // Buffer objects of freed blocks, by size, for reuse (see mirrored_free).
  std::multimap<size_t, cl_mem> spare_blocks_;
  cl_command_queue transfer_ = nullptr;
  std::unique_ptr<mirrored_transfers> transfers_;
  std::mutex host_run_m_;
  // While a host command runs with the mirrors, blocks freed meanwhile keep
  // their mirror and buffer object until it ends: it reads and compares
  // every block it saw at its start (guarded by m_).
  bool host_run_active_ = false;
  std::vector<mirrored_block> freed_during_host_run_;
};

// ---- Events ----------------------------------------------------------------------
// A host command ready to run: the pool runs it, unless a thread waiting
// for its event claims it first and runs it itself. A caller that submits
// and waits then pays neither the pool thread's wake-up nor its own.
class host_command {
 public:
  explicit host_command(std::function<void()> body) : body_(std::move(body)) {}
  // Runs the command unless another thread has claimed it.
  void run_once() {
    if (claim()) run_claimed();
  }
  // Whether the calling thread is the one to run the command.
  bool claim() { return !claimed_.exchange(true, std::memory_order_acq_rel); }
  void run_claimed();

 private:
  std::atomic<bool> claimed_{false};
  std::function<void()> body_;
};

class event_impl : public std::enable_shared_from_this<event_impl> {
 public:
  // A host-side event, not complete until set_complete.
  event_impl() = default;
  // An OpenCL event (takes over one reference).
  event_impl(cl_event e, std::shared_ptr<context_impl> ctx);
  ~event_impl();

  cl_event cl = nullptr;
  std::shared_ptr<context_impl> ctx;  // set for OpenCL events
  std::weak_ptr<queue_impl> queue;
  code_location loc;
  bool profiling = false;
  uint64_t t_submit = 0, t_start = 0, t_end = 0;

  bool is_complete();
  void wait();
  // Runs fn once the command has completed (at once when it already has).
  void on_complete(std::function<void()> fn);
  // Host events only.
  // The event's command is ready: a waiter may run it (see host_command).
  void set_ready(std::shared_ptr<host_command> command);
  void set_running();
  void set_complete();
  info::event_command_status status();

 private:
  static void CL_CALLBACK cl_done(cl_event, cl_int, void* self);
  std::mutex m_;
  std::condition_variable cv_;
  std::atomic<bool> done_{false};  // written under m_, polled without it
  bool running_ = false;
  bool cl_callback_set_ = false;
  std::vector<std::function<void()>> callbacks_;
  std::shared_ptr<host_command> ready_;  // until a waiter takes it or the command completes
  std::atomic<bool> has_ready_{false};   // ready_ is set, polled without m_
};
std::shared_ptr<event_impl> make_complete_event();

// ---- Kernels ---------------------------------------------------------------------
class kernel_impl {
 public:
  kernel_impl(cl_kernel k, std::shared_ptr<context_impl> c, bool owns) : cl(k), ctx(std::move(c)), owns(owns) {}
  ~kernel_impl();
  cl_kernel cl;
  std::shared_ptr<context_impl> ctx;
  bool owns;
  // Nivolo kernels: the driver's kernel (destroyed when owned) and the
  // bundle of its module, kept alive as long as the kernel.
  qx_kernel_handle_t nivolo = nullptr;
  qx_kernel_handle_t nivolo_owned = nullptr;
  std::shared_ptr<kernel_bundle_impl> bundle;
  std::mutex m;  // argument setting and enqueue of one launch are one step
};

class kernel_id_impl {
 public:
  explicit kernel_id_impl(std::string n) : name(std::move(n)) {}
  std::string name;
};

class kernel_bundle_impl {
 public:
  ~kernel_bundle_impl();
  std::shared_ptr<context_impl> ctx;
  std::vector<std::shared_ptr<device_impl>> devices;
  std::vector<std::shared_ptr<kernel_id_impl>> ids;
  bundle_state state = bundle_state::input;
  // Replaced, never changed in place, so an executable bundle's snapshot
  // stays valid for the kernels launched with it.
  std::shared_ptr<const spec_constant_values> values = std::make_shared<spec_constant_values>();
  // A bundle made from Nivolo modules: their handles, destroyed with the
  // bundle when it owns them.
  std::vector<qx_module_handle_t> modules;
  bool owns_modules = false;
  // A bundle in source state: the text the kernel compiler builds.
  std::string source;
};
// Whether `d` is one of `devs`.
bool holds_device(const std::vector<std::shared_ptr<device_impl>>& devs, const device_impl* d);

// ---- Buffers ---------------------------------------------------------------------
class buffer_allocation {
 public:
  buffer_allocation(std::shared_ptr<context_impl> c, size_t bytes);
  ~buffer_allocation();
  std::shared_ptr<context_impl> ctx;  // the host context or an OpenCL one
  char* ptr = nullptr;                // on a context without SVM, the mirror of a buffer object
  // Blocking copies of the allocation's first `bytes` bytes.
  void copy_to_host(void* to, size_t bytes) const;
  void copy_from_host(const void* from, size_t bytes);
};

class buffer_storage {
 public:
  size_t bytes = 0;
  const void* init = nullptr;  // caller's data, copied at the first allocation
  std::mutex m;
  std::shared_ptr<buffer_allocation> alloc;
  // Dependency tracking (under the submission lock).
  std::shared_ptr<event_impl> last_write;
  std::vector<std::shared_ptr<event_impl>> reads;
  std::vector<std::shared_ptr<event_impl>> conflicts(access_mode mode);
  void record(access_mode mode, const std::shared_ptr<event_impl>& e);
  // The allocation valid for a command in `ctx` (OpenCL SVM there), made or moved on demand;
  // a move waits for the pending commands unless `commands_done` says the caller has.
  std::shared_ptr<buffer_allocation> place(const std::shared_ptr<context_impl>& ctx, bool commands_done = false);
  std::vector<std::shared_ptr<event_impl>> pending();
};

class buffer_handle {
 public:
  ~buffer_handle();
  std::shared_ptr<buffer_storage> storage;
  void* write_back = nullptr;
  bool write_back_enabled = true;
  property_list props;
  code_location loc;
};

// ---- Queues and command groups -----------------------------------------------------
class queue_impl : public std::enable_shared_from_this<queue_impl> {
 public:
  queue_impl(std::shared_ptr<context_impl> c, std::shared_ptr<device_impl> d, const property_list& props,
             async_handler h);
  queue_impl(cl_command_queue native, bool owns, std::shared_ptr<context_impl> c, std::shared_ptr<device_impl> d,
             async_handler h);
  ~queue_impl();
  std::shared_ptr<context_impl> ctx;
  std::shared_ptr<device_impl> dev;
  cl_command_queue cl = nullptr;  // null on the host device
  bool owns = true;
  // On the Nivolo backend: the driver's queue (cl is its OpenCL carrier).
  qx_command_queue_handle_t nivolo = nullptr;
  // What the driver's handle is: 0 a command queue, 1 an immediate command list.
  int32_t nivolo_handle_kind = 0;
  // Adopts a queue of the driver (a new one when null) and its carrier.
  void open_nivolo(qx_command_queue_handle_t native);
  bool in_order = false;
  bool profiling = false;
  property_list props;
  async_handler handler;

  std::mutex m;
  std::shared_ptr<event_impl> last;                  // in-order queues
  std::vector<std::shared_ptr<event_impl>> pending;  // not known to be complete
  std::vector<std::exception_ptr> errors;
  std::shared_ptr<graph_impl> recording_graph;  // null while executing

  void add_error(std::exception_ptr e);
  void wait_all();
  void throw_asynchronous();
};

// A modifiable command graph: the queues that record into it and the command
// groups they recorded (the submitting function's name for each).
class graph_impl {
 public:
  graph_impl(std::shared_ptr<context_impl> c, std::shared_ptr<device_impl> d) : ctx(std::move(c)), dev(std::move(d)) {}
  std::shared_ptr<context_impl> ctx;
  std::shared_ptr<device_impl> dev;

  std::mutex m;
  std::vector<std::weak_ptr<queue_impl>> recorders;
  std::vector<std::string> recorded;

  void record(const code_location& loc);
};
// The graph `q` records into, or null while it executes.
std::shared_ptr<graph_impl> recording_graph_of(queue_impl& q);

struct kernel_arg {
  enum kind_t { bytes, pointer, local } kind = bytes;
  std::vector<char> data;
  const void* ptr = nullptr;
  size_t local_bytes = 0;
};

struct requirement {
  std::shared_ptr<buffer_storage> storage;
  access_mode mode;
  std::shared_ptr<buffer_allocation> alloc;
};

class handler_impl {
 public:
  explicit handler_impl(std::shared_ptr<queue_impl> q) : queue(std::move(q)) {}
  enum class kind_t { none, host_task, host_kernel, cl_kernel, memcpy, fill, barrier };

  std::shared_ptr<queue_impl> queue;
  std::vector<std::shared_ptr<event_impl>> deps;
  std::vector<requirement> reqs;
  std::vector<size_t> local_sizes;
  std::map<int, kernel_arg> args;
  kind_t kind = kind_t::none;
  std::function<void(interop_handle&)> task;
  host_kernel hk;
  std::shared_ptr<kernel_impl> kernel;
  int dims = 1;
  size_t global[3] = {1, 1, 1}, local[3] = {1, 1, 1}, offset[3] = {0, 0, 0};
  bool has_local = false;
  void* dst = nullptr;
  const void* src = nullptr;
  size_t bytes = 0;
  std::vector<char> pattern;
  size_t count = 0;

  void set_kind(kind_t k);
};

// Runs a host-run kernel to completion on the calling thread and the pool.
void run_host_kernel(const host_kernel& k, const std::vector<size_t>& local_sizes);
// Validates an nd-range against a device (errc::nd_range).
void check_nd_range(const device_impl& dev, int dims, const size_t* global, const size_t* local);

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
