// A thin RAII layer over the plain OpenCL API for running generated program
// texts on the first device found (PoCL here): one context and queue for the
// whole test program, programs built once per option line and kept.
#pragma once

// The runner keeps to OpenCL 1.2 calls (clCreateCommandQueue, deprecated
// since 2.0).
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#include <CL/cl.h>

#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/reference_dft.hpp"

namespace qez_kernels_test {

using qez_test::cld;

enum class real_kind { single_precision, double_precision };
enum class direction { forward, backward };

const char* name_of(real_kind k);
const char* name_of(direction d);
long double epsilon_of(real_kind k);
std::size_t real_bytes(real_kind k);

// Complex values as the device sees them: interleaved reals of the precision.
std::vector<unsigned char> to_device_layout(const std::vector<cld>& values, real_kind k);
std::vector<cld> from_device_layout(const std::vector<unsigned char>& bytes, real_kind k);
// The values rounded to the precision (what the device actually receives).
std::vector<cld> rounded_to(const std::vector<cld>& values, real_kind k);

// One kernel argument: a device buffer (given by its index in the call's
// buffer list) or a 32-bit scalar.
struct kernel_arg {
  enum kind_t { buffer, scalar_u32, scalar_i32 } kind;
  std::uint32_t index_or_value;
  static kernel_arg buf(std::uint32_t i) { return {buffer, i}; }
  static kernel_arg u32(std::uint32_t v) { return {scalar_u32, v}; }
  static kernel_arg i32(std::int32_t v) { return {scalar_i32, static_cast<std::uint32_t>(v)}; }
};

class opencl_runner {
 public:
  static opencl_runner& instance();
  ~opencl_runner();

  bool available() const { return queue_ != nullptr; }
  std::string device_name() const;

  // Builds (or returns the kept) program; on failure returns null and puts
  // the build log in *log.
  cl_program program(const std::string& source, const std::string& options, std::string* log);

  // Runs `kernel` over a 1-D or 2-D global range. `buffers` are copied in
  // before the launch and read back after it.
  void run(cl_program program, const std::string& kernel, const std::vector<std::size_t>& global,
           std::vector<std::vector<unsigned char>>& buffers, const std::vector<kernel_arg>& args);

 private:
  opencl_runner();
  cl_context context_ = nullptr;
  cl_command_queue queue_ = nullptr;
  cl_device_id device_ = nullptr;
  std::map<std::string, cl_program> programs_;
};

}  // namespace qez_kernels_test
