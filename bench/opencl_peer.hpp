// Peer FFT libraries on the OpenCL device (PoCL): the device with an input
// buffer (zeroed) and an output buffer of one size, released together, and
// one out-of-place forward plan per size in each peer.
#pragma once

#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>

#include <cstddef>
#include <cstdint>
#include <memory>

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

class peer_road {
public:
  virtual ~peer_road() = default;
  // False when the peer has no plan for the size.
  virtual bool ready() const = 0;
  // One forward transform, waited for.
  virtual void run() = 0;
};

std::unique_ptr<peer_road> make_clfft_road(std::int64_t n, std::int64_t batch,
                                           bool double_precision);
std::unique_ptr<peer_road> make_vkfft_road(std::int64_t n, std::int64_t batch,
                                           bool double_precision);

}  // namespace qez_bench
