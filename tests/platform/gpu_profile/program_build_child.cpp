// A process of concurrent_build_test: makes a program from the source file
// it is given, says "ready" on standard output, waits for standard input to
// close, then builds (or compiles) it with its options.
//   program_build_child build|compile <source file> <options>
// Exits 0 when the build succeeded.
#include <CL/cl.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int fail(const char* what, cl_int code) {
  std::fprintf(stderr, "program_build_child: %s failed (%d)\n", what, code);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: program_build_child build|compile <source file> <options>\n");
    return 2;
  }
  const std::string kind = argv[1];
  std::ifstream file(argv[2]);
  const std::string source((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const char* options = argv[3];

  cl_platform_id platform = nullptr;
  cl_device_id device = nullptr;
  cl_int err = clGetPlatformIDs(1, &platform, nullptr);
  if (err != CL_SUCCESS) return fail("clGetPlatformIDs", err);
  err = clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr);
  if (err != CL_SUCCESS) return fail("clGetDeviceIDs", err);
  cl_context context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  if (err != CL_SUCCESS) return fail("clCreateContext", err);
  const char* text = source.c_str();
  cl_program program = clCreateProgramWithSource(context, 1, &text, nullptr, &err);
  if (err != CL_SUCCESS) return fail("clCreateProgramWithSource", err);

  std::printf("ready\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }

  err = kind == "build" ? clBuildProgram(program, 1, &device, options, nullptr, nullptr)
                        : clCompileProgram(program, 1, &device, options, 0, nullptr, nullptr, nullptr, nullptr);
  clReleaseProgram(program);
  clReleaseContext(context);
  return err == CL_SUCCESS ? 0 : fail(kind.c_str(), err);
}
