// The kernels of the real 1D program family: which ones a plan
// needs, their build options, and their release.
#include <cstdio>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_1d/plan.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::r2c_1d {

namespace {

constexpr auto program_names =
    kernels::cache_program_names(kernels::family_r2c_1d_def, ".qez_dft_gpu_bkd_r2c_1d_main_sycl");
constexpr const char options_format[] =
    "%s%s-DIS=%lld -DOS=%lld -DFWD_D=%lld -DBWD_D=%lld -DTD=%lld -DNUM_PTS=%lld -DN_IS_EVEN=%lld ";
constexpr const char odd_batch_format[] = "-DODDBATCH_SZ=%lld ";
constexpr std::size_t options_bytes = 512;

// Which kernels a plan needs: its direction, and whether N must be even,
// odd, or either.
enum class parity { any, even_only, odd_only };
struct kernel_row {
  kernel_slot slot;
  plan_basics::direction direction;
  parity needs;
  const char* base_name;
  bool copy;  // a copy kernel (takes ODDBATCH_SZ)
};
constexpr kernel_row kernel_rows[kernel_slot_count] = {
    {kernel_r2c, plan_basics::dir_forward, parity::even_only, "r2c_kernel", false},
    {kernel_c2r, plan_basics::dir_backward, parity::even_only, "c2r_kernel", false},
    {kernel_fwd_input_copy, plan_basics::dir_forward, parity::any, "fwd_input_copy", true},
    {kernel_fwd_output_copy, plan_basics::dir_forward, parity::odd_only, "fwd_output_copy", true},
    {kernel_bwd_input_copy, plan_basics::dir_backward, parity::odd_only, "bwd_input_copy", true},
    {kernel_bwd_output_copy, plan_basics::dir_backward, parity::any, "bwd_output_copy", true},
};

bool needed(const kernel_row& row, const block& b) {
  if (!plan_basics::serves(b.directions, row.direction)) return false;
  if (row.needs == parity::even_only) return b.even();
  if (row.needs == parity::odd_only) return !b.even();
  return true;
}

using plan_basics::ll;

struct stride_pair {
  std::int64_t in, out;
};

// Strides a kernel of the direction reads and writes: input and output
// strides, or the domain strides in the direction's order.
stride_pair strides_of(const block& b, plan_basics::direction d) {
  if (b.input_stride != 0 || b.output_stride != 0) return {b.input_stride, b.output_stride};
  if (b.forward_stride < 1 || b.backward_stride < 1) return {0, 0};
  return d == plan_basics::dir_forward ? stride_pair{b.forward_stride, b.backward_stride}
                                 : stride_pair{b.backward_stride, b.forward_stride};
}

// Real-side distance (in reals) and complex-side distance (in complex values).
stride_pair distances_of(const block& b, plan_basics::direction d) {
  if (b.io_distances == 0) return {b.forward_distance, b.backward_distance};
  return d == plan_basics::dir_forward ? stride_pair{b.input_distance, b.output_distance}
                                 : stride_pair{b.output_distance, b.input_distance};
}

std::string options_of(const block& b, const kernel_row& row) {
  const bool forward = row.direction == plan_basics::dir_forward;
  const stride_pair s = strides_of(b, row.direction);
  const stride_pair d = distances_of(b, row.direction);
  option_text o(options_bytes, option_overflow::keep_prefix);
  o.add(options_format, forward ? "-DFWD " : "", forward ? "" : "-DBWD ", ll(s.in), ll(s.out), ll(d.in), ll(d.out),
        ll(b.child_length), ll(b.n), ll(b.even() ? 1 : 0));
  const bool odd_batch = !b.even() && b.count % 2 == 1;
  if (row.copy && odd_batch) o.add(odd_batch_format, ll(b.count));
  return o.str();
}

}  // namespace

template <class T>
int build_r2c_kernels(block* b) {
  const char* program = program_names.of(is_double<T>());
  const char* source = kernels::program_text_r2c_1d_def(is_double<T>());
  const char* letter = is_double<T>() ? "d" : "s";
  for (const kernel_row& row : kernel_rows) {
    if (!needed(row, *b)) continue;
    char name[64];
    std::snprintf(name, sizeof name, "%s_%s", row.base_name, letter);
    const std::string options = options_of(*b, row);
    sycl::kernel* built = nullptr;
    const int status = build_cached_kernel({b->queue, program, source, name, options.c_str()}, built);
    b->kernels[row.slot].reset(built);
    if (status != status_success) return status;
  }
  return status_success;
}

void release_kernels(block* b) {
  for (kernel_handle& k : b->kernels) k.reset();
}

void kernel_release::operator()(sycl::kernel* k) const { release_kernel_handle(k); }

template int build_r2c_kernels<float>(block*);
template int build_r2c_kernels<double>(block*);

}  // namespace ulmara::qez::dft::r2c_1d
