// Nivolo loader failure roads. The executable is built three times:
//   QEZ_NIVOLO_ROAD_ABSENT   no driver in the system directory;
//   QEZ_NIVOLO_ROAD_INIT     the full double, whose qxInit fails;
//   QEZ_NIVOLO_ROAD_PARTIAL  a double without qxKernelCreate.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "gpu/service/nivolo_loader.hpp"
#include "tests/service/death_output.hpp"
#if !defined(QEZ_NIVOLO_ROAD_ABSENT)
#include "tests/doubles/qx_loader_double.h"
#endif

using namespace ulmara::qez::gpu;

namespace {

#if defined(QEZ_NIVOLO_ROAD_INIT)
constexpr qx_result_t failing_init_result = 0x78000001u;
// Before any test runs: the driver's initialisation fails.
const bool init_configured = [] {
  qez_qx_double_config_t config;
  qez_qx_double_default_config(&config);
  config.init_result = failing_init_result;
  qez_qx_double_set_config(&config);
  return true;
}();
#endif

#define EXPECT_FORWARDER_ENDS_PROCESS(call, quoted)                        \
  EXPECT_EXIT(                                                             \
      {                                                                    \
        qez_test::route_stdout_to_stderr();                                \
        call;                                                              \
      },                                                                   \
      ::testing::ExitedWithCode(2), "Cannot load symbol " quoted)

TEST(NivoloLoaderFailure, LoadFailsAndIsNeverRetried) {
  EXPECT_EQ(load_qx_loader(), -1);
  EXPECT_EQ(qx_loader_load_state(), nivolo_load_failed);
#if defined(QEZ_NIVOLO_ROAD_ABSENT)
  // The driver appears in the system directory afterwards: still no retry.
  setenv("STANDIN_SYSTEM_DIR", QEZ_QX_DOUBLE_DIR, 1);
  EXPECT_EQ(load_qx_loader(), -1);
  EXPECT_EQ(dlopen(QEZ_QX_DOUBLE_DIR "/libqez_qx_loader.so", RTLD_NOW | RTLD_NOLOAD), nullptr);
#else
  const int init_calls = qez_qx_double_calls()->init_calls;
  EXPECT_EQ(init_calls, 1);
  EXPECT_EQ(load_qx_loader(), -1);
  EXPECT_EQ(qez_qx_double_calls()->init_calls, init_calls);
#endif
  EXPECT_EQ(qx_loader_load_state(), nivolo_load_failed);
}

#if defined(QEZ_NIVOLO_ROAD_PARTIAL)
TEST(NivoloLoaderFailure, NamesBeforeTheMissingOneKeepWorking) {
  qx_device_properties_t properties{};
  properties.stype = QX_STRUCTURE_TYPE_DEVICE_PROPERTIES;
  EXPECT_EQ(qez_qxDeviceGetProperties(qez_qx_double_device(), &properties), QX_RESULT_SUCCESS);
  uint32_t count = 0;
  EXPECT_EQ(qez_qxDeviceGetSubDevices(qez_qx_double_device(), &count, nullptr), QX_RESULT_SUCCESS);
  qx_module_desc_t desc{};
  qx_module_handle_t module = nullptr;
  EXPECT_EQ(qez_qxModuleCreate(qez_qx_double_context(), qez_qx_double_device(), &desc, &module,
                               nullptr),
            QX_RESULT_SUCCESS);
}
#else
TEST(NivoloLoaderFailureDeathTest, FirstForwardersEndTheProcessToo) {
  qx_device_properties_t properties{};
  EXPECT_FORWARDER_ENDS_PROCESS(qez_qxDeviceGetProperties(nullptr, &properties),
                                "'qxDeviceGetProperties'");
  uint32_t count = 0;
  EXPECT_FORWARDER_ENDS_PROCESS(qez_qxDeviceGetSubDevices(nullptr, &count, nullptr),
                                "'qxDeviceGetSubDevices'");
  EXPECT_FORWARDER_ENDS_PROCESS(qez_qxModuleCreate(nullptr, nullptr, nullptr, nullptr, nullptr),
                                "'qxModuleCreate'");
}
#endif

TEST(NivoloLoaderFailureDeathTest, KernelCreateAndLaterNamesEndTheProcess) {
  EXPECT_FORWARDER_ENDS_PROCESS(qez_qxKernelCreate(nullptr, nullptr, nullptr), "'qxKernelCreate'");
  EXPECT_FORWARDER_ENDS_PROCESS(qez_qxModuleDestroy(nullptr), "'qxModuleDestroy'");
  EXPECT_FORWARDER_ENDS_PROCESS(qez_qxModuleGetNativeBinary(nullptr, nullptr, nullptr),
                                "'qxModuleGetNativeBinary'");
}

}  // namespace
