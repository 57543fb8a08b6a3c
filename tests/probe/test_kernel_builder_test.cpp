// The test-kernel builder: the empty result where there is no generator or
// the build fails, complete Vemra and Sutal images byte for byte, every
// supported image read back by <elf.h>, binutils and libyaml, and builds
// that repeat byte for byte.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "gpu/probe/binary_test_kernel.hpp"
#include "gpu/probe/test_kernel_builder.hpp"
#include "gpu/zorn/jumps.hpp"
#include "tests/zorn/image/image_test_support.hpp"

namespace zorn = ulmara::qez::zorn;
namespace gpu = ulmara::qez::gpu;
using zorn_test::Bytes;

namespace {

struct Arm {
  std::uint32_t arch;
  zorn::HW hw;
  std::uint32_t core_family;
};
const Arm arms[] = {{1, 1, 12}, {2, 3, 16}, {3, 4, 18}, {5, 6, 0x0C07}, {6, 7, 0x0C08}, {7, 8, 0x0C09}, {8, 9, 0x1E00}};

gpu::BinaryVector* const untouched = reinterpret_cast<gpu::BinaryVector*>(0x1234);

// A build whose result the test owns.
struct Build {
  gpu::qez_gpu_binary_kernel_t record{};
  gpu::BinaryVector* holder = untouched;
  ~Build() {
    if (holder != untouched) gpu::release_binary_vector(nullptr, holder);
  }
  Bytes image() const {
    const auto* bytes = static_cast<const std::uint8_t*>(record.data);
    return Bytes(bytes, bytes + record.size);
  }
};

void expect_empty(const Build& build) {
  EXPECT_EQ(build.record.size, 0u);
  EXPECT_EQ(build.record.data, nullptr);
  EXPECT_EQ(build.record.source, nullptr);
  ASSERT_NE(build.record.source_options, nullptr);
  EXPECT_STREQ(build.record.source_options, "");
  EXPECT_EQ(build.holder, untouched);
}

// The code the builder must pack before the scoreboard analysis: the
// program of a separately built kernel with its labels resolved.
Bytes resolved_program(zorn::HW hw) {
  gpu::BinaryTestKernel kernel(hw);
  return zorn::resolve_label_fixups(kernel);
}

int skip_offset_of(zorn::HW hw) { return hw >= 6 ? 192 : 0; }

TEST(TestKernelBuilder, NoGeneratorNoImage) {
  for (std::uint32_t arch : {0u, 4u, 9u, 10u, 255u, 0xFFFFFFFFu}) {
    Build build;
    int status = 77;
    build.record = {99, reinterpret_cast<const std::uint8_t*>(&status), "x", "y"};
    gpu::build_binary_test_kernel(&status, arch, &build.record, &build.holder);
    expect_empty(build);
    EXPECT_EQ(status, 77) << arch;
  }
}

class BuilderArm : public ::testing::TestWithParam<Arm> {};

TEST_P(BuilderArm, ImageReadBack) {
  const Arm arm = GetParam();
  Build build;
  int status = 5;
  gpu::build_binary_test_kernel(&status, arm.arch, &build.record, &build.holder);
  EXPECT_EQ(status, 5);
  ASSERT_NE(build.holder, untouched);
  ASSERT_NE(build.record.data, nullptr);
  EXPECT_EQ(build.record.data, build.holder->data());
  EXPECT_EQ(build.record.size, build.holder->size());
  EXPECT_EQ(build.record.source, nullptr);
  EXPECT_STREQ(build.record.source_options, "");

  const auto elf = zorn_test::read_elf_image(build.image());
  EXPECT_EQ(elf.note.owner, "TavirGT");
  EXPECT_EQ(elf.note.type, 2u);
  EXPECT_EQ(elf.note.descriptor, arm.core_family);
  const auto& text = zorn_test::section_named(elf, ".text.binary_test");
  // From Dorik on the analysis rewrites the fields (scoreboard_image_test.cpp);
  // the length stays, as the kernel needs no inserted instruction.
  if (arm.hw < 4) EXPECT_EQ(text.data, resolved_program(arm.hw));
  else EXPECT_EQ(text.data.size(), resolved_program(arm.hw).size());
  EXPECT_EQ(text.header.sh_offset, 480u + ((zorn_test::section_named(elf, ".qx_info").data.size() + 15) & ~15ull));

  const auto& info = zorn_test::section_named(elf, ".qx_info").data;
  const std::string qxinfo(info.begin(), info.end());
  EXPECT_EQ(qxinfo, zorn_test::expected_binary_test_qxinfo(arm.hw, skip_offset_of(arm.hw)));
  const zorn_test::YamlNode root = zorn_test::parse_yaml(qxinfo);
  const auto& kernel = root["kernels"].items.at(0);
  EXPECT_EQ(kernel["name"].scalar, "binary_test");
  EXPECT_EQ(kernel["execution_env"]["simd_size"].scalar, arm.hw >= 7 ? "16" : "8");
  EXPECT_EQ(kernel["execution_env"].has("offset_to_skip_per_thread_data_load"), arm.hw >= 6);
  if (arm.hw >= 6) {
    EXPECT_EQ(kernel["execution_env"]["offset_to_skip_per_thread_data_load"].scalar, "192");
  }
}

TEST_P(BuilderArm, TwoBuildsAreByteIdentical) {
  const Arm arm = GetParam();
  Build first, second;
  gpu::build_binary_test_kernel(nullptr, arm.arch, &first.record, &first.holder);
  gpu::build_binary_test_kernel(nullptr, arm.arch, &second.record, &second.holder);
  ASSERT_NE(first.record.data, nullptr);
  EXPECT_NE(first.record.data, second.record.data);
  EXPECT_EQ(first.image(), second.image());
}

INSTANTIATE_TEST_SUITE_P(Probe, BuilderArm, ::testing::ValuesIn(arms),
                         [](const ::testing::TestParamInfo<Arm>& info) { return "arch" + std::to_string(info.param.arch); });

// --- Complete Vemra and Sutal images --------------------------------------------------

class LegacyImage : public ::testing::TestWithParam<Arm> {};

TEST_P(LegacyImage, ByteForByte) {
  const Arm arm = GetParam();
  Build build;
  gpu::build_binary_test_kernel(nullptr, arm.arch, &build.record, &build.holder);
  const Bytes code = resolved_program(arm.hw);
  ASSERT_EQ(code.size(), 544u);
  const std::string qxinfo = zorn_test::expected_binary_test_qxinfo(arm.hw, 0);
  EXPECT_EQ(build.image(), zorn_test::expected_qxbin_image("binary_test", qxinfo, code, arm.core_family));
  // Fixed points of the layout for this kernel.
  const Bytes image = build.image();
  const std::size_t T = 480 + ((qxinfo.size() + 15) & ~std::size_t{15});
  EXPECT_EQ(image.size(), T + 544);
  EXPECT_EQ(std::string(image.begin() + 455, image.begin() + 466), "binary_test");
  EXPECT_EQ(image[404], arm.core_family);
  // The first jump (byte 32 of the code) holds 432, the last (byte 448) 16.
  auto dword_at = [&](std::size_t at) {
    return std::uint32_t{image[at]} | (std::uint32_t{image[at + 1]} << 8) | (std::uint32_t{image[at + 2]} << 16) |
           (std::uint32_t{image[at + 3]} << 24);
  };
  EXPECT_EQ(dword_at(T + 32 + 12), 432u);
  EXPECT_EQ(dword_at(T + 448 + 12), 16u);
  // The split send of the store: opcode 51, shared function 10.
  EXPECT_EQ(dword_at(T + 31 * 16), 0x0A000033u);
}

TEST_P(LegacyImage, ReadelfAndObjdump) {
  const Arm arm = GetParam();
  Build build;
  gpu::build_binary_test_kernel(nullptr, arm.arch, &build.record, &build.holder);
  const zorn_test::TempFile file(build.image());

  const auto [readelf_status, headers] = zorn_test::run_command("readelf -W -h -S " + file.path() + " 2>&1");
  ASSERT_EQ(readelf_status, 0) << headers;
  EXPECT_EQ(headers.find("Warning"), std::string::npos) << headers;
  EXPECT_EQ(zorn_test::readelf_header_value(headers, "Number of section headers"), "5");
  const auto rows = zorn_test::parse_readelf_sections(headers);
  ASSERT_EQ(rows.size(), 5u) << headers;
  const std::string qxinfo = zorn_test::expected_binary_test_qxinfo(arm.hw, 0);
  EXPECT_EQ(rows[2].name, ".qx_info");
  EXPECT_EQ(rows[2].offset, 480u);
  EXPECT_EQ(rows[2].size, qxinfo.size());
  EXPECT_EQ(rows[3].name, ".text.binary_test");
  EXPECT_EQ(rows[3].size, 544u);
  EXPECT_EQ(rows[3].offset, 480u + ((qxinfo.size() + 15) & ~std::size_t{15}));

  const auto [objdump_status, dump] = zorn_test::run_command("objdump -h -s " + file.path() + " 2>&1");
  ASSERT_EQ(objdump_status, 0) << dump;
  const Bytes text = zorn_test::parse_objdump_contents(dump, ".text.binary_test");
  EXPECT_EQ(text, resolved_program(arm.hw));
  const Bytes info = zorn_test::parse_objdump_contents(dump, ".qx_info");
  EXPECT_EQ(std::string(info.begin(), info.end()), qxinfo);
}

INSTANTIATE_TEST_SUITE_P(Probe, LegacyImage, ::testing::Values(arms[0], arms[1]),
                         [](const ::testing::TestParamInfo<Arm>& info) { return "arch" + std::to_string(info.param.arch); });

// --- Failures inside the build ----------------------------------------------------------

TEST(TestKernelBuilder, DanglingLabelInFinalisationGivesEmptyResult) {
  for (const Arm& arm : arms) {
    Build build;
    gpu::build_test_kernel_image(
        arm.arch,
        [](zorn::HW hw) -> std::unique_ptr<zorn::CodeGenerator> {
          auto kernel = std::make_unique<gpu::BinaryTestKernel>(hw);
          zorn::Label nowhere;
          zorn::emit_jmpi_hw4(*kernel, zorn::InstructionModifier(1), nowhere);
          return kernel;
        },
        &build.record, &build.holder);
    expect_empty(build);
  }
}

TEST(TestKernelBuilder, UnfinishedStreamGivesEmptyResult) {
  Build build;
  gpu::build_test_kernel_image(
      1,
      [](zorn::HW hw) -> std::unique_ptr<zorn::CodeGenerator> {
        auto kernel = std::make_unique<gpu::BinaryTestKernel>(hw);
        kernel->push_stream();
        return kernel;
      },
      &build.record, &build.holder);
  expect_empty(build);
}

TEST(TestKernelBuilder, ExceptionOfAnyTypeGivesEmptyResult) {
  Build build;
  gpu::build_test_kernel_image(
      6, [](zorn::HW) -> std::unique_ptr<zorn::CodeGenerator> { throw 42; }, &build.record, &build.holder);
  expect_empty(build);
  Build other;
  gpu::build_test_kernel_image(
      7, [](zorn::HW) -> std::unique_ptr<zorn::CodeGenerator> { throw std::logic_error("x"); }, &other.record,
      &other.holder);
  expect_empty(other);
}

}  // namespace
