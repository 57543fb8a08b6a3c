// The binary_test code as the finished qxbin image carries it: built by the
// test-kernel builder for one architecture and read back from the ELF image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tests/zorn/encoders/field_reader.hpp"
#include "tests/zorn/image/image_test_support.hpp"

namespace zorn_test {

// The ".text.binary_test" section of the image built for `arch`; empty (with
// a test failure recorded) when the builder gives no image.
Bytes binary_test_image_code(std::uint32_t arch);

// Instruction `index` of the code as four little-endian dwords.
Words words_at(const Bytes& code, std::size_t index);

}  // namespace zorn_test
