// Acceptance, planning and release of the real one-dimensional backend, and
// its backend tables.
#include <algorithm>
#include <limits>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_1d/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace r2c_1d {

namespace {

// ---------------------------------------------------------------------------
// Layout checks.

// Real-side and complex-side distance (or stride) of a direction.
struct distance_pair {
  std::int64_t real;
  std::int64_t complex;
};

distance_pair distances_of(const block& b, plan_basics::direction d) {
  if (b.io_distances != 0)
    return d == plan_basics::dir_forward ? distance_pair{b.input_distance, b.output_distance}
                                   : distance_pair{b.output_distance, b.input_distance};
  return {b.forward_distance, b.backward_distance};
}

// The input/output strides when both are given, else the domain strides.
distance_pair strides_of(const block& b, plan_basics::direction d) {
  if (b.input_stride != 0 && b.output_stride != 0)
    return d == plan_basics::dir_forward ? distance_pair{b.input_stride, b.output_stride}
                                   : distance_pair{b.output_stride, b.input_stride};
  return {b.forward_stride, b.backward_stride};
}

std::int64_t greatest_common_divisor(std::int64_t a, std::int64_t b) {
  while (b != 0) {
    const std::int64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

// `count` lines of `length` elements, `stride` apart within a line and
// `distance` apart from line to line, share an element. Two elements meet
// when dt x distance = dk x stride with 0 < |dt| < count or 0 < |dk| <
// length; the smallest such pair is (stride, distance) / gcd.
bool lines_overlap(std::int64_t count, std::int64_t length, std::int64_t stride, std::int64_t distance) {
  if (length > 1 && stride == 0) return true;
  if (count < 2) return false;
  if (distance == 0) return true;
  if (length < 2) return false;
  const std::int64_t g = greatest_common_divisor(stride, distance);
  return stride / g < count && distance / g < length;
}

// Every transform keeps its N reals and its N/2+1 complex values to itself,
// at any strides. The complex side needs N/2+1 values, not N/2: the value
// N/2 of one transform must not land on value 0 of the next. In place the
// real distance is twice the complex one, so both sides start together.
bool usable(const block& b, plan_basics::direction d, bool in_place) {
  const distance_pair distance = distances_of(b, d);
  const distance_pair stride = strides_of(b, d);
  if (in_place && distance.real != 2 * distance.complex) return false;
  return !lines_overlap(b.count, b.n, stride.real, distance.real) &&
         !lines_overlap(b.count, b.half_length + 1, stride.complex, distance.complex);
}

bool layout_fits(const block& b, bool in_place) {
  if (in_place && (b.input_stride != b.output_stride || b.forward_stride != b.backward_stride))
    return false;
  if (b.count < 2) return true;
  const bool forward = usable(b, plan_basics::dir_forward, in_place);
  const bool backward = usable(b, plan_basics::dir_backward, in_place);
  switch (b.directions) {
    case directions_forward: return forward;
    case directions_backward: return backward;
    default: return forward || backward;
  }
}

// ---------------------------------------------------------------------------
// Planning.

void copy_layout(block& b, const DFTI_DESCRIPTOR* r) {
  const dim_record& length = r->work_lengths.records[0];
  b.n = length.length;
  b.half_length = b.n / 2;
  b.input_stride = length.input;
  b.output_stride = length.output;
  b.forward_stride = length.forward;
  b.backward_stride = length.backward;
  const dim_record& batch = r->work_batch.records[0];
  b.count = batch.length;
  copy_batch_distances(b, batch);
}

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t p;
  return __builtin_mul_overflow(a, b, &p) ? std::numeric_limits<std::uint64_t>::max() : p;
}

template <class T>
void plan_groups(block& b) {
  b.child_length = b.even() ? b.half_length : b.n;
  const std::uint64_t row_bytes = static_cast<std::uint64_t>(b.child_length) * complex_bytes<T>();
  const std::uint64_t cap = temp_cap(b.architecture);
  const std::uint64_t all_rows =
      saturating_product(static_cast<std::uint64_t>(rows_for(b.count, b.even())), row_bytes);
  b.temp_size = all_rows < cap ? all_rows : std::max(row_bytes, cap);
  const auto rows_per_group = static_cast<std::int64_t>(b.temp_size / row_bytes);
  if (b.even()) {
    b.group_batch = rows_per_group;
    b.twiddle_size = static_cast<std::uint64_t>(b.half_length) * complex_bytes<T>();
  } else {
    b.group_batch = std::min(b.count, 2 * rows_per_group);
    b.twiddle_size = 0;
  }
  b.remainder_batch = b.count % b.group_batch;
}

const DFTI_DESCRIPTOR* child_of(const block& b, child_slot which) { return b.children[which].get(); }

// Persistent part: the children's, the twiddle table and (when the children
// need scratch of their own) the temp. Scratch part: the children's largest,
// else the temp.
void size_workspace(block& b, DFTI_DESCRIPTOR* r) {
  std::uint64_t persistent = b.twiddle_size;
  std::uint64_t scratch = 0;
  for (child_slot s : {child_main, child_remainder}) {
    if (const DFTI_DESCRIPTOR* c = child_of(b, s)) {
      persistent += c->workspace_bytes[workspace_part_twiddles];
      scratch = std::max(scratch, c->workspace_bytes[workspace_part_scratch]);
    }
  }
  b.temp_in_persistent = scratch != 0;
  if (b.temp_in_persistent)
    persistent += b.temp_size;
  else
    scratch = std::max(scratch, b.temp_size);
  r->workspace_bytes[workspace_part_twiddles] = persistent;
  r->workspace_bytes[workspace_part_scratch] = scratch;
}

}  // namespace

int acceptance(const DFTI_DESCRIPTOR* r) {
  const bool takes = common_acceptance(r) && real_conjugate_even_packed(r) &&
                     working_rank(r) == 1;
  return takes ? status_success : status_not_handled;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* r) {
  block* b = create_block<block>(r);
  if (b == nullptr) return status_allocation_failed;
  b->queue = static_cast<sycl::queue*>(r->queue);
  if (b->queue == nullptr) return status_not_handled;
  b->in_order = r->offload_mode == offload_none && b->queue->is_in_order();

  int arch_status = 0;
  b->architecture = gpu::get_architecture(&arch_status, b->queue);
  if (arch_status != 0) return status_not_handled;
  b->directions = r->directions;

  copy_layout(*b, r);
  if (b->n < 1 || b->count < 1 || !layout_fits(*b, r->placement == dfti_inplace))
    return status_not_handled;
  plan_groups<T>(*b);

  int status = create_r2c_complex_child<T>(r, child_main);
  if (status == status_success && b->remainder_batch > 0)
    status = create_r2c_complex_child<T>(r, child_remainder);
  if (status == status_success) status = build_r2c_kernels<T>(b);
  if (status != status_success) return status;

  b->temp_size = pad_to_base_addr_align(b->temp_size, b->queue);
  if (b->twiddle_size != 0) b->twiddle_size = pad_to_base_addr_align(b->twiddle_size, b->queue);
  size_workspace(*b, r);
  if (r->workspace_internal != 0) return create_and_initialize_internal_workspaces<T>(r);
  return status_success;
}

void bkd_destroy(DFTI_DESCRIPTOR* r) {
  block* b = block_of(r);
  if (b == nullptr) return;
  for (child_handle& c : b->children) c.reset();
  bkd_free_buffers(b, workspace_part_both);
  release_kernels(b);
  destroy_block<block>(r);
}

#define QEZ_INSTANTIATE(T) template int bkd_init<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace r2c_1d

QEZ_DEFINE_BACKEND_TABLES(dft_r2c_1d_main_gpu_bkd, r2c_1d)

}  // namespace ulmara::qez::dft
