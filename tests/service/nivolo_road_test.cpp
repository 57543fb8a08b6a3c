// The GPU services on a queue of the SYCL stand-in's Nivolo backend, over the
// Nivolo driver double that runs modules as OpenCL programs on PoCL: the
// device record and the OpenCL twin, programs from source and from a native
// binary, kernel objects of the Nivolo backend, and each failing driver call.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"
#include "gpu/service/events.hpp"
#include "gpu/service/kernel_cache.hpp"
#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/kernel_launch.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/program_build.hpp"
#include "qez_service.h"
#include "tests/doubles/nivolo/nivolo_driver_double.h"
#include "ulmara/qez/exceptions.hpp"

namespace gpu = ulmara::qez::gpu;

namespace {

constexpr const char* add_one_source = "kernel void add_one(global int* x) { x[get_global_id(0)] += 1; }";
constexpr const char* options = "-cl-std=CL1.2";
constexpr std::size_t length = 32;

// "Nivolo error:" with the code in hexadecimal.
std::string nivolo_code(qx_result_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(code));
  return std::string("Nivolo error:") + hex;
}

class NivoloQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    qez_nivolo_double_clear_failures();
    ASSERT_EQ(queue.get_backend(), sycl::backend::ext_ulmara_nivolo);
  }
  void TearDown() override { qez_nivolo_double_clear_failures(); }

  std::string device_name() { return queue.get_device().get_info<sycl::info::device::name>(); }
  std::string kernel_text(const char* name) {
    return "\nOn device: '" + device_name() + "'\nin kernel: ulmara::qez::dft::" + name;
  }

  // The device binary of add_one, built on the OpenCL twin of the device.
  std::vector<std::uint8_t> twin_binary() {
    void* twin_device = nullptr;
    void* twin_context = nullptr;
    gpu::qez_gpu_get_cl_device_context(&status, &queue, &twin_device, &twin_context);
    cl_program program = gpu::build_ocl_program(static_cast<cl_device_id>(twin_device),
                                                static_cast<cl_context>(twin_context), add_one_source, 0,
                                                gpu::format_source, options, &queue, "add_one", gpu::domain_dft);
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    gpu::get_program_binary(&status, program, static_cast<cl_device_id>(twin_device), &bytes, &size);
    gpu::ocl::clReleaseProgram(program);
    std::vector<std::uint8_t> binary(bytes, bytes + size);
    qez_serv_free(bytes);
    return binary;
  }

  // add_one over 41s through `handle`.
  std::vector<int> run_add_one(gpu::qez_gpu_kernel_struct_t* handle) {
    int* x = sycl::malloc_shared<int>(length, queue);
    std::fill(x, x + length, 41);
    gpu::qez_gpu_argument_t args[1];
    gpu::qez_gpu_set_usm_arg(&args[0], x);
    sycl::event* done = gpu::launch_kernel_1D_usm(&status, &queue, handle, args, length, 8, nullptr);
    gpu::host_wait(&status, done);
    gpu::release_event(&status, done);
    std::vector<int> result(x, x + length);
    sycl::free(x, queue);
    return result;
  }

  sycl::queue queue{sycl::gpu_selector_v};
  int status = 0;
};

TEST_F(NivoloQueue, RecordHoldsTheDriversDeviceAndTileCount) {
  qez_gpu_device_record_t* record = gpu::get_device_record(&status, &queue);
  ASSERT_NE(record, nullptr);
  auto native = sycl::get_native<sycl::backend::ext_ulmara_nivolo>(queue.get_device());
  EXPECT_EQ(record->device_id, reinterpret_cast<std::uint64_t>(native));
  EXPECT_EQ(record->backend, QEZ_GPU_BACKEND_NIVOLO);
  uint32_t tiles = 0;
  ASSERT_EQ(qez_qxDeviceGetSubDevices(native, &tiles, nullptr), QX_RESULT_SUCCESS);
  EXPECT_EQ(gpu::get_tile_count(&queue), tiles ? static_cast<int>(tiles) : 1);
  EXPECT_EQ(gpu::native_device_handle(&queue), static_cast<void*>(native));
  EXPECT_EQ(gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue),
            static_cast<void*>(sycl::get_native<sycl::backend::ext_ulmara_nivolo>(queue.get_context())));
  EXPECT_EQ(status, 0);
}

TEST_F(NivoloQueue, OpenclTwinIsFoundByVendorIdAndClock) {
  void* twin_device = nullptr;
  void* twin_context = nullptr;
  gpu::qez_gpu_get_cl_device_context(&status, &queue, &twin_device, &twin_context);
  ASSERT_EQ(status, 0);
  ASSERT_NE(twin_context, nullptr);
  qx_device_properties_t properties = {};
  properties.stype = QX_STRUCTURE_TYPE_DEVICE_PROPERTIES;
  ASSERT_EQ(qez_qxDeviceGetProperties(sycl::get_native<sycl::backend::ext_ulmara_nivolo>(queue.get_device()),
                                      &properties),
            QX_RESULT_SUCCESS);
  cl_uint vendor = 0, clock = 0;
  gpu::ocl::clGetDeviceInfo(static_cast<cl_device_id>(twin_device), CL_DEVICE_VENDOR_ID, sizeof vendor, &vendor,
                            nullptr);
  gpu::ocl::clGetDeviceInfo(static_cast<cl_device_id>(twin_device), CL_DEVICE_MAX_CLOCK_FREQUENCY, sizeof clock,
                            &clock, nullptr);
  EXPECT_EQ(vendor, properties.vendorId);
  EXPECT_EQ(clock, properties.coreClockRate);
  // The same hardware as the OpenCL presentation of the device.
  bool presented = false;
  for (const sycl::platform& p : sycl::platform::get_platforms())
    if (p.get_backend() == sycl::backend::opencl)
      for (const sycl::device& d : p.get_devices(sycl::info::device_type::gpu))
        presented = presented || sycl::get_native<sycl::backend::opencl>(d) == twin_device;
  EXPECT_TRUE(presented);
  // The match is kept: a second query hands out the same context.
  void* again = nullptr;
  gpu::qez_gpu_get_cl_device_context(&status, &queue, nullptr, &again);
  EXPECT_EQ(again, twin_context);
}

TEST_F(NivoloQueue, SourceIsCompiledOnTheTwinAndRunsAsAModule) {
  const int modules = qez_nivolo_double_live_modules();
  gpu::qez_gpu_kernel_struct_t* handle =
      gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, add_one_source, "add_one", options);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->kernel->get_backend(), sycl::backend::ext_ulmara_nivolo);
  EXPECT_EQ(qez_nivolo_double_live_modules(), modules + 1);
  EXPECT_EQ(run_add_one(handle), std::vector<int>(length, 42));
  gpu::release_kernel(&status, handle);
  EXPECT_EQ(status, 0);
}

TEST_F(NivoloQueue, NativeBinaryBecomesAModuleThatRuns) {
  const std::vector<std::uint8_t> binary = twin_binary();
  ASSERT_FALSE(binary.empty());
  const gpu::qez_gpu_binary_kernel_t kernel = {binary.size(), binary.data(), nullptr, nullptr};
  gpu::qez_gpu_kernel_struct_t* handle = gpu::get_binary_kernel(&status, &queue, gpu::domain_dft, &kernel, "add_one");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(run_add_one(handle), std::vector<int>(length, 42));
  gpu::release_kernel(&status, handle);
}

TEST_F(NivoloQueue, KernelObjectsOfTheNivoloBackendAreReleased) {
  const std::vector<std::uint8_t> binary = twin_binary();
  std::uint8_t release = 1;
  void* program = gpu::build_program(&status, &queue, gpu::native_device_handle(&queue),
                                     gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue),
                                     gpu::domain_dft, "add_one", binary.data(), binary.size(), gpu::format_binary,
                                     options, &release);
  ASSERT_NE(program, nullptr);
  const int modules = qez_nivolo_double_live_modules();
  const int kernels = qez_nivolo_double_live_kernels();
  sycl::kernel* kernel = gpu::create_kernel_object(&status, &queue, program, "add_one");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(qez_nivolo_double_live_kernels(), kernels + 1);
  gpu::release_kernel_obj(&status, kernel);
  EXPECT_EQ(qez_nivolo_double_live_kernels(), kernels);
  // A name the module lacks: the driver's code, nothing made.
  try {
    gpu::create_kernel_object(&status, &queue, program, "absent");
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::runtime);
    EXPECT_STREQ(e.what(), "Nivolo error:78000011");
  }
  EXPECT_EQ(qez_nivolo_double_live_kernels(), kernels);
  gpu::release_program(&status, QEZ_GPU_BACKEND_NIVOLO, program);
  EXPECT_EQ(qez_nivolo_double_live_modules(), modules - 1);
  EXPECT_EQ(status, 0);
}

// ---- a driver that fails each call in turn ----

struct failing_call {
  const char* entry;
  qx_result_t result;
};

class FailingDriverCall : public NivoloQueue, public ::testing::WithParamInterface<failing_call> {};

// A binary program built and a kernel made while one driver entry fails: the
// error the services give for it, and no module or kernel left behind.
TEST_P(FailingDriverCall, BinaryKernelGivesTheErrorAndLeaksNothing) {
  const std::vector<std::uint8_t> binary = twin_binary();
  const gpu::qez_gpu_binary_kernel_t kernel = {binary.size(), binary.data(), nullptr, nullptr};
  const int modules = qez_nivolo_double_live_modules();
  const int kernels = qez_nivolo_double_live_kernels();
  qez_nivolo_double_fail(GetParam().entry, GetParam().result);
  std::string message;
  try {
    gpu::release_kernel(&status, gpu::get_binary_kernel(&status, &queue, gpu::domain_dft, &kernel, "add_one"));
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::runtime);
    message = e.what();
  }
  qez_nivolo_double_clear_failures();
  const std::string entry = GetParam().entry;
  if (entry == "qxModuleCreate") {
    EXPECT_EQ(message, nivolo_code(GetParam().result) + kernel_text("add_one"));
    EXPECT_EQ(qez_nivolo_double_live_modules(), modules);
  } else {
    EXPECT_EQ(message, entry == "qxKernelCreate" ? "Nivolo error:78000005"
                                                 : "qxextKernelGetOpenCL: Nivolo error 70000001");
    // The module stays in the kernel cache; the kernel was never made or is gone.
    EXPECT_EQ(qez_nivolo_double_live_modules(), modules + 1);
  }
  EXPECT_EQ(qez_nivolo_double_live_kernels(), kernels);
}

INSTANTIATE_TEST_SUITE_P(Entries, FailingDriverCall,
                         ::testing::Values(failing_call{"qxModuleCreate", QX_RESULT_ERROR_INVALID_ARGUMENT},
                                           failing_call{"qxKernelCreate", QX_RESULT_ERROR_INVALID_ARGUMENT},
                                           failing_call{"qxextKernelGetOpenCL", QX_RESULT_ERROR_DEVICE_LOST}),
                         [](const ::testing::TestParamInfo<failing_call>& info) { return info.param.entry; });

TEST_F(NivoloQueue, FailingPropertiesQueryLeavesNoOpenclTwin) {
  qez_nivolo_double_fail("qxDeviceGetProperties", QX_RESULT_ERROR_DEVICE_LOST);
  try {
    gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, add_one_source, "add_one", options);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::runtime);
    EXPECT_STREQ(e.what(), "OpenCL error -1");
  }
}

TEST_F(NivoloQueue, FailingSubDeviceQueryCountsOneTile) {
  qez_nivolo_double_fail("qxDeviceGetSubDevices", QX_RESULT_ERROR_DEVICE_LOST);
  EXPECT_EQ(gpu::get_tile_count(&queue), 1);
}

TEST_F(NivoloQueue, FailingModuleCreationOfSourceGivesTheNivoloBuildMessage) {
  const int modules = qez_nivolo_double_live_modules();
  qez_nivolo_double_fail("qxModuleCreate", QX_RESULT_ERROR_MODULE_BUILD_FAILURE);
  try {
    gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, add_one_source, "add_one_s", options);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(std::string(e.what()), nivolo_code(QX_RESULT_ERROR_MODULE_BUILD_FAILURE) + kernel_text("add_one_s"));
  }
  EXPECT_EQ(qez_nivolo_double_live_modules(), modules);
}

// The driver the runtime uses refuses to initialise for the library, as a
// missing driver would: no tiles are asked for, the architecture stays
// unknown, and builds and the twin lookup give their errors without
// touching the driver.
TEST_F(NivoloQueue, DriverTheLibraryCannotLoadGivesEachRoadsError) {
  qez_nivolo_double_fail("qxInit", QX_RESULT_ERROR_DEVICE_LOST);
  const int modules = qez_nivolo_double_live_modules();
  const int module_calls = qez_nivolo_double_calls("qxModuleCreate");
  const int tile_queries = qez_nivolo_double_calls("qxDeviceGetSubDevices");
  EXPECT_EQ(gpu::get_tile_count(&queue), 1);
  EXPECT_EQ(qez_nivolo_double_calls("qxDeviceGetSubDevices"), tile_queries);
  const std::uint8_t garbage[64] = {1, 2, 3};
  std::uint8_t release = 1;
  try {
    gpu::build_program(&status, &queue, gpu::native_device_handle(&queue),
                       gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue), gpu::domain_dft,
                       "garbage_s", garbage, sizeof garbage, gpu::format_binary, options, &release);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(std::string(e.what()), nivolo_code(QX_RESULT_ERROR_UNINITIALIZED) + kernel_text("garbage_s"));
  }
  void* twin = nullptr;
  try {
    gpu::qez_gpu_get_cl_device_context(&status, &queue, &twin, nullptr);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_STREQ(e.what(), "OpenCL error -1");
  }
  try {
    gpu::get_architecture(&status, &queue);
    FAIL() << "no exception";
  } catch (const ulmara::qez::exception& e) {
    EXPECT_STREQ(e.what(), "ulmara::qez::service::qez_gpu_get_architecture: unknown GPU architecture");
  }
  EXPECT_EQ(qez_nivolo_double_calls("qxModuleCreate"), module_calls);
  EXPECT_EQ(qez_nivolo_double_live_modules(), modules);
}

// A wait the driver fails is raised to the waiting caller, not taken for
// completion; the launch's event and buffer are still released.
TEST_F(NivoloQueue, FailedWaitIsRaisedByTheHostWait) {
  gpu::qez_gpu_kernel_struct_t* handle =
      gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, add_one_source, "add_one", options);
  ASSERT_NE(handle, nullptr);
  int* x = sycl::malloc_shared<int>(length, queue);
  gpu::qez_gpu_argument_t args[1];
  gpu::qez_gpu_set_usm_arg(&args[0], x);
  sycl::event* done = gpu::launch_kernel_1D_usm(&status, &queue, handle, args, length, 8, nullptr);
  qez_nivolo_double_fail_next("qxextEventHostSynchronize", QX_RESULT_ERROR_DEVICE_LOST);
  try {
    gpu::host_wait(&status, done);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::runtime);
    EXPECT_STREQ(e.what(), "qxextEventHostSynchronize: Nivolo error 70000001");
  }
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  sycl::free(x, queue);
  gpu::release_kernel(&status, handle);
  EXPECT_EQ(status, 0);
}

}  // namespace
