// A driver whose dispatch table names its own entry points by symbol
// (Oclgrind's ICD does for the OpenCL 2.0+ ones) gets them bound to the
// profile layer's exports when the layer is loaded first. The layer must
// still reach the driver's definitions: queue and buffer creation with
// properties return, and a kernel runs on buffers. Run with Oclgrind's ICD as
// the only platform; CTest's timeout turns a loop into a failure.
// Calls made while a thread ends, after the driver's own thread-local state is
// gone (as the library's exit-time release does on the exiting thread), still
// work and leave freed memory alone.
#include <gtest/gtest.h>

#include <CL/cl.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct opencl_device {
  cl_platform_id platform = nullptr;
  cl_device_id device = nullptr;
  cl_context context = nullptr;

  opencl_device() {
    cl_uint count = 0;
    EXPECT_EQ(clGetPlatformIDs(1, &platform, &count), CL_SUCCESS);
    EXPECT_EQ(clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 1, &device, nullptr), CL_SUCCESS);
    cl_int status = CL_SUCCESS;
    context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &status);
    EXPECT_EQ(status, CL_SUCCESS);
  }
  ~opencl_device() {
    if (context != nullptr) clReleaseContext(context);
  }
  opencl_device(const opencl_device&) = delete;
  opencl_device& operator=(const opencl_device&) = delete;
};

TEST(DriverBindingToTheLayer, QueueWithPropertiesIsCreated) {
  opencl_device d;
  ASSERT_NE(d.context, nullptr);
  const cl_queue_properties properties[] = {CL_QUEUE_PROPERTIES, CL_QUEUE_PROFILING_ENABLE, 0};
  cl_int status = CL_INVALID_VALUE;
  cl_command_queue queue = clCreateCommandQueueWithProperties(d.context, d.device, properties, &status);
  EXPECT_EQ(status, CL_SUCCESS);
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(clReleaseCommandQueue(queue), CL_SUCCESS);
}

TEST(DriverBindingToTheLayer, KernelDoublesABufferMadeWithProperties) {
  opencl_device d;
  ASSERT_NE(d.context, nullptr);
  cl_int status = CL_SUCCESS;
  cl_command_queue queue = clCreateCommandQueueWithProperties(d.context, d.device, nullptr, &status);
  ASSERT_EQ(status, CL_SUCCESS);
  std::vector<cl_int> values(16);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<cl_int>(i) - 5;
  cl_mem buffer = clCreateBufferWithProperties(d.context, nullptr, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR,
                                               values.size() * sizeof(cl_int), values.data(), &status);
  ASSERT_EQ(status, CL_SUCCESS);
  const char* source = "kernel void twice(global int* x) { x[get_global_id(0)] *= 2; }";
  cl_program program = clCreateProgramWithSource(d.context, 1, &source, nullptr, &status);
  ASSERT_EQ(status, CL_SUCCESS);
  ASSERT_EQ(clBuildProgram(program, 1, &d.device, "", nullptr, nullptr), CL_SUCCESS);
  cl_kernel kernel = clCreateKernel(program, "twice", &status);
  ASSERT_EQ(status, CL_SUCCESS);
  ASSERT_EQ(clSetKernelArg(kernel, 0, sizeof buffer, &buffer), CL_SUCCESS);
  const size_t global = values.size();
  ASSERT_EQ(clEnqueueNDRangeKernel(queue, kernel, 1, nullptr, &global, nullptr, 0, nullptr, nullptr), CL_SUCCESS);
  std::vector<cl_int> doubled(values.size());
  ASSERT_EQ(clEnqueueReadBuffer(queue, buffer, CL_TRUE, 0, doubled.size() * sizeof(cl_int), doubled.data(), 0,
                                nullptr, nullptr),
            CL_SUCCESS);
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(doubled[i], 2 * values[i]) << i;
  clReleaseKernel(kernel);
  clReleaseProgram(program);
  clReleaseMemObject(buffer);
  clReleaseCommandQueue(queue);
}

// Oclgrind's runtime records each call in a thread-local stack that the
// thread's thread-local destructors free. A probe made on a thread before its
// first OpenCL call is destroyed after them: its destructor then takes blocks
// of the size that stack's storage had (512 bytes; the allocator hands freed
// blocks out again, AddressSanitizer too with no quarantine, see
// CMakeLists.txt), fills them, calls OpenCL and checks that the blocks kept
// their bytes and the calls succeeded.
struct calls_at_thread_end {
  cl_context context = nullptr;
  cl_int retained = CL_INVALID_VALUE;
  cl_int released = CL_INVALID_VALUE;
  cl_int buffer_status = CL_INVALID_VALUE;
  cl_int buffer_released = CL_INVALID_VALUE;
  int changed_blocks = -1;
};

class thread_end_probe {
 public:
  explicit thread_end_probe(calls_at_thread_end* result) : result_(result) {}
  ~thread_end_probe() {
    constexpr std::size_t block_bytes = 512;
    constexpr int block_count = 16;
    constexpr unsigned char fill = 0xa5;
    std::vector<unsigned char*> blocks;
    blocks.reserve(block_count);
    for (int i = 0; i < block_count; ++i) {
      auto* block = static_cast<unsigned char*>(std::malloc(block_bytes));
      std::memset(block, fill, block_bytes);
      blocks.push_back(block);
    }
    result_->retained = clRetainContext(result_->context);
    result_->released = clReleaseContext(result_->context);
    cl_mem buffer = clCreateBuffer(result_->context, CL_MEM_READ_WRITE, 64, nullptr, &result_->buffer_status);
    if (buffer != nullptr) result_->buffer_released = clReleaseMemObject(buffer);
    int changed = 0;
    for (unsigned char* block : blocks) {
      for (std::size_t i = 0; i < block_bytes; ++i)
        if (block[i] != fill) {
          ++changed;
          break;
        }
      std::free(block);
    }
    result_->changed_blocks = changed;
  }
  thread_end_probe(const thread_end_probe&) = delete;
  thread_end_probe& operator=(const thread_end_probe&) = delete;

 private:
  calls_at_thread_end* result_;
};

TEST(DriverBindingToTheLayer, CallsAsAThreadEndsLeaveFreedMemoryAlone) {
  opencl_device d;
  ASSERT_NE(d.context, nullptr);
  calls_at_thread_end result;
  result.context = d.context;
  std::thread([&result] {
    thread_local thread_end_probe probe(&result);
    clRetainContext(result.context);
    clReleaseContext(result.context);
  }).join();
  EXPECT_EQ(result.retained, CL_SUCCESS);
  EXPECT_EQ(result.released, CL_SUCCESS);
  EXPECT_EQ(result.buffer_status, CL_SUCCESS);
  EXPECT_EQ(result.buffer_released, CL_SUCCESS);
  EXPECT_EQ(result.changed_blocks, 0);
}

}  // namespace
