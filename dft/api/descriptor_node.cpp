// Descriptor records: creation through the CPU engine with the front end's
// defaults, destruction, and the flat copy that carries a record into a host
// task.
#include "dft/api/descriptor_node.hpp"

#include <algorithm>
#include <string>

#include "dft/api/default_strides.hpp"
#include "dft/api/record_lists.hpp"
#include "dft/api/status_codes.hpp"
#include "qez_dft_engine.h"
#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::dft {
namespace {

constexpr std::uint64_t max_front_end_rank = 3;
const char* const constructor_operation = "descriptor constructor";

// Every dimension has non-zero strides in the two given fields.
bool convention_complete(const dim_list& lengths, dim_field a, dim_field b) {
  for (int k = 0; k < lengths.count; ++k)
    if (dim_value(lengths.records[k], a) == 0 || dim_value(lengths.records[k], b) == 0)
      return false;
  return true;
}

void flatten_list(const dim_list& list, flat_dim_list* flat) {
  flat->count = std::min(list.count, flat_list_capacity);
  for (int k = 0; k < flat->count; ++k) flat->records[k] = list.records[k];
}

bool unflatten_list(const flat_dim_list& flat, dim_list& list) {
  if (!size_dim_list(list, flat.count)) return false;
  for (int k = 0; k < flat.count; ++k) list.records[k] = flat.records[k];
  return true;
}

}  // namespace

std::int64_t create_descriptor_node(DFTI_DESCRIPTOR** handle, std::uint32_t precision,
                                    std::uint32_t domain, std::uint64_t rank,
                                    const std::int64_t* lengths) {
  if (handle == nullptr) return status_invalid_descriptor;
  if (rank == 0)
    throw ulmara::qez::invalid_argument("dft", constructor_operation,
                                        "the dimension must be at least 1.");
  if (rank > max_front_end_rank)
    throw ulmara::qez::unimplemented("dft", constructor_operation,
                                     "dimension larger than " +
                                         std::to_string(max_front_end_rank) +
                                         " is not implemented.");
  if (*handle != nullptr) {
    const std::int64_t status = dfti_cpu_free_descriptor(handle);
    if (status != status_success) return status;
  }

  // Fastest dimension first: the caller's last length leads.
  std::int64_t array[flat_list_capacity] = {};
  std::copy(lengths, lengths + rank, array);
  if (rank >= 2) std::swap(array[0], array[rank - 1]);

  const int status = qez_dft_dfti_create_node(handle, precision, domain,
                                              static_cast<std::uint32_t>(rank), array, 0);
  if (status != status_success) return static_cast<std::int64_t>(status);
  DFTI_DESCRIPTOR* r = *handle;
  qez_dft_bless_node_thr(r);

  r->queue = nullptr;
  r->workspace_internal = 1;
  r->workspace_bytes[0] = 0;
  r->workspace_bytes[1] = 0;
  fill_default_strides(r);
  // The working lists start as copies of the configured ones.
  if (!copy_dim_list(r->work_lengths, r->lengths) || !copy_dim_list(r->work_batch, r->batch)) {
    dfti_cpu_free_descriptor(handle);
    return status_allocation_failed;
  }
  return status_success;
}

std::int64_t dfti_cpu_free_descriptor(DFTI_DESCRIPTOR** handle) {
  if (handle == nullptr) return status_invalid_descriptor;
  DFTI_DESCRIPTOR* r = *handle;
  if (!is_live_record(r)) return status_bad_descriptor;
  if (r->free != nullptr && r->methods != nullptr && r->methods->free_descriptor != nullptr)
    r->methods->free_descriptor(r, r);
  *handle = nullptr;
  return status_success;
}

std::int64_t free_cpu_descriptor(DFTI_DESCRIPTOR** handle) {
  return dfti_cpu_free_descriptor(handle);
}

int to_sycl_descriptor(const DFTI_DESCRIPTOR* r, sycl_descriptor* flat) {
  if (r == nullptr || flat == nullptr) return status_bad_descriptor;
  *flat = sycl_descriptor{};
  flat->domain = r->domain;
  flat->precision = r->precision;
  flat->first_count = r->first_count;
  flat->complex_storage = r->complex_storage;
  flat->real_storage = r->real_storage;
  flat->conjugate_even_storage = r->conjugate_even_storage;
  flat->placement = r->placement;
  flat->packed_format = r->packed_format;
  flat->workspace_use = r->workspace_use;
  flat->ordering = r->ordering;
  flat->transpose = r->transpose;
  // Offsets keep all 64 bits.
  flat->in_offset = r->in_offset;
  flat->out_offset = r->out_offset;
  flat->fwd_offset = r->fwd_offset;
  flat->bwd_offset = r->bwd_offset;
  flat->first_in_distance = r->first_in_distance;
  flat->first_out_distance = r->first_out_distance;
  flat->rank = r->created_rank;
  flat->options = r->options;
  flat->data_arrays = r->data_arrays;
  flat->magic = r->magic;
  flat->user_threads = r->user_threads;
  flat->thread_limit = static_cast<std::uint32_t>(r->thread_limit);
  for (int i = 0; i < 10; ++i) flat->layout_flags[i] = (r->set_flags & layout_set_flags[i]) ? 1 : 0;
  flat->fwd_scale = r->fwd_scale;
  flat->bwd_scale = r->bwd_scale;
  flatten_list(r->work_lengths, &flat->work_lengths);
  flatten_list(r->lengths, &flat->lengths);
  flatten_list(r->batch, &flat->batch);

  if (r->lengths.count < 1) return status_bad_descriptor;
  const bool io = convention_complete(r->lengths, dim_input, dim_output);
  const bool fb = convention_complete(r->lengths, dim_forward, dim_backward);
  return io != fb ? status_success : status_bad_descriptor;
}

int from_sycl_descriptor(DFTI_DESCRIPTOR** handle, const sycl_descriptor* flat) {
  if (handle == nullptr || flat == nullptr) return status_invalid_descriptor;
  const flat_dim_list* lists[] = {&flat->work_lengths, &flat->lengths, &flat->batch};
  for (const flat_dim_list* l : lists)
    if (l->count < 0 || l->count > flat_list_capacity) return status_invalid_descriptor;

  // A copy of something that was not a record is refused rather than
  // turned into a record nobody can destroy.
  if (flat->magic != descriptor_magic) return status_bad_descriptor;
  // The working lengths hold the rank, fastest dimension first; checked here
  // so that a host task never meets the constructor's exceptions.
  const int rank = flat->work_lengths.count;
  if (rank < 1 || static_cast<std::uint64_t>(rank) > max_front_end_rank)
    return status_invalid_descriptor;
  std::int64_t caller_order[flat_list_capacity] = {};
  for (int k = 0; k < rank; ++k) caller_order[k] = flat->work_lengths.records[rank - 1 - k].length;
  const std::int64_t status =
      create_descriptor_node(handle, flat->precision, flat->domain,
                             static_cast<std::uint64_t>(rank), caller_order);
  if (status != status_success) return static_cast<int>(status);

  DFTI_DESCRIPTOR* r = *handle;
  r->first_count = flat->first_count;
  r->complex_storage = flat->complex_storage;
  r->real_storage = flat->real_storage;
  r->conjugate_even_storage = flat->conjugate_even_storage;
  r->placement = flat->placement;
  r->packed_format = flat->packed_format;
  r->workspace_use = flat->workspace_use;
  r->ordering = flat->ordering;
  r->transpose = flat->transpose;
  r->in_offset = flat->in_offset;
  r->out_offset = flat->out_offset;
  r->fwd_offset = flat->fwd_offset;
  r->bwd_offset = flat->bwd_offset;
  r->first_in_distance = flat->first_in_distance;
  r->first_out_distance = flat->first_out_distance;
  r->options = flat->options;
  r->data_arrays = flat->data_arrays;
  r->magic = flat->magic;
  r->user_threads = flat->user_threads;
  r->thread_limit = static_cast<std::int32_t>(flat->thread_limit);
  for (int i = 0; i < 10; ++i) {
    if (flat->layout_flags[i]) r->set_flags |= layout_set_flags[i];
    else r->set_flags &= ~layout_set_flags[i];
  }
  r->fwd_scale = flat->fwd_scale;
  r->bwd_scale = flat->bwd_scale;
  if (!unflatten_list(flat->work_lengths, r->work_lengths) ||
      !unflatten_list(flat->lengths, r->lengths) || !unflatten_list(flat->batch, r->batch)) {
    dfti_cpu_free_descriptor(handle);
    return status_allocation_failed;
  }
  return status_success;
}

}  // namespace ulmara::qez::dft
