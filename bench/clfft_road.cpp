#include "bench/clfft_road.hpp"

#define CL_TARGET_OPENCL_VERSION 120
#include <clFFT.h>

#include <vector>

namespace qez_bench {

struct clfft_road::state {
  cl_context context = nullptr;
  cl_command_queue queue = nullptr;
  cl_mem in = nullptr, out = nullptr;
  clfftPlanHandle plan = 0;
  bool ready = false;
};

namespace {

// The library keeps one set-up for the whole process.
void setup_once() {
  static const bool done = [] {
    clfftSetupData setup;
    clfftInitSetupData(&setup);
    return clfftSetup(&setup) == CLFFT_SUCCESS;
  }();
  (void)done;
}

}  // namespace

clfft_road::clfft_road(std::int64_t n, std::int64_t batch, bool double_precision) : s_(new state) {
  setup_once();
  cl_platform_id platform;
  cl_device_id device;
  cl_int err = clGetPlatformIDs(1, &platform, nullptr);
  if (err == CL_SUCCESS) err = clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr);
  if (err != CL_SUCCESS) return;
  s_->context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  s_->queue = clCreateCommandQueue(s_->context, device, 0, &err);
  const std::size_t bytes = static_cast<std::size_t>(n * batch) * (double_precision ? 16 : 8);
  s_->in = clCreateBuffer(s_->context, CL_MEM_READ_WRITE, bytes, nullptr, &err);
  s_->out = clCreateBuffer(s_->context, CL_MEM_READ_WRITE, bytes, nullptr, &err);
  std::vector<char> zeros(bytes, 0);
  clEnqueueWriteBuffer(s_->queue, s_->in, CL_TRUE, 0, bytes, zeros.data(), 0, nullptr, nullptr);
  const std::size_t length = static_cast<std::size_t>(n);
  if (clfftCreateDefaultPlan(&s_->plan, s_->context, CLFFT_1D, &length) != CLFFT_SUCCESS) return;
  clfftSetPlanPrecision(s_->plan, double_precision ? CLFFT_DOUBLE : CLFFT_SINGLE);
  clfftSetLayout(s_->plan, CLFFT_COMPLEX_INTERLEAVED, CLFFT_COMPLEX_INTERLEAVED);
  clfftSetResultLocation(s_->plan, CLFFT_OUTOFPLACE);
  clfftSetPlanBatchSize(s_->plan, static_cast<std::size_t>(batch));
  clfftSetPlanDistance(s_->plan, length, length);
  s_->ready = clfftBakePlan(s_->plan, 1, &s_->queue, nullptr, nullptr) == CLFFT_SUCCESS;
}

clfft_road::~clfft_road() {
  if (s_->plan) clfftDestroyPlan(&s_->plan);
  if (s_->in) clReleaseMemObject(s_->in);
  if (s_->out) clReleaseMemObject(s_->out);
  if (s_->queue) clReleaseCommandQueue(s_->queue);
  if (s_->context) clReleaseContext(s_->context);
}

bool clfft_road::ready() const { return s_->ready; }

void clfft_road::run() {
  clfftEnqueueTransform(s_->plan, CLFFT_FORWARD, 1, &s_->queue, 0, nullptr, nullptr, &s_->in, &s_->out, nullptr);
  clFinish(s_->queue);
}

}  // namespace qez_bench
