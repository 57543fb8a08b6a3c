#include "dft/api/commit.hpp"

#include <limits>
#include <string>

#include "dft/api/cpu_dfti.hpp"
#include "dft/api/descriptor_node.hpp"
#include "dft/api/descriptor_state.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "qez_dft_engine.h"
#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

const char* const commit_operation = "commit";
constexpr std::int32_t max_front_end_rank = 3;
// One side of a GPU transform holds at most 2^32 scalars (2^34 bytes in
// single precision, 2^35 in double).
constexpr std::uint64_t max_gpu_scalars = std::uint64_t{1} << 32;

// ---------------------------------------------------------------------------
// Layout checks.

constexpr dim_field layout_fields[] = {dim_input, dim_output, dim_forward, dim_backward};

bool any_negative(const dim_list& list) {
  for (std::int32_t k = 0; k < list.count; ++k)
    for (dim_field f : layout_fields)
      if (dim_value(list.records[k], f) < 0) return true;
  return false;
}

// Both sides set: they must agree; one side set: the other takes it.
bool unify_sides(std::int64_t& forward, std::int64_t& backward, bool forward_set,
                 bool backward_set) {
  if (forward_set && backward_set) return forward == backward;
  if (forward_set) backward = forward;
  else if (backward_set) forward = backward;
  return true;
}

bool unify_list(dim_list& list, bool forward_set, bool backward_set) {
  bool same = true;
  for (std::int32_t k = 0; k < list.count; ++k)
    same = unify_sides(list.records[k].forward, list.records[k].backward, forward_set,
                       backward_set) && same;
  return same;
}

// ---------------------------------------------------------------------------
// GPU branch.

using list_binder = void (*)(DFTI_DESCRIPTOR**);

list_binder gpu_binder(const DFTI_DESCRIPTOR* record) {
  const bool complex = record->domain == dfti_complex;
  const bool one_d = record->work_lengths.count == 1;
  const bool single = record->precision == dfti_single;
  if (complex) {
    if (one_d) return single ? bind_backend_list_c2c_1d_float : bind_backend_list_c2c_1d_double;
    return single ? bind_backend_list_c2c_md_float : bind_backend_list_c2c_md_double;
  }
  if (one_d) return single ? bind_backend_list_r2c_1d_float : bind_backend_list_r2c_1d_double;
  return single ? bind_backend_list_r2c_md_float : bind_backend_list_r2c_md_double;
}

[[noreturn]] void throw_rank_above_limit(const char* device) {
  throw ulmara::qez::unimplemented("dft", commit_operation,
                                   "dimension larger than " + std::to_string(max_front_end_rank) +
                                       " is not implemented on " + device + " device.");
}

// ---------------------------------------------------------------------------
// CPU branch.

using engine_binder = int (*)(DFTI_DESCRIPTOR**, DFTI_DESCRIPTOR*);

engine_binder cpu_binder(const DFTI_DESCRIPTOR* record) {
  const bool single = record->precision == dfti_single;
  const bool complex = record->domain == dfti_complex;
  const bool one_d = record->work_lengths.count == 1;
  if (single) {
    if (complex) return one_d ? qez_dft_dfti_set_bkdlist_sc1d : qez_dft_dfti_set_bkdlist_scmd;
    return one_d ? qez_dft_dfti_set_bkdlist_sr1d : qez_dft_dfti_set_bkdlist_srmd;
  }
  if (complex) return one_d ? qez_dft_dfti_set_bkdlist_dc1d : qez_dft_dfti_set_bkdlist_dcmd;
  return one_d ? qez_dft_dfti_set_bkdlist_dr1d : qez_dft_dfti_set_bkdlist_drmd;
}

// Builds and commits the CPU copy of a flat configuration; the holder in
// `*slot` is created when missing and dropped again on failure.
std::int64_t commit_cpu_copy(SYCL_DFTI_DESCRIPTOR** slot, const sycl_descriptor& flat) {
  if (slot == nullptr) return status_allocation_failed;
  if (*slot == nullptr) {
    auto* holder = static_cast<SYCL_DFTI_DESCRIPTOR*>(
        qez_serv_malloc(sizeof(SYCL_DFTI_DESCRIPTOR), static_cast<int>(descriptor_record_alignment)));
    if (holder == nullptr) return status_allocation_failed;
    holder->record = nullptr;
    *slot = holder;
  }
  SYCL_DFTI_DESCRIPTOR* holder = *slot;
  std::int64_t status = from_sycl_descriptor(&holder->record, &flat);
  if (status == status_success) {
    DFTI_DESCRIPTOR* copy = holder->record;
    status = cpu_binder(copy)(&holder->record, copy);
    if (status == status_success) status = qez_dft_bless_node_thr(copy);
    if (status == status_success) status = dfti_cpu_commit(copy);
  }
  if (status != status_success) {
    if (holder->record != nullptr) dfti_cpu_free_descriptor(&holder->record);
    qez_serv_free(holder);
    *slot = nullptr;
  }
  return status;
}

// The thread counts the CPU copy settled on, so that the descriptor reports
// them.
void adopt_cpu_thread_counts(DFTI_DESCRIPTOR* record, slot_buffer_type& slot) {
  sycl::host_accessor access(slot, sycl::read_only);
  const SYCL_DFTI_DESCRIPTOR* holder = access[0];
  if (holder == nullptr || holder->record == nullptr) return;
  record->threads = holder->record->threads;
  record->service_count = holder->record->service_count;
}

}  // namespace

bool check_inplace_complex_strides(DFTI_DESCRIPTOR* r) {
  if (r->domain != dfti_complex || r->placement != dfti_inplace) return true;
  const bool fwd_strides = (r->set_flags & set_flag_forward_strides) != 0;
  const bool bwd_strides = (r->set_flags & set_flag_backward_strides) != 0;
  bool same = unify_sides(r->fwd_offset, r->bwd_offset, fwd_strides, bwd_strides);
  same = unify_list(r->lengths, fwd_strides, bwd_strides) && same;
  if (!same) return false;
  const bool fwd_distance = (r->set_flags & set_flag_forward_distance) != 0;
  const bool bwd_distance = (r->set_flags & set_flag_backward_distance) != 0;
  return unify_list(r->batch, fwd_distance, bwd_distance);
}

std::int32_t synchronize_queue_and_cleanup_old(slot_buffer_type& slot, DFTI_DESCRIPTOR* r) {
  sycl::queue* old = record_queue(r);
  if (old == nullptr) return status_success;
  switch (device_of(r)) {
    case committed_device::gpu:
      // Kernels of the old commitment must be done before its memory goes.
      old->wait_and_throw();
      if (r->backend != nullptr && r->backend->bkd_free != nullptr) {
        const int status = r->backend->bkd_free(r->backend, r);
        if (status != status_success) return status;
      }
      r->backend = nullptr;
      break;
    case committed_device::cpu:
      cpu_host_free(slot, *old);
      old->wait_and_throw();
      break;
    default: break;
  }
  r->commit_status = dfti_uncommitted;
  destroy_record_queue(r);
  return status_success;
}

std::int64_t gpu_precision_status(std::uint32_t precision, bool device_has_fp64) {
  if (precision == dfti_single) return status_success;
  if (precision == dfti_double && device_has_fp64) return status_success;
  return status_invalid_configuration;
}

// Whether every offset of one side (field `f` of the length and batch
// records: strides and distances) fits in 64 bits in bytes, with room for
// the products the backends form: each computes offsets as 64-bit sums of
// a stride or distance times a count of up to the full length (not only
// length - 1), then scales by the element size. A bound of the sum of
// length * |stride| over every dimension, times the complex element's
// bytes, covers all of them.
bool side_offsets_fit(const DFTI_DESCRIPTOR* r, dim_field f) {
  std::int64_t reach = 0;
  const auto add_steps = [&reach, f](const dim_record& d) {
    const std::int64_t step = dim_value(d, f);
    if (step == std::numeric_limits<std::int64_t>::min()) return false;
    std::int64_t span = 0;
    return !__builtin_mul_overflow(d.length, step < 0 ? -step : step, &span) &&
           !__builtin_add_overflow(reach, span, &reach);
  };
  for (std::int32_t k = 0; k < r->lengths.count; ++k)
    if (!add_steps(r->lengths.records[k])) return false;
  for (std::int32_t k = 0; k < r->batch.count; ++k)
    if (!add_steps(r->batch.records[k])) return false;
  const std::int64_t complex_bytes = r->precision == dfti_double ? 16 : 8;
  std::int64_t bytes = 0;
  return !__builtin_mul_overflow(reach, complex_bytes, &bytes);
}

std::int64_t gpu_size_limit_status(const DFTI_DESCRIPTOR* r) {
  if (r->batch.count < 1 || r->lengths.count < 1) return status_invalid_configuration;
  const std::int64_t transforms = r->batch.records[0].length;
  if (transforms < 1) return status_invalid_configuration;
  std::uint64_t n = static_cast<std::uint64_t>(transforms);
  for (std::int32_t k = 0; k < r->lengths.count; ++k) {
    const std::int64_t length = r->lengths.records[k].length;
    if (length < 1) return status_invalid_configuration;
    std::uint64_t extent = static_cast<std::uint64_t>(length);
    // The real side of a real transform is padded to 2*(L0/2+1) in dimension 0.
    if (k == 0 && r->domain != dfti_complex) extent = 2 * (extent / 2 + 1);
    if (__builtin_mul_overflow(n, extent, &n)) return status_unimplemented;
  }
  if (r->domain == dfti_complex && __builtin_mul_overflow(n, std::uint64_t{2}, &n))
    return status_unimplemented;
  if (n > max_gpu_scalars) return status_unimplemented;
  // Strides and distances that place an element beyond 64-bit offsets.
  for (dim_field f : {dim_input, dim_output, dim_forward, dim_backward})
    if (!side_offsets_fit(r, f)) return status_unimplemented;
  return status_success;
}

std::int64_t gpu_commit(DFTI_DESCRIPTOR* r) {
  const sycl::device device = record_queue(r)->get_device();
  std::int64_t status = gpu_precision_status(r->precision, device.has(sycl::aspect::fp64));
  if (status != status_success) return status;
  status = gpu_size_limit_status(r);
  if (status != status_success) return status;
  if (r->work_lengths.count > max_front_end_rank) throw_rank_above_limit("GPU");
  gpu_binder(r)(&r);
  qez_dft_bless_node_thr(r);
  return static_cast<std::int64_t>(r->methods->commit(r));
}

std::int64_t cpu_host_commit(DFTI_DESCRIPTOR* r, slot_buffer_type& slot, sycl::queue& queue) {
  const sycl::device device = record_queue(r)->get_device();
  if (r->precision == dfti_double ? !device.has(sycl::aspect::fp64) : r->precision != dfti_single)
    return status_invalid_configuration;
  if (r->work_lengths.count > max_front_end_rank) throw_rank_above_limit("CPU");
  if (r->domain == dfti_complex && r->complex_storage != dfti_complex_complex)
    return status_unimplemented;
  // The CPU engine brings its own memory; a caller's workspace has no use there.
  if (r->workspace_internal == 0) return status_unimplemented;

  sycl_descriptor flat;
  const int flat_status = to_sycl_descriptor(r, &flat);
  if (flat_status != status_success) return flat_status;

  std::int64_t status = status_success;
  {
    sycl::buffer<sycl_descriptor, 1> flat_buffer(&flat, sycl::range<1>(1));
    sycl::buffer<std::int64_t, 1> status_buffer(&status, sycl::range<1>(1));
    queue
        .submit([&](sycl::handler& cgh) {
          sycl::accessor slot_access(slot, cgh, sycl::read_write);
          sycl::accessor status_access(status_buffer, cgh, sycl::read_write);
          sycl::accessor flat_access(flat_buffer, cgh, sycl::read_only);
          cgh.host_task([=]() {
            try {
              status_access[0] = commit_cpu_copy(slot_access.get_pointer(), flat_access[0]);
            } catch (...) {
              status_access[0] = status_internal_error;
            }
          });
        })
        .wait();
    sycl::host_accessor result(status_buffer, sycl::read_only);
    status = result[0];
  }
  if (status == status_success) adopt_cpu_thread_counts(r, slot);
  return status;
}

void commit_descriptor(DFTI_DESCRIPTOR* r, slot_buffer_type& slot, sycl::queue& queue) {
  ensure_initialized(r, commit_operation);
  if (any_negative(r->lengths) || any_negative(r->batch))
    throw ulmara::qez::unimplemented("dft", commit_operation,
                                     "Negative strides or distances are not supported yet.");
  if (!check_inplace_complex_strides(r))
    throw ulmara::qez::exception("dft", commit_operation,
                                 "Strides and distances must be same in forward and backward "
                                 "domains for complex inplace transforms.");
  if (synchronize_queue_and_cleanup_old(slot, r) != status_success)
    throw ulmara::qez::exception("dft", commit_operation,
                                 "Failed to synchronize queue and cleanup old handle.");
  r->queue = new sycl::queue(queue);

  std::int64_t status;
  if (queue.get_device().is_gpu()) {
    status = gpu_commit(r);
  } else {
    status = cpu_host_commit(r, slot, queue);
    r->commit_status = status == status_success ? dfti_committed : dfti_uncommitted;
  }
  if (status == status_unimplemented)
    throw ulmara::qez::unimplemented("dft", commit_operation,
                                     "Unimplemented support for the attempted configuration.");
  throw_on_dfti_status(status);
}

}  // namespace ulmara::qez::dft
