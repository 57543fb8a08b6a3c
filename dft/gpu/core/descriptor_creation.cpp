#include "dft/gpu/core/descriptor_creation.hpp"

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_methods.hpp"
#include "dft/gpu/core/dim_list.hpp"
#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

constexpr std::int32_t child_batch_records = 7;
constexpr std::uint32_t created_user_threads = 1;

service_table own_services{};

void fill_defaults(DFTI_DESCRIPTOR* record, std::uint32_t precision, std::uint32_t domain,
                   std::int32_t rank, void* arena) {
  record->alloc_ctx = arena;
  record->precision = precision;
  record->domain = domain;
  record->release = release_backend;
  record->free = free_descriptor;
  record->methods = &descriptor_method_table;
  record->services = &own_services;
  record->created_rank = rank;
  record->packed_format = dfti_cce_format;
  record->complex_storage = dfti_complex_complex;
  record->real_storage = dfti_real_real;
  record->conjugate_even_storage = dfti_complex_complex;
  record->placement = dfti_inplace;
  record->transpose = dfti_none;
  record->workspace_use = dfti_allow;
  record->ordering = dfti_ordered;
  record->options = 0;
  record->magic = descriptor_magic;
  record->commit_status = dfti_uncommitted;
  record->user_threads = created_user_threads;
  record->fwd_scale = 1.0;
  record->bwd_scale = 1.0;
  record->set_flags &= ~explicit_layout_flags;
  record->directions = directions_both;
}

// Releases and frees whatever part of a half-built record exists.
int abandon(DFTI_DESCRIPTOR* record, int status) {
  record->free(record, record);
  return status;
}

template <std::uint32_t precision, std::uint32_t domain>
int create_child(DFTI_DESCRIPTOR** out, std::int32_t rank, const std::int64_t* lengths,
                 void* arena, backend_list list) {
  DFTI_DESCRIPTOR* record = nullptr;
  const int status = create_descriptor(&record, precision, domain, rank, lengths, arena);
  if (status != status_success) return status;
  record->backend_list = list;
  install_descriptor_methods(record);
  *out = record;
  return status_success;
}

}  // namespace

service_table& library_service_table() { return own_services; }

void install_descriptor_methods(DFTI_DESCRIPTOR* record) {
  install_alloc_hooks(nullptr);
  record->methods = &descriptor_method_table;
}

int create_descriptor(DFTI_DESCRIPTOR** out, std::uint32_t precision, std::uint32_t domain,
                      std::int32_t rank, const std::int64_t* lengths, void* arena) {
  install_alloc_hooks(arena);
  auto* record = static_cast<DFTI_DESCRIPTOR*>(
      hooks().zeroing_alloc(1, sizeof(DFTI_DESCRIPTOR), record_alignment, arena));
  if (record == nullptr) return status_allocation_failed;
  record->free = free_descriptor;  // so that a failure below can destroy it
  record->release = release_backend;

  if (int status = dim_list_init(&record->lengths, rank, arena)) return abandon(record, status);
  if (int status = dim_list_init(&record->batch, child_batch_records, arena))
    return abandon(record, status);
  for (std::int32_t k = 0; k < rank; ++k) record->lengths.records[k] = dim_record{lengths[k], 0, 0, 0, 0};
  for (std::int32_t k = 0; k < child_batch_records; ++k)
    record->batch.records[k] = dim_record{1, 0, 0, 0, 0};

  fill_defaults(record, precision, domain, rank, arena);

  if (int status = dim_list_copy(&record->work_lengths, &record->lengths, dim_copy_all, arena))
    return abandon(record, status);
  if (int status = dim_list_copy(&record->work_batch, &record->batch, dim_copy_all, arena))
    return abandon(record, status);

  *out = record;
  install_cache_size_hook(record);
  return status_success;
}

int create_child_descriptor_r2c_md_float(DFTI_DESCRIPTOR** out, std::int32_t rank,
                                         const std::int64_t* lengths, void* arena) {
  return create_child<dfti_single, dfti_real>(out, rank, lengths, arena, backend_list_r2c_md_float());
}
int create_child_descriptor_r2c_1d_float(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena) {
  return create_child<dfti_single, dfti_real>(out, 1, &length, arena, backend_list_r2c_1d_float());
}
int create_child_descriptor_c2c_1d_float(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena) {
  return create_child<dfti_single, dfti_complex>(out, 1, &length, arena, backend_list_c2c_1d_float());
}
int create_child_descriptor_r2c_md_double(DFTI_DESCRIPTOR** out, std::int32_t rank,
                                          const std::int64_t* lengths, void* arena) {
  return create_child<dfti_double, dfti_real>(out, rank, lengths, arena, backend_list_r2c_md_double());
}
int create_child_descriptor_r2c_1d_double(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena) {
  return create_child<dfti_double, dfti_real>(out, 1, &length, arena, backend_list_r2c_1d_double());
}
int create_child_descriptor_c2c_1d_double(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena) {
  return create_child<dfti_double, dfti_complex>(out, 1, &length, arena, backend_list_c2c_1d_double());
}

void release_backend(DFTI_DESCRIPTOR* record, void* /*context*/) {
  if (record == nullptr) return;
  if (DFTI_DESCRIPTOR* linked = record->linked_descriptor) {
    record->linked_descriptor = nullptr;
    linked->free(linked, linked);
  }
  if (const backend_table* table = record->backend) {
    if (table->bkd_free) table->bkd_free(table, record);
    record->backend = nullptr;
  }
  if (record->cleanup_arg != 0 && record->cleanup_fn != nullptr) {
    record->cleanup_fn(record);
    record->cleanup_arg = 0;
    record->cleanup_fn = nullptr;
  }
  record->shared_712 = 0;
  record->shared_680 = 0;
  record->shared_688 = 0;

  DFTI_DESCRIPTOR* last = record;
  while (last->chain_next != nullptr) last = last->chain_next;
  if (last->shared_152 != nullptr) {
    free_block(last->shared_152);
    last->shared_152 = nullptr;
  }
  last->shared_136 = 0;
  last->shared_144 = 0;

  record->commit_status = dfti_uncommitted;
  record->compute_fwd = nullptr;
  record->compute_bwd = nullptr;
  record->set_flags &= ~set_flag_released;
}

std::int64_t hook_get_cache_size(int level) { return qez_serv_get_cache_size(level); }

void install_cache_size_hook(DFTI_DESCRIPTOR* record) {
  if (record->services != nullptr)
    fill_empty_service_slot(record->services, &service_table::cache_size, hook_get_cache_size);
}

}  // namespace ulmara::qez::dft
