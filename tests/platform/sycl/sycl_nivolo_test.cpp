// The stand-in's Nivolo backend over the Nivolo driver double: the platform
// and its OpenCL twin, native handles, bundles and kernels made from driver
// modules and run on a queue, ownership of what the driver hands over, the
// kind of driver handle a queue was made from, partitioning into tiles, a
// driver that fails while the runtime adopts its objects, and the runtime's
// kernel compiler.
#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "tests/doubles/nivolo/nivolo_driver_double.h"

namespace {

constexpr auto nivolo = sycl::backend::ext_ulmara_nivolo;
constexpr const char* add_source = "kernel void add(global int* x, int a) { x[get_global_id(0)] += a; }";

// A module of the driver holding add(), from the device binary that OpenCL
// builds for the same hardware.
qx_module_handle_t add_module(const sycl::queue& q) {
  cl_device_id twin = nullptr;
  for (const sycl::platform& p : sycl::platform::get_platforms())
    if (p.get_backend() == sycl::backend::opencl) twin = sycl::get_native<sycl::backend::opencl>(p.get_devices().front());
  cl_int error = CL_SUCCESS;
  cl_context context = clCreateContext(nullptr, 1, &twin, nullptr, nullptr, &error);
  const char* source = add_source;
  cl_program program = clCreateProgramWithSource(context, 1, &source, nullptr, &error);
  EXPECT_EQ(clBuildProgram(program, 1, &twin, "", nullptr, nullptr), CL_SUCCESS);
  size_t size = 0;
  clGetProgramInfo(program, CL_PROGRAM_BINARY_SIZES, sizeof size, &size, nullptr);
  std::vector<unsigned char> binary(size);
  unsigned char* bytes = binary.data();
  clGetProgramInfo(program, CL_PROGRAM_BINARIES, sizeof bytes, &bytes, nullptr);
  clReleaseProgram(program);
  clReleaseContext(context);
  const qx_module_desc_t desc = {QX_STRUCTURE_TYPE_MODULE_DESC, nullptr, QX_MODULE_FORMAT_NATIVE, binary.size(),
                                 binary.data(), "", nullptr};
  qx_module_handle_t module = nullptr;
  EXPECT_EQ(qxModuleCreate(sycl::get_native<nivolo>(q.get_context()), sycl::get_native<nivolo>(q.get_device()), &desc,
                           &module, nullptr),
            QX_RESULT_SUCCESS);
  return module;
}

TEST(NivoloBackend, GpuIsListedFirstAndItsOpenclTwinStaysReachable) {
  const std::vector<sycl::platform> platforms = sycl::platform::get_platforms();
  ASSERT_GE(platforms.size(), 3u);
  EXPECT_EQ(platforms.front().get_backend(), nivolo);
  sycl::queue q(sycl::gpu_selector_v);
  EXPECT_EQ(q.get_backend(), nivolo);
  EXPECT_EQ(q.get_context().get_backend(), nivolo);
  const sycl::device twin = platforms[1].get_devices().front();
  EXPECT_EQ(twin.get_backend(), sycl::backend::opencl);
  EXPECT_EQ(twin.get_info<sycl::info::device::name>(), q.get_device().get_info<sycl::info::device::name>());
  EXPECT_NE(sycl::get_native<nivolo>(q.get_device()), nullptr);
  EXPECT_NE(sycl::get_native<nivolo>(q.get_context()), nullptr);
  EXPECT_NE(sycl::get_native<nivolo>(q), nullptr);
  try {
    sycl::get_native<sycl::backend::opencl>(q.get_device());
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::backend_mismatch);
    EXPECT_STREQ(e.what(), "Backends mismatch");
  }
}

TEST(NivoloBackend, KernelOfADriverModuleRunsAndTheRuntimeDestroysWhatItWasGiven) {
  const int modules = qez_nivolo_double_live_modules();
  const int kernels = qez_nivolo_double_live_kernels();
  {
    sycl::queue q(sycl::gpu_selector_v);
    qx_module_handle_t module = add_module(q);
    auto bundle = sycl::make_kernel_bundle<nivolo, sycl::bundle_state::executable>(
        {module, sycl::ext::ulmara::nivolo::ownership::transfer}, q.get_context());
    EXPECT_EQ(bundle.get_backend(), nivolo);
    EXPECT_EQ(sycl::get_native<nivolo>(bundle), std::vector<qx_module_handle_t>{module});
    const qx_kernel_desc_t desc = {QX_STRUCTURE_TYPE_KERNEL_DESC, nullptr, 0, "add"};
    qx_kernel_handle_t native = nullptr;
    ASSERT_EQ(qxKernelCreate(module, &desc, &native), QX_RESULT_SUCCESS);
    sycl::kernel add =
        sycl::make_kernel<nivolo>({bundle, native, sycl::ext::ulmara::nivolo::ownership::transfer}, q.get_context());
    EXPECT_EQ(add.get_backend(), nivolo);
    EXPECT_EQ(sycl::get_native<nivolo>(add), native);
    EXPECT_EQ(qez_nivolo_double_live_kernels(), kernels + 1);

    constexpr int n = 64;
    int* x = sycl::malloc_shared<int>(n, q);
    std::iota(x, x + n, 0);
    q.submit([&](sycl::handler& h) {
       h.set_args(x, 100);
       h.parallel_for(sycl::nd_range<1>(n, 16), add);
     }).wait();
    for (int i = 0; i < n; ++i) EXPECT_EQ(x[i], i + 100);
    sycl::free(x, q);
  }
  EXPECT_EQ(qez_nivolo_double_live_kernels(), kernels);
  EXPECT_EQ(qez_nivolo_double_live_modules(), modules);
}

TEST(NivoloBackend, GpuOfTwoTilesPartitionsIntoTwoSubDevicesMadeOnce) {
  const sycl::device gpu(sycl::gpu_selector_v);
  using sycl::info::partition_property;
  ASSERT_EQ(gpu.get_info<sycl::info::device::partition_max_sub_devices>(), 2u);
  EXPECT_EQ(gpu.get_info<sycl::info::device::partition_properties>(),
            std::vector<partition_property>{partition_property::partition_by_affinity_domain});
  const auto tiles = gpu.create_sub_devices<partition_property::partition_by_affinity_domain>(
      sycl::info::partition_affinity_domain::next_partitionable);
  ASSERT_EQ(tiles.size(), 2u);
  EXPECT_NE(sycl::get_native<nivolo>(tiles[0]), sycl::get_native<nivolo>(tiles[1]));
  EXPECT_TRUE(tiles[0].get_info<sycl::info::device::partition_properties>().empty());
  EXPECT_EQ(gpu.create_sub_devices<partition_property::partition_by_affinity_domain>(
                sycl::info::partition_affinity_domain::next_partitionable),
            tiles);
  // A queue on a tile runs like one on the whole device.
  sycl::queue tile_queue(tiles[1]);
  EXPECT_EQ(tile_queue.get_backend(), nivolo);
  int* x = sycl::malloc_shared<int>(4, tile_queue);
  tile_queue.memset(x, 0, 4 * sizeof(int)).wait();
  EXPECT_EQ(x[3], 0);
  sycl::free(x, tile_queue);
}

TEST(NivoloBackend, QueueMadeFromADriverHandleTellsTheKindItWasMadeWith) {
  using sycl::ext::ulmara::nivolo::get_queue_handle_kind;
  using sycl::ext::ulmara::nivolo::queue_handle_kind;
  sycl::queue q(sycl::gpu_selector_v);
  EXPECT_EQ(get_queue_handle_kind(q), queue_handle_kind::command_queue);
  const sycl::device device = q.get_device();
  for (queue_handle_kind kind : {queue_handle_kind::immediate_command_list, queue_handle_kind::command_queue}) {
    const sycl::queue made = sycl::detail::make_queue(
        reinterpret_cast<sycl::detail::native_handle_t>(sycl::get_native<nivolo>(q)), static_cast<int32_t>(kind),
        q.get_context(), &device, /*keep_ownership=*/true, sycl::property_list{}, sycl::async_handler{}, nivolo);
    EXPECT_EQ(get_queue_handle_kind(made), kind);
  }
  sycl::queue opencl_queue(sycl::platform::get_platforms()[1].get_devices().front());
  try {
    get_queue_handle_kind(opencl_queue);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::backend_mismatch);
  }
}

TEST(NivoloBackend, ContextWhoseCarrierTheDriverCannotNameIsDestroyed) {
  const sycl::device gpu(sycl::gpu_selector_v);
  const int contexts = qez_nivolo_double_live_contexts();
  qez_nivolo_double_fail("qxextContextGetOpenCL", QX_RESULT_ERROR_DEVICE_LOST);
  try {
    sycl::context c(gpu);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::runtime);
    EXPECT_STREQ(e.what(), "qxextContextGetOpenCL: Nivolo error 70000001");
  }
  qez_nivolo_double_clear_failures();
  EXPECT_EQ(qez_nivolo_double_live_contexts(), contexts);
}

// ---- the runtime's kernel compiler ----

namespace compiler = sycl::ext::ulmara::experimental;

// STANDIN_SYCL_KERNEL_COMPILER as given (null: unset) while it lives.
class CompilerSwitch {
 public:
  explicit CompilerSwitch(const char* value) {
    if (value) setenv(variable, value, 1);
    else unsetenv(variable);
  }
  ~CompilerSwitch() { unsetenv(variable); }

 private:
  static constexpr const char* variable = "STANDIN_SYCL_KERNEL_COMPILER";
};

TEST(NivoloKernelCompiler, IsThereUnlessSwitchedOff) {
  const sycl::device gpu(sycl::gpu_selector_v);
  struct row {
    const char* value;
    bool answer;
  };
  for (const row r : {row{nullptr, true}, row{"1", true}, row{"0", false}}) {
    CompilerSwitch setting(r.value);
    EXPECT_EQ(gpu.ext_ulmara_can_compile(compiler::source_language::opencl), r.answer) << (r.value ? r.value : "unset");
  }
  CompilerSwitch off("0");
  try {
    compiler::create_kernel_bundle_from_source(sycl::context(gpu), compiler::source_language::opencl, add_source);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::invalid);
  }
}

TEST(NivoloKernelCompiler, BuiltSourceIsADriverModuleWhoseKernelRuns) {
  const int modules = qez_nivolo_double_live_modules();
  {
    sycl::queue q(sycl::gpu_selector_v);
    const auto source = compiler::create_kernel_bundle_from_source(
        q.get_context(), compiler::source_language::opencl,
        "kernel void add_step(global int* x) { x[get_global_id(0)] += STEP; }");
    const auto bundle =
        compiler::build(source, {q.get_device()}, compiler::properties{compiler::build_options{"-DSTEP=100"}});
    const std::vector<qx_module_handle_t> native = sycl::get_native<nivolo>(bundle);
    ASSERT_EQ(native.size(), 1u);
    EXPECT_EQ(qez_nivolo_double_live_modules(), modules + 1);
    const qx_kernel_desc_t desc = {QX_STRUCTURE_TYPE_KERNEL_DESC, nullptr, 0, "add_step"};
    qx_kernel_handle_t kernel = nullptr;
    ASSERT_EQ(qxKernelCreate(native.front(), &desc, &kernel), QX_RESULT_SUCCESS);
    sycl::kernel add =
        sycl::make_kernel<nivolo>({bundle, kernel, sycl::ext::ulmara::nivolo::ownership::transfer}, q.get_context());
    constexpr int n = 32;
    int* x = sycl::malloc_shared<int>(n, q);
    std::iota(x, x + n, 0);
    q.submit([&](sycl::handler& h) {
       h.set_args(x);
       h.parallel_for(sycl::nd_range<1>(n, 8), add);
     }).wait();
    for (int i = 0; i < n; ++i) EXPECT_EQ(x[i], i + 100);
    sycl::free(x, q);
  }
  EXPECT_EQ(qez_nivolo_double_live_modules(), modules);
}

TEST(NivoloKernelCompiler, SourceThatDoesNotBuildRaisesTheBuildErrorWithTheLog) {
  const sycl::queue q(sycl::gpu_selector_v);
  const int modules = qez_nivolo_double_live_modules();
  const auto source = compiler::create_kernel_bundle_from_source(
      q.get_context(), compiler::source_language::opencl,
      "kernel void broken(global int* x) { x[0] = undeclared_name; }");
  std::string log;
  try {
    compiler::build(source, compiler::properties{compiler::save_log{&log}});
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::build);
    EXPECT_NE(std::string(e.what()).find("undeclared_name"), std::string::npos) << e.what();
  }
  EXPECT_NE(log.find("undeclared_name"), std::string::npos) << log;
  EXPECT_EQ(qez_nivolo_double_live_modules(), modules);
}

}  // namespace
