#include "dft/gpu/backends/1d_basic/two_factor/workspace.hpp"

#include <cmath>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/table_upload.hpp"

namespace ulmara::qez::dft::two_factor {

namespace {

constexpr long double pi_l = 3.141592653589793238462643383279502884L;

sycl::detail::code_location at(const char* function, unsigned long line) {
  return sycl::detail::code_location(__FILE__, function, line, 0);
}

template <class T>
block<T>* block_of(DFTI_DESCRIPTOR* record) {
  return static_cast<block<T>*>(record->bkd_data);
}

// Everything the writer of an entry needs: {H, FACT0, N, SG} and the scale.
template <class T>
struct table_writer {
  std::int64_t h, fact0, n, sg;
  T scale;

  auto key_fields() const { return std::make_tuple(h, fact0, n, sg, scale); }

  // Writes the four elements of row i, column j into `t`.
  void write(T* t, std::int64_t i, std::int64_t j) const {
    const std::int64_t o = (j / h) * (2 * sg * fact0) + i * 2 * sg + 2 * (j % h);
    T c, s;
    twiddle_pair<T>(n, i, j, scale, &c, &s);
    t[o] = c;
    t[o + 1] = c;
    t[o + sg] = s;
    t[o + sg + 1] = -s;
  }
};

template <class T>
table_writer<T> writer_of(const block<T>& b, direction d) {
  return {subgroup_size / 2, b.fact0, b.length, subgroup_size,
          d == dir_forward ? b.fwd_scale : b.bwd_scale};
}

// The table of direction `d`, made on the host and uploaded into the USM
// table or the sub-buffer view.
template <class T>
sycl::event upload_table_of(block<T>& b, direction d, void* target, bool into_buffer) {
  const sycl::range<2> rows_by_columns(static_cast<size_t>(b.fact0), static_cast<size_t>(b.fact1));
  return upload_host_table<T>(*b.queue, target, into_buffer, writer_of(b, d), rows_by_columns,
                              static_cast<std::size_t>(b.table_bytes) / sizeof(T),
                              at("bkd_write_twiddle_table_on_device", __LINE__));
}

// A table write still in flight would land in memory its owner may free
// as soon as the views are gone, so it is waited for first.
template <class T>
void delete_views_and_events(block<T>* b) {
  for (direction d : {dir_forward, dir_backward}) {
    if (b->twiddle_events[d] != nullptr) b->twiddle_events[d]->wait();
    delete b->twiddle_events[d];
    b->twiddle_events[d] = nullptr;
    delete b->buffer_twiddles[d];
    b->buffer_twiddles[d] = nullptr;
    b->usm_twiddles[d] = nullptr;
  }
}

// The sub-buffer of one table inside a buffer workspace; SYCL refuses a
// sub-buffer of a sub-buffer and one beyond its parent.
byte_buffer* table_view(byte_buffer* workspace, std::uint64_t offset, std::int64_t bytes) {
  if (workspace->is_sub_buffer())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                          "add_workspace: a sub-buffer cannot be made of a sub-buffer");
  return new byte_buffer(*workspace, sycl::id<1>(offset), sycl::range<1>(static_cast<size_t>(bytes)),
                         at("add_workspace", __LINE__));
}

template <class T>
void lay_out_views(block<T>* b, void* workspace, int kind, std::uint64_t offset) {
  const bool both = b->directions == directions_both;
  if (kind == workspace_buffer) {
    auto* parent = static_cast<byte_buffer*>(workspace);
    for (direction d : {dir_forward, dir_backward}) {
      if (!serves(b->directions, d)) continue;
      b->buffer_twiddles[d] = table_view(parent, offset, b->table_bytes);
      offset += static_cast<std::uint64_t>(b->table_bytes);
    }
    return;
  }
  char* base = static_cast<char*>(workspace);
  if (base == nullptr) return;
  if (both) {
    b->usm_twiddles[dir_forward] = base + offset;
    b->usm_twiddles[dir_backward] = base + offset + b->table_bytes;
  } else {
    const direction only = b->directions == directions_backward ? dir_backward : dir_forward;
    b->usm_twiddles[only] = base + offset;
  }
}

}  // namespace

template <class T>
void twiddle_pair(std::int64_t n, std::int64_t row, std::int64_t column, T scale, T* cos_part,
                  T* sin_part) {
  const T a = static_cast<T>(-2 * row * column) / static_cast<T>(n);
  const long double angle = pi_l * static_cast<long double>(a);
  *cos_part = scale * static_cast<T>(std::cos(angle));
  *sin_part = scale * static_cast<T>(std::sin(angle));
}

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t mode) {
  if (mode == free_twiddles || mode == free_everything) {
    delete_views_and_events(b);
    free_device_area_after_queue(*b->queue, b->internal_twiddles);
  }
  if (mode == free_scratch || mode == free_everything) free_device_area_after_queue(*b->queue, b->internal_scratch);
}

template <class T>
int bkd_write_twiddle_table_on_device(block<T>* b) {
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) {
      b->usm_twiddles[d] = nullptr;
      delete b->buffer_twiddles[d];
      b->buffer_twiddles[d] = nullptr;
      continue;
    }
    const bool usm = b->workspace_kind == workspace_usm;
    if (usm ? b->usm_twiddles[d] == nullptr : b->buffer_twiddles[d] == nullptr)
      return status_no_workspace;
    const sycl::event written =
        usm ? upload_table_of(*b, d, b->usm_twiddles[d], false) : upload_table_of(*b, d, b->buffer_twiddles[d], true);
    delete b->twiddle_events[d];
    b->twiddle_events[d] = new sycl::event(written);
  }
  return status_success;
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t mode, void* events) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  b->workspace = workspace;
  bkd_free_buffers(b, mode);
  if (mode != free_twiddles && mode != free_everything) return status_success;
  lay_out_views(b, workspace, kind, offset);
  const int status = bkd_write_twiddle_table_on_device(b);
  if (status != status_success) return status;
  if (auto* list = static_cast<std::vector<sycl::event>*>(events)) {
    for (sycl::event* e : b->twiddle_events)
      if (e != nullptr) list->push_back(*e);
  }
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  block<T>* b = block_of<T>(record);
  const int refused = internal_workspace_refusal(record, b);
  if (refused != status_success) return refused;
  const std::uint64_t max_bytes = largest_device_allocation(*b->queue);

  internal_allocation tables(b->queue);
  int status = tables.allocate(record->workspace_bytes[0], max_bytes);
  if (status != status_success) return status;
  std::vector<sycl::event> written;
  status = add_workspace<T>(tables.get(), workspace_usm, 0, record, free_twiddles, &written);
  b->internal_twiddles = tables.release();

  internal_allocation scratch(b->queue);
  const int scratch_status = scratch.allocate(record->workspace_bytes[1], max_bytes);
  free_device_area_after_queue(*b->queue, b->internal_scratch);
  b->internal_scratch = scratch.release();
  b->workspace_kind = workspace_internal;
  if (status == status_success) status = scratch_status;

  for (sycl::event& e : written) e.wait();
  return status;
}

#define QEZ_INSTANTIATE(T)                                                                       \
  template void twiddle_pair<T>(std::int64_t, std::int64_t, std::int64_t, T, T*, T*);            \
  template void bkd_free_buffers<T>(block<T>*, std::uint32_t);                                  \
  template int bkd_write_twiddle_table_on_device<T>(block<T>*);                                 \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*); \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::two_factor
