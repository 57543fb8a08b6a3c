// Shared helpers of the SYCL stand-in tests: OpenCL C programs built with the
// OpenCL API on a queue's context and wrapped with make_kernel.
#pragma once

#include <gtest/gtest.h>

#include <CL/cl.h>
#include <sycl/sycl.hpp>

#include <string>

namespace qez_test {

// Builds `source` for the queue's device and returns kernel `name` as a SYCL kernel.
inline sycl::kernel build_kernel(const sycl::queue& q, const char* source, const char* name,
                                 const char* options = "") {
  cl_context ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
  cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
  cl_int err = CL_SUCCESS;
  cl_program prog = clCreateProgramWithSource(ctx, 1, &source, nullptr, &err);
  EXPECT_EQ(err, CL_SUCCESS);
  err = clBuildProgram(prog, 1, &dev, options, nullptr, nullptr);
  if (err != CL_SUCCESS) {
    char log[4096] = {};
    clGetProgramBuildInfo(prog, dev, CL_PROGRAM_BUILD_LOG, sizeof log, log, nullptr);
    ADD_FAILURE() << "build failed: " << log;
  }
  cl_kernel k = clCreateKernel(prog, name, &err);
  EXPECT_EQ(err, CL_SUCCESS);
  sycl::kernel sk = sycl::make_kernel<sycl::backend::opencl>(k, q.get_context());
  clReleaseKernel(k);  // the SYCL kernel holds its own reference
  clReleaseProgram(prog);
  clReleaseContext(ctx);  // get_native added a reference
  clReleaseDevice(dev);
  return sk;
}

// A kernel that spins for a while, so that ordering mistakes show.
inline const char* slow_kernels() {
  return R"CLC(
kernel void slow_fill(global int* out, int value, int spin) {
  size_t i = get_global_id(0);
  volatile int acc = 0;
  for (int s = 0; s < spin; ++s) acc += s;
  out[i] = value + (acc & 0);
}
kernel void add_one(global int* data) { data[get_global_id(0)] += 1; }
kernel void copy_plus(global const int* in, global int* out, int add) {
  size_t i = get_global_id(0);
  out[i] = in[i] + add;
}
kernel void geometry(global ulong* out) {
  size_t x = get_global_id(0), y = get_global_id(1);
  if (x == 0 && y == 0) {
    out[0] = get_global_size(0); out[1] = get_global_size(1);
    out[2] = get_local_size(0);  out[3] = get_local_size(1);
    out[4] = get_num_groups(0);  out[5] = get_num_groups(1);
    out[6] = get_work_dim();
  }
  out[8 + y * get_global_size(0) + x] = x + 1000 * y;
}
kernel void local_reverse(global int* data, local int* scratch) {
  size_t l = get_local_id(0), n = get_local_size(0), g = get_global_id(0);
  scratch[l] = data[g];
  barrier(CLK_LOCAL_MEM_FENCE);
  data[g] = scratch[n - 1 - l];
}
)CLC";
}

}  // namespace qez_test
