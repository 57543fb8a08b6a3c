#include "tests/probe/binary_test_image.hpp"

#include <gtest/gtest.h>

#include "gpu/probe/test_kernel_builder.hpp"

namespace gpu = ulmara::qez::gpu;

namespace zorn_test {

Bytes binary_test_image_code(std::uint32_t arch) {
  gpu::qez_gpu_binary_kernel_t record{};
  gpu::BinaryVector* holder = nullptr;
  gpu::build_binary_test_kernel(nullptr, arch, &record, &holder);
  EXPECT_NE(holder, nullptr) << "no image for architecture " << arch;
  if (!holder) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(record.data);
  const auto elf = read_elf_image(Bytes(bytes, bytes + record.size));
  Bytes code = section_named(elf, ".text.binary_test").data;
  gpu::release_binary_vector(nullptr, holder);
  return code;
}

Words words_at(const Bytes& code, std::size_t index) {
  Words w{};
  for (std::size_t d = 0; d < 4; ++d)
    for (std::size_t b = 0; b < 4; ++b) w[d] |= std::uint32_t{code[16 * index + 4 * d + b]} << (8 * b);
  return w;
}

}  // namespace zorn_test
