// OpenCL double for the binary-kernel probe, built under the file name of
// the GPU profile library into a directory of its own: a test executable in
// that directory opens it as "OpenCL.dll". Every entry point forwards to the
// real GPU profile library, except that a qxbin image of the "binary_test"
// kernel is accepted as a program: the program is an emulation, in OpenCL C,
// of what "binary_test" writes into its result buffer given the arguments it
// receives. The control functions choose how faithful the emulated driver is.
#include <dlfcn.h>
#include <elf.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/service/opencl_types.hpp"
#include "tests/doubles/binary_probe/binary_probe_double.h"

namespace {

// ---- the real library ----

void* real_library() {
  static void* const handle = [] {
    void* h = dlopen(QEZ_REAL_OPENCL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
      std::fprintf(stderr, "binary probe double: cannot open %s\n", QEZ_REAL_OPENCL_LIBRARY);
      std::abort();
    }
    return h;
  }();
  return handle;
}

template <class Function>
Function* real_entry(const char* name) {
  void* address = dlsym(real_library(), name);
  if (address == nullptr) {
    std::fprintf(stderr, "binary probe double: the real library lacks %s\n", name);
    std::abort();
  }
  return reinterpret_cast<Function*>(address);
}

// ---- recognising a qxbin image of "binary_test" ----

constexpr const char* info_section = ".qx_info";
constexpr const char* kernel_section = ".text.binary_test";

bool within(std::size_t offset, std::size_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

// The names of an ELF64 image's sections; empty for anything else.
std::vector<std::string> section_names(const unsigned char* bytes, std::size_t size) {
  Elf64_Ehdr header;
  if (size < sizeof header || std::memcmp(bytes, ELFMAG, SELFMAG) != 0) return {};
  std::memcpy(&header, bytes, sizeof header);
  if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr)) return {};
  if (!within(header.e_shoff, std::size_t{header.e_shnum} * sizeof(Elf64_Shdr), size) ||
      header.e_shstrndx >= header.e_shnum)
    return {};
  auto section = [&](std::size_t index) {
    Elf64_Shdr s;
    std::memcpy(&s, bytes + header.e_shoff + index * sizeof s, sizeof s);
    return s;
  };
  const Elf64_Shdr strings = section(header.e_shstrndx);
  if (!within(strings.sh_offset, strings.sh_size, size)) return {};
  const char* table = reinterpret_cast<const char*>(bytes + strings.sh_offset);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr s = section(i);
    if (s.sh_name >= strings.sh_size) return {};
    names.emplace_back(table + s.sh_name, strnlen(table + s.sh_name, strings.sh_size - s.sh_name));
  }
  return names;
}

bool is_binary_test_image(const unsigned char* bytes, std::size_t size) {
  bool info = false, kernel = false;
  for (const std::string& name : section_names(bytes, size)) {
    info = info || name == info_section;
    kernel = kernel || name == kernel_section;
  }
  return info && kernel;
}

// ---- the emulated kernel ----

// What "binary_test" writes: 1 when every scalar, the first input word and
// the three local sizes hold the values the probe passes, else 0; one write
// per work-group. SWAP_HALVES models a driver that delivers 64-bit scalars
// with their halves swapped; NO_KERNEL a program without the kernel;
// NOT_RUN a driver that accepts the launch and runs nothing; PASSED_WORD
// replaces the word stored on success; REQUIRED_GROUP gives the kernel a
// work-group size other than the probe's, so that the launch is refused.
constexpr const char* emulation_source = R"CLC(
#ifdef SWAP_HALVES
#define DELIVERED(x) rotate((x), (ulong)32)
#else
#define DELIVERED(x) (x)
#endif
#ifndef PASSED_WORD
#define PASSED_WORD 1u
#endif
#ifdef REQUIRED_GROUP
#define GROUP_ATTRIBUTE __attribute__((reqd_work_group_size(REQUIRED_GROUP)))
#else
#define GROUP_ATTRIBUTE
#endif
#ifdef NO_KERNEL
kernel void not_binary_test(void) {}
#elif defined(NOT_RUN)
kernel void binary_test(uint src0, ulong src1, ushort src2, ushort src3, ulong src4, ulong src5,
                        global const uint* src_ptr, global uint* ok) {}
#else
kernel GROUP_ATTRIBUTE void binary_test(uint src0, ulong src1, ushort src2, ushort src3, ulong src4, ulong src5,
                                        global const uint* src_ptr, global uint* ok) {
  if (get_local_id(0) != 0 || get_local_id(1) != 0 || get_local_id(2) != 0) return;
  const int pass = src0 == 0xBEEFCAFEu && DELIVERED(src1) == 0x3141592653589793ul &&
                   src2 == (ushort)0xBEAD && src3 == (ushort)0xFACE &&
                   DELIVERED(src4) == 0x0123456789ABCDEFul && DELIVERED(src5) == 0xFEDCBA9876543210ul &&
                   src_ptr[0] == 0xABADFEEDu &&
                   get_local_size(0) == 4 && get_local_size(1) == 2 && get_local_size(2) == 1;
  ok[0] = pass ? PASSED_WORD : 0u;
}
#endif
)CLC";

const char* driver_defines(int behaviour) {
  switch (behaviour) {
    case QEZ_BINARY_PROBE_DRIVER_SWAPS_HALVES: return "#define SWAP_HALVES\n";
    case QEZ_BINARY_PROBE_DRIVER_NO_KERNEL: return "#define NO_KERNEL\n";
    case QEZ_BINARY_PROBE_DRIVER_DOES_NOT_RUN: return "#define NOT_RUN\n";
    case QEZ_BINARY_PROBE_DRIVER_STORES_OTHER_WORD: return "#define PASSED_WORD 0xFFFFFFFFu\n";
    case QEZ_BINARY_PROBE_DRIVER_REFUSES_LAUNCH: return "#define REQUIRED_GROUP 8, 1, 1\n";
    default: return "";
  }
}

std::mutex state_lock;
int driver_behaviour = QEZ_BINARY_PROBE_DRIVER_FAITHFUL;
int images_seen = 0;
std::vector<unsigned char> last_image;
void (*load_hook)(void*) = nullptr;
void* load_hook_context = nullptr;

cl_program emulated_program(cl_context context, const unsigned char* bytes, std::size_t size, cl_int* binary_status,
                            cl_int* errcode_ret) {
  const char* sources[2] = {nullptr, emulation_source};
  void (*hook)(void*) = nullptr;
  void* hook_context = nullptr;
  {
    std::lock_guard<std::mutex> lock(state_lock);
    ++images_seen;
    last_image.assign(bytes, bytes + size);
    sources[0] = driver_defines(driver_behaviour);
    hook = load_hook;
    hook_context = load_hook_context;
  }
  if (hook != nullptr) hook(hook_context);
  using create_with_source = cl_program(cl_context, cl_uint, const char**, const size_t*, cl_int*);
  cl_program program =
      real_entry<create_with_source>("clCreateProgramWithSource")(context, 2, sources, nullptr, errcode_ret);
  if (binary_status != nullptr) binary_status[0] = program != nullptr ? CL_SUCCESS : CL_INVALID_BINARY;
  return program;
}

}  // namespace

extern "C" {

void qez_binary_probe_double_set_driver(int behaviour) {
  std::lock_guard<std::mutex> lock(state_lock);
  driver_behaviour = behaviour;
}

int qez_binary_probe_double_image_count(void) {
  std::lock_guard<std::mutex> lock(state_lock);
  return images_seen;
}

const unsigned char* qez_binary_probe_double_last_image(size_t* size) {
  std::lock_guard<std::mutex> lock(state_lock);
  *size = last_image.size();
  return last_image.empty() ? nullptr : last_image.data();
}

void qez_binary_probe_double_on_load(void (*hook)(void*), void* context) {
  std::lock_guard<std::mutex> lock(state_lock);
  load_hook = hook;
  load_hook_context = context;
}

// Every entry point of the service's loader forwards; the one that creates
// programs from binaries is renamed here and wrapped below.
#define clCreateProgramWithBinary forward_clCreateProgramWithBinary
#define QEZ_OPENCL_ENTRY(result, name, parameters, arguments) \
  result name parameters { return real_entry<result parameters>(#name) arguments; }
#include "gpu/service/opencl_entry_points.inc"
#undef QEZ_OPENCL_ENTRY
#undef clCreateProgramWithBinary

cl_program clCreateProgramWithBinary(cl_context context, cl_uint num_devices, const cl_device_id* device_list,
                                     const size_t* lengths, const unsigned char** binaries, cl_int* binary_status,
                                     cl_int* errcode_ret) {
  if (num_devices == 1 && lengths != nullptr && binaries != nullptr && binaries[0] != nullptr &&
      is_binary_test_image(binaries[0], lengths[0]))
    return emulated_program(context, binaries[0], lengths[0], binary_status, errcode_ret);
  return forward_clCreateProgramWithBinary(context, num_devices, device_list, lengths, binaries, binary_status,
                                           errcode_ret);
}

}  // extern "C"
