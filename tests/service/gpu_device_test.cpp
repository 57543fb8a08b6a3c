// Device registry, architecture detection, native handles and temporary
// buffers on the GPU profile of the process (STANDIN_GPU_PROFILE) and on the
// host CPU device.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/opencl_interop.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/temp_buffers.hpp"
#include "qez_gpu_profile.h"
#include "ulmara/qez/exceptions.hpp"

namespace gpu = ulmara::qez::gpu;

namespace {

// What detection must find for each profile, from the IP version each
// profile reports: architecture, stepping (the revision) and flags.
struct expected_identity {
  const char* profile;
  qez_gpu_arch_t architecture;
  std::uint32_t stepping;
  std::uint32_t flags;
};
constexpr expected_identity identities[] = {
    {"vemra", 1, 2, 1}, {"sutal", 2, 0, 0}, {"dorik", 3, 1, 0}, {"fenwa", 4, 4, 3}, {"gulon", 5, 8, 2},
    {"harix", 6, 7, 3}, {"jorva", 7, 4, 3}, {"lumet", 8, 4, 3}, {"nopra", 9, 0, 2},
};

std::string profile_name() {
  const char* name = std::getenv(QEZ_GPU_PROFILE_ENV);
  return name && *name ? name : QEZ_GPU_PROFILE_DEFAULT_NAME;
}

const qez_gpu_profile_t& profile() {
  const qez_gpu_profile_t* found = qez_gpu_profile_find(profile_name().c_str());
  if (found == nullptr) std::abort();
  return *found;
}

const expected_identity* expected_for_profile() {
  for (const expected_identity& id : identities)
    if (profile_name() == id.profile) return &id;
  return nullptr;
}

class GpuQueue : public ::testing::Test {
protected:
  sycl::queue queue{sycl::gpu_selector_v};
  int status = 0;
};

// ---- per profile ----

TEST_F(GpuQueue, DeviceRecordHoldsTheProfilesHardwareNumbers) {
  qez_gpu_device_record_t* record = gpu::get_device_record(&status, &queue);
  ASSERT_NE(record, nullptr);
  const std::uint32_t tiles = profile().tile_count ? profile().tile_count : 1;
  EXPECT_EQ(record->device_id, reinterpret_cast<std::uint64_t>(gpu::native_cl_device(queue.get_device())));
  EXPECT_EQ(record->backend, QEZ_GPU_BACKEND_OPENCL);
  EXPECT_EQ(record->tile_count, tiles);
  EXPECT_EQ(record->eu_count, profile().eu_count);
  EXPECT_EQ(record->max_work_group_size, queue.get_device().get_info<sycl::info::device::max_work_group_size>());
  EXPECT_LE(record->max_work_group_size, profile().max_work_group_size);
  EXPECT_EQ(gpu::get_tile_count(&queue), static_cast<int>(tiles));
  EXPECT_EQ(gpu::get_eu_count(&queue), static_cast<int>(profile().eu_count));
  EXPECT_EQ(gpu::qez_gpu_get_max_workgroup_size(&queue), static_cast<int>(record->max_work_group_size));
  EXPECT_EQ(gpu::get_queue_backend(&queue), QEZ_GPU_BACKEND_OPENCL);
  EXPECT_EQ(status, 0);
}

TEST_F(GpuQueue, ArchitectureSteppingAndFlagsAreDecoded) {
  const expected_identity* expected = expected_for_profile();
  if (expected == nullptr) GTEST_SKIP() << "the unknown profile has its own case";
  EXPECT_EQ(gpu::get_architecture(&status, &queue), expected->architecture);
  EXPECT_EQ(gpu::get_device_flags(&status, &queue), expected->flags);
  qez_gpu_arch_t architecture = 99;
  std::uint32_t stepping = 99;
  gpu::get_architecture_and_stepping(&status, &queue, &architecture, &stepping);
  EXPECT_EQ(architecture, expected->architecture);
  EXPECT_EQ(stepping, expected->stepping);
  qez_gpu_device_info_t info;
  EXPECT_EQ(gpu::get_device_info_with_arch(&queue, &info), 0);
  EXPECT_EQ(info.architecture_detected, 1u);
  EXPECT_EQ(info.architecture, expected->architecture);
  EXPECT_EQ(info.record_lock, 0u);
}

TEST_F(GpuQueue, UnknownGpuRaisesOnEveryCall) {
  if (profile_name() != "unknown") GTEST_SKIP() << "only the unknown profile";
  for (int call = 0; call < 2; ++call) {
    try {
      gpu::get_architecture(&status, &queue);
      FAIL() << "no exception";
    } catch (const ulmara::qez::exception& e) {
      EXPECT_STREQ(e.what(), "ulmara::qez::service::qez_gpu_get_architecture: unknown GPU architecture");
    }
  }
  qez_gpu_device_info_t info;
  gpu::get_device_info(&queue, &info);
  EXPECT_EQ(info.architecture, 0u);
  EXPECT_EQ(info.stepping, 0u);
  EXPECT_EQ(info.device_flags, 0u);
  EXPECT_EQ(info.architecture_detected, 1u);
}

TEST_F(GpuQueue, DetectionWritesZeroForAnUnrecognisedDevice) {
  std::uint32_t architecture = 7, stepping = 7, flags = 7;
  gpu::detect_hw_and_stepping(&status, &queue, &architecture, &stepping, &flags, -2);
  const expected_identity* expected = expected_for_profile();
  EXPECT_EQ(architecture, expected ? expected->architecture : 0u);
  EXPECT_EQ(stepping, expected ? expected->stepping : 0u);
  EXPECT_EQ(flags, expected ? expected->flags : 0u);
}

// ---- host CPU device ----

class HostQueue : public ::testing::Test {
protected:
  sycl::queue queue{sycl::cpu_selector_v};
  int status = 0;
};

TEST_F(HostQueue, RecordHasNoBackendAndStartingNumbers) {
  qez_gpu_device_record_t* record = gpu::get_device_record(&status, &queue);
  EXPECT_EQ(record->device_id, 0u);
  EXPECT_EQ(record->backend, QEZ_GPU_BACKEND_OTHER);
  EXPECT_EQ(record->tile_count, 1u);
  EXPECT_EQ(record->eu_count, 0u);
  EXPECT_EQ(record->max_work_group_size, 0u);
  EXPECT_EQ(gpu::get_architecture(&status, &queue), 0u);
  EXPECT_EQ(gpu::get_device_flags(&status, &queue), 0u);
}

TEST_F(HostQueue, NativeHandlesAndKernelObjectsAreNull) {
  EXPECT_EQ(gpu::native_device_handle(&queue), nullptr);
  EXPECT_EQ(gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue), nullptr);
  EXPECT_EQ(gpu::create_kernel_object(&status, &queue, nullptr, "k"), nullptr);
  try {
    gpu::native_cl_device(&queue);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::backend_mismatch));
    EXPECT_STREQ(e.what(), "Backends mismatch");
  }
}

// ---- native handles ----

TEST_F(GpuQueue, NativeContextIsTheQueuesWithoutAnExtraReference) {
  gpu::load_opencl_library();
  cl_context context = gpu::native_cl_context(queue.get_context());
  cl_uint before = 0, after = 0;
  ASSERT_EQ(gpu::ocl::clGetContextInfo(context, CL_CONTEXT_REFERENCE_COUNT, sizeof before, &before, nullptr), 0);
  EXPECT_EQ(gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue), context);
  ASSERT_EQ(gpu::ocl::clGetContextInfo(context, CL_CONTEXT_REFERENCE_COUNT, sizeof after, &after, nullptr), 0);
  EXPECT_EQ(after, before);
  gpu::ocl::clReleaseContext(context);
  EXPECT_EQ(gpu::native_device_handle(&queue), gpu::native_cl_device(queue.get_device()));
}

TEST_F(GpuQueue, KernelNameAbsentFromTheProgramIsOpenclErrorMinus46) {
  gpu::load_opencl_library();
  cl_context context = gpu::native_cl_context(queue.get_context());
  cl_device_id device = gpu::native_cl_device(queue.get_device());
  const char* source = "kernel void present(global int* x) { x[0] = 1; }";
  cl_int error = 0;
  cl_program program = gpu::ocl::clCreateProgramWithSource(context, 1, &source, nullptr, &error);
  ASSERT_EQ(gpu::ocl::clBuildProgram(program, 1, &device, "", nullptr, nullptr), CL_SUCCESS);
  try {
    gpu::create_kernel_object(&status, &queue, program, "absent");
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::runtime));
    EXPECT_STREQ(e.what(), "OpenCL error -46");
  }
  sycl::kernel* kernel = gpu::create_kernel_object(&status, &queue, program, "present");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(kernel->get_info<sycl::info::kernel::num_args>(), 1u);
  gpu::release_kernel_obj(&status, kernel);
  gpu::release_kernel_obj(&status, nullptr);
  gpu::ocl::clReleaseProgram(program);
  gpu::ocl::clReleaseContext(context);
  EXPECT_EQ(status, 0);
}

// ---- queue ring ----

TEST_F(GpuQueue, RingOfManyDroppedQueuesKeepsAnsweringAndStaysBounded) {
  void* device = gpu::native_cl_device(queue.get_device());
  const sycl::device gpu_device = queue.get_device();
  for (int i = 0; i < gpu::device_id_ring_limit + 64; ++i) {
    sycl::queue dropped(gpu_device);
    ASSERT_EQ(gpu::get_device_id(&status, &dropped), device) << "queue " << i;
  }
  EXPECT_EQ(gpu::device_id_ring_count(), gpu::device_id_ring_limit);
  // The queue of the fixture was remembered first and later overwritten;
  // it is found again, and so is the newest.
  EXPECT_EQ(gpu::get_device_id(&status, &queue), device);
  sycl::queue host{sycl::cpu_selector_v};
  EXPECT_EQ(gpu::get_device_id(&status, &host), nullptr);
  EXPECT_EQ(gpu::get_device_id(&status, &host), nullptr);
  EXPECT_EQ(gpu::device_id_ring_count(), gpu::device_id_ring_limit);
  gpu::free_device_registry();
  EXPECT_EQ(gpu::device_id_ring_count(), 0);
  EXPECT_EQ(gpu::device_record_count(), 0);
}

TEST(DeviceRing, DestroyedQueueIsNotMatchedByANewQueueOnAnotherDevice) {
  int status = 0;
  {
    sycl::queue gpu_queue{sycl::gpu_selector_v};
    ASSERT_NE(gpu::get_device_id(&status, &gpu_queue), nullptr);
  }
  // A new queue may reuse the old queue's storage; its weak reference has
  // expired, so the host queue gets its own answer.
  for (int i = 0; i < 8; ++i) {
    sycl::queue host_queue{sycl::cpu_selector_v};
    EXPECT_EQ(gpu::get_device_id(&status, &host_queue), nullptr);
  }
}

// ---- temporary buffers ----

TEST_F(GpuQueue, CallocUsmIsZeroWhenItReturns) {
  constexpr std::size_t bytes = 4096;
  char* block = gpu::alloc_temp_buffer_usm(&status, &queue, bytes);
  ASSERT_NE(block, nullptr);
  std::memset(block, 0x5A, bytes);
  gpu::free_buffer_usm(&status, block, &queue);
  char* zeroed = gpu::calloc_temp_buffer_usm(&status, &queue, bytes);
  ASSERT_NE(zeroed, nullptr);
  std::vector<char> copy(bytes, 1);
  queue.memcpy(copy.data(), zeroed, bytes).wait();
  EXPECT_EQ(std::vector<char>(bytes, 0), copy);
  EXPECT_EQ(sycl::get_pointer_type(zeroed, queue.get_context()), sycl::usm::alloc::device);
  gpu::free_buffer_usm(&status, zeroed, &queue);
  gpu::free_buffer_usm(&status, nullptr, &queue);
  EXPECT_EQ(status, 0);
}

TEST_F(GpuQueue, FailedUsmAllocationGivesNull) {
  const std::size_t impossible = std::size_t{1} << 62;
  EXPECT_EQ(gpu::alloc_temp_buffer_usm(&status, &queue, impossible), nullptr);
  EXPECT_EQ(gpu::calloc_temp_buffer_usm(&status, &queue, impossible), nullptr);
  EXPECT_EQ(status, 0);
}

TEST_F(GpuQueue, CallocBufferIsZeroAndFreeBufferWaits) {
  constexpr std::size_t bytes = 1000;
  gpu::temp_buffer* buffer = gpu::calloc_temp_buffer(&status, &queue, bytes);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->size(), bytes);
  {
    sycl::host_accessor<char, 1, sycl::access_mode::read> bytes_read(*buffer);
    for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(bytes_read[i], 0) << i;
  }
  gpu::free_buffer(&status, buffer);
  gpu::free_buffer(&status, nullptr);
  gpu::temp_buffer* empty = gpu::alloc_temp_buffer(&status, &queue, 0);
  EXPECT_EQ(empty->size(), 0u);
  gpu::free_buffer(&status, empty);
}

}  // namespace
