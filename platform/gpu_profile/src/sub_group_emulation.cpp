// Sub-groups on a device that has none. The lanes of a sub-group are
// consecutive work-items of a work-group (local linear id / size), as on the
// vendor's GPUs. A shuffle goes through program-scope global memory between
// work-group barriers: every work-item of the work-group must reach it, which
// a program that keeps its sub-groups converged and its work-groups together
// at each shuffle does. Block reads and writes need no exchange: lane i
// takes element i at the pointer the whole sub-group passes.
//
// Each work-group of a launch exchanges in a region of its own (its linear
// id, one region per enqueued work-group size of work-items), so no
// work-group waits for another of its launch, whatever the order or
// concurrency in which the device runs them (Oclgrind runs them one after
// another; its race checker sees disjoint regions). A region's owner flag
// keeps concurrent launches of one kernel, which share its program-scope
// variables, apart; only a launch of more work-items than the area holds has
// work-groups share regions, and take turns. The area cannot be sized from
// each launch: PoCL keeps program-scope variables per kernel, so no kernel
// can hand another a buffer the host made for the launch.
//
// The sub-group size is a constant of the program (TAVIR_EMU_SUB_GROUP_SIZE,
// a build option): the size its kernels require with the vendor attribute,
// read from the source, else the profile's smallest. The prelude turns the
// attribute into a work-group size hint, which the kernel attributes show
// after the build; where they show another size than the one read, the
// program is built again with theirs.
#include "sub_group_emulation.hpp"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <pthread.h>

namespace qez_profile {
namespace {

constexpr const char* emulate_value = "emulate";
constexpr const char* size_hint = "work_group_size_hint(";
constexpr const char* size_attribute = "tavir_reqd_sub_group_size(";
constexpr const char* size_option = " -DTAVIR_EMU_SUB_GROUP_SIZE=";
// The warning text of a use of an emulated built-in.
constexpr const char* use_mark = "sub-group built-in emulated by the GPU profile layer";
// The exchange area holds this many largest work-groups (64 regions of 256
// work-items under a profile of 1024). Oclgrind keeps tens of bytes of state
// per byte of a program-scope variable, so the area stays small.
constexpr size_t exchange_area_groups = 16;
// Stack a device thread gets per work-item of the profile's largest
// work-group (see give_device_threads_emulation_stacks): the kernels of the
// lane-pair forms measured take up to 11.4 KiB per work-item (small_md's
// 6561 points in double precision).
constexpr size_t stack_bytes_per_work_item = 32 * 1024;

std::atomic<unsigned> lane_pair_programs{0};

const qez_gpu_profile_t& profile() { return *qez_gpu_profile_active(); }

// The built-ins in OpenCL C 2.0 (program-scope global variables). `%zu` is
// the exchange area's size in work-items.
constexpr const char* prelude_format = R"(#define cl_tavir_subgroups 1
#define cl_tavir_subgroups_long 1
#define tavir_reqd_sub_group_size(n) work_group_size_hint(n, 1, 1)
#define TAVIR_EMU_MARK "%s"
#define TAVIR_EMU_AREA_ITEMS %zu
#define tavir_emu_sub_group_size ((uint)(TAVIR_EMU_SUB_GROUP_SIZE))
global int tavir_emu_region_owner[TAVIR_EMU_AREA_ITEMS];
global ulong tavir_emu_area[TAVIR_EMU_AREA_ITEMS];
static uint tavir_emu_local_id(void)
{
    return (uint)(get_local_id(0) + get_local_size(0) * (get_local_id(1) + get_local_size(1) * get_local_id(2)));
}
static uint tavir_emu_group_id(void)
{
    return (uint)(get_group_id(0) + get_num_groups(0) * (get_group_id(1) + get_num_groups(1) * get_group_id(2)));
}
static uint tavir_emu_lane(void) { return tavir_emu_local_id() %% tavir_emu_sub_group_size; }
/* The value `v` of work-item `from` of the work-group, exchanged in the
 * work-group's own region of the area (regions of the enqueued work-group
 * size, which the smaller last work-groups of a launch fit too). */
static ulong tavir_emu_exchange(const ulong v, const uint from)
{
    const uint region_items = (uint)(get_enqueued_local_size(0) * get_enqueued_local_size(1) * get_enqueued_local_size(2));
    const uint region = tavir_emu_group_id() %% max(TAVIR_EMU_AREA_ITEMS / region_items, 1u);
    const uint me = tavir_emu_local_id();
    global ulong *data = tavir_emu_area + (ulong)region * region_items;
    barrier(CLK_GLOBAL_MEM_FENCE);
    if (me == 0)
        while (atomic_cmpxchg(&tavir_emu_region_owner[region], 0, 1) != 0) {
        }
    barrier(CLK_GLOBAL_MEM_FENCE);
    data[me] = v;
    barrier(CLK_GLOBAL_MEM_FENCE);
    const ulong r = data[from];
    barrier(CLK_GLOBAL_MEM_FENCE);
    if (me == 0) atomic_xchg(&tavir_emu_region_owner[region], 0);
    return r;
}
/* The work-item of lane (lane xor m) of the caller's sub-group; the caller
 * itself where that lane does not exist. */
static uint tavir_emu_xor_source(const uint m)
{
    const uint me = tavir_emu_local_id();
    const uint size = tavir_emu_sub_group_size;
    const uint lane = me %% size, other = (me - lane) + (lane ^ m);
    const uint items = (uint)(get_local_size(0) * get_local_size(1) * get_local_size(2));
    return (lane ^ m) < size && other < items ? other : me;
}
/* Each use of an emulated built-in leaves a warning in the build log, which
 * tells the profile layer that the program took its lane-pair form. */
#define TAVIR_EMU_BUILT_IN __attribute__((overloadable, deprecated(TAVIR_EMU_MARK)))
#define TAVIR_EMU_SHUFFLE(T, TO_BITS, FROM_BITS)                                            \
    TAVIR_EMU_BUILT_IN T tavir_sub_group_shuffle_xor(const T v, const uint m)    \
    {                                                                                       \
        return FROM_BITS(tavir_emu_exchange(TO_BITS(v), tavir_emu_xor_source(m)));         \
    }                                                                                       \
    TAVIR_EMU_BUILT_IN T##2 tavir_sub_group_shuffle_xor(const T##2 v, const uint m) \
    {                                                                                       \
        return (T##2)(tavir_sub_group_shuffle_xor(v.s0, m), tavir_sub_group_shuffle_xor(v.s1, m)); \
    }
#define TAVIR_EMU_BITS(v) ((ulong)(v))
#define TAVIR_EMU_FLOAT_BITS(v) ((ulong)as_uint(v))
#define TAVIR_EMU_AS_FLOAT(b) as_float((uint)(b))
TAVIR_EMU_SHUFFLE(int, TAVIR_EMU_BITS, (int))
TAVIR_EMU_SHUFFLE(uint, TAVIR_EMU_BITS, (uint))
TAVIR_EMU_SHUFFLE(long, TAVIR_EMU_BITS, (long))
TAVIR_EMU_SHUFFLE(ulong, TAVIR_EMU_BITS, (ulong))
TAVIR_EMU_SHUFFLE(float, TAVIR_EMU_FLOAT_BITS, TAVIR_EMU_AS_FLOAT)
#ifdef cl_khr_fp64
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
TAVIR_EMU_SHUFFLE(double, as_ulong, as_double)
#endif
/* Lane i reads or writes element i of each sub-group-sized block at p. */
#define TAVIR_EMU_BLOCK(SUFFIX, T)                                                          \
    TAVIR_EMU_BUILT_IN T tavir_sub_group_block_read##SUFFIX(const global T *p)   \
    {                                                                                       \
        return p[tavir_emu_lane()];                                                         \
    }                                                                                       \
    TAVIR_EMU_BUILT_IN T##8 tavir_sub_group_block_read##SUFFIX##8(const global T *p) \
    {                                                                                       \
        const uint l = tavir_emu_lane(), s = tavir_emu_sub_group_size;                      \
        return (T##8)(p[l], p[s + l], p[2 * s + l], p[3 * s + l], p[4 * s + l], p[5 * s + l], \
                      p[6 * s + l], p[7 * s + l]);                                          \
    }                                                                                       \
    TAVIR_EMU_BUILT_IN void tavir_sub_group_block_write##SUFFIX(global T *p, const T v) \
    {                                                                                       \
        p[tavir_emu_lane()] = v;                                                            \
    }                                                                                       \
    TAVIR_EMU_BUILT_IN void tavir_sub_group_block_write##SUFFIX##8(global T *p, const T##8 v) \
    {                                                                                       \
        const uint l = tavir_emu_lane(), s = tavir_emu_sub_group_size;                      \
        p[l] = v.s0, p[s + l] = v.s1, p[2 * s + l] = v.s2, p[3 * s + l] = v.s3;             \
        p[4 * s + l] = v.s4, p[5 * s + l] = v.s5, p[6 * s + l] = v.s6, p[7 * s + l] = v.s7; \
    }
TAVIR_EMU_BLOCK(, uint)
TAVIR_EMU_BLOCK(_ul, ulong)
/* PoCL's OpenCL C 2.0 declares vload2 and vstore2 for no pointer of a named
 * address space; the programs use them on global, local and private data. */
#undef vload2
#undef vstore2
#define TAVIR_EMU_VLOAD2(T, AS)                                                        \
    __attribute__((overloadable)) T##2 vload2(const size_t i, const AS T *p)           \
    {                                                                                  \
        return (T##2)(p[2 * i], p[2 * i + 1]);                                         \
    }
#define TAVIR_EMU_VSTORE2(T, AS)                                                       \
    __attribute__((overloadable)) void vstore2(const T##2 v, const size_t i, AS T *p)  \
    {                                                                                  \
        p[2 * i] = v.x;                                                                \
        p[2 * i + 1] = v.y;                                                            \
    }
#define TAVIR_EMU_VECTOR2(T)                                                           \
    TAVIR_EMU_VLOAD2(T, global) TAVIR_EMU_VLOAD2(T, local) TAVIR_EMU_VLOAD2(T, private) \
    TAVIR_EMU_VLOAD2(T, constant) TAVIR_EMU_VSTORE2(T, global) TAVIR_EMU_VSTORE2(T, local) \
    TAVIR_EMU_VSTORE2(T, private)
TAVIR_EMU_VECTOR2(float)
TAVIR_EMU_VECTOR2(int)
TAVIR_EMU_VECTOR2(uint)
#ifdef cl_khr_fp64
TAVIR_EMU_VECTOR2(double)
#endif
#line 1
)";

// Whether the program's source starts with the prelude.
bool carries_prelude(cl_program program) {
  size_t n = 0;
  if (next().clGetProgramInfo(program, CL_PROGRAM_SOURCE, 0, nullptr, &n) != CL_SUCCESS || n == 0) return false;
  std::vector<char> source(n);
  if (next().clGetProgramInfo(program, CL_PROGRAM_SOURCE, n, source.data(), nullptr) != CL_SUCCESS) return false;
  const std::string& prelude = sub_group_prelude();
  return n > prelude.size() && std::memcmp(source.data(), prelude.data(), prelude.size()) == 0;
}

std::vector<std::string> kernel_names(cl_program program) {
  size_t n = 0;
  std::vector<std::string> names;
  if (next().clGetProgramInfo(program, CL_PROGRAM_KERNEL_NAMES, 0, nullptr, &n) != CL_SUCCESS) return names;
  std::string all(n, '\0');
  if (next().clGetProgramInfo(program, CL_PROGRAM_KERNEL_NAMES, n, all.data(), nullptr) != CL_SUCCESS) return names;
  all.resize(std::strlen(all.c_str()));
  for (size_t i = 0; i <= all.size();) {
    const size_t end = std::min(all.find(';', i), all.size());
    if (end > i) names.push_back(all.substr(i, end - i));
    i = end + 1;
  }
  return names;
}

// The sub-group size kernel `name` requires (its size hint), or 0.
unsigned required_size(cl_program program, const std::string& name) {
  cl_int err = CL_SUCCESS;
  cl_kernel k = next().clCreateKernel(program, name.c_str(), &err);
  if (err != CL_SUCCESS) return 0;
  size_t n = 0;
  std::string attributes;
  if (next().clGetKernelInfo(k, CL_KERNEL_ATTRIBUTES, 0, nullptr, &n) == CL_SUCCESS && n > 0) {
    attributes.assign(n, '\0');
    next().clGetKernelInfo(k, CL_KERNEL_ATTRIBUTES, n, attributes.data(), nullptr);
  }
  next().clReleaseKernel(k);
  const size_t at = attributes.find(size_hint);
  return at == std::string::npos ? 0 : static_cast<unsigned>(std::strtoul(attributes.c_str() + at + std::strlen(size_hint), nullptr, 10));
}

// Whether the program is built for Oclgrind (its first device's platform).
bool built_for_oclgrind(cl_program program) {
  cl_uint count = 0;
  if (next().clGetProgramInfo(program, CL_PROGRAM_NUM_DEVICES, sizeof count, &count, nullptr) != CL_SUCCESS || count == 0)
    return false;
  std::vector<cl_device_id> devices(count);
  cl_platform_id platform = nullptr;
  if (next().clGetProgramInfo(program, CL_PROGRAM_DEVICES, count * sizeof(cl_device_id), devices.data(), nullptr) !=
          CL_SUCCESS ||
      next().clGetDeviceInfo(devices[0], CL_DEVICE_PLATFORM, sizeof platform, &platform, nullptr) != CL_SUCCESS)
    return false;
  char name[64] = {};
  next().clGetPlatformInfo(platform, CL_PLATFORM_NAME, sizeof name - 1, name, nullptr);
  return std::strstr(name, "Oclgrind") != nullptr;
}

// Oclgrind's checker of uninitialised values keeps per-thread state that
// only a thread that has made a context of it owns, and a build stores the
// initial values of the program's program-scope variables through it: on
// any other thread (a pool thread of the SYCL stand-in) the build crashes.
// Such a thread makes one context of its own first, never released (as the
// SYCL stand-in's threads that run commands do: releasing it as the thread
// or the process ends would run Oclgrind's teardown against state it has
// already freed). A process-wide list holds them.
void keep_an_oclgrind_context_on_this_thread(cl_program program) {
  static std::mutex* m = new std::mutex;
  static std::vector<cl_context>* kept_contexts = new std::vector<cl_context>;
  thread_local const bool kept = [program] {
    cl_device_id device = nullptr;
    if (next().clGetProgramInfo(program, CL_PROGRAM_DEVICES, sizeof device, &device, nullptr) != CL_SUCCESS)
      return false;
    cl_context c = next().clCreateContext(nullptr, 1, &device, nullptr, nullptr, nullptr);
    std::lock_guard<std::mutex> lock(*m);
    kept_contexts->push_back(c);
    return true;
  }();
  (void)kept;
}

// The one sub-group size the program's kernels require (their size hints),
// or 0 when none requires one. Oclgrind (21.10) answers CL_KERNEL_ATTRIBUTES
// by copying from a string it has already freed: there the answer is 0 and
// the size read from the source stands.
unsigned required_program_size(cl_program program) {
  unsigned size = 0;
  if (built_for_oclgrind(program)) return size;
  for (const std::string& name : kernel_names(program)) {
    const unsigned s = required_size(program, name);
    if (s != 0 && size != 0 && s != size)
      std::fprintf(stderr, "qez_gpu_profile: sub-group emulation: kernel %s requires %u lanes, another kernel %u\n",
                   name.c_str(), s, size);
    if (size == 0) size = s;
  }
  return size;
}

// The value of `name` as a -D option or a #define of the source; 0 if none.
unsigned defined_value(const std::string& name, const std::string& source, const std::string& options) {
  for (const std::string& form : {"-D" + name + "=", "#define " + name + " "}) {
    const std::string& where = form[0] == '-' ? options : source;
    const size_t at = where.find(form);
    if (at != std::string::npos) return static_cast<unsigned>(std::strtoul(where.c_str() + at + form.size(), nullptr, 0));
  }
  return 0;
}

// The size the first required-size attribute after the prelude names (a
// number, or a macro of the options or the source); 0 when none is found.
unsigned size_read_from_source(const std::string& source, const std::string& options) {
  const size_t at = source.find(size_attribute, sub_group_prelude().size());
  if (at == std::string::npos) return 0;
  const size_t first = at + std::strlen(size_attribute), end = source.find(')', first);
  if (end == std::string::npos) return 0;
  std::string argument = source.substr(first, end - first);
  argument.erase(std::remove_if(argument.begin(), argument.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }),
                 argument.end());
  if (!argument.empty() && std::isdigit(static_cast<unsigned char>(argument[0])))
    return static_cast<unsigned>(std::strtoul(argument.c_str(), nullptr, 0));
  return defined_value(argument, source, options);
}

}  // namespace

bool sub_groups_emulated() {
  static const bool on = [] {
    const char* v = std::getenv(QEZ_GPU_PROFILE_ENV_SUB_GROUPS);
    if (!v || !*v) return false;
    if (std::strcmp(v, emulate_value) == 0) return true;
    std::fprintf(stderr, "qez_gpu_profile: ignoring %s=\"%s\" (the value it takes is \"%s\")\n",
                 QEZ_GPU_PROFILE_ENV_SUB_GROUPS, v, emulate_value);
    return false;
  }();
  return on;
}

const char* emulated_sub_group_extensions() { return "cl_tavir_subgroups cl_tavir_subgroups_long"; }

const std::string& sub_group_prelude() {
  static const std::string text = [] {
    const size_t area_items = exchange_area_groups * profile().max_work_group_size;
    const int n = std::snprintf(nullptr, 0, prelude_format, use_mark, area_items);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(s.data(), s.size(), prelude_format, use_mark, area_items);
    s.resize(static_cast<size_t>(n));
    return s;
  }();
  return text;
}

namespace {

// The options with OpenCL C 2.0 in place of an older version, which has no
// program-scope global variables. Oclgrind (21.10) cannot execute the
// address-space casts that the generic address space of OpenCL C 2.0 leaves
// in unoptimised builds: there the version is 3.0 with program-scope
// variables and without the generic address space (its compiler then needs
// every other feature its header uses named).
std::string with_program_scope_variables(const std::string& options, bool oclgrind) {
  const char* version = oclgrind ? "-cl-std=CL3.0" : "-cl-std=CL2.0";
  std::string out = options;
  for (const char* older : {"-cl-std=CL1.0", "-cl-std=CL1.1", "-cl-std=CL1.2", "-cl-std=CL2.0"})
    for (size_t at = out.find(older); at != std::string::npos; at = out.find(older, at + std::strlen(version)))
      out.replace(at, std::strlen(older), version);
  if (out.find("-cl-std=") == std::string::npos) out += std::string(" ") + version;
  if (oclgrind)
    out += " -cl-ext=+__opencl_c_fp64,+__opencl_c_int64,+__opencl_c_images,+__opencl_c_3d_image_writes,"
           "+__opencl_c_read_write_images,+__opencl_c_program_scope_global_variables,"
           "+__opencl_c_atomic_order_acq_rel,+__opencl_c_atomic_order_seq_cst,+__opencl_c_atomic_scope_device,"
           "+__opencl_c_atomic_scope_all_devices,+__opencl_c_work_group_collective_functions,"
           "-__opencl_c_generic_address_space,-__opencl_c_device_enqueue,-__opencl_c_pipes";
  return out;
}

// Whether the build log of the program (on the first device of the build)
// shows a use of an emulated built-in.
bool uses_emulated_built_ins(cl_program program, cl_uint num_devices, const cl_device_id* devices) {
  cl_device_id device = nullptr;
  if (devices && num_devices > 0) device = devices[0];
  else if (next().clGetProgramInfo(program, CL_PROGRAM_DEVICES, sizeof device, &device, nullptr) != CL_SUCCESS)
    return false;
  size_t n = 0;
  if (next().clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &n) != CL_SUCCESS) return false;
  std::string log(n, '\0');
  if (next().clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, n, log.data(), nullptr) != CL_SUCCESS)
    return false;
  return log.find(use_mark) != std::string::npos;
}

cl_int build_with_size(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                       const std::string& options, unsigned size) {
  const std::string all = options + size_option + std::to_string(size);
  return next().clBuildProgram(program, num_devices, devices, all.c_str(), nullptr, nullptr);
}

}  // namespace

cl_int build_emulating_sub_groups(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                  const std::string& options, void(CL_CALLBACK* notify)(cl_program, void*),
                                  void* user_data) {
  cl_int err = CL_SUCCESS;
  if (!carries_prelude(program)) {
    err = next().clBuildProgram(program, num_devices, devices, options.c_str(), nullptr, nullptr);
  } else {
    const bool oclgrind = built_for_oclgrind(program);
    if (oclgrind) keep_an_oclgrind_context_on_this_thread(program);
    const std::string built_with = with_program_scope_variables(options, oclgrind);
    const unsigned read = size_read_from_source(program_source(program), options);
    const unsigned first = read != 0 ? read : static_cast<unsigned>(profile().sub_group_sizes[0]);
    err = build_with_size(program, num_devices, devices, built_with, first);
    const unsigned required = err == CL_SUCCESS ? required_program_size(program) : 0;
    if (required != 0 && required != first) err = build_with_size(program, num_devices, devices, built_with, required);
    if (err == CL_SUCCESS && uses_emulated_built_ins(program, num_devices, devices)) lane_pair_programs.fetch_add(1);
  }
  if (notify) notify(program, user_data);
  return err;
}

namespace {

// The default attributes of the threads pthread_create starts without
// attributes of their own, held for the scope.
class default_thread_attributes {
 public:
  default_thread_attributes() : valid_(pthread_getattr_default_np(&attr_) == 0) {}
  ~default_thread_attributes() {
    if (valid_) pthread_attr_destroy(&attr_);
  }
  default_thread_attributes(const default_thread_attributes&) = delete;
  default_thread_attributes& operator=(const default_thread_attributes&) = delete;

  size_t stack_size() const {
    size_t bytes = 0;
    return valid_ && pthread_attr_getstacksize(&attr_, &bytes) == 0 ? bytes : 0;
  }
  // Threads started from now on without attributes get `bytes` of stack.
  bool set_stack_size(size_t bytes) {
    return valid_ && pthread_attr_setstacksize(&attr_, bytes) == 0 && pthread_setattr_default_np(&attr_) == 0;
  }

 private:
  pthread_attr_t attr_{};
  bool valid_;
};

// The stack a device thread gets under the emulation: a fixed share per
// work-item of the profile's largest work-group (0 without a valid profile).
size_t emulation_thread_stack_bytes() {
  const qez_gpu_profile_t* active = qez_gpu_profile_active();
  return active ? stack_bytes_per_work_item * active->max_work_group_size : 0;
}

}  // namespace

void give_device_threads_emulation_stacks() {
  if (!sub_groups_emulated()) return;
  default_thread_attributes defaults;
  const size_t wanted = emulation_thread_stack_bytes();
  if (defaults.stack_size() < wanted && !defaults.set_stack_size(wanted))
    std::fprintf(stderr, "qez_gpu_profile: sub-group emulation: cannot give new threads stacks of %zu bytes\n", wanted);
}

}  // namespace qez_profile

extern "C" QEZ_PROFILE_EXPORT uint32_t qez_gpu_profile_lane_pair_programs_built(void) {
  return qez_profile::lane_pair_programs.load();
}
