// The OpenCL device (PoCL) a peer library runs on, with an input buffer
// (zeroed) and an output buffer of one size, released together.
#pragma once

#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>

#include <cstddef>

namespace qez_bench {

class opencl_peer_device {
public:
  explicit opencl_peer_device(std::size_t buffer_bytes);
  ~opencl_peer_device();
  opencl_peer_device(const opencl_peer_device&) = delete;
  opencl_peer_device& operator=(const opencl_peer_device&) = delete;

  bool ready() const { return ready_; }
  cl_platform_id platform = nullptr;
  cl_device_id device = nullptr;
  cl_context context = nullptr;
  cl_command_queue queue = nullptr;
  cl_mem in = nullptr;
  cl_mem out = nullptr;

private:
  bool ready_ = false;
};

}  // namespace qez_bench
