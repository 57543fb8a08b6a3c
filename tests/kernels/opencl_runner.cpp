#include "tests/kernels/opencl_runner.hpp"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace qez_kernels_test {

const char* name_of(real_kind k) { return k == real_kind::double_precision ? "double" : "single"; }
const char* name_of(direction d) { return d == direction::forward ? "forward" : "backward"; }

long double epsilon_of(real_kind k) {
  return k == real_kind::double_precision ? std::numeric_limits<double>::epsilon()
                                          : std::numeric_limits<float>::epsilon();
}

std::size_t real_bytes(real_kind k) { return k == real_kind::double_precision ? 8 : 4; }

namespace {

template <class Real>
void write_reals(const std::vector<cld>& values, unsigned char* out) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Real pair[2] = {static_cast<Real>(values[i].real()), static_cast<Real>(values[i].imag())};
    std::memcpy(out + i * sizeof pair, pair, sizeof pair);
  }
}

template <class Real>
std::vector<cld> read_reals(const std::vector<unsigned char>& bytes) {
  std::vector<cld> values(bytes.size() / (2 * sizeof(Real)));
  for (std::size_t i = 0; i < values.size(); ++i) {
    Real pair[2];
    std::memcpy(pair, bytes.data() + i * sizeof pair, sizeof pair);
    values[i] = cld(pair[0], pair[1]);
  }
  return values;
}

void check(cl_int status, const char* what) {
  if (status != CL_SUCCESS)
    throw std::runtime_error(std::string(what) + " failed with " + std::to_string(status));
}

// Releases the buffers of one launch whatever happens.
struct buffer_set {
  std::vector<cl_mem> mems;
  ~buffer_set() {
    for (cl_mem m : mems) clReleaseMemObject(m);
  }
};

struct kernel_handle {
  cl_kernel k = nullptr;
  ~kernel_handle() {
    if (k) clReleaseKernel(k);
  }
};

}  // namespace

std::vector<unsigned char> to_device_layout(const std::vector<cld>& values, real_kind k) {
  std::vector<unsigned char> bytes(values.size() * 2 * real_bytes(k));
  if (k == real_kind::double_precision)
    write_reals<double>(values, bytes.data());
  else
    write_reals<float>(values, bytes.data());
  return bytes;
}

std::vector<cld> from_device_layout(const std::vector<unsigned char>& bytes, real_kind k) {
  return k == real_kind::double_precision ? read_reals<double>(bytes) : read_reals<float>(bytes);
}

std::vector<cld> rounded_to(const std::vector<cld>& values, real_kind k) {
  return from_device_layout(to_device_layout(values, k), k);
}

opencl_runner& opencl_runner::instance() {
  static opencl_runner runner;
  return runner;
}

opencl_runner::opencl_runner() {
  cl_platform_id platform = nullptr;
  cl_uint count = 0;
  if (clGetPlatformIDs(1, &platform, &count) != CL_SUCCESS || count == 0) return;
  if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device_, &count) != CL_SUCCESS || count == 0)
    return;
  cl_int status = CL_SUCCESS;
  context_ = clCreateContext(nullptr, 1, &device_, nullptr, nullptr, &status);
  if (status != CL_SUCCESS) return;
  queue_ = clCreateCommandQueue(context_, device_, 0, &status);
  if (status != CL_SUCCESS) queue_ = nullptr;
}

opencl_runner::~opencl_runner() {
  for (auto& p : programs_) clReleaseProgram(p.second);
  if (queue_) clReleaseCommandQueue(queue_);
  if (context_) clReleaseContext(context_);
}

std::string opencl_runner::device_name() const {
  char name[256] = {};
  if (device_) clGetDeviceInfo(device_, CL_DEVICE_NAME, sizeof name - 1, name, nullptr);
  return name;
}

cl_program opencl_runner::program(const std::string& source, const std::string& options,
                                  std::string* log) {
  const std::string key = options + '\n' + source;
  const auto kept = programs_.find(key);
  if (kept != programs_.end()) return kept->second;
  const char* text = source.c_str();
  cl_int status = CL_SUCCESS;
  cl_program p = clCreateProgramWithSource(context_, 1, &text, nullptr, &status);
  check(status, "clCreateProgramWithSource");
  if (clBuildProgram(p, 1, &device_, options.c_str(), nullptr, nullptr) != CL_SUCCESS) {
    std::size_t size = 0;
    clGetProgramBuildInfo(p, device_, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
    std::string build_log(size, '\0');
    clGetProgramBuildInfo(p, device_, CL_PROGRAM_BUILD_LOG, size, &build_log[0], nullptr);
    if (log) *log = build_log;
    clReleaseProgram(p);
    return nullptr;
  }
  programs_[key] = p;
  return p;
}

void opencl_runner::run(cl_program program, const std::string& kernel,
                        const std::vector<std::size_t>& global,
                        std::vector<std::vector<unsigned char>>& buffers,
                        const std::vector<kernel_arg>& args) {
  cl_int status = CL_SUCCESS;
  kernel_handle k;
  k.k = clCreateKernel(program, kernel.c_str(), &status);
  check(status, ("clCreateKernel " + kernel).c_str());
  buffer_set mems;
  for (auto& b : buffers) {
    mems.mems.push_back(clCreateBuffer(context_, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR,
                                       b.size(), b.data(), &status));
    check(status, "clCreateBuffer");
  }
  for (cl_uint i = 0; i < args.size(); ++i) {
    const kernel_arg& a = args[i];
    if (a.kind == kernel_arg::buffer)
      status = clSetKernelArg(k.k, i, sizeof(cl_mem), &mems.mems.at(a.index_or_value));
    else
      status = clSetKernelArg(k.k, i, sizeof(std::uint32_t), &a.index_or_value);
    check(status, "clSetKernelArg");
  }
  check(clEnqueueNDRangeKernel(queue_, k.k, static_cast<cl_uint>(global.size()), nullptr,
                               global.data(), nullptr, 0, nullptr, nullptr),
        "clEnqueueNDRangeKernel");
  for (std::size_t i = 0; i < buffers.size(); ++i)
    check(clEnqueueReadBuffer(queue_, mems.mems[i], CL_TRUE, 0, buffers[i].size(), buffers[i].data(),
                              0, nullptr, nullptr),
          "clEnqueueReadBuffer");
}

}  // namespace qez_kernels_test
