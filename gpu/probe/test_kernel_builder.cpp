// The test-kernel builder: one arm per architecture with a generator.
#include "gpu/probe/test_kernel_builder.hpp"

#include <array>
#include <memory>
#include <optional>

#include "gpu/probe/binary_test_kernel.hpp"
#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/kernel_finalization.hpp"
#include "gpu/zorn/qxbin_image.hpp"

namespace ulmara::qez::gpu {
namespace {

namespace hw = zorn::hw;

constexpr char no_build_options[] = "";

// Jorva analyses with 32 tokens only for kernels with 256 registers or more.
constexpr std::int32_t jorva_large_register_count = 256;
constexpr std::uint32_t tokens_small = 16;
constexpr std::uint32_t tokens_large = 32;

enum class TokenRule { none, fixed, by_register_count };

// One arm of the dispatch: architecture, generation, scoreboard analysis
// (its HW and tokens) and the per-thread skip-offset step. The note value is
// the generation's core family (qxbin_core_family).
struct BuilderArm {
  GpuArchitectureNumber arch;
  zorn::HW hw;
  TokenRule tokens_rule;
  std::uint32_t tokens;
  bool per_thread_skip_offset;
};

constexpr std::array<BuilderArm, 7> arms{{
    {1, hw::vemra, TokenRule::none, 0, false},
    {2, hw::sutal, TokenRule::none, 0, false},
    {3, hw::dorik, TokenRule::fixed, tokens_small, false},
    {5, hw::gulon, TokenRule::fixed, tokens_small, true},
    {6, hw::harix, TokenRule::fixed, tokens_large, true},
    {7, hw::jorva, TokenRule::by_register_count, 0, true},
    {8, hw::lumet, TokenRule::fixed, tokens_large, true},
}};

const BuilderArm* arm_of(GpuArchitectureNumber arch) {
  for (const BuilderArm& arm : arms)
    if (arm.arch == arch) return &arm;
  return nullptr;
}

std::optional<zorn::ScoreboardParameters> scoreboard_of(const BuilderArm& arm, const zorn::CodeGenerator& generator) {
  switch (arm.tokens_rule) {
    case TokenRule::none: return std::nullopt;
    case TokenRule::fixed: return zorn::ScoreboardParameters{arm.hw, arm.tokens};
    case TokenRule::by_register_count:
      return zorn::ScoreboardParameters{
          arm.hw, generator.register_count < jorva_large_register_count ? tokens_small : tokens_large};
  }
  return std::nullopt;
}

std::unique_ptr<BinaryVector> build_image(const BuilderArm& arm, const TestKernelFactory& make_kernel) {
  const std::unique_ptr<zorn::CodeGenerator> kernel = make_kernel(arm.hw);
  if (!kernel) throw zorn::invalid_object_exception();
  auto holder = std::make_unique<BinaryVector>();
  const zorn::FinalizationSettings settings{scoreboard_of(arm, *kernel), arm.per_thread_skip_offset,
                                            zorn::qxbin_core_family(arm.hw)};
  *holder = zorn::finalize_kernel_image(*kernel, settings);
  return holder;
}

std::unique_ptr<zorn::CodeGenerator> make_binary_test_kernel(zorn::HW generation) {
  return std::make_unique<BinaryTestKernel>(generation);
}

}  // namespace

void build_binary_test_kernel(int* /*status*/, GpuArchitectureNumber arch, qez_gpu_binary_kernel_t* binary,
                              BinaryVector** holder_out) noexcept {
  build_test_kernel_image(arch, make_binary_test_kernel, binary, holder_out);
}

void build_test_kernel_image(GpuArchitectureNumber arch, const TestKernelFactory& make_kernel,
                             qez_gpu_binary_kernel_t* binary, BinaryVector** holder_out) noexcept {
  *binary = qez_gpu_binary_kernel_t{0, nullptr, nullptr, no_build_options};
  const BuilderArm* arm = arm_of(arch);
  if (arm == nullptr) return;
  try {
    std::unique_ptr<BinaryVector> holder = build_image(*arm, make_kernel);
    binary->size = holder->size();
    binary->data = holder->data();
    *holder_out = holder.release();
  } catch (...) {
    // Any failure, whatever its type, is the no-image answer.
    *binary = qez_gpu_binary_kernel_t{0, nullptr, nullptr, no_build_options};
  }
}

void release_binary_vector(int* /*status*/, BinaryVector* holder) noexcept { delete holder; }

}  // namespace ulmara::qez::gpu
