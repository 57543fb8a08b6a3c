// Acceptance, layout cases, planning and release of the composite real
// backends, and their backend tables.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "dft/api/default_strides.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_md/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft {
namespace r2c_md {

namespace {

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t p;
  return __builtin_mul_overflow(a, b, &p) ? std::numeric_limits<std::uint64_t>::max() / 2 : p;
}

std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b) {
  std::uint64_t s;
  return __builtin_add_overflow(a, b, &s) ? std::numeric_limits<std::uint64_t>::max() / 2 : s;
}

// |v| for every int64_t, the most negative included.
std::uint64_t magnitude(std::int64_t v) {
  return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

// Products of configured lengths, strides and distances, which may be any
// 64-bit values: saturated at INT64_MAX, so that every "at least this
// product" test below refuses its case rather than overflow.
std::int64_t bounded_product(std::int64_t a, std::int64_t b) { return dft::saturating_product(a, b); }

std::int64_t side_value(std::int64_t domain_value, std::int64_t fallback) {
  return domain_value != 0 ? domain_value : fallback;
}

void copy_batch(block& b, const DFTI_DESCRIPTOR* r) {
  const dim_record& batch = r->work_batch.records[0];
  b.count = batch.length;
  copy_batch_distances(b, batch);
}

// Case 3: dimensions nested in reverse order, transforms innermost.
bool reversed_layout(const framing& f) {
  const std::int32_t last = f.last();
  if (f.count >= 2 &&
      (f.real[last] < bounded_product(f.count, f.complex_distance) ||
       f.real[last] < bounded_product(f.count, f.real_distance)))
    return false;
  for (std::int32_t d = 0; d < last; ++d)
    if (f.real[d] < bounded_product(f.lengths[d + 1], f.real[d + 1]) ||
        f.complex[d] < bounded_product(f.lengths[d + 1], f.complex[d + 1]))
      return false;
  return true;
}

// Elements (1 + the largest index) that the input's complex layout spans;
// saturated like the workspace sizes made from it.
std::uint64_t complex_span(const framing& f) {
  std::uint64_t span = saturating_sum(1, saturating_product(static_cast<std::uint64_t>(f.half() - 1), magnitude(f.complex[0])));
  for (std::int32_t d = 1; d < f.rank; ++d)
    span = saturating_sum(span, saturating_product(static_cast<std::uint64_t>(f.lengths[d] - 1), magnitude(f.complex[d])));
  if (f.count >= 2)
    span = saturating_sum(span, saturating_product(static_cast<std::uint64_t>(f.count - 1), magnitude(f.complex_distance)));
  return span;
}

template <class T>
void choose_layout_case(const DFTI_DESCRIPTOR* r, block& b) {
  constexpr std::uint64_t element = 2 * sizeof(T);
  const framing f = framing_of(r, b, plan_basics::dir_backward);
  std::uint64_t packed = saturating_product(saturating_product(b.count, element), f.half());
  for (std::int32_t d = 1; d < f.rank; ++d) packed = saturating_product(packed, f.lengths[d]);
  if (r->placement == dfti_inplace || (r->options & option_destroy_input) != 0) {
    b.layout = case_in_input;
    b.temp_size = 0;
  } else if (check_r2c_md_layout(r)) {
    b.layout = case_packed_outermost;
    b.temp_size = packed;
  } else if (reversed_layout(f)) {
    b.layout = case_packed_reversed;
    b.temp_size = packed;
  } else {
    b.layout = case_complex_layout;
    std::uint64_t widest = static_cast<std::uint64_t>(f.half() * f.complex[0]);
    for (std::int32_t d = 1; d < f.rank; ++d)
      widest = std::max<std::uint64_t>(widest, static_cast<std::uint64_t>(f.lengths[d] * f.complex[d]));
    // The intermediate keeps the input's complex distance: the temp covers
    // every index that layout reaches, even when the distance is wider than
    // the widest dimension.
    b.temp_size = saturating_product(element, std::max(saturating_product(b.count, widest), complex_span(f)));
  }
  if (b.temp_size != 0) b.temp_size = pad_to_base_addr_align(b.temp_size, b.queue);
}

bool pair_committed(const block& b, child_slot real, child_slot complex) {
  const DFTI_DESCRIPTOR* x = b.children[real];
  const DFTI_DESCRIPTOR* y = b.children[complex];
  return x != nullptr && y != nullptr && x->commit_status == dfti_committed &&
         y->commit_status == dfti_committed;
}

// Persistent: the forward pair's, then the temp and the backward pair's
// (a child shared with the forward pair counted once). Scratch: the largest
// child's.
void size_workspace(block& b, DFTI_DESCRIPTOR* r) {
  std::uint64_t persistent = 0, scratch = 0;
  const auto count_child = [&](const DFTI_DESCRIPTOR* c) {
    persistent += c->workspace_bytes[workspace_part_twiddles];
    scratch = std::max(scratch, c->workspace_bytes[workspace_part_scratch]);
  };
  if (b.forward_committed) {
    count_child(b.children[forward_real]);
    count_child(b.children[forward_complex]);
  }
  if (b.backward_committed) {
    persistent += b.temp_size;
    for (child_slot s : {backward_real, backward_complex}) {
      const child_slot twin = s == backward_real ? forward_real : forward_complex;
      if (b.forward_committed && b.children[s] == b.children[twin]) continue;
      count_child(b.children[s]);
    }
  }
  r->workspace_bytes[workspace_part_twiddles] = persistent;
  r->workspace_bytes[workspace_part_scratch] = scratch;
}

}  // namespace

framing framing_of(const DFTI_DESCRIPTOR* r, const block& b, plan_basics::direction d) {
  framing f;
  const bool forward = d == plan_basics::dir_forward;
  f.rank = std::min(r->work_lengths.count, static_cast<std::int32_t>(max_rank));
  for (std::int32_t k = 0; k < f.rank; ++k) {
    const dim_record& rec = r->work_lengths.records[k];
    f.lengths[k] = rec.length;
    f.real[k] = side_value(rec.forward, forward ? rec.input : rec.output);
    f.complex[k] = side_value(rec.backward, forward ? rec.output : rec.input);
  }
  if (b.io_distances != 0) {
    f.real_distance = forward ? b.input_distance : b.output_distance;
    f.complex_distance = forward ? b.output_distance : b.input_distance;
  } else {
    f.real_distance = b.forward_distance;
    f.complex_distance = b.backward_distance;
  }
  f.count = b.count;
  return f;
}

bool check_r2c_md_layout(const DFTI_DESCRIPTOR* r) {
  const framing f = framing_of(r, *block_of(r), plan_basics::dir_backward);
  if (f.complex[1] < f.half() * f.complex[0] || f.real[1] < f.lengths[0] * f.real[0]) return false;
  for (std::int32_t d = 2; d < f.rank; ++d)
    if (f.complex[d] < f.lengths[d - 1] * f.complex[d - 1] || f.real[d] < f.lengths[d - 1] * f.real[d - 1])
      return false;
  if (f.count >= 2) {
    const std::int32_t last = f.last();
    if (f.complex_distance < f.lengths[last] * f.complex[last] ||
        f.real_distance < f.real[last] * f.lengths[last])
      return false;
  }
  return true;
}

int plan_r2c_md_workspace(const DFTI_DESCRIPTOR* r, intermediate_layout* out) {
  const block& b = *block_of(r);
  const framing f = framing_of(r, b, plan_basics::dir_backward);
  const std::int32_t last = f.last();
  intermediate_layout t;
  switch (b.layout) {
    case case_in_input:
    case case_complex_layout:
      for (std::int32_t d = 0; d < f.rank; ++d) t.strides[d] = f.complex[d];
      t.distance = f.complex_distance;
      break;
    case case_packed_outermost:
      t.strides[0] = 1;
      t.strides[1] = f.half();
      for (std::int32_t d = 2; d < f.rank; ++d) t.strides[d] = t.strides[d - 1] * f.lengths[d - 1];
      t.distance = f.lengths[last] * t.strides[last];
      break;
    case case_packed_reversed:
      t.distance = 1;
      t.strides[last] = f.count;
      for (std::int32_t d = last - 1; d >= 0; --d) t.strides[d] = t.strides[d + 1] * f.lengths[d + 1];
      break;
    default:
      return status_not_handled;
  }
  *out = t;
  return status_success;
}

template <int rank>
int acceptance(const DFTI_DESCRIPTOR* r) {
  const bool takes = common_acceptance(r) && real_conjugate_even_packed(r) && working_rank(r) == rank;
  return takes ? status_success : status_not_handled;
}

template <class T, int rank>
int bkd_init(DFTI_DESCRIPTOR* r) {
  block* b = create_block<block>(r);
  if (b == nullptr) return status_allocation_failed;
  b->queue = static_cast<sycl::queue*>(r->queue);
  if (b->queue == nullptr) return status_not_handled;
  if (r->offload_mode == offload_none) b->in_order = b->queue->is_in_order();
  copy_batch(*b, r);
  if (b->count < 1) return status_not_handled;

  choose_layout_case<T>(r, *b);
  intermediate_layout unused;
  if (plan_r2c_md_workspace(r, &unused) != status_success) return status_not_handled;

  const int status = create_children<T, rank>(r);
  if (status != status_success) return status;
  b->forward_committed = pair_committed(*b, forward_real, forward_complex);
  b->backward_committed = pair_committed(*b, backward_real, backward_complex);
  if (!b->forward_committed && !b->backward_committed) return status_not_handled;
  size_workspace(*b, r);

  if (r->workspace_internal != 0) {
    const int made = create_two_part_internal_workspace(r, b->queue, add_workspace, b->internal_persistent,
                                                        b->internal_scratch, b->workspace_kind,
                                                        plan_basics::workspace_internal);
    if (made != status_success) return made;
  }
  if (b->temp_in_use())
    b->buffer_temp = std::make_unique<byte_buffer>(sycl::range<1>(static_cast<size_t>(b->temp_size)));
  return status_success;
}

void bkd_destroy(DFTI_DESCRIPTOR* r) {
  block* b = block_of(r);
  if (b == nullptr) return;
  if (b->children[backward_real] == b->children[forward_real]) b->children[backward_real] = nullptr;
  if (b->children[backward_complex] == b->children[forward_complex]) b->children[backward_complex] = nullptr;
  for (DFTI_DESCRIPTOR*& child : b->children) {
    if (child != nullptr) child->free(child, child);
    child = nullptr;
  }
  bkd_free_buffers(b, workspace_part_both);
  destroy_block<block>(r);
}

template int acceptance<2>(const DFTI_DESCRIPTOR*);
template int acceptance<3>(const DFTI_DESCRIPTOR*);
template int bkd_init<float, 2>(DFTI_DESCRIPTOR*);
template int bkd_init<double, 2>(DFTI_DESCRIPTOR*);
template int bkd_init<float, 3>(DFTI_DESCRIPTOR*);
template int bkd_init<double, 3>(DFTI_DESCRIPTOR*);

}  // namespace r2c_md

#define QEZ_R2C_MD_TABLE(name, T, rank)                                                       \
  const backend_table name = {QEZ_PROTOCOL_ENTRIES(r2c_md::backend_policy<T, rank>), r2c_md::add_workspace};
QEZ_R2C_MD_TABLE(dft_r2c_2d_main_gpu_bkd_table_float, float, 2)
QEZ_R2C_MD_TABLE(dft_r2c_2d_main_gpu_bkd_table_double, double, 2)
QEZ_R2C_MD_TABLE(dft_r2c_3d_main_gpu_bkd_table_float, float, 3)
QEZ_R2C_MD_TABLE(dft_r2c_3d_main_gpu_bkd_table_double, double, 3)
#undef QEZ_R2C_MD_TABLE

}  // namespace ulmara::qez::dft
