// Acceptance, planning, commit and release of the large one-dimensional
// backend, and its backend tables.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/large_1d/plan.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/guarded_step.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace large_1d {

namespace {

// The split search's early stop and the largest quotient it looks at.
struct split_limits {
  std::int64_t early_stop;
  std::int64_t largest_quotient;
};
constexpr split_limits double_limits{1025, 8192};
constexpr split_limits single_limits{2049, 8193};

bool is_power_of_two(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

// Row padding per length: rows of 2^24 and 2^25 points are padded so that
// the column child's strided reads spread over the memory channels.
struct row_padding {
  std::int64_t length;
  std::int64_t bytes;
};
constexpr row_padding row_paddings[] = {{std::int64_t{1} << 24, 256}, {std::int64_t{1} << 25, 2048}};

template <class T>
int distance_rule(block<T>* b) {
  const batch_layout_row& row = b->batch;
  const std::int64_t in = row.io_distances ? row.in_distance : row.fwd_distance;
  const std::int64_t out = row.io_distances ? row.out_distance : row.bwd_distance;
  if (in != out) return status_not_handled;
  b->distance = in == 0 && row.howmany == 1 ? b->length : in;
  // Transforms lie back to back.
  return b->distance == b->length ? status_success : status_not_handled;
}

std::uint64_t base_alignment_bytes(const sycl::queue& q) {
  return q.get_device().get_info<sycl::info::device::mem_base_addr_align>() / 8;
}

// The plan: the architecture, the split, the layout of the
// batch and of the matrix.
template <class T>
int plan_matrix(block<T>* b, DFTI_DESCRIPTOR* record) {
  int status = 0;
  const qez_gpu_arch_t architecture = gpu::get_architecture(&status, b->queue);
  if (status != 0 || architecture != QEZ_GPU_ARCH_HARIX) return status_not_handled;
  copy_batch_layout(&b->batch, record);
  b->length = record->work_lengths.records[0].length;
  if (b->length > longest_searched_length) return status_not_handled;
  split s;
  if (!find_split(b->length, is_double<T>(), &s)) return status_not_handled;
  b->n_large = s.n_large;
  b->n_small = s.n_small;
  const int distances = distance_rule(b);
  if (distances != status_success) return distances;

  b->row_pad_bytes = row_pad_bytes_of(b->length);
  b->padded_matrix_bytes =
      static_cast<std::uint64_t>((b->n_large * complex_bytes<T>() + b->row_pad_bytes) * b->n_small);
  if (!matrix_chunks_by_one(b->padded_matrix_bytes, base_alignment_bytes(*b->queue), b->batch.howmany,
                            is_double<T>()))
    return status_not_handled;
  b->chunk_transforms = 1;
  b->tail_transforms = 0;
  b->chunk_bytes = b->distance * complex_bytes<T>();
  b->tail_chunk_bytes = 0;
  b->chunk_count = b->batch.howmany;
  return status_success;
}

// Once the children are committed: the matrix goes where the children leave
// room, and the record's two workspace sizes.
template <class T>
void size_workspace(block<T>* b, DFTI_DESCRIPTOR* record) {
  b->workspace_kind = workspace_internal;
  b->matrix_bytes = pad_to_base_addr_align(b->padded_matrix_bytes, b->queue);
  const DFTI_DESCRIPTOR* col = b->col_child;
  const DFTI_DESCRIPTOR* row = b->row_child;
  b->matrix_in_first_part = col->workspace_bytes[1] != 0 || row->workspace_bytes[1] != 0;
  const std::uint64_t m = b->padded_matrix_bytes;
  record->workspace_bytes[0] =
      (b->matrix_in_first_part ? m : 0) + col->workspace_bytes[0] + row->workspace_bytes[0];
  std::uint64_t second = b->matrix_in_first_part ? 0 : m;
  second = std::max(second, col->workspace_bytes[1]);
  record->workspace_bytes[1] = std::max(second, row->workspace_bytes[1]);
}

template <class T>
void free_child(DFTI_DESCRIPTOR*& child) {
  if (child != nullptr) child->free(child, child);
  child = nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pure planning.

bool find_split(std::int64_t length, bool double_precision, split* out) {
  const split_limits limits = double_precision ? double_limits : single_limits;
  std::uint64_t best_cost = std::numeric_limits<std::uint64_t>::max();
  bool found = false;
  std::int64_t n1 = length / largest_factor;
  if (n1 < 3) n1 = 2;
  for (; n1 <= largest_factor; ++n1) {
    if (n1 >= limits.early_stop && found) break;
    const std::int64_t q = length / n1;
    if (q > limits.largest_quotient) continue;
    // The only partner of n1 is the exact quotient; float takes even ones.
    const std::int64_t n2 = q;
    if (n1 * n2 != length || n2 < 2 || n2 > largest_factor) continue;
    if (!double_precision && n2 % 2 != 0) continue;
    const std::uint64_t cost = static_cast<std::uint64_t>(std::llabs(n1 - n2)) * static_cast<std::uint64_t>(n1 + n2);
    if (cost < best_cost) {
      best_cost = cost;
      out->n_large = std::max(n1, n2);
      out->n_small = std::min(n1, n2);
      found = true;
    }
  }
  return found;
}

std::int64_t row_pad_bytes_of(std::int64_t length) {
  for (const row_padding& p : row_paddings)
    if (p.length == length) return p.bytes;
  return 0;
}

bool matrix_chunks_by_one(std::uint64_t matrix_bytes, std::uint64_t alignment_bytes, std::int64_t howmany,
                          bool double_precision) {
  if (howmany < 2) return true;
  // A device reporting less than a byte of alignment constrains nothing.
  const std::uint64_t a = alignment_bytes == 0 ? 1 : alignment_bytes;
  if (matrix_bytes % a != 0) return false;
  return double_precision || matrix_bytes % 16 == 0;
}

template <class T>
std::string describe(const block<T>& b) {
  std::ostringstream s;
  s << "large_1d " << (is_double<T>() ? "d" : "s") << " N=" << b.length << " split=" << b.n_large << "x"
    << b.n_small << " pitch=" << row_pitch(b) << " matrix=" << b.padded_matrix_bytes
    << " chunks=" << b.chunk_count << " matrix_part=" << (b.matrix_in_first_part ? 0 : 1);
  return s.str();
}

// ---------------------------------------------------------------------------
// Acceptance, commit and release.

template <class T>
bool accepts(const DFTI_DESCRIPTOR* r) {
  // The frame and layout tests of the n-factor SLM backend (its float
  // floors concern short lengths only), and never a child plan.
  if (r->is_child != 0 || !n_facts_slm::accepts<T>(r)) return false;
  const std::int64_t n = r->work_lengths.records[0].length;
  return n > (shortest_length >> 1) && n <= longest_length && is_power_of_two(n);
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  block<T>* b = create_block<block<T>>(record);
  if (b == nullptr) return status_allocation_failed;
  b->queue = static_cast<sycl::queue*>(record->queue);
  if (b->queue == nullptr) return status_internal_error;
  b->fwd_scale = static_cast<T>(record->fwd_scale);
  b->bwd_scale = static_cast<T>(record->bwd_scale);

  // A device whose architecture or alignment cannot be read is not one this
  // plan is made for.
  int status = status_unless_thrown(status_not_handled, [&] { return plan_matrix(b, record); });
  if (status != status_success) return status;

  status = create_column_child<T>(record, 0);
  if (status != status_success) return status;
  status = create_row_child<T>(record, 0);
  if (status != status_success) return status;
  b->col_tail_child = nullptr;
  b->row_tail_child = nullptr;

  size_workspace(b, record);
  return make_workspace_and_kernels(record, b, create_and_initialize_internal_workspaces<T>);
}

template <class T>
void bkd_free_on_failure(DFTI_DESCRIPTOR* record) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return;
  finish_event(b->last_compute);
  release_kernel_handle(b->matcopy_kernel);
  for (DFTI_DESCRIPTOR** child : {&b->row_child, &b->row_tail_child, &b->col_child, &b->col_tail_child})
    free_child<T>(*child);
  if (b->queue != nullptr) bkd_free_buffers(b, workspace_part_both);
  free_block(b);
  record->bkd_data = nullptr;
}

QEZ_DEFINE_1D_BACKEND_POLICY(acceptance_when<accepts<T>>, bkd_free_on_failure<T>)

#define QEZ_INSTANTIATE(T)                           \
  template bool accepts<T>(const DFTI_DESCRIPTOR*);  \
  QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace large_1d

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_large_1d_gpu_bkd, large_1d)

}  // namespace ulmara::qez::dft
