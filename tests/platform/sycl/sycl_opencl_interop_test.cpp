// A SYCL 2020 program that mixes SYCL and OpenCL the way the OpenCL backend
// allows: native handles go straight into OpenCL calls and OpenCL handles
// straight into the make_* functions, with no cast anywhere. The SYCL header
// comes first on purpose: the native types must be the OpenCL ones whatever
// the order of the includes.
#include <sycl/sycl.hpp>

#include <CL/cl.h>
#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

namespace {

constexpr sycl::backend ocl = sycl::backend::opencl;

static_assert(std::is_same_v<sycl::backend_return_t<ocl, sycl::platform>, cl_platform_id>);
static_assert(std::is_same_v<sycl::backend_return_t<ocl, sycl::device>, cl_device_id>);
static_assert(std::is_same_v<sycl::backend_return_t<ocl, sycl::context>, cl_context>);
static_assert(std::is_same_v<sycl::backend_return_t<ocl, sycl::queue>, cl_command_queue>);
static_assert(std::is_same_v<sycl::backend_return_t<ocl, sycl::kernel>, cl_kernel>);
static_assert(std::is_same_v<sycl::backend_return_t<ocl, sycl::event>, std::vector<cl_event>>);
static_assert(std::is_same_v<sycl::backend_input_t<ocl, sycl::platform>, cl_platform_id>);
static_assert(std::is_same_v<sycl::backend_input_t<ocl, sycl::device>, cl_device_id>);
static_assert(std::is_same_v<sycl::backend_input_t<ocl, sycl::context>, cl_context>);
static_assert(std::is_same_v<sycl::backend_input_t<ocl, sycl::queue>, cl_command_queue>);
static_assert(std::is_same_v<sycl::backend_input_t<ocl, sycl::kernel>, cl_kernel>);
static_assert(std::is_same_v<sycl::backend_input_t<ocl, sycl::event>, cl_event>);

const char* doubling = "kernel void doubling(global int* x) { x[get_global_id(0)] *= 2; }";

TEST(SyclOpenclInterop, HandlesGoToOpenclAndBackWithoutCasts) {
  sycl::queue q{sycl::gpu_selector_v};
  cl_platform_id platform = sycl::get_native<ocl>(q.get_device().get_platform());
  cl_device_id device = sycl::get_native<ocl>(q.get_device());
  cl_context context = sycl::get_native<ocl>(q.get_context());
  cl_command_queue queue = sycl::get_native<ocl>(q);

  cl_platform_id device_platform = nullptr;
  ASSERT_EQ(clGetDeviceInfo(device, CL_DEVICE_PLATFORM, sizeof device_platform, &device_platform, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(device_platform, platform);
  cl_context queue_context = nullptr;
  ASSERT_EQ(clGetCommandQueueInfo(queue, CL_QUEUE_CONTEXT, sizeof queue_context, &queue_context, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(queue_context, context);

  // An OpenCL program and kernel, run through SYCL.
  cl_int err = CL_SUCCESS;
  cl_program program = clCreateProgramWithSource(context, 1, &doubling, nullptr, &err);
  ASSERT_EQ(err, CL_SUCCESS);
  ASSERT_EQ(clBuildProgram(program, 1, &device, "", nullptr, nullptr), CL_SUCCESS);
  cl_kernel cl_doubling = clCreateKernel(program, "doubling", &err);
  ASSERT_EQ(err, CL_SUCCESS);
  sycl::kernel doubling_kernel = sycl::make_kernel<ocl>(cl_doubling, q.get_context());
  cl_kernel native_kernel = sycl::get_native<ocl>(doubling_kernel);
  EXPECT_EQ(native_kernel, cl_doubling);
  clReleaseKernel(native_kernel);  // get_native added a reference

  constexpr int n = 16;
  int* x = sycl::malloc_shared<int>(n, q);
  for (int i = 0; i < n; ++i) x[i] = i;
  sycl::event done = q.submit([&](sycl::handler& cgh) {
    cgh.set_arg(0, x);
    cgh.parallel_for(sycl::range<1>(n), doubling_kernel);
  });
  // The event's OpenCL events, waited for by OpenCL.
  std::vector<cl_event> events = sycl::get_native<ocl>(done);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(clWaitForEvents(static_cast<cl_uint>(events.size()), events.data()), CL_SUCCESS);
  for (int i = 0; i < n; ++i) EXPECT_EQ(x[i], 2 * i) << i;

  // OpenCL handles back into SYCL objects.
  EXPECT_EQ(sycl::make_platform<ocl>(platform), q.get_device().get_platform());
  EXPECT_EQ(sycl::make_device<ocl>(device), q.get_device());
  sycl::context wrapped_context = sycl::make_context<ocl>(context);
  EXPECT_EQ(sycl::get_native<ocl>(wrapped_context), context);
  clReleaseContext(context);  // the get_native above added a reference
  sycl::queue wrapped_queue = sycl::make_queue<ocl>(queue, wrapped_context);
  cl_event marker = nullptr;
  ASSERT_EQ(clEnqueueMarkerWithWaitList(queue, 0, nullptr, &marker), CL_SUCCESS);
  sycl::event wrapped_event = sycl::make_event<ocl>(marker, wrapped_context);
  wrapped_event.wait();
  cl_int marker_status = CL_QUEUED;
  ASSERT_EQ(clGetEventInfo(marker, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof marker_status, &marker_status, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(marker_status, CL_COMPLETE);

  // Handles of a host task's interop handle are the same OpenCL types.
  cl_command_queue seen_queue = nullptr;
  cl_device_id seen_device = nullptr;
  q.submit([&](sycl::handler& cgh) {
     cgh.host_task([&](sycl::interop_handle ih) {
       seen_queue = ih.get_native_queue<ocl>();
       seen_device = ih.get_native_device<ocl>();
     });
   }).wait();
  EXPECT_EQ(seen_queue, queue);
  EXPECT_EQ(seen_device, device);

  for (cl_event e : events) clReleaseEvent(e);
  clReleaseEvent(marker);
  sycl::free(x, q);
  clReleaseKernel(cl_doubling);
  clReleaseProgram(program);
  clReleaseCommandQueue(queue);
  clReleaseContext(context);
}

}  // namespace
