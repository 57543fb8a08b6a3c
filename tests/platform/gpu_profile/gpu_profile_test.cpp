// GPU profiles: every device appears as a GPU of the profile that
// STANDIN_GPU_PROFILE names, with the IP version, vendor queries and limits
// of that profile. Each profile runs as its own CTest entries.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <CL/cl.h>
#include <CL/cl_ext.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qez_gpu_profile.h"

namespace {

// The library's IP-version table, written again independently here:
// the qez_gpu_arch_t value an IP version decodes to (0 when not recognised).
uint32_t decode_arch(uint32_t ip) {
  const uint32_t arch = ip >> 22, release = (ip >> 14) & 0xFF;
  int gen = -1;
  if (arch == 9) gen = 1;
  else if (arch == 11) gen = 3;
  else if (arch == 12 && release <= 10) gen = 4;
  else if (arch == 12 && release == 50) gen = 5;
  else if (arch == 12 && release >= 51 && release <= 59) gen = 6;
  else if (arch == 12 && (release == 60 || release == 61)) gen = 7;
  else if (arch == 12 && (release == 70 || release == 71 || release == 73 || release == 74)) gen = 6;
  else if (arch == 20) gen = 8;
  else if (arch == 30) gen = 9;
  else if (arch == 35) gen = 10;
  switch (gen) {
    case 1: return 1;
    case 3: return 2;
    case 4: return 3;
    case 5: return 4;
    case 6: return 5;
    case 7: return 6;
    case 8: return 7;
    case 9: return 8;
    case 10: return 9;
    default: return 0;
  }
}

const char* profile_name() {
  const char* v = std::getenv(QEZ_GPU_PROFILE_ENV);
  return v && *v ? v : QEZ_GPU_PROFILE_DEFAULT_NAME;
}

// The system ICD loader, opened privately, for PoCL's own answers.
struct real_cl {
  void* lib = dlopen("libOpenCL.so.1", RTLD_NOW | RTLD_LOCAL);
  decltype(&clGetPlatformIDs) get_platforms =
      reinterpret_cast<decltype(&clGetPlatformIDs)>(dlsym(lib, "clGetPlatformIDs"));
  decltype(&clGetDeviceIDs) get_devices = reinterpret_cast<decltype(&clGetDeviceIDs)>(dlsym(lib, "clGetDeviceIDs"));
  decltype(&clGetDeviceInfo) get_info = reinterpret_cast<decltype(&clGetDeviceInfo)>(dlsym(lib, "clGetDeviceInfo"));
};

class GpuProfile : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_ = qez_gpu_profile_active();
    ASSERT_NE(profile_, nullptr) << "unknown profile " << profile_name();
    ASSERT_EQ(clGetPlatformIDs(1, &platform_, nullptr), CL_SUCCESS);
    ASSERT_EQ(clGetDeviceIDs(platform_, CL_DEVICE_TYPE_GPU, 1, &device_, nullptr), CL_SUCCESS);
  }
  template <class T>
  T info(cl_device_info what) {
    T v{};
    EXPECT_EQ(clGetDeviceInfo(device_, what, sizeof v, &v, nullptr), CL_SUCCESS) << std::hex << what;
    return v;
  }
  const qez_gpu_profile_t* profile_ = nullptr;
  cl_platform_id platform_ = nullptr;
  cl_device_id device_ = nullptr;
};

TEST_F(GpuProfile, ActiveProfileIsTheNamedOne) { EXPECT_STREQ(profile_->name, profile_name()); }

TEST_F(GpuProfile, EveryDeviceIsAGpu) {
  EXPECT_EQ(info<cl_device_type>(CL_DEVICE_TYPE), static_cast<cl_device_type>(CL_DEVICE_TYPE_GPU));
  cl_uint n = 7;
  EXPECT_EQ(clGetDeviceIDs(platform_, CL_DEVICE_TYPE_CPU, 0, nullptr, &n), CL_DEVICE_NOT_FOUND);
  EXPECT_EQ(n, 0u);
  cl_uint all = 0, gpus = 0;
  ASSERT_EQ(clGetDeviceIDs(platform_, CL_DEVICE_TYPE_ALL, 0, nullptr, &all), CL_SUCCESS);
  ASSERT_EQ(clGetDeviceIDs(platform_, CL_DEVICE_TYPE_GPU, 0, nullptr, &gpus), CL_SUCCESS);
  EXPECT_EQ(all, gpus);
  cl_int err = CL_SUCCESS;
  cl_context ctx = clCreateContextFromType(nullptr, CL_DEVICE_TYPE_GPU, nullptr, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  clReleaseContext(ctx);
}

TEST_F(GpuProfile, IpVersionDecodesToTheProfileGeneration) {
  cl_uint ip = 0;
  const cl_int err = clGetDeviceInfo(device_, QEZ_CL_DEVICE_IP_VERSION, sizeof ip, &ip, nullptr);
  if (!profile_->has_ip_version) {
    EXPECT_NE(err, CL_SUCCESS);
    EXPECT_EQ(profile_->arch, 0u);
    return;
  }
  ASSERT_EQ(err, CL_SUCCESS);
  EXPECT_EQ(ip, profile_->ip_version);
  EXPECT_NE(profile_->arch, 0u);
  EXPECT_EQ(decode_arch(ip), profile_->arch) << std::hex << ip;
  size_t size = 0;
  EXPECT_EQ(clGetDeviceInfo(device_, QEZ_CL_DEVICE_IP_VERSION, 0, nullptr, &size), CL_SUCCESS);
  EXPECT_EQ(size, sizeof(cl_uint));
  EXPECT_EQ(clGetDeviceInfo(device_, QEZ_CL_DEVICE_IP_VERSION, 2, &ip, nullptr), CL_INVALID_VALUE);
}

TEST_F(GpuProfile, VendorQueries) {
  size_t bytes = 0;
  ASSERT_EQ(clGetDeviceInfo(device_, QEZ_CL_DEVICE_SUB_GROUP_SIZES, 0, nullptr, &bytes), CL_SUCCESS);
  std::vector<size_t> sizes(bytes / sizeof(size_t));
  ASSERT_EQ(clGetDeviceInfo(device_, QEZ_CL_DEVICE_SUB_GROUP_SIZES, bytes, sizes.data(), nullptr), CL_SUCCESS);
  ASSERT_EQ(sizes.size(), profile_->num_sub_group_sizes);
  for (size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_EQ(sizes[i], profile_->sub_group_sizes[i]);
    EXPECT_TRUE(sizes[i] == 8 || sizes[i] == 16 || sizes[i] == 32) << sizes[i];
  }
  const cl_uint slices = info<cl_uint>(QEZ_CL_DEVICE_NUM_SLICES);
  const cl_uint sub = info<cl_uint>(QEZ_CL_DEVICE_NUM_SUB_SLICES_PER_SLICE);
  const cl_uint eus = info<cl_uint>(QEZ_CL_DEVICE_NUM_EUS_PER_SUB_SLICE);
  const cl_uint threads = info<cl_uint>(QEZ_CL_DEVICE_NUM_THREADS_PER_EU);
  EXPECT_EQ(slices, profile_->slices);
  EXPECT_EQ(threads, profile_->threads_per_eu);
  EXPECT_GE(threads, 7u);
  EXPECT_EQ(info<cl_uint>(CL_DEVICE_MAX_COMPUTE_UNITS), profile_->eu_count);
  if (!std::getenv(QEZ_GPU_PROFILE_ENV_EU_COUNT)) {
    EXPECT_EQ(slices * sub * eus, profile_->eu_count);
  }
  EXPECT_EQ(info<cl_uint>(CL_DEVICE_VENDOR_ID), QEZ_GPU_PROFILE_VENDOR_ID);
  char name[256] = {};
  ASSERT_EQ(clGetDeviceInfo(device_, CL_DEVICE_NAME, sizeof name, name, nullptr), CL_SUCCESS);
  EXPECT_STREQ(name, profile_->device_name);
  char ext[4096] = {};
  ASSERT_EQ(clGetDeviceInfo(device_, CL_DEVICE_EXTENSIONS, sizeof ext, ext, nullptr), CL_SUCCESS);
  EXPECT_NE(std::strstr(ext, QEZ_GPU_PROFILE_EXTENSION), nullptr);
}

TEST_F(GpuProfile, LimitsAreNoLargerThanTheRealDevice) {
  real_cl real;
  ASSERT_NE(real.lib, nullptr);
  cl_platform_id rp = nullptr;
  cl_device_id rd = nullptr;
  ASSERT_EQ(real.get_platforms(1, &rp, nullptr), CL_SUCCESS);
  ASSERT_EQ(real.get_devices(rp, CL_DEVICE_TYPE_ALL, 1, &rd, nullptr), CL_SUCCESS);
  ASSERT_EQ(rd, device_);  // the same handle underneath
  size_t real_wg = 0;
  cl_ulong real_local = 0;
  size_t real_items[3] = {};
  real.get_info(rd, CL_DEVICE_MAX_WORK_GROUP_SIZE, sizeof real_wg, &real_wg, nullptr);
  real.get_info(rd, CL_DEVICE_LOCAL_MEM_SIZE, sizeof real_local, &real_local, nullptr);
  real.get_info(rd, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof real_items, real_items, nullptr);
  const size_t wg = info<size_t>(CL_DEVICE_MAX_WORK_GROUP_SIZE);
  const cl_ulong local = info<cl_ulong>(CL_DEVICE_LOCAL_MEM_SIZE);
  EXPECT_LE(wg, real_wg);
  EXPECT_EQ(wg, std::min(real_wg, profile_->max_work_group_size));
  EXPECT_LE(local, real_local);
  EXPECT_EQ(local, std::min<cl_ulong>(real_local, profile_->local_mem_size));
  size_t items[3] = {};
  ASSERT_EQ(clGetDeviceInfo(device_, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof items, items, nullptr), CL_SUCCESS);
  for (int d = 0; d < 3; ++d) EXPECT_EQ(items[d], std::min(real_items[d], wg));
  EXPECT_EQ(info<cl_device_local_mem_type>(CL_DEVICE_LOCAL_MEM_TYPE), static_cast<cl_device_local_mem_type>(CL_LOCAL));
  const cl_uint tiles = info<cl_uint>(CL_DEVICE_PARTITION_MAX_SUB_DEVICES);
  EXPECT_EQ(tiles == 0 ? 1u : tiles, profile_->tile_count);
  cl_ulong real_alloc = 0;
  real.get_info(rd, CL_DEVICE_MAX_MEM_ALLOC_SIZE, sizeof real_alloc, &real_alloc, nullptr);
  const cl_ulong cap = profile_->max_mem_alloc_size != 0 ? profile_->max_mem_alloc_size : real_alloc;
  EXPECT_EQ(info<cl_ulong>(CL_DEVICE_MAX_MEM_ALLOC_SIZE), std::min(real_alloc, cap));
  cl_ulong real_cache = 0;
  real.get_info(rd, CL_DEVICE_GLOBAL_MEM_CACHE_SIZE, sizeof real_cache, &real_cache, nullptr);
  const cl_ulong cache_cap = profile_->global_mem_cache_size != 0 ? profile_->global_mem_cache_size : real_cache;
  EXPECT_EQ(info<cl_ulong>(CL_DEVICE_GLOBAL_MEM_CACHE_SIZE), std::min(real_cache, cache_cap));
}

TEST_F(GpuProfile, BuildWithVendorRegisterFileOptionSucceeds) {
  cl_int err = CL_SUCCESS;
  cl_context ctx = clCreateContext(nullptr, 1, &device_, nullptr, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  const char* src = "kernel void k(global int* out) { out[get_global_id(0)] = VALUE + (int)get_global_id(0); }";
  cl_program prog = clCreateProgramWithSource(ctx, 1, &src, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  const char* options = "-cl-tavir-256-GRF-per-thread -DVALUE=40 -cl-tavir-greater-than-4GB-buffer-required";
  ASSERT_EQ(clBuildProgram(prog, 1, &device_, options, nullptr, nullptr), CL_SUCCESS);
  char used[256] = {};
  clGetProgramBuildInfo(prog, device_, CL_PROGRAM_BUILD_OPTIONS, sizeof used, used, nullptr);
  EXPECT_EQ(std::strstr(used, "-cl-tavir-"), nullptr) << used;
  cl_kernel k = clCreateKernel(prog, "k", &err);
  ASSERT_EQ(err, CL_SUCCESS);
  size_t kwg = 0;
  ASSERT_EQ(clGetKernelWorkGroupInfo(k, device_, CL_KERNEL_WORK_GROUP_SIZE, sizeof kwg, &kwg, nullptr), CL_SUCCESS);
  EXPECT_LE(kwg, info<size_t>(CL_DEVICE_MAX_WORK_GROUP_SIZE));
  cl_mem buf = clCreateBuffer(ctx, CL_MEM_READ_WRITE, 4 * sizeof(int), nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  clSetKernelArg(k, 0, sizeof buf, &buf);
  cl_command_queue q = clCreateCommandQueueWithProperties(ctx, device_, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  const size_t global = 4;
  ASSERT_EQ(clEnqueueNDRangeKernel(q, k, 1, nullptr, &global, nullptr, 0, nullptr, nullptr), CL_SUCCESS);
  int out[4] = {};
  ASSERT_EQ(clEnqueueReadBuffer(q, buf, CL_TRUE, 0, sizeof out, out, 0, nullptr, nullptr), CL_SUCCESS);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], 40 + i);
  // The same option through compile and link.
  cl_program p2 = clCreateProgramWithSource(ctx, 1, &src, nullptr, &err);
  ASSERT_EQ(clCompileProgram(p2, 1, &device_, options, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS);
  cl_program linked = clLinkProgram(ctx, 1, &device_, "-cl-tavir-256-GRF-per-thread", 1, &p2, nullptr, nullptr, &err);
  EXPECT_EQ(err, CL_SUCCESS);
  if (linked) clReleaseProgram(linked);
  clReleaseProgram(p2);
  clReleaseCommandQueue(q);
  clReleaseMemObject(buf);
  clReleaseKernel(k);
  clReleaseProgram(prog);
  clReleaseContext(ctx);
}

// Builds `source` for the device; the build result and the compiler's log.
cl_int build_source(cl_device_id device, const char* source, std::string* log) {
  cl_int err = CL_SUCCESS;
  cl_context ctx = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  if (err != CL_SUCCESS) return err;
  cl_program prog = clCreateProgramWithSource(ctx, 1, &source, nullptr, &err);
  if (err == CL_SUCCESS) {
    err = clBuildProgram(prog, 1, &device, "-cl-std=CL1.2", nullptr, nullptr);
    size_t size = 0;
    clGetProgramBuildInfo(prog, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
    std::vector<char> text(size + 1, 0);
    clGetProgramBuildInfo(prog, device, CL_PROGRAM_BUILD_LOG, size, text.data(), nullptr);
    *log = text.data();
    clReleaseProgram(prog);
  }
  clReleaseContext(ctx);
  return err;
}

bool has_name_version(cl_device_id device, cl_device_info what, const char* name) {
  size_t bytes = 0;
  EXPECT_EQ(clGetDeviceInfo(device, what, 0, nullptr, &bytes), CL_SUCCESS);
  std::vector<cl_name_version> entries(bytes / sizeof(cl_name_version));
  EXPECT_EQ(clGetDeviceInfo(device, what, bytes, entries.data(), nullptr), CL_SUCCESS);
  for (const cl_name_version& e : entries)
    if (std::strcmp(e.name, name) == 0) return true;
  return false;
}

// Double precision as the profile has it: every table row has it; entry
// gpu_profile_test.no_fp64 sets STANDIN_GPU_FP64=0, which takes the extension,
// the FP configuration and the vector widths away and makes a program that
// uses double fail to build, while one without double still builds.
TEST_F(GpuProfile, DoublePrecisionFollowsTheProfile) {
  const bool fp64 = profile_->has_fp64 != 0;
  const char* switched = std::getenv(QEZ_GPU_PROFILE_ENV_FP64);
  EXPECT_EQ(fp64, !(switched && std::string(switched) == "0"));
  char ext[4096] = {};
  ASSERT_EQ(clGetDeviceInfo(device_, CL_DEVICE_EXTENSIONS, sizeof ext, ext, nullptr), CL_SUCCESS);
  EXPECT_EQ(std::strstr(ext, "cl_khr_fp64") != nullptr, fp64) << ext;
  EXPECT_NE(std::strstr(ext, QEZ_GPU_PROFILE_EXTENSION), nullptr);
  EXPECT_EQ(info<cl_device_fp_config>(CL_DEVICE_DOUBLE_FP_CONFIG) != 0, fp64);
  EXPECT_EQ(info<cl_uint>(CL_DEVICE_PREFERRED_VECTOR_WIDTH_DOUBLE) != 0, fp64);
  EXPECT_EQ(info<cl_uint>(CL_DEVICE_NATIVE_VECTOR_WIDTH_DOUBLE) != 0, fp64);
  EXPECT_EQ(has_name_version(device_, CL_DEVICE_EXTENSIONS_WITH_VERSION, "cl_khr_fp64"), fp64);
  EXPECT_EQ(has_name_version(device_, CL_DEVICE_OPENCL_C_FEATURES, "__opencl_c_fp64"), fp64);
  EXPECT_TRUE(has_name_version(device_, CL_DEVICE_EXTENSIONS_WITH_VERSION, "cl_khr_global_int32_base_atomics"));

  std::string log;
  const char* with_double =
      "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n"
      "kernel void twice(global double2* x) { x[0] *= 2.0; }\n";
  EXPECT_EQ(build_source(device_, with_double, &log), fp64 ? CL_SUCCESS : CL_BUILD_PROGRAM_FAILURE) << log;
  if (!fp64) {
    EXPECT_NE(log.find(":2:"), std::string::npos) << "the error names the caller's line: " << log;
  }
  const char* guarded =
      "#ifdef cl_khr_fp64\n"
      "#error the device has double precision\n"
      "#endif\n"
      "kernel void twice(global float* x) { x[0] *= 2.0f; }\n";
  EXPECT_EQ(build_source(device_, guarded, &log), fp64 ? CL_BUILD_PROGRAM_FAILURE : CL_SUCCESS) << log;
}

// STANDIN_GPU_FAIL_BUILD=<text>: a build whose source or options contain the
// text fails as a compiler error would, with a log that says why; builds
// without it go on as before. The variable is read at every build.
class FailBuildRequest {
 public:
  explicit FailBuildRequest(const char* text) { setenv(QEZ_GPU_PROFILE_ENV_FAIL_BUILD, text, 1); }
  ~FailBuildRequest() { unsetenv(QEZ_GPU_PROFILE_ENV_FAIL_BUILD); }
};

std::string build_log_of(cl_program prog, cl_device_id device) {
  size_t size = 0;
  EXPECT_EQ(clGetProgramBuildInfo(prog, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size), CL_SUCCESS);
  std::vector<char> text(size + 1, 0);
  EXPECT_EQ(clGetProgramBuildInfo(prog, device, CL_PROGRAM_BUILD_LOG, size, text.data(), nullptr), CL_SUCCESS);
  return text.data();
}

TEST_F(GpuProfile, BuildsFailOnRequest) {
  cl_int err = CL_SUCCESS;
  cl_context ctx = clCreateContext(nullptr, 1, &device_, nullptr, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  const char* src = "kernel void fail_me_kernel(global int* out) { out[0] = VALUE; }";
  const auto build = [&](const char* options, cl_program* out) {
    *out = clCreateProgramWithSource(ctx, 1, &src, nullptr, &err);
    EXPECT_EQ(err, CL_SUCCESS);
    return clBuildProgram(*out, 1, &device_, options, nullptr, nullptr);
  };
  cl_program prog = nullptr;
  {
    FailBuildRequest request("fail_me_kernel");
    ASSERT_EQ(build("-DVALUE=1", &prog), CL_BUILD_PROGRAM_FAILURE);
    cl_build_status status = CL_BUILD_SUCCESS;
    ASSERT_EQ(clGetProgramBuildInfo(prog, device_, CL_PROGRAM_BUILD_STATUS, sizeof status, &status, nullptr),
              CL_SUCCESS);
    EXPECT_EQ(status, CL_BUILD_ERROR);
    const std::string log = build_log_of(prog, device_);
    EXPECT_NE(log.find("fail_me_kernel"), std::string::npos) << log;
    EXPECT_NE(log.find(QEZ_GPU_PROFILE_ENV_FAIL_BUILD), std::string::npos) << log;
    clCreateKernel(prog, "fail_me_kernel", &err);
    EXPECT_NE(err, CL_SUCCESS);
    clReleaseProgram(prog);
  }
  {
    // The options alone are enough; a text found nowhere fails nothing.
    FailBuildRequest request("-DVALUE=2");
    ASSERT_EQ(build("-DVALUE=2", &prog), CL_BUILD_PROGRAM_FAILURE);
    EXPECT_NE(build_log_of(prog, device_).find("options"), std::string::npos);
    clReleaseProgram(prog);
    ASSERT_EQ(build("-DVALUE=3", &prog), CL_SUCCESS);
    cl_build_status status = CL_BUILD_ERROR;
    clGetProgramBuildInfo(prog, device_, CL_PROGRAM_BUILD_STATUS, sizeof status, &status, nullptr);
    EXPECT_EQ(status, CL_BUILD_SUCCESS);
    clReleaseProgram(prog);
    // Compile and link fail with their own codes.
    cl_program p2 = clCreateProgramWithSource(ctx, 1, &src, nullptr, &err);
    EXPECT_EQ(clCompileProgram(p2, 1, &device_, "-DVALUE=2", 0, nullptr, nullptr, nullptr, nullptr),
              CL_COMPILE_PROGRAM_FAILURE);
    EXPECT_EQ(clCompileProgram(p2, 1, &device_, "-DVALUE=4", 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS);
    cl_program linked = clLinkProgram(ctx, 1, &device_, "-DVALUE=2", 1, &p2, nullptr, nullptr, &err);
    EXPECT_EQ(linked, nullptr);
    EXPECT_EQ(err, CL_LINK_PROGRAM_FAILURE);
    clReleaseProgram(p2);
  }
  // Without the variable the same program builds.
  ASSERT_EQ(build("-DVALUE=1", &prog), CL_SUCCESS);
  clReleaseProgram(prog);
  clReleaseContext(ctx);
}

TEST(GpuProfileTable, OneProfilePerGenerationAndUnknown) {
  ASSERT_EQ(qez_gpu_profile_count(), 10u);
  for (uint32_t i = 0; i < qez_gpu_profile_count(); ++i) {
    const qez_gpu_profile_t* p = qez_gpu_profile_at(i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(qez_gpu_profile_find(p->name), p);
    if (i < 9) {
      EXPECT_EQ(p->arch, i + 1) << p->name;
      EXPECT_EQ(decode_arch(p->ip_version), p->arch) << p->name;
    } else {
      EXPECT_STREQ(p->name, "unknown");
      EXPECT_EQ(p->has_ip_version, 0);
    }
    EXPECT_EQ(p->slices * p->sub_slices_per_slice * p->eus_per_sub_slice, p->eu_count) << p->name;
    EXPECT_EQ(p->has_fp64, 1u) << p->name;
  }
  EXPECT_EQ(qez_gpu_profile_at(10), nullptr);
  EXPECT_NE(qez_gpu_profile_find(QEZ_GPU_PROFILE_DEFAULT_NAME), nullptr);
  EXPECT_STREQ(qez_gpu_profile_library_name(), QEZ_GPU_PROFILE_LIBRARY_NAME);
}

// A name that is no profile leaves OpenCL without platforms (run by the
// CTest entry gpu_profile_test.bogus_name); a valid one keeps them.
TEST(GpuProfileName, PlatformsExistExactlyForAValidName) {
  cl_uint n = 5;
  const cl_int err = clGetPlatformIDs(0, nullptr, &n);
  if (qez_gpu_profile_active()) {
    EXPECT_EQ(err, CL_SUCCESS);
    EXPECT_GE(n, 1u);
  } else {
    EXPECT_EQ(err, CL_PLATFORM_NOT_FOUND_KHR);
    EXPECT_EQ(n, 0u);
  }
}

// The active profile is its table row with the environment overrides applied
// (entry gpu_profile_test.overrides sets STANDIN_GPU_SUB_GROUP_SIZES=16,32 and
// STANDIN_GPU_EU_COUNT=64).
TEST(GpuProfileOverrides, ActiveProfileIsTheRowWithOverrides) {
  const qez_gpu_profile_t* p = qez_gpu_profile_active();
  const qez_gpu_profile_t* row = qez_gpu_profile_find(profile_name());
  if (!row) {
    EXPECT_EQ(p, nullptr);
    return;
  }
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->name, row->name);
  if (std::getenv(QEZ_GPU_PROFILE_ENV_SUB_GROUP_SIZES)) {
    ASSERT_EQ(p->num_sub_group_sizes, 2u);
    EXPECT_EQ(p->sub_group_sizes[0], 16u);
    EXPECT_EQ(p->sub_group_sizes[1], 32u);
  } else {
    ASSERT_EQ(p->num_sub_group_sizes, row->num_sub_group_sizes);
    for (uint32_t i = 0; i < p->num_sub_group_sizes; ++i) EXPECT_EQ(p->sub_group_sizes[i], row->sub_group_sizes[i]);
  }
  EXPECT_EQ(p->eu_count, std::getenv(QEZ_GPU_PROFILE_ENV_EU_COUNT) ? 64u : row->eu_count);
  EXPECT_EQ(p->ip_version, row->ip_version);
  EXPECT_EQ(p->local_mem_size, row->local_mem_size);
  EXPECT_EQ(p->max_mem_alloc_size, std::getenv(QEZ_GPU_PROFILE_ENV_MAX_MEM_ALLOC_SIZE) ? 1048576u : 0u);
  EXPECT_EQ(p->global_mem_cache_size, std::getenv(QEZ_GPU_PROFILE_ENV_GLOBAL_MEM_CACHE_SIZE) ? 65536u : 0u);
  EXPECT_EQ(p->has_fp64, 1u);
}

}  // namespace

namespace {

// STANDIN_GPU_DEVICE_COUNT=2: the device shown as two root GPUs that
// contexts, programs and queues take like any other.
TEST(GpuProfileDevicePair, TwoRootGpusThatRunPrograms) {
  const char* shown = std::getenv(QEZ_GPU_PROFILE_ENV_DEVICE_COUNT);
  if (shown == nullptr || std::string(shown) != "2") GTEST_SKIP() << "one GPU shown";
  cl_platform_id platform = nullptr;
  ASSERT_EQ(clGetPlatformIDs(1, &platform, nullptr), CL_SUCCESS);
  cl_uint count = 0;
  ASSERT_EQ(clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 0, nullptr, &count), CL_SUCCESS);
  ASSERT_EQ(count, 2u);
  cl_device_id devices[2] = {};
  ASSERT_EQ(clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 2, devices, nullptr), CL_SUCCESS);
  EXPECT_NE(devices[0], devices[1]);
  cl_device_id only = nullptr;
  ASSERT_EQ(clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 1, &only, nullptr), CL_SUCCESS);
  EXPECT_EQ(only, devices[0]);
  for (cl_device_id d : devices) {
    cl_device_id parent = reinterpret_cast<cl_device_id>(1);
    ASSERT_EQ(clGetDeviceInfo(d, CL_DEVICE_PARENT_DEVICE, sizeof parent, &parent, nullptr), CL_SUCCESS);
    EXPECT_EQ(parent, nullptr);
    cl_device_type type = 0;
    ASSERT_EQ(clGetDeviceInfo(d, CL_DEVICE_TYPE, sizeof type, &type, nullptr), CL_SUCCESS);
    EXPECT_EQ(type, static_cast<cl_device_type>(CL_DEVICE_TYPE_GPU));
    // Releasing a presented device leaves it usable.
    EXPECT_EQ(clReleaseDevice(d), CL_SUCCESS);
  }
  cl_int err = CL_SUCCESS;
  cl_context ctx = clCreateContextFromType(nullptr, CL_DEVICE_TYPE_GPU, nullptr, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  // A kernel runs on the second GPU and writes what it is asked to.
  const char* source = "__kernel void put(__global int* out) { out[get_global_id(0)] = 7 * (int)get_global_id(0); }";
  cl_program program = clCreateProgramWithSource(ctx, 1, &source, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  ASSERT_EQ(clBuildProgram(program, 2, devices, "", nullptr, nullptr), CL_SUCCESS);
  cl_kernel kernel = clCreateKernel(program, "put", &err);
  ASSERT_EQ(err, CL_SUCCESS);
  cl_mem out = clCreateBuffer(ctx, CL_MEM_WRITE_ONLY, 4 * sizeof(int), nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  ASSERT_EQ(clSetKernelArg(kernel, 0, sizeof out, &out), CL_SUCCESS);
  cl_command_queue queue = clCreateCommandQueueWithProperties(ctx, devices[1], nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  const size_t global = 4;
  ASSERT_EQ(clEnqueueNDRangeKernel(queue, kernel, 1, nullptr, &global, nullptr, 0, nullptr, nullptr), CL_SUCCESS);
  int host[4] = {};
  ASSERT_EQ(clEnqueueReadBuffer(queue, out, CL_TRUE, 0, sizeof host, host, 0, nullptr, nullptr), CL_SUCCESS);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(host[i], 7 * i);
  clReleaseCommandQueue(queue);
  clReleaseMemObject(out);
  clReleaseKernel(kernel);
  clReleaseProgram(program);
  clReleaseContext(ctx);
}

// The devices a context or program names, by the query of their count and list.
template <class Object, class Info>
std::vector<cl_device_id> devices_named(cl_int (*query)(Object, Info, size_t, void*, size_t*), Object object,
                                        cl_uint count_query, cl_uint list_query) {
  cl_uint count = 0;
  EXPECT_EQ(query(object, count_query, sizeof count, &count, nullptr), CL_SUCCESS);
  std::vector<cl_device_id> devices(count);
  EXPECT_EQ(query(object, list_query, count * sizeof(cl_device_id), devices.data(), nullptr), CL_SUCCESS);
  return devices;
}

TEST(GpuProfileDevicePair, ContextsAndProgramsNameTheGpusTheyWereMadeOf) {
  cl_platform_id platform = nullptr;
  ASSERT_EQ(clGetPlatformIDs(1, &platform, nullptr), CL_SUCCESS);
  cl_device_id devices[2] = {};
  ASSERT_EQ(clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 2, devices, nullptr), CL_SUCCESS);
  cl_uint clocks[2] = {};
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(clGetDeviceInfo(devices[i], CL_DEVICE_MAX_CLOCK_FREQUENCY, sizeof(cl_uint), &clocks[i], nullptr),
              CL_SUCCESS);
  EXPECT_NE(clocks[0], clocks[1]) << "the GPUs are told apart by their clocks";
  const std::vector<std::vector<cl_device_id>> made_of = {{devices[1]}, {devices[0]}, {devices[1], devices[0]}};
  const char* source = "__kernel void k(__global int* x) { x[0] = 1; }";
  for (const std::vector<cl_device_id>& wanted : made_of) {
    cl_int err = CL_SUCCESS;
    cl_context ctx = clCreateContext(nullptr, static_cast<cl_uint>(wanted.size()), wanted.data(), nullptr, nullptr,
                                     &err);
    ASSERT_EQ(err, CL_SUCCESS);
    EXPECT_EQ(devices_named(clGetContextInfo, ctx, CL_CONTEXT_NUM_DEVICES, CL_CONTEXT_DEVICES), wanted);
    cl_program program = clCreateProgramWithSource(ctx, 1, &source, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    ASSERT_EQ(clBuildProgram(program, 1, &wanted[0], "", nullptr, nullptr), CL_SUCCESS);
    EXPECT_EQ(devices_named(clGetProgramInfo, program, CL_PROGRAM_NUM_DEVICES, CL_PROGRAM_DEVICES), wanted);
    std::vector<size_t> sizes(wanted.size());
    ASSERT_EQ(clGetProgramInfo(program, CL_PROGRAM_BINARY_SIZES, sizes.size() * sizeof(size_t), sizes.data(), nullptr),
              CL_SUCCESS);
    std::vector<unsigned char> binary(sizes[0]);
    std::vector<unsigned char*> binaries(wanted.size(), nullptr);  // null: that device's binary is not wanted
    binaries[0] = binary.data();
    ASSERT_EQ(clGetProgramInfo(program, CL_PROGRAM_BINARIES, binaries.size() * sizeof(unsigned char*),
                               binaries.data(), nullptr),
              CL_SUCCESS);
    // A program made from that binary builds for the GPU it came from.
    const unsigned char* bytes = binary.data();
    cl_int status = CL_SUCCESS;
    cl_program again = clCreateProgramWithBinary(ctx, 1, &wanted[0], &sizes[0], &bytes, &status, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    EXPECT_EQ(clBuildProgram(again, 1, &wanted[0], "", nullptr, nullptr), CL_SUCCESS);
    clReleaseProgram(again);
    clReleaseProgram(program);
    clReleaseContext(ctx);
  }
}

}  // namespace
