// SYCL stand-in: transfers into the buffer objects of a context without SVM
// that keep a simulator's record of written bytes exact (see the .cpp).
#pragma once

#include <CL/cl.h>

#include <deque>
#include <mutex>
#include <vector>

namespace sycl {
inline namespace _V1 {
namespace detail {

class mirrored_transfers {
 public:
  mirrored_transfers(cl_context context, cl_device_id device);
  ~mirrored_transfers();
  mirrored_transfers(const mirrored_transfers&) = delete;
  mirrored_transfers& operator=(const mirrored_transfers&) = delete;

  // Each enqueues on `q` after the `n` events of `list` and returns the
  // OpenCL status; `e` receives the event of the last command.
  cl_int copy(cl_command_queue q, cl_mem src, size_t src_at, cl_mem dst, size_t dst_at, size_t bytes, cl_uint n,
              const cl_event* list, cl_event* e);
  // `from` is read when the write runs, as clEnqueueWriteBuffer reads it.
  cl_int write(cl_context context, cl_command_queue q, cl_mem dst, size_t dst_at, const void* from, size_t bytes,
               cl_uint n, const cl_event* list, cl_event* e);
  cl_int fill(cl_context context, cl_command_queue q, cl_mem dst, size_t dst_at, const void* pattern,
              size_t pattern_bytes, size_t bytes, cl_uint n, const cl_event* list, cl_event* e);

 private:
  struct kernel_operand {
    size_t size;
    const void* value;
  };
  // A buffer that carries host bytes to a copy or fill kernel; free again
  // once `busy` (the kernel's event) has completed.
  struct staging_buffer {
    cl_mem mem = nullptr;
    size_t size = 0;
    cl_event busy = nullptr;
    std::vector<char> bytes;  // a fill's pattern, held until the kernel has run
  };
  staging_buffer* free_staging(cl_context context, size_t bytes, cl_int* err);
  cl_int copy_locked(cl_command_queue q, cl_mem src, size_t src_at, cl_mem dst, size_t dst_at, size_t bytes,
                     cl_uint n, const cl_event* list, cl_event* e);
  cl_kernel make_kernel(const char* name);
  cl_int launch(cl_command_queue q, cl_kernel k, const std::vector<kernel_operand>& operands, size_t items,
                cl_uint n, const cl_event* list, cl_event* e);
  std::mutex m_;
  std::deque<staging_buffer> staging_;  // entries stay where they are as it grows
  cl_program program_ = nullptr;
  cl_kernel copy_words_ = nullptr, copy_bytes_ = nullptr, fill_ = nullptr;
};

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
