// Nivolo loader and forwarders against the full driver double, found in
// STANDIN_SYSTEM_DIR: the first forwarder call loads, initialises the driver
// once, and every forwarder passes its arguments and the result through.
#include <gtest/gtest.h>

#include <cstring>

#include "gpu/service/nivolo_loader.hpp"
#include "tests/doubles/qx_loader_double.h"

using namespace ulmara::qez::gpu;

namespace {

class NivoloLoader : public ::testing::Test {
protected:
  void SetUp() override {
    qez_qx_double_config_t config;
    qez_qx_double_default_config(&config);
    qez_qx_double_set_config(&config);
  }
  void configure(void (*change)(qez_qx_double_config_t*)) {
    qez_qx_double_config_t config;
    qez_qx_double_default_config(&config);
    change(&config);
    qez_qx_double_set_config(&config);
  }
};

TEST_F(NivoloLoader, ForwarderBeforeAnyExplicitLoadLoadsAndForwards) {
  qx_device_properties_t properties{};
  properties.stype = QX_STRUCTURE_TYPE_DEVICE_PROPERTIES;
  EXPECT_EQ(qez_qxDeviceGetProperties(qez_qx_double_device(), &properties), QX_RESULT_SUCCESS);
  EXPECT_EQ(properties.vendorId, 0x7A71u);
  EXPECT_EQ(properties.type, static_cast<uint32_t>(QX_DEVICE_TYPE_GPU));
  EXPECT_EQ(qx_loader_load_state(), nivolo_loaded);
  EXPECT_EQ(qez_qx_double_calls()->init_calls, 1);
  EXPECT_EQ(qez_qx_double_calls()->init_flags, 0u);
}

TEST_F(NivoloLoader, DriverIsInitialisedOnceWhateverTheNumberOfLoads) {
  EXPECT_EQ(load_qx_loader(), 0);
  const int init_calls = qez_qx_double_calls()->init_calls;
  EXPECT_EQ(init_calls, 1);
  EXPECT_EQ(load_qx_loader(), 0);
  EXPECT_EQ(load_qx_loader(), 0);
  EXPECT_EQ(qez_qx_double_calls()->init_calls, init_calls);
}

TEST_F(NivoloLoader, ModuleCreatePassesAllFiveArguments) {
  static const uint8_t module_bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  qx_module_desc_t desc{};
  desc.stype = QX_STRUCTURE_TYPE_MODULE_DESC;
  desc.format = QX_MODULE_FORMAT_IL_SPIRV;
  desc.inputSize = sizeof module_bytes;
  desc.pInputModule = module_bytes;
  desc.pBuildFlags = "-flags";
  qx_module_handle_t module = nullptr;
  qx_module_build_log_handle_t build_log = nullptr;
  ASSERT_EQ(qez_qxModuleCreate(qez_qx_double_context(), qez_qx_double_device(), &desc, &module,
                               &build_log),
            QX_RESULT_SUCCESS);
  const qez_qx_double_calls_t* calls = qez_qx_double_calls();
  EXPECT_EQ(calls->module_context, qez_qx_double_context());
  EXPECT_EQ(calls->module_device, qez_qx_double_device());
  EXPECT_EQ(calls->module_desc.inputSize, sizeof module_bytes);
  EXPECT_EQ(calls->module_build_flags, desc.pBuildFlags);
  EXPECT_EQ(calls->module_build_log_arg, &build_log);
  EXPECT_EQ(std::memcmp(calls->module_bytes, module_bytes, sizeof module_bytes), 0);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(qez_qxModuleDestroy(module), QX_RESULT_SUCCESS);
}

TEST_F(NivoloLoader, EveryForwarderReachesItsDriverFunction) {
  uint32_t count = 0;
  EXPECT_EQ(qez_qxDeviceGetSubDevices(qez_qx_double_device(), &count, nullptr), QX_RESULT_SUCCESS);
  EXPECT_EQ(count, 2u);

  static const uint8_t native[5] = {9, 8, 7, 6, 5};
  configure([](qez_qx_double_config_t* c) {
    c->native_binary = native;
    c->native_binary_size = sizeof native;
  });
  qx_module_desc_t desc{};
  desc.stype = QX_STRUCTURE_TYPE_MODULE_DESC;
  qx_module_handle_t module = nullptr;
  ASSERT_EQ(qez_qxModuleCreate(qez_qx_double_context(), qez_qx_double_device(), &desc, &module,
                               nullptr),
            QX_RESULT_SUCCESS);
  size_t size = 0;
  EXPECT_EQ(qez_qxModuleGetNativeBinary(module, &size, nullptr), QX_RESULT_SUCCESS);
  EXPECT_EQ(size, sizeof native);
  uint8_t bytes[5] = {};
  EXPECT_EQ(qez_qxModuleGetNativeBinary(module, &size, bytes), QX_RESULT_SUCCESS);
  EXPECT_EQ(std::memcmp(bytes, native, sizeof native), 0);

  qx_kernel_desc_t kernel_desc{};
  kernel_desc.stype = QX_STRUCTURE_TYPE_KERNEL_DESC;
  kernel_desc.pKernelName = "entry";
  qx_kernel_handle_t kernel = nullptr;
  EXPECT_EQ(qez_qxKernelCreate(module, &kernel_desc, &kernel), QX_RESULT_SUCCESS);
  EXPECT_NE(kernel, nullptr);
  EXPECT_STREQ(qez_qx_double_calls()->kernel_name, "entry");
  const int live = qez_qx_double_calls()->live_modules;
  EXPECT_EQ(qez_qxModuleDestroy(module), QX_RESULT_SUCCESS);
  EXPECT_EQ(qez_qx_double_calls()->live_modules, live - 1);
}

TEST_F(NivoloLoader, DriverFailuresComeBackUnchanged) {
  configure([](qez_qx_double_config_t* c) { c->kernel_create_result = 0x78000011u; });
  qx_kernel_desc_t kernel_desc{};
  qx_kernel_handle_t kernel = nullptr;
  EXPECT_EQ(qez_qxKernelCreate(nullptr, &kernel_desc, &kernel), 0x78000011u);
}

}  // namespace
