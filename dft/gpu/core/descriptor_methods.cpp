#include "dft/gpu/core/descriptor_methods.hpp"

#include <algorithm>
#include <cstring>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/dim_list.hpp"

namespace ulmara::qez::dft {
namespace {

constexpr std::size_t name_bytes = sizeof(DFTI_DESCRIPTOR::name);

dim_list DFTI_DESCRIPTOR::* const all_dim_lists[] = {
    &DFTI_DESCRIPTOR::lengths, &DFTI_DESCRIPTOR::batch, &DFTI_DESCRIPTOR::work_lengths,
    &DFTI_DESCRIPTOR::work_batch};

void release_committed(DFTI_DESCRIPTOR* record) {
  if (record->release) record->release(record, nullptr);
}

bool has_any(const DFTI_DESCRIPTOR* record, std::uint32_t flags) {
  return (record->set_flags & flags) != 0;
}

dim_record& first_batch(DFTI_DESCRIPTOR* record) { return record->batch.records[0]; }
const dim_record& first_batch(const DFTI_DESCRIPTOR* record) { return record->batch.records[0]; }

// ---------------------------------------------------------------------------
// Strides: rank + 1 values, the first-element offset then one stride per
// dimension, innermost first.

void read_strides(const DFTI_DESCRIPTOR* record, std::int64_t offset, dim_field field,
                  std::int64_t* out) {
  out[0] = offset;
  for (std::int32_t k = 0; k < record->lengths.count; ++k)
    out[k + 1] = dim_value(record->lengths.records[k], field);
}

void write_strides(DFTI_DESCRIPTOR* record, std::int64_t* offset, dim_field field,
                   const std::int64_t* in, std::uint32_t flag) {
  release_committed(record);
  *offset = in[0];
  for (std::int32_t k = 0; k < record->lengths.count; ++k)
    dim_value(record->lengths.records[k], field) = in[k + 1];
  record->set_flags |= flag;
}

int get_input_strides(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  if (has_any(record, fb_stride_flags)) return status_invalid_descriptor;
  read_strides(record, record->in_offset, dim_input, out);
  return status_success;
}
int get_output_strides(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  if (has_any(record, fb_stride_flags)) return status_invalid_descriptor;
  read_strides(record, record->out_offset, dim_output, out);
  return status_success;
}
int get_forward_strides(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  read_strides(record, record->fwd_offset, dim_forward, out);
  return status_success;
}
int get_backward_strides(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  read_strides(record, record->bwd_offset, dim_backward, out);
  return status_success;
}
int set_input_strides(DFTI_DESCRIPTOR* record, const std::int64_t* in) {
  write_strides(record, &record->in_offset, dim_input, in, set_flag_input_strides);
  return status_success;
}
int set_output_strides(DFTI_DESCRIPTOR* record, const std::int64_t* in) {
  write_strides(record, &record->out_offset, dim_output, in, set_flag_output_strides);
  return status_success;
}
int set_forward_strides(DFTI_DESCRIPTOR* record, const std::int64_t* in) {
  write_strides(record, &record->fwd_offset, dim_forward, in, set_flag_forward_strides);
  return status_success;
}
int set_backward_strides(DFTI_DESCRIPTOR* record, const std::int64_t* in) {
  write_strides(record, &record->bwd_offset, dim_backward, in, set_flag_backward_strides);
  return status_success;
}

// ---------------------------------------------------------------------------
// Distances and the number of transforms live in batch record 0.

int get_input_distance(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  if (has_any(record, fb_distance_flags)) return status_invalid_descriptor;
  *out = first_batch(record).input;
  return status_success;
}
int get_output_distance(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  if (has_any(record, fb_distance_flags)) return status_invalid_descriptor;
  *out = first_batch(record).output;
  return status_success;
}
int get_forward_distance(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  *out = first_batch(record).forward;
  return status_success;
}
int get_backward_distance(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  *out = first_batch(record).backward;
  return status_success;
}

int set_distance(DFTI_DESCRIPTOR* record, dim_field field, std::int64_t value,
                 std::uint32_t flag) {
  dim_value(first_batch(record), field) = value;
  record->set_flags |= flag;
  return status_success;
}
int set_input_distance(DFTI_DESCRIPTOR* record, std::int64_t value) {
  return set_distance(record, dim_input, value, set_flag_input_distance);
}
int set_output_distance(DFTI_DESCRIPTOR* record, std::int64_t value) {
  return set_distance(record, dim_output, value, set_flag_output_distance);
}
int set_forward_distance(DFTI_DESCRIPTOR* record, std::int64_t value) {
  return set_distance(record, dim_forward, value, set_flag_forward_distance);
}
int set_backward_distance(DFTI_DESCRIPTOR* record, std::int64_t value) {
  return set_distance(record, dim_backward, value, set_flag_backward_distance);
}

int get_number_of_transforms(const DFTI_DESCRIPTOR* record, std::uint64_t* out) {
  *out = static_cast<std::uint64_t>(first_batch(record).length);
  return status_success;
}
int set_number_of_transforms(DFTI_DESCRIPTOR* record, std::int64_t value) {
  if (value == 0) return status_invalid_descriptor;
  first_batch(record).length = value;
  return status_success;
}

// ---------------------------------------------------------------------------
// Lengths, rank, name, scales.

int get_lengths(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  for (std::int32_t k = 0; k < record->lengths.count; ++k) out[k] = record->lengths.records[k].length;
  return status_success;
}

int get_rank(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  *out = record->lengths.count;
  return status_success;
}

int get_name(const DFTI_DESCRIPTOR* record, char* name, std::size_t size) {
  const std::size_t n = std::min(size, name_bytes);
  if (n > 0) std::memcpy(name, record->name, n);
  return status_success;
}

int set_name(DFTI_DESCRIPTOR* record, const char* name, std::size_t size, int fill) {
  const std::size_t n = std::min(size, name_bytes);
  if (n > 0) std::memcpy(record->name, name, n);
  std::memset(record->name + n, fill, name_bytes - n);
  return status_success;
}

double* scale_field(DFTI_DESCRIPTOR* record, int which) {
  if (which == scale_forward) return &record->fwd_scale;
  if (which == scale_backward) return &record->bwd_scale;
  return nullptr;
}

int get_scale(const DFTI_DESCRIPTOR* record, double* scale, int which) {
  const double* field = scale_field(const_cast<DFTI_DESCRIPTOR*>(record), which);
  if (field == nullptr) return status_invalid_descriptor;
  *scale = *field;
  return status_success;
}

int set_scale(DFTI_DESCRIPTOR* record, double scale, int which) {
  double* field = scale_field(record, which);
  if (field == nullptr) return status_invalid_descriptor;
  // A NaN on either side never compares equal, so it counts as a change.
  if (!(*field == scale)) release_committed(record);
  *field = scale;
  return status_success;
}

// ---------------------------------------------------------------------------
// Threads.

bool single_thread_only(const DFTI_DESCRIPTOR* record) {
  const service_table::query single = service_slot(record->services, &service_table::single_thread);
  return single != nullptr && single() != 0;
}

int service_max_thread_count(const DFTI_DESCRIPTOR* record) {
  const service_table::query max_threads = service_slot(record->services, &service_table::max_threads);
  return max_threads != nullptr ? max_threads() : 1;
}

int get_thread_limit(const DFTI_DESCRIPTOR* record, std::int64_t* out) {
  if (record->commit_status == dfti_committed)
    *out = std::min(record->threads, service_max_thread_count(record));
  else
    *out = single_thread_only(record) ? 1 : record->thread_limit;
  return status_success;
}

int set_thread_limit(DFTI_DESCRIPTOR* record, std::int64_t value) {
  if (value < 0) return status_invalid_descriptor;
  record->thread_limit = single_thread_only(record) ? 1 : static_cast<std::int32_t>(value);
  return status_success;
}

// ---------------------------------------------------------------------------
// Workspace.

int set_workspace(DFTI_DESCRIPTOR* record, void* container, std::uint32_t kind) {
  if (record->backend == nullptr) return status_invalid_configuration;
  const int status = record->backend->add_workspace(container, static_cast<int>(kind), 0, record,
                                                    workspace_part_both, nullptr);
  if (status != status_success) return status;
  record->workspace_kind = kind;
  if (record->workspace_internal == 1) record->workspace_internal = 0;
  return status_success;
}

}  // namespace

void copy_layout_flags(DFTI_DESCRIPTOR* target, const DFTI_DESCRIPTOR* source) {
  for (std::uint32_t flag : layout_set_flags) {
    if (source->set_flags & flag)
      target->set_flags |= flag;
    else
      target->set_flags &= ~flag;
  }
}

int copy_descriptor(const DFTI_DESCRIPTOR* source, DFTI_DESCRIPTOR** out) {
  if (source == nullptr) return status_internal_error;
  auto* copy = static_cast<DFTI_DESCRIPTOR*>(allocate_zeroed_block(sizeof(DFTI_DESCRIPTOR)));
  if (copy == nullptr) return status_allocation_failed;
  copy->domain = source->domain;
  copy->precision = source->precision;
  copy->alloc_ctx = source->alloc_ctx;
  copy->backend_list = source->backend_list;
  copy->release = source->release;
  copy->free = source->free;
  copy->methods = source->methods;
  copy->services = source->services;
  copy->created_rank = source->created_rank;
  copy->merged_rank = source->merged_rank;

  for (dim_list DFTI_DESCRIPTOR::*list : all_dim_lists) {
    if (dim_list_copy(&(copy->*list), &(source->*list), dim_copy_all, copy->alloc_ctx) != 0) {
      copy->free ? copy->free(copy, copy) : free_descriptor(copy, copy);
      return status_allocation_failed;
    }
  }

  copy->ordering = source->ordering;
  copy->packed_format = source->packed_format;
  copy->complex_storage = source->complex_storage;
  copy->real_storage = source->real_storage;
  copy->conjugate_even_storage = source->conjugate_even_storage;
  copy->placement = source->placement;
  copy->transpose = source->transpose;
  copy->workspace_use = source->workspace_use;
  copy->options = source->options;
  copy->in_offset = source->in_offset;
  copy->out_offset = source->out_offset;
  copy->fwd_offset = source->fwd_offset;
  copy->bwd_offset = source->bwd_offset;
  copy->first_count = source->first_count;
  copy->first_in_distance = source->first_in_distance;
  copy->first_out_distance = source->first_out_distance;
  copy_layout_flags(copy, source);
  copy->data_arrays = source->data_arrays;
  copy->magic = source->magic;
  copy->thread_limit = source->thread_limit;
  copy->user_threads = source->user_threads;
  copy->fwd_scale = source->fwd_scale;
  copy->bwd_scale = source->bwd_scale;
  if (source->queue) copy->queue = source->queue;
  copy->directions = source->directions;
  copy->offload_mode = source->offload_mode;
  copy->workspace_internal = source->workspace_internal;
  copy->workspace_bytes[0] = source->workspace_bytes[0];
  copy->workspace_bytes[1] = source->workspace_bytes[1];
  copy->workspace_kind = source->workspace_kind;
  copy->is_child = source->is_child;
  copy->fused_twiddle_length = source->fused_twiddle_length;
  *out = copy;
  return status_success;
}

void free_descriptor(DFTI_DESCRIPTOR* record, DFTI_DESCRIPTOR* /*same_record*/) {
  if (record == nullptr) return;
  if (record->release) record->release(record, nullptr);
  for (dim_list DFTI_DESCRIPTOR::*list : all_dim_lists) dim_list_free(&(record->*list));
  free_block(record);
}

const descriptor_methods descriptor_method_table = {
    descriptor_commit,
    descriptor_recommit,
    get_input_strides,
    get_output_strides,
    set_input_strides,
    set_output_strides,
    get_lengths,
    get_name,
    set_name,
    get_scale,
    set_scale,
    copy_descriptor,
    get_input_distance,
    get_output_distance,
    get_number_of_transforms,
    set_input_distance,
    set_output_distance,
    set_number_of_transforms,
    get_thread_limit,
    set_thread_limit,
    get_rank,
    set_forward_distance,
    set_backward_distance,
    free_descriptor,
    set_workspace,
    get_forward_distance,
    get_backward_distance,
    get_forward_strides,
    get_backward_strides,
    set_forward_strides,
    set_backward_strides,
};

}  // namespace ulmara::qez::dft
