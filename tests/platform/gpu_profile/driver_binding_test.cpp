// A driver whose dispatch table names its own entry points by symbol
// (Oclgrind's ICD does for the OpenCL 2.0+ ones) gets them bound to the
// profile layer's exports when the layer is loaded first. The layer must
// still reach the driver's definitions: queue and buffer creation with
// properties return, and a kernel runs on buffers. Run with Oclgrind's ICD as
// the only platform; CTest's timeout turns a loop into a failure.
#include <gtest/gtest.h>

#include <CL/cl.h>

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

}  // namespace
