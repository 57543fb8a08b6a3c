#include "dft/gpu/core/commit.hpp"

#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_methods.hpp"
#include "dft/gpu/core/dim_list.hpp"

namespace ulmara::qez::dft {
namespace {

bool has(std::uint32_t flags, std::uint32_t any_of) { return (flags & any_of) != 0; }

bool is_complex(const DFTI_DESCRIPTOR* r) { return r->domain == dfti_complex; }
bool is_inplace(const DFTI_DESCRIPTOR* r) { return r->placement == dfti_inplace; }
bool conjugate_even_interleaved(const DFTI_DESCRIPTOR* r) {
  return r->conjugate_even_storage == dfti_complex_complex;
}

// ---------------------------------------------------------------------------
// An in-place complex transform has one layout; a side given alone
// is copied to the other, two given sides must agree.

int unify_inplace_complex_strides(DFTI_DESCRIPTOR* r) {
  const bool forward = has(r->set_flags, set_flag_forward_strides);
  const bool backward = has(r->set_flags, set_flag_backward_strides);
  dim_list& work = r->work_lengths;
  if (forward && !backward) {
    r->bwd_offset = r->fwd_offset;
    for (std::int32_t k = 0; k < work.count; ++k) work.records[k].backward = work.records[k].forward;
    r->set_flags |= set_flag_backward_strides;
  } else if (backward && !forward) {
    r->fwd_offset = r->bwd_offset;
    for (std::int32_t k = 0; k < work.count; ++k) work.records[k].forward = work.records[k].backward;
    r->set_flags |= set_flag_forward_strides;
  } else if (forward && backward) {
    for (std::int32_t k = 0; k < work.count; ++k)
      if (work.records[k].forward != work.records[k].backward) return status_invalid_descriptor;
  }
  return status_success;
}

int unify_inplace_complex_distances(DFTI_DESCRIPTOR* r) {
  const bool forward = has(r->set_flags, set_flag_forward_distance);
  const bool backward = has(r->set_flags, set_flag_backward_distance);
  dim_record& work = r->work_batch.records[0];
  dim_record& configured = r->batch.records[0];
  if (forward && !backward) {
    work.backward = work.forward;
    configured.backward = configured.forward;
    r->set_flags |= set_flag_backward_distance;
  } else if (backward && !forward) {
    work.forward = work.backward;
    configured.forward = configured.backward;
    r->set_flags |= set_flag_forward_distance;
  } else if (forward && backward) {
    if (work.forward != work.backward || configured.forward != configured.backward)
      return status_invalid_descriptor;
  }
  return status_success;
}

// ---------------------------------------------------------------------------
// Default strides from the extents of each side.

struct side_extents {
  std::vector<std::int64_t> forward;   // per working record
  std::vector<std::int64_t> backward;
};

side_extents extents_of(const DFTI_DESCRIPTOR* r) {
  const dim_list& work = r->work_lengths;
  side_extents e;
  for (std::int32_t k = 0; k < work.count; ++k) {
    e.forward.push_back(work.records[k].length);
    e.backward.push_back(work.records[k].length);
  }
  if (!is_complex(r) && work.count > 0) {
    const bool packed = conjugate_even_interleaved(r) && r->packed_format == dfti_cce_format;
    const bool padded = packed && is_inplace(r);
    const std::int64_t n0 = work.records[0].length;
    if (padded) e.forward[0] = (n0 | 1) + 1;  // 2 * (n0 / 2 + 1)
    if (packed) e.backward[0] = n0 / 2 + 1;
  }
  return e;
}

// Writes a default only into a field the caller left zero.
void default_field(std::int64_t& field, std::int64_t value) {
  if (field == 0) field = value;
}

void apply_default_strides(DFTI_DESCRIPTOR* r, bool io) {
  dim_list& work = r->work_lengths;
  const side_extents e = extents_of(r);
  const std::uint32_t f = r->set_flags;
  const bool first_given = io ? has(f, set_flag_input_strides) : has(f, set_flag_forward_strides);
  const bool second_given = io ? has(f, set_flag_output_strides) : has(f, set_flag_backward_strides);
  const dim_field first = io ? dim_input : dim_forward;
  const dim_field second = io ? dim_output : dim_backward;
  const dim_field unused_a = io ? dim_forward : dim_input;
  const dim_field unused_b = io ? dim_backward : dim_output;

  std::int64_t forward_product = 1, backward_product = 1;
  for (std::int32_t k = 0; k < work.count; ++k) {
    dim_record& rec = work.records[k];
    if (!first_given) default_field(dim_value(rec, first), forward_product);
    if (!second_given) default_field(dim_value(rec, second), backward_product);
    dim_value(rec, unused_a) = 0;
    dim_value(rec, unused_b) = 0;
    forward_product *= e.forward[k];
    backward_product *= e.backward[k];
  }
}

// ---------------------------------------------------------------------------
// Validation of strides, distances and in-place real layouts.

bool needs_both_sides(const DFTI_DESCRIPTOR* r) {
  return !is_inplace(r) || (!is_complex(r) && conjugate_even_interleaved(r));
}

int validate_strides(const DFTI_DESCRIPTOR* r) {
  const bool fb = has(r->set_flags, set_flag_derived_fb_strides);
  for (std::int32_t k = 0; k < r->work_lengths.count; ++k) {
    const dim_record& rec = r->work_lengths.records[k];
    if (rec.length == 1) continue;
    if (fb) {
      if (rec.forward == 0 || rec.backward == 0) return status_invalid_descriptor;
    } else if (needs_both_sides(r)) {
      if (rec.input == 0 || rec.output == 0) return status_invalid_descriptor;
    } else if (rec.input == 0) {
      return status_invalid_descriptor;
    }
  }
  return status_success;
}

int validate_distances(const DFTI_DESCRIPTOR* r, std::uint32_t entry_flags) {
  const bool fb = has(r->set_flags, set_flag_derived_fb_distances);
  const bool io_given = has(entry_flags, set_flag_input_distance | set_flag_output_distance);
  for (std::int32_t k = 0; k < r->work_batch.count; ++k) {
    const dim_record& rec = r->work_batch.records[k];
    if (rec.length == 1) continue;
    if (fb) {
      if (rec.forward == 0 || rec.backward == 0) return status_invalid_descriptor;
    } else if (needs_both_sides(r) && io_given) {
      if (rec.input == 0 || rec.output == 0) return status_invalid_descriptor;
    }
  }
  return status_success;
}

int validate_inplace_real(const DFTI_DESCRIPTOR* r) {
  if (is_complex(r) || !is_inplace(r) || !conjugate_even_interleaved(r)) return status_success;
  const dim_record& first = r->work_lengths.records[0];
  if (has(r->set_flags, set_flag_derived_fb_strides)) {
    if (first.forward == 1 && first.backward == 1 &&
        check_inplace_real_layout(r, convention_forward_backward) != 0)
      return status_invalid_descriptor;
  } else if (first.input == 1 && first.output == 1 &&
             check_inplace_real_layout(r, convention_input_output) != 0) {
    return status_invalid_descriptor;
  }
  return status_success;
}

bool twice(std::int64_t big, std::int64_t small) { return big == 2 * small; }

// One direction of the input/output relation: `outer` side twice `inner`.
bool real_side_twice(const DFTI_DESCRIPTOR* r, std::int64_t outer_offset, std::int64_t inner_offset,
                     dim_field outer, dim_field inner) {
  if (!twice(outer_offset, inner_offset)) return false;
  for (std::int32_t k = 1; k < r->work_lengths.count; ++k)
    if (!twice(dim_value(r->work_lengths.records[k], outer), dim_value(r->work_lengths.records[k], inner)))
      return false;
  const dim_record& batch = r->work_batch.records[0];
  return batch.length < 2 || twice(dim_value(batch, outer), dim_value(batch, inner));
}

// ---------------------------------------------------------------------------
// A complex record that lost dimensions moves to the list of its
// new rank class.

void rebind_after_merge(DFTI_DESCRIPTOR* r) {
  DFTI_DESCRIPTOR* handle = r;
  const bool single = r->precision == dfti_single;
  if (r->work_lengths.count == 1)
    single ? bind_backend_list_c2c_1d_float(&handle) : bind_backend_list_c2c_1d_double(&handle);
  else
    single ? bind_backend_list_c2c_md_float(&handle) : bind_backend_list_c2c_md_double(&handle);
}

int service_query(const DFTI_DESCRIPTOR* r, service_table::query service_table::*slot, int fallback) {
  const service_table::query query = service_slot(r->services, slot);
  return query != nullptr ? query() : fallback;
}

}  // namespace

int check_inplace_real_layout(const DFTI_DESCRIPTOR* r, int convention) {
  if (convention == convention_forward_backward)
    return real_side_twice(r, r->fwd_offset, r->bwd_offset, dim_forward, dim_backward) ? 0 : 1;
  const bool output_real = real_side_twice(r, r->out_offset, r->in_offset, dim_output, dim_input);
  const bool input_real = real_side_twice(r, r->in_offset, r->out_offset, dim_input, dim_output);
  return output_real || input_real ? 0 : 1;
}

void merge_dimensions(DFTI_DESCRIPTOR* r) {
  if (is_complex(r)) {
    dim_list_sort(&r->work_lengths);
    dim_list_drop_unit(&r->work_lengths);
  }
  dim_list_sort(&r->work_batch);
  dim_list_drop_unit(&r->work_batch);
  dim_list_merge(&r->work_batch);
  r->merged_rank = r->work_lengths.count;
}

void refresh_layout_summary(DFTI_DESCRIPTOR* r) {
  r->merged_rank = r->work_lengths.count;
  const dim_record& first = r->work_lengths.records[0];
  r->first_length = first.length;
  const bool fb_strides = has(r->set_flags, fb_stride_flags) && first.input == 0 && first.output == 0;
  r->first_in_stride = fb_strides ? first.forward : first.input;
  r->first_out_stride = fb_strides ? first.backward : first.output;
  const dim_record& batch = r->work_batch.records[0];
  r->first_count = batch.length;
  const bool fb_distances =
      has(r->set_flags, fb_distance_flags) && batch.input == 0 && batch.output == 0;
  r->first_in_distance = fb_distances ? batch.forward : batch.input;
  r->first_out_distance = fb_distances ? batch.backward : batch.output;
  r->scale_copy[0] = r->fwd_scale;
  r->scale_copy[1] = r->bwd_scale;
  r->scale_f32[0] = static_cast<float>(r->fwd_scale);
  r->scale_f32[1] = static_cast<float>(r->bwd_scale);
}

int commit_backend_list(DFTI_DESCRIPTOR* r) {
  r->threads = r->thread_limit != 0 ? r->thread_limit : service_query(r, &service_table::max_threads, 1);
  r->service_count = service_query(r, &service_table::thread_query, 1);
  backend_list list = r->backend_list;
  // A record that was never bound cannot be committed: say so rather than
  // leave it uncommitted behind a success.
  if (list == nullptr || list[0] == nullptr) return status_internal_error;
  int status = status_not_handled;
  int first_failure = status_success;
  for (std::size_t i = 0; list[i] != nullptr; ++i) {
    status = list[i]->bkd_commit(list[i], r);
    if (status == status_success) return status_success;
    // A backend that ran out of memory or failed inside may have been the
    // one to take the record; if nobody else does, that is what the caller
    // must hear, not "invalid descriptor".
    if (first_failure == status_success &&
        (status == status_allocation_failed || status == status_internal_error))
      first_failure = status;
  }
  if (first_failure != status_success) return first_failure;
  return status == status_not_handled ? status_invalid_descriptor : status;
}

int descriptor_commit(DFTI_DESCRIPTOR* r) {
  const std::uint32_t entry = r->set_flags;
  const bool fb_given = has(entry, fb_set_flags);
  const bool io = has(entry, io_set_flags);

  // Working copies; an in-place complex record in the
  // input/output convention has one layout for both sides.
  const int mode = is_inplace(r) && is_complex(r) && !fb_given ? dim_copy_inplace : dim_copy_all;
  if (int status = dim_list_copy(&r->work_lengths, &r->lengths, mode, r->alloc_ctx)) return status;
  if (int status = dim_list_copy(&r->work_batch, &r->batch, mode, r->alloc_ctx)) return status;

  // Which convention is in force: forward/backward or input/output.
  r->set_flags &= ~(set_flag_derived_fb_strides | set_flag_derived_fb_distances);
  if (fb_given && io) return status_invalid_descriptor;
  if (!io) r->set_flags |= set_flag_derived_fb_strides;
  if (has(entry, set_flag_forward_distance | set_flag_backward_distance) ||
      !has(entry, explicit_layout_flags))
    r->set_flags |= set_flag_derived_fb_distances;

  // An in-place complex record keeps one layout for both sides.
  if (is_complex(r) && is_inplace(r) && has(r->set_flags, set_flag_derived_fb_strides)) {
    if (int status = unify_inplace_complex_strides(r)) return status;
    if (has(r->set_flags, set_flag_derived_fb_distances))
      if (int status = unify_inplace_complex_distances(r)) return status;
  }

  // Default strides, then validation.
  if (r->work_lengths.count >= 1) apply_default_strides(r, io);
  if (int status = validate_strides(r)) return status;
  if (int status = validate_distances(r, entry)) return status;
  if (int status = validate_inplace_real(r)) return status;

  // The configured lists now show the defaults.
  if (int status = dim_list_copy(&r->lengths, &r->work_lengths, dim_copy_all, r->alloc_ctx)) return status;
  if (int status = dim_list_copy(&r->batch, &r->work_batch, dim_copy_all, r->alloc_ctx)) return status;

  // Merge contiguous dimensions, summarise the layout, move a record that
  // lost dimensions to its new list, then try the backends in order.
  const std::int32_t rank_before = r->work_lengths.count;
  merge_dimensions(r);
  refresh_layout_summary(r);
  if (r->work_lengths.count < rank_before) rebind_after_merge(r);
  return commit_backend_list(r);
}

int descriptor_recommit(DFTI_DESCRIPTOR* r) {
  refresh_layout_summary(r);
  return commit_backend_list(r);
}

}  // namespace ulmara::qez::dft
