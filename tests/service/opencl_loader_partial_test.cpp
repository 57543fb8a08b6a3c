// OpenCL loader against a double that lacks clEnqueueSVMUnmap, the 15th name
// of the list: the names before it stay usable, it and every later name end
// the process with message 3 and exit code 2, and the failed load is final.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "gpu/service/opencl_loader.hpp"
#include "tests/doubles/opencl_double.h"
#include "tests/service/death_output.hpp"

using namespace ulmara::qez::gpu;

namespace {

constexpr int missing_index = static_cast<int>(opencl_entry::clEnqueueSVMUnmap);

TEST(OpenclLoaderPartial, LoadFailsAndKeepsTheEntriesBeforeTheGap) {
  EXPECT_EQ(load_opencl_library(), -1);
  EXPECT_EQ(opencl_library_load_state(), opencl_load_failed);
  ASSERT_EQ(missing_index, 14);
  for (int i = 0; i < opencl_entry_count; ++i) {
    const auto entry = static_cast<opencl_entry>(i);
    if (i < missing_index)
      EXPECT_NE(opencl_entry_address(entry), nullptr) << opencl_entry_name(entry);
    else
      EXPECT_EQ(opencl_entry_address(entry), nullptr) << opencl_entry_name(entry);
  }
}

TEST(OpenclLoaderPartial, LaterNamesStayUnresolvedThoughTheLibraryExportsThem) {
  load_opencl_library();
  void* module = dlopen(QEZ_OPENCL_DOUBLE_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(dlsym(module, "clEnqueueSVMUnmap"), nullptr);
  EXPECT_NE(dlsym(module, "clCreateProgramWithBinary"), nullptr);
  EXPECT_EQ(opencl_entry_address(opencl_entry::clCreateProgramWithBinary), nullptr);
  dlclose(module);
}

TEST(OpenclLoaderPartial, FailedLoadIsNeverRetried) {
  EXPECT_EQ(load_opencl_library(), -1);
  const auto kept = opencl_entry_address(opencl_entry::clGetPlatformIDs);
  EXPECT_EQ(load_opencl_library(), -1);
  EXPECT_EQ(load_opencl_library(), -1);
  EXPECT_EQ(opencl_library_load_state(), opencl_load_failed);
  EXPECT_EQ(opencl_entry_address(opencl_entry::clGetPlatformIDs), kept);
  EXPECT_EQ(opencl_entry_address(opencl_entry::clCreateProgramWithBinary), nullptr);
}

TEST(OpenclLoaderPartial, StubBeforeTheGapStillWorks) {
  cl_uint count = 0;
  EXPECT_EQ(ocl::clGetPlatformIDs(0, nullptr, &count), QEZ_OPENCL_DOUBLE_MARKER_RESULT);
}

TEST(OpenclLoaderPartialDeathTest, StubAfterTheGapPrintsItsNameAndExitsWith2) {
  EXPECT_EXIT(
      {
        qez_test::route_stdout_to_stderr();
        ocl::clCreateProgramWithBinary(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
      },
      ::testing::ExitedWithCode(2), "Cannot load symbol 'clCreateProgramWithBinary'");
}

TEST(OpenclLoaderPartialDeathTest, StubOfTheMissingNamePrintsItsNameAndExitsWith2) {
  EXPECT_EXIT(
      {
        qez_test::route_stdout_to_stderr();
        ocl::clEnqueueSVMUnmap(nullptr, nullptr, 0, nullptr, nullptr);
      },
      ::testing::ExitedWithCode(2), "Cannot load symbol 'clEnqueueSVMUnmap'");
}

TEST(OpenclLoaderPartialDeathTest, LastStubOfTheListAlsoEndsTheProcess) {
  EXPECT_EXIT(
      {
        qez_test::route_stdout_to_stderr();
        ocl::clSVMFree(nullptr, nullptr);
      },
      ::testing::ExitedWithCode(2), "Cannot load symbol 'clSVMFree'");
}

}  // namespace
