// SYCL stand-in: copies, writes and fills of device memory on a context
// without SVM, made by kernels of a small program of our own.
//
// Oclgrind (the simulator such contexts run on) tracks which bytes of a
// buffer hold defined values, but a host-side command (clEnqueueWriteBuffer,
// clEnqueueCopyBuffer, clEnqueueFillBuffer) that covers only part of a
// buffer makes its checker forget what it knew of the rest: every byte
// outside the command's range is then taken for unwritten, and kernels that
// read them are reported. Kernel stores keep the checker exact, so partial
// transfers go through kernels here; a host write fills a staging buffer
// from its start, which the checker handles, and a kernel copies it on.
//
// Buffer objects made here are kept until the context goes: Oclgrind gives
// a new buffer the number of a released one and keeps the released one's
// record for it, too short for the new buffer, and stores past its end go
// unrecorded (so the context also keeps the buffers of freed blocks).
#include "mirrored_transfers.hpp"

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

namespace {

constexpr const char* transfer_source = R"(
kernel void standin_copy_words(global const ulong *src, const ulong src_at, global ulong *dst, const ulong dst_at)
{
    const size_t i = get_global_id(0);
    dst[dst_at + i] = src[src_at + i];
}
kernel void standin_copy_bytes(global const uchar *src, const ulong src_at, global uchar *dst, const ulong dst_at)
{
    const size_t i = get_global_id(0);
    dst[dst_at + i] = src[src_at + i];
}
kernel void standin_fill(global uchar *dst, const ulong dst_at, global const uchar *pattern, const ulong pattern_bytes)
{
    const size_t i = get_global_id(0);
    dst[dst_at + i] = pattern[i % pattern_bytes];
}
)";

constexpr size_t word = sizeof(cl_ulong);

size_t buffer_size(cl_mem mem) {
  size_t size = 0;
  clGetMemObjectInfo(mem, CL_MEM_SIZE, sizeof size, &size, nullptr);
  return size;
}

bool complete(cl_event e) {
  cl_int status = CL_QUEUED;
  return clGetEventInfo(e, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof status, &status, nullptr) == CL_SUCCESS &&
         status <= CL_COMPLETE;
}

}  // namespace

mirrored_transfers::mirrored_transfers(cl_context context, cl_device_id device) {
  cl_int err = CL_SUCCESS;
  const char* text = transfer_source;
  program_ = clCreateProgramWithSource(context, 1, &text, nullptr, &err);
  if (err != CL_SUCCESS || !program_) throw_cl("clCreateProgramWithSource", err);
  err = clBuildProgram(program_, 1, &device, "", nullptr, nullptr);
  if (err != CL_SUCCESS) {
    clReleaseProgram(program_);
    throw_cl("clBuildProgram", err);
  }
  copy_words_ = make_kernel("standin_copy_words");
  copy_bytes_ = make_kernel("standin_copy_bytes");
  fill_ = make_kernel("standin_fill");
}

mirrored_transfers::~mirrored_transfers() {
  for (staging_buffer& b : staging_) {
    if (b.busy) clReleaseEvent(b.busy);
    clReleaseMemObject(b.mem);
  }
  for (cl_kernel k : {copy_words_, copy_bytes_, fill_})
    if (k) clReleaseKernel(k);
  if (program_) clReleaseProgram(program_);
}

cl_kernel mirrored_transfers::make_kernel(const char* name) {
  cl_int err = CL_SUCCESS;
  cl_kernel k = clCreateKernel(program_, name, &err);
  if (err != CL_SUCCESS || !k) throw_cl("clCreateKernel", err);
  return k;
}

cl_int mirrored_transfers::launch(cl_command_queue q, cl_kernel k, const std::vector<kernel_operand>& operands,
                                  size_t items, cl_uint n, const cl_event* list, cl_event* e) {
  // A kernel's arguments are taken at enqueue: launches are made under m_.
  for (cl_uint i = 0; i < operands.size(); ++i) {
    const cl_int err = clSetKernelArg(k, i, operands[i].size, operands[i].value);
    if (err != CL_SUCCESS) return err;
  }
  return clEnqueueNDRangeKernel(q, k, 1, nullptr, &items, nullptr, n, list, e);
}

mirrored_transfers::staging_buffer* mirrored_transfers::free_staging(cl_context context, size_t bytes, cl_int* err) {
  for (staging_buffer& b : staging_) {
    if (b.size < bytes || (b.busy && !complete(b.busy))) continue;
    if (b.busy) clReleaseEvent(b.busy);
    b.busy = nullptr;
    return &b;
  }
  staging_buffer b;
  b.size = bytes;
  b.mem = clCreateBuffer(context, CL_MEM_READ_ONLY, bytes, nullptr, err);
  if (*err != CL_SUCCESS) return nullptr;
  staging_.push_back(std::move(b));
  return &staging_.back();
}

cl_int mirrored_transfers::copy_locked(cl_command_queue q, cl_mem src, size_t src_at, cl_mem dst, size_t dst_at,
                                       size_t bytes, cl_uint n, const cl_event* list, cl_event* e) {
  const bool words = src_at % word == 0 && dst_at % word == 0 && bytes % word == 0;
  const size_t unit = words ? word : 1;
  const cl_ulong from = src_at / unit, to = dst_at / unit;
  return launch(q, words ? copy_words_ : copy_bytes_,
                {{sizeof src, &src}, {sizeof from, &from}, {sizeof dst, &dst}, {sizeof to, &to}}, bytes / unit, n,
                list, e);
}

cl_int mirrored_transfers::copy(cl_command_queue q, cl_mem src, size_t src_at, cl_mem dst, size_t dst_at,
                                size_t bytes, cl_uint n, const cl_event* list, cl_event* e) {
  std::lock_guard<std::mutex> lk(m_);
  return copy_locked(q, src, src_at, dst, dst_at, bytes, n, list, e);
}

cl_int mirrored_transfers::write(cl_context context, cl_command_queue q, cl_mem dst, size_t dst_at,
                                 const void* from, size_t bytes, cl_uint n, const cl_event* list, cl_event* e) {
  if (dst_at == 0 && bytes == buffer_size(dst))
    return clEnqueueWriteBuffer(q, dst, CL_FALSE, 0, bytes, from, n, list, e);
  std::lock_guard<std::mutex> lk(m_);
  cl_int err = CL_SUCCESS;
  staging_buffer* staging = free_staging(context, bytes, &err);
  if (!staging) return err;
  cl_event written = nullptr;
  err = clEnqueueWriteBuffer(q, staging->mem, CL_FALSE, 0, bytes, from, n, list, &written);
  if (err != CL_SUCCESS) return err;
  err = copy_locked(q, staging->mem, 0, dst, dst_at, bytes, 1, &written, &staging->busy);
  clReleaseEvent(written);
  if (err != CL_SUCCESS) return err;
  clRetainEvent(staging->busy);
  *e = staging->busy;
  return CL_SUCCESS;
}

cl_int mirrored_transfers::fill(cl_context context, cl_command_queue q, cl_mem dst, size_t dst_at,
                                const void* pattern, size_t pattern_bytes, size_t bytes, cl_uint n,
                                const cl_event* list, cl_event* e) {
  std::lock_guard<std::mutex> lk(m_);
  cl_int err = CL_SUCCESS;
  staging_buffer* staging = free_staging(context, pattern_bytes, &err);
  if (!staging) return err;
  // The caller's pattern need not outlive the call; the staging buffer's copy does.
  const char* p = static_cast<const char*>(pattern);
  staging->bytes.assign(p, p + pattern_bytes);
  cl_event written = nullptr;
  err = clEnqueueWriteBuffer(q, staging->mem, CL_FALSE, 0, pattern_bytes, staging->bytes.data(), n, list, &written);
  if (err != CL_SUCCESS) return err;
  const cl_ulong at = dst_at, size = pattern_bytes;
  err = launch(q, fill_, {{sizeof dst, &dst}, {sizeof at, &at}, {sizeof staging->mem, &staging->mem}, {sizeof size, &size}},
               bytes, 1, &written, &staging->busy);
  clReleaseEvent(written);
  if (err != CL_SUCCESS) return err;
  clRetainEvent(staging->busy);
  *e = staging->busy;
  return CL_SUCCESS;
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
