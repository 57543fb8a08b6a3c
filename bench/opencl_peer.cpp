#include "bench/opencl_peer.hpp"

#include <vector>

namespace qez_bench {

opencl_peer_device::opencl_peer_device(std::size_t buffer_bytes) {
  cl_int err = clGetPlatformIDs(1, &platform, nullptr);
  if (err == CL_SUCCESS) err = clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr);
  if (err != CL_SUCCESS) return;
  context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  if (err != CL_SUCCESS) return;
  queue = clCreateCommandQueue(context, device, 0, &err);
  if (err != CL_SUCCESS) return;
  in = clCreateBuffer(context, CL_MEM_READ_WRITE, buffer_bytes, nullptr, &err);
  if (err != CL_SUCCESS) return;
  out = clCreateBuffer(context, CL_MEM_READ_WRITE, buffer_bytes, nullptr, &err);
  if (err != CL_SUCCESS) return;
  std::vector<char> zeros(buffer_bytes, 0);
  err = clEnqueueWriteBuffer(queue, in, CL_TRUE, 0, buffer_bytes, zeros.data(), 0, nullptr, nullptr);
  ready_ = err == CL_SUCCESS;
}

opencl_peer_device::~opencl_peer_device() {
  if (in) clReleaseMemObject(in);
  if (out) clReleaseMemObject(out);
  if (queue) clReleaseCommandQueue(queue);
  if (context) clReleaseContext(context);
}

}  // namespace qez_bench
