#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "dft/gpu/kernels/program_names.hpp"

namespace ulmara::qez::dft::fused_2_facts {

namespace {

constexpr std::int64_t largest_factor = 64;
constexpr std::size_t option_bytes = 2048;

}  // namespace

factor_pair two_factor_split(std::int64_t length) {
  factor_pair best;
  if (length < 3) return best;
  std::int64_t best_difference = largest_factor;
  for (std::int64_t d = std::min<std::int64_t>(length, largest_factor + 1) - 1; d >= 2; --d) {
    if (length % d != 0) continue;
    const std::int64_t q = length / d;
    if (q < 2 || q > largest_factor) continue;
    const std::int64_t big = std::max(d, q), small = std::min(d, q);
    if (big - small < best_difference) {
      best_difference = big - small;
      best = {big, small};
    }
    if (best_difference == 0) break;
  }
  return best;
}

row_groups row_group_count(std::int64_t fact0, std::int64_t pad0, std::int64_t fact1, std::int64_t pad1) {
  const std::int64_t q0 = (fact0 + pad0) / 4;
  const std::int64_t q1 = (fact1 + pad1) / 4;
  std::int64_t g = q1;
  if (q0 >= q1)
    while (g < q0 && q0 % g != 0) ++g;
  return {g, std::max<std::int64_t>(1, q0 / g)};
}

void pass_kernel_name(char (&name)[64], std::int64_t length, const char* precision_letter, int pass) {
  kernels::copy_name(kernels::kernel_name(length, "rowbatch", precision_letter) + "_dir" + std::to_string(pass), name,
                     sizeof name);
}

void codelet_name(char (&name)[64], std::int64_t factor) {
  kernels::copy_name(kernels::codelet_name(factor), name, sizeof name);
}

std::string format_options(const option_values& v) {
  using ll = long long;
  const std::int64_t x_blocks = column_blocks(v.n0);
  char line[option_bytes];
  const int written = std::snprintf(
      line, sizeof line,
      "%s-DSUBGROUP_SIZE=%lld -DFACT1_TAIL_IN_REALS=%lld -DFACT0=%lld -DPADFACT0=%lld -DFACT1=%lld "
      "-DPADFACT1=%lld -DKERNEL_FUNC0=%s -DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d "
      "-DBATCH_PER_GROUP=%lld -DBATCH_FOR_LAST_GROUP=%lld -DIDIST=%lld -DODIST=%lld "
      "-DWORK_GROUP_SIZE=%lld -DFACT1_LOOP_BOUND=%lld -DDIST_IN_X_DIR=%lld -DDIST_IN_Y_DIR=%lld "
      "-DDIST_IN_Z_DIR=%lld -DBATCH_DIST=%lld -DBATCH_SIZE_IN_X_DIR=%lld -DBATCH_SIZE_IN_XY_PLANE=%lld "
      "-DKERNEL_FUNC1=%s %s%s%s-DBATCH2=%lld -DWORK_GROUP_SIZE_Y=%lld -DWORK_GROUPS_IN_X_DIR=%lld "
      "-DWORK_GROUPS_IN_A_3D_BATCH=%lld -DDIST_IN_XY_PLANE=%lld -DTAIL_READS_WRITES=%lld ",
      v.long_subgroups ? "-Dcl_tavir_subgroups_long " : "", static_cast<ll>(subgroup_size),
      static_cast<ll>((2 * v.fact1) % subgroup_size), static_cast<ll>(v.fact0), static_cast<ll>(v.pad0),
      static_cast<ll>(v.fact1), static_cast<ll>(v.pad1), v.kernel_func0, v.fact0_func, v.fact1_func,
      v.forward, 1 - v.forward, static_cast<ll>(v.batch_per_group), static_cast<ll>(v.batch_for_last_group),
      static_cast<ll>(v.n0), static_cast<ll>(v.n0), static_cast<ll>(v.work_group_size),
      static_cast<ll>(v.loop_bound), 1LL, static_cast<ll>(v.n0), static_cast<ll>(v.n0 * v.n1),
      static_cast<ll>(v.batch_dist), static_cast<ll>(v.n0), static_cast<ll>(v.n0 * v.n1), v.kernel_func1,
      v.kernel_func2 != nullptr ? "-DKERNEL_FUNC2=" : "", v.kernel_func2 != nullptr ? v.kernel_func2 : "",
      v.kernel_func2 != nullptr ? " " : "", static_cast<ll>(v.transforms),
      static_cast<ll>(v.fact0 * subgroup_size), static_cast<ll>(x_blocks), static_cast<ll>(v.n1 * x_blocks),
      static_cast<ll>(v.n0 * v.n1), static_cast<ll>((2 * v.n0) % subgroup_size));
  if (written < 0) return std::string();
  return std::string(line);
}

byte_buffer* table_view(byte_buffer* workspace, std::uint64_t offset, std::uint64_t bytes) {
  if (workspace == nullptr) return nullptr;
  if (workspace->is_sub_buffer())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid), "Cannot create sub buffer from sub buffer.");
  if (offset + bytes > workspace->byte_size())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                          "Requested sub-buffer size exceeds the size of the parent buffer");
  return new byte_buffer(*workspace, sycl::id<1>(offset), sycl::range<1>(bytes),
                         sycl::detail::code_location(__FILE__, "add_workspace", __LINE__, 0));
}

}  // namespace ulmara::qez::dft::fused_2_facts
