// OpenCL loader against a double that exports every entry point: the whole
// list resolves, in order, once; stubs load on first use and forward.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "gpu/service/opencl_loader.hpp"
#include "tests/doubles/opencl_double.h"

using namespace ulmara::qez::gpu;

namespace {

// The double as the loader opened it ("OpenCL.dll" maps to this file next to
// the test executable).
void* opened_double() {
  return dlopen(QEZ_OPENCL_DOUBLE_PATH, RTLD_NOW | RTLD_NOLOAD);
}

using last_call_fn = const char* (*)();
std::string double_last_call() {
  void* module = opened_double();
  if (module == nullptr) return "<double not loaded>";
  auto last_call = reinterpret_cast<last_call_fn>(dlsym(module, "qez_opencl_double_last_call"));
  dlclose(module);
  return last_call ? last_call() : "<no control function>";
}

TEST(OpenclLoader, StubLoadsOnFirstUseAndForwards) {
  cl_uint count = 0;
  EXPECT_EQ(ocl::clGetPlatformIDs(0, nullptr, &count), QEZ_OPENCL_DOUBLE_MARKER_RESULT);
  EXPECT_EQ(opencl_library_load_state(), opencl_loaded);
  EXPECT_EQ(double_last_call(), "clGetPlatformIDs");
}

TEST(OpenclLoader, EveryEntryResolvesToTheLibrarysExportOfItsName) {
  ASSERT_EQ(load_opencl_library(), 0);
  void* module = opened_double();
  ASSERT_NE(module, nullptr);
  for (int i = 0; i < opencl_entry_count; ++i) {
    const auto entry = static_cast<opencl_entry>(i);
    const char* name = opencl_entry_name(entry);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(opencl_entry_address(entry)), dlsym(module, name)) << name;
  }
  dlclose(module);
}

TEST(OpenclLoader, ResolutionOrderStartsAndEndsAsListed) {
  EXPECT_STREQ(opencl_entry_name(static_cast<opencl_entry>(0)), "clGetSupportedImageFormats");
  EXPECT_STREQ(opencl_entry_name(static_cast<opencl_entry>(4)), "clGetPlatformIDs");
  EXPECT_STREQ(opencl_entry_name(static_cast<opencl_entry>(14)), "clEnqueueSVMUnmap");
  EXPECT_STREQ(opencl_entry_name(static_cast<opencl_entry>(15)), "clCreateProgramWithBinary");
  EXPECT_STREQ(opencl_entry_name(static_cast<opencl_entry>(97)), "clSVMFree");
  EXPECT_EQ(opencl_entry_name(opencl_entry::count), nullptr);
}

TEST(OpenclLoader, RepeatedLoadsReportTheFirstOutcome) {
  EXPECT_EQ(load_opencl_library(), 0);
  const auto first = opencl_entry_address(opencl_entry::clBuildProgram);
  EXPECT_EQ(load_opencl_library(), 0);
  EXPECT_EQ(load_opencl_library(), 0);
  EXPECT_EQ(opencl_library_load_state(), opencl_loaded);
  EXPECT_EQ(opencl_entry_address(opencl_entry::clBuildProgram), first);
}

TEST(OpenclLoader, StubsPassResultsOfEveryKind) {
  cl_int error = 0;
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ocl::clCreateContext(nullptr, 0, nullptr, nullptr,
                                                                   nullptr, &error)),
            static_cast<std::uintptr_t>(QEZ_OPENCL_DOUBLE_MARKER_HANDLE));
  EXPECT_EQ(double_last_call(), "clCreateContext");
  ocl::clSVMFree(nullptr, nullptr);
  EXPECT_EQ(double_last_call(), "clSVMFree");
  EXPECT_EQ(ocl::clBuildProgram(nullptr, 0, nullptr, "", nullptr, nullptr),
            QEZ_OPENCL_DOUBLE_MARKER_RESULT);
  EXPECT_EQ(double_last_call(), "clBuildProgram");
}

TEST(OpenclLoader, ConcurrentFirstUseLoadsOnce) {
  std::atomic<int> forwarded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&forwarded] {
      if (ocl::clReleaseContext(nullptr) == QEZ_OPENCL_DOUBLE_MARKER_RESULT) ++forwarded;
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(forwarded.load(), 8);
  EXPECT_EQ(opencl_library_load_state(), opencl_loaded);
}

TEST(OpenclLoader, OpenLibraryFindsTheMappedFileAndRefusesUnknownNames) {
  EXPECT_NE(open_library("OpenCL.dll"), nullptr);
  EXPECT_EQ(open_library("no_such_driver.dll"), nullptr);
}

}  // namespace
