// Records of the CPU engine: creation with defaults, the method table every
// record carries from its creation on, the release and destroy hooks, the
// service queries and the blessing.
//
// The method table keeps the slot contracts of the GPU core's table, so the
// front end can configure a record the same way before and after a GPU list
// binder replaces the table.
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "dft/api/default_strides.hpp"
#include "dft/api/record_lists.hpp"
#include "dft/api/status_codes.hpp"
#include "platform/threading/engine/engine_internal.hpp"
#include "qez_dft_engine.h"
#include "qez_service.h"

namespace ulmara {
namespace qez {
namespace cpu_engine {

using namespace ::ulmara::qez::dft;

namespace {

constexpr int record_alignment = static_cast<int>(descriptor_record_alignment);
constexpr std::size_t name_bytes = sizeof(DFTI_DESCRIPTOR::name);

// ---------------------------------------------------------------------------
// Service queries.

int never_single_thread() { return 0; }

// ---------------------------------------------------------------------------
// Method table: getters.

std::int64_t rank_of(const DFTI_DESCRIPTOR* r) { return r->lengths.count; }

int get_strides(const DFTI_DESCRIPTOR* r, std::int64_t* out, std::int64_t offset, dim_field f) {
  out[0] = offset;
  for (int k = 0; k < r->lengths.count; ++k) out[k + 1] = dim_value(r->lengths.records[k], f);
  return status_success;
}

int get_input_strides(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  if (r->set_flags & fb_stride_flags) return status_invalid_descriptor;
  return get_strides(r, out, r->in_offset, dim_input);
}
int get_output_strides(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  if (r->set_flags & fb_stride_flags) return status_invalid_descriptor;
  return get_strides(r, out, r->out_offset, dim_output);
}
int get_forward_strides(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  return get_strides(r, out, r->fwd_offset, dim_forward);
}
int get_backward_strides(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  return get_strides(r, out, r->bwd_offset, dim_backward);
}

int get_lengths(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  for (int k = 0; k < r->lengths.count; ++k) out[k] = r->lengths.records[k].length;
  return status_success;
}

int get_name(const DFTI_DESCRIPTOR* r, char* out, std::size_t size) {
  if (size > 0) std::memcpy(out, r->name, std::min(size, name_bytes));
  return status_success;
}

int get_scale(const DFTI_DESCRIPTOR* r, double* out, int which) {
  if (which == scale_forward) *out = r->fwd_scale;
  else if (which == scale_backward) *out = r->bwd_scale;
  else return status_invalid_descriptor;
  return status_success;
}

const dim_record* first_batch(const DFTI_DESCRIPTOR* r) {
  return r->batch.count > 0 ? &r->batch.records[0] : nullptr;
}

int get_batch_value(const DFTI_DESCRIPTOR* r, std::int64_t* out, dim_field f) {
  const dim_record* b = first_batch(r);
  *out = b != nullptr ? dim_value(*b, f) : (f == dim_length ? 1 : 0);
  return status_success;
}

int get_input_distance(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  if (r->set_flags & fb_distance_flags) return status_invalid_descriptor;
  return get_batch_value(r, out, dim_input);
}
int get_output_distance(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  if (r->set_flags & fb_distance_flags) return status_invalid_descriptor;
  return get_batch_value(r, out, dim_output);
}
int get_forward_distance(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  return get_batch_value(r, out, dim_forward);
}
int get_backward_distance(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  return get_batch_value(r, out, dim_backward);
}
int get_number_of_transforms(const DFTI_DESCRIPTOR* r, std::uint64_t* out) {
  std::int64_t count = 0;
  get_batch_value(r, &count, dim_length);
  *out = static_cast<std::uint64_t>(count);
  return status_success;
}

int single_thread_required(const DFTI_DESCRIPTOR* r) {
  const service_table::query single = service_slot(r->services, &service_table::single_thread);
  return single != nullptr ? single() : 0;
}

int get_thread_limit(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  if (r->commit_status == dfti_committed) {
    const service_table::query max_threads = service_slot(r->services, &service_table::max_threads);
    const int max = max_threads != nullptr ? max_threads() : r->threads;
    *out = std::min(r->threads, max);
  } else {
    *out = single_thread_required(r) ? 1 : r->thread_limit;
  }
  return status_success;
}

int get_rank(const DFTI_DESCRIPTOR* r, std::int64_t* out) {
  *out = rank_of(r);
  return status_success;
}

// ---------------------------------------------------------------------------
// Method table: setters. Stride setters and changed scales release a
// committed plan; distance and count setters do not.

void release(DFTI_DESCRIPTOR* r) {
  if (r->release != nullptr) r->release(r, nullptr);
}

int set_strides(DFTI_DESCRIPTOR* r, const std::int64_t* in, std::int64_t* offset, dim_field f,
                set_flag flag) {
  release(r);
  *offset = in[0];
  for (int k = 0; k < r->lengths.count; ++k) dim_value(r->lengths.records[k], f) = in[k + 1];
  r->set_flags |= flag;
  return status_success;
}

int set_input_strides(DFTI_DESCRIPTOR* r, const std::int64_t* in) {
  return set_strides(r, in, &r->in_offset, dim_input, set_flag_input_strides);
}
int set_output_strides(DFTI_DESCRIPTOR* r, const std::int64_t* in) {
  return set_strides(r, in, &r->out_offset, dim_output, set_flag_output_strides);
}
int set_forward_strides(DFTI_DESCRIPTOR* r, const std::int64_t* in) {
  return set_strides(r, in, &r->fwd_offset, dim_forward, set_flag_forward_strides);
}
int set_backward_strides(DFTI_DESCRIPTOR* r, const std::int64_t* in) {
  return set_strides(r, in, &r->bwd_offset, dim_backward, set_flag_backward_strides);
}

int set_name(DFTI_DESCRIPTOR* r, const char* in, std::size_t size, int fill) {
  const std::size_t n = std::min(size, name_bytes);
  if (n > 0) std::memcpy(r->name, in, n);
  if (n < name_bytes) std::memset(r->name + n, fill, name_bytes - n);
  return status_success;
}

// Unequal, with a NaN on either side counting as unequal.
bool differs(double a, double b) { return !(a == b); }

int set_scale(DFTI_DESCRIPTOR* r, double value, int which) {
  double* scale = which == scale_forward    ? &r->fwd_scale
                  : which == scale_backward ? &r->bwd_scale
                                            : nullptr;
  if (scale == nullptr) return status_invalid_descriptor;
  if (differs(value, *scale)) release(r);
  *scale = value;
  return status_success;
}

int set_batch_value(DFTI_DESCRIPTOR* r, dim_field f, std::int64_t value, std::uint32_t flag) {
  if (r->batch.count < 1 || r->batch.records == nullptr) return status_invalid_descriptor;
  dim_value(r->batch.records[0], f) = value;
  r->set_flags |= flag;
  return status_success;
}

int set_input_distance(DFTI_DESCRIPTOR* r, std::int64_t v) {
  return set_batch_value(r, dim_input, v, set_flag_input_distance);
}
int set_output_distance(DFTI_DESCRIPTOR* r, std::int64_t v) {
  return set_batch_value(r, dim_output, v, set_flag_output_distance);
}
int set_forward_distance(DFTI_DESCRIPTOR* r, std::int64_t v) {
  return set_batch_value(r, dim_forward, v, set_flag_forward_distance);
}
int set_backward_distance(DFTI_DESCRIPTOR* r, std::int64_t v) {
  return set_batch_value(r, dim_backward, v, set_flag_backward_distance);
}
int set_number_of_transforms(DFTI_DESCRIPTOR* r, std::int64_t count) {
  if (count == 0) return status_invalid_descriptor;
  return set_batch_value(r, dim_length, count, 0);
}

int set_thread_limit(DFTI_DESCRIPTOR* r, std::int64_t threads) {
  if (threads < 0) return status_invalid_descriptor;
  r->thread_limit = single_thread_required(r) ? 1 : static_cast<std::int32_t>(threads);
  return status_success;
}

// The engine's records commit on the CPU; a workspace belongs to a GPU
// backend, and none is committed here.
int set_workspace(DFTI_DESCRIPTOR* r, void* container, std::uint32_t kind) {
  if (r->backend == nullptr) return status_invalid_configuration;
  const int status = r->backend->add_workspace != nullptr
                         ? r->backend->add_workspace(container, static_cast<int>(kind), 0, r, 2,
                                                     nullptr)
                         : status_success;
  if (status != status_success) return status;
  r->workspace_kind = kind;
  if (r->workspace_internal == 1) r->workspace_internal = 0;
  return status_success;
}

// ---------------------------------------------------------------------------
// Copy.

void free_lists(DFTI_DESCRIPTOR* r) {
  release_dim_list(r->lengths);
  release_dim_list(r->batch);
  release_dim_list(r->work_lengths);
  release_dim_list(r->work_batch);
}

bool copy_lists(DFTI_DESCRIPTOR* to, const DFTI_DESCRIPTOR* from) {
  return copy_dim_list(to->lengths, from->lengths) && copy_dim_list(to->batch, from->batch) &&
         copy_dim_list(to->work_lengths, from->work_lengths) &&
         copy_dim_list(to->work_batch, from->work_batch);
}

// An uncommitted copy: configuration, lists and layout flags, no plan.
int copy_descriptor(const DFTI_DESCRIPTOR* from, DFTI_DESCRIPTOR** out) {
  auto* to = static_cast<DFTI_DESCRIPTOR*>(
      qez_serv_calloc(1, sizeof(DFTI_DESCRIPTOR), record_alignment));
  if (to == nullptr) return status_allocation_failed;
  to->domain = from->domain;
  to->precision = from->precision;
  to->alloc_ctx = from->alloc_ctx;
  to->backend_list = from->backend_list;
  to->release = from->release;
  to->free = from->free;
  to->methods = from->methods;
  to->services = from->services;
  to->created_rank = from->created_rank;
  to->merged_rank = from->merged_rank;
  if (!copy_lists(to, from)) {
    free_lists(to);
    qez_serv_free(to);
    return status_allocation_failed;
  }
  to->ordering = from->ordering;
  to->packed_format = from->packed_format;
  to->complex_storage = from->complex_storage;
  to->real_storage = from->real_storage;
  to->conjugate_even_storage = from->conjugate_even_storage;
  to->placement = from->placement;
  to->transpose = from->transpose;
  to->workspace_use = from->workspace_use;
  to->options = from->options;
  to->in_offset = from->in_offset;
  to->out_offset = from->out_offset;
  to->fwd_offset = from->fwd_offset;
  to->bwd_offset = from->bwd_offset;
  to->first_count = from->first_count;
  to->first_in_distance = from->first_in_distance;
  to->first_out_distance = from->first_out_distance;
  for (std::uint32_t bit : layout_set_flags) to->set_flags |= from->set_flags & bit;
  to->data_arrays = from->data_arrays;
  to->magic = from->magic;
  to->thread_limit = from->thread_limit;
  to->user_threads = from->user_threads;
  to->fwd_scale = from->fwd_scale;
  to->bwd_scale = from->bwd_scale;
  to->queue = from->queue;
  to->directions = from->directions;
  to->offload_mode = from->offload_mode;
  to->workspace_internal = from->workspace_internal;
  to->workspace_bytes[0] = from->workspace_bytes[0];
  to->workspace_bytes[1] = from->workspace_bytes[1];
  to->workspace_kind = from->workspace_kind;
  to->is_child = from->is_child;
  to->fused_twiddle_length = from->fused_twiddle_length;
  *out = to;
  return status_success;
}

int recommit(DFTI_DESCRIPTOR* r) { return commit_record(r); }

}  // namespace

int available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

const descriptor_methods engine_method_table = {
    commit_record,         recommit,
    get_input_strides,     get_output_strides,
    set_input_strides,     set_output_strides,
    get_lengths,           get_name,
    set_name,              get_scale,
    set_scale,             copy_descriptor,
    get_input_distance,    get_output_distance,
    get_number_of_transforms, set_input_distance,
    set_output_distance,   set_number_of_transforms,
    get_thread_limit,      set_thread_limit,
    get_rank,              set_forward_distance,
    set_backward_distance, free_record,
    set_workspace,         get_forward_distance,
    get_backward_distance, get_forward_strides,
    get_backward_strides,  set_forward_strides,
    set_backward_strides,
};

service_table* engine_services() {
  static service_table table = [] {
    service_table t{};
    t.thread_query = available_cpus;
    t.max_threads = available_cpus;
    t.single_thread = never_single_thread;
    return t;
  }();
  return &table;
}

// ---------------------------------------------------------------------------
// Release and destruction.

void release_committed(DFTI_DESCRIPTOR* r, void* /*context*/) {
  if (r->linked_descriptor != nullptr) {
    DFTI_DESCRIPTOR* linked = r->linked_descriptor;
    r->linked_descriptor = nullptr;
    if (linked->free != nullptr) linked->free(linked, linked);
  }
  if (r->backend != nullptr) {
    if (r->backend->bkd_free != nullptr) r->backend->bkd_free(r->backend, r);
    r->backend = nullptr;
  }
  if (r->cleanup_arg != 0 && r->cleanup_fn != nullptr) {
    r->cleanup_fn(r);
    r->cleanup_arg = 0;
    r->cleanup_fn = nullptr;
  }
  r->shared_712 = 0;
  r->shared_680 = r->shared_688 = 0;
  DFTI_DESCRIPTOR* last = r;
  while (last->chain_next != nullptr) last = last->chain_next;
  qez_serv_free(last->shared_152);
  last->shared_152 = nullptr;
  last->shared_136 = last->shared_144 = 0;
  release_engine_state(r);
  r->commit_status = dfti_uncommitted;
  r->compute_fwd = nullptr;
  r->compute_bwd = nullptr;
  r->set_flags &= ~static_cast<std::uint32_t>(set_flag_released);
}

void free_record(DFTI_DESCRIPTOR* r, DFTI_DESCRIPTOR* /*same_record*/) {
  if (r == nullptr) return;
  if (r->release != nullptr) r->release(r, nullptr);
  free_lists(r);
  r->magic = 0;
  qez_serv_free(r);
}

// ---------------------------------------------------------------------------
// Creation.

int create_record(DFTI_DESCRIPTOR** handle, std::uint32_t precision, std::uint32_t domain,
                  std::int64_t rank, const std::int64_t* lengths) {
  if (handle == nullptr || lengths == nullptr) return status_invalid_descriptor;
  if (precision != dfti_single && precision != dfti_double) return status_invalid_configuration;
  if (domain != dfti_complex && domain != dfti_real) return status_invalid_configuration;
  if (rank < 1 || rank > 7) return status_invalid_configuration;
  for (std::int64_t k = 0; k < rank; ++k)
    if (lengths[k] < 1) return status_invalid_configuration;

  auto* r = static_cast<DFTI_DESCRIPTOR*>(
      qez_serv_calloc(1, sizeof(DFTI_DESCRIPTOR), record_alignment));
  if (r == nullptr) return status_allocation_failed;
  const auto n = static_cast<std::int32_t>(rank);
  if (!size_dim_list(r->lengths, n) || !size_dim_list(r->batch, 1)) {
    free_lists(r);
    qez_serv_free(r);
    return status_allocation_failed;
  }
  r->domain = domain;
  for (std::int32_t k = 0; k < n; ++k) r->lengths.records[k].length = lengths[k];
  fill_default_strides(r);
  r->batch.records[0].length = 1;
  if (!copy_dim_list(r->work_lengths, r->lengths) || !copy_dim_list(r->work_batch, r->batch)) {
    free_lists(r);
    qez_serv_free(r);
    return status_allocation_failed;
  }

  r->precision = precision;
  r->domain = domain;
  r->created_rank = n;
  r->merged_rank = n;
  r->release = release_committed;
  r->free = free_record;
  r->methods = &engine_method_table;
  r->services = engine_services();
  r->complex_storage = dfti_complex_complex;
  r->real_storage = dfti_real_real;
  r->conjugate_even_storage = dfti_complex_complex;
  r->placement = dfti_inplace;
  r->packed_format = dfti_cce_format;
  r->workspace_use = dfti_allow;
  r->ordering = dfti_ordered;
  r->transpose = dfti_none;
  r->user_threads = 1;
  r->fwd_scale = 1.0;
  r->bwd_scale = 1.0;
  r->first_count = 1;
  r->magic = descriptor_magic;
  r->commit_status = dfti_uncommitted;
  r->directions = 2;
  *handle = r;
  return status_success;
}

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara

// ---------------------------------------------------------------------------
// Exported C interface.

namespace engine = ::ulmara::qez::cpu_engine;
namespace dft = ::ulmara::qez::dft;

namespace {

int bind_engine_list(DFTI_DESCRIPTOR* record, std::uint32_t precision, std::uint32_t domain,
                     bool one_dimensional) {
  if (!dft::is_live_record(record)) return dft::status_bad_descriptor;
  const bool rank_one = record->lengths.count == 1;
  if (record->precision != precision || record->domain != domain ||
      rank_one != one_dimensional)
    return dft::status_invalid_descriptor;
  record->methods = &engine::engine_method_table;
  return dft::status_success;
}

}  // namespace

extern "C" {

int qez_dft_dfti_create_node(DFTI_DESCRIPTOR** handle, uint32_t precision, uint32_t domain,
                             uint32_t rank, const int64_t* lengths, int /*reserved*/) {
  return engine::create_record(handle, precision, domain, rank, lengths);
}

#define QEZ_ENGINE_CREATE(suffix, precision, domain)                                           \
  int qez_dft_dfti_create_##suffix##1d(DFTI_DESCRIPTOR** handle, int64_t length, int) {        \
    return engine::create_record(handle, dft::precision, dft::domain, 1, &length);             \
  }                                                                                            \
  int qez_dft_dfti_create_##suffix##md(DFTI_DESCRIPTOR** handle, int64_t rank,                \
                                       const int64_t* lengths, int) {                          \
    return engine::create_record(handle, dft::precision, dft::domain, rank, lengths);          \
  }                                                                                            \
  int qez_dft_dfti_set_bkdlist_##suffix##1d(DFTI_DESCRIPTOR**, DFTI_DESCRIPTOR* record) {      \
    return bind_engine_list(record, dft::precision, dft::domain, true);                        \
  }                                                                                            \
  int qez_dft_dfti_set_bkdlist_##suffix##md(DFTI_DESCRIPTOR**, DFTI_DESCRIPTOR* record) {      \
    return bind_engine_list(record, dft::precision, dft::domain, false);                       \
  }
QEZ_ENGINE_CREATE(sc, dfti_single, dfti_complex)
QEZ_ENGINE_CREATE(sr, dfti_single, dfti_real)
QEZ_ENGINE_CREATE(dc, dfti_double, dfti_complex)
QEZ_ENGINE_CREATE(dr, dfti_double, dfti_real)
#undef QEZ_ENGINE_CREATE

int qez_dft_bless_node_thr(DFTI_DESCRIPTOR* record) {
  if (!dft::is_live_record(record)) return dft::status_bad_descriptor;
  dft::service_table* own = engine::engine_services();
  if (record->services == nullptr) {
    record->services = own;
    return dft::status_success;
  }
  if (record->services == own) return dft::status_success;
  // A table of another component: fill the queries it leaves empty.
  dft::service_table* t = record->services;
  dft::fill_empty_service_slot(t, &dft::service_table::thread_query, own->thread_query);
  dft::fill_empty_service_slot(t, &dft::service_table::max_threads, own->max_threads);
  dft::fill_empty_service_slot(t, &dft::service_table::single_thread, own->single_thread);
  return dft::status_success;
}

}  // extern "C"
