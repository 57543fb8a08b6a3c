// Exceptions raised inside GPU architecture detection. Detection catches them
// all and ends with an unknown architecture; parse_compat_note lets the
// npack ones reach its caller.
#pragma once

#include <stdexcept>
#include <string>

namespace ulmara::qez::zorn {

class opencl_error : public std::runtime_error {
public:
  explicit opencl_error(int code)
      : std::runtime_error("An OpenCL error occurred: " + std::to_string(code)), code_(code) {}
  int code() const { return code_; }

private:
  int code_;
};

class nivolo_error : public std::runtime_error {
public:
  explicit nivolo_error(unsigned code) : std::runtime_error("A Nivolo error occurred."), code_(code) {}
  unsigned code() const { return code_; }

private:
  unsigned code_;
};

class unsupported_sycl_device : public std::runtime_error {
public:
  unsupported_sycl_device() : std::runtime_error("Unsupported SYCL device.") {}
};

namespace npack {

class bad_elf : public std::runtime_error {
public:
  bad_elf()
      : std::runtime_error("Incompatible OpenCL runtime: program is not in expected ELF format.") {}
};

class no_binary_section : public std::runtime_error {
public:
  no_binary_section() : std::runtime_error("Incompatible OpenCL runtime: no binary section found.") {}
};

class bad_binary_section : public std::runtime_error {
public:
  bad_binary_section()
      : std::runtime_error("Incompatible OpenCL runtime: invalid binary section.") {}
};

}  // namespace npack
}  // namespace ulmara::qez::zorn
