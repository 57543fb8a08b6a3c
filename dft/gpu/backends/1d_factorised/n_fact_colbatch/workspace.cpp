// Workspace of the n-factor column-batch backend: the main (and sub) twiddle
// tables of each prepared direction, in the backend's own USM allocation or
// in the caller's buffer or USM workspace. Layout from the given offset:
// forward main, backward main, forward sub, backward sub.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::n_fact_colbatch {

namespace {

// A slice of a byte buffer; a buffer that is itself a view, or one that
// ends before the slice, is refused with the SYCL runtime's own errors.
void check_sub_buffer(const byte_buffer& parent, std::uint64_t offset, std::uint64_t bytes) {
  if (parent.is_sub_buffer())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid), "Cannot create sub buffer from sub buffer.");
  if (offset + bytes > parent.size())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                          "Requested sub-buffer size exceeds the size of the parent buffer");
}

// The next slice of the workspace; a zero size leaves both handles null.
void take_slice(workspace_slicer& slices, std::uint64_t bytes, void** pointer, byte_buffer** buffer) {
  if (bytes == 0) return;
  if (slices.buffer) check_sub_buffer(*static_cast<const byte_buffer*>(slices.workspace), slices.offset, bytes);
  slices.take(bytes, pointer, buffer);
}

template <class T>
std::uint64_t slice_bytes(const block<T>& b, table_kind t) {
  return t == table_main ? b.main_slice_bytes : b.sub_slice_bytes;
}

template <class T>
bool slice_present(const block<T>& b, table_kind t, direction d) {
  if (b.workspace_kind == workspace_buffer)
    return (t == table_main ? b.main_buffers[d] : b.sub_buffers[d]) != nullptr;
  return (t == table_main ? b.main_pointers[d] : b.sub_pointers[d]) != nullptr;
}

template <class T>
void lay_out_slices(block<T>* b, std::uint64_t offset) {
  workspace_slicer slices{b->workspace, b->workspace_kind == workspace_buffer, offset};
  for (direction d : {dir_forward, dir_backward})
    if (serves(b->directions, d)) take_slice(slices, b->main_slice_bytes, &b->main_pointers[d], &b->main_buffers[d]);
  for (direction d : {dir_forward, dir_backward})
    if (serves(b->directions, d)) take_slice(slices, b->sub_slice_bytes, &b->sub_pointers[d], &b->sub_buffers[d]);
}

template <class T>
int write_tables(block<T>* b) {
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) continue;
    for (table_kind t : {table_main, table_sub}) {
      if (slice_bytes(*b, t) == 0) continue;
      if (!slice_present(*b, t, d)) return status_no_workspace;
      keep_event(b->table_events[d][t], bkd_write_twiddle_table_on_device(*b, t, d));
    }
  }
  return status_success;
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t mode) {
  if (covers_twiddle_part(mode)) {
    for (auto& per_direction : b->table_events)
      for (sycl::event*& e : per_direction) finish_event(e);
    for (direction d : {dir_forward, dir_backward}) {
      release_view(b->main_buffers[d]);
      release_view(b->sub_buffers[d]);
      b->main_pointers[d] = nullptr;
      b->sub_pointers[d] = nullptr;
    }
    free_device_area_after_queue(*b->queue, b->internal_workspace);
  }
  if (covers_scratch_part(mode)) free_device_area_after_queue(*b->queue, b->second_internal_workspace);
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t mode,
                  void* events) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = kind == workspace_buffer ? workspace_buffer : workspace_usm;
  // Tables still being written go first.
  bkd_free_buffers(b, mode);
  if (!covers_twiddle_part(mode)) return status_success;
  if (workspace == nullptr) return status_no_workspace;

  lay_out_slices(b, offset);
  const int status = write_tables(b);
  if (status != status_success) return status;
  if (events != nullptr) {
    auto* list = static_cast<std::vector<sycl::event>*>(events);
    for (auto& per_direction : b->table_events)
      for (sycl::event* e : per_direction)
        if (e != nullptr) list->push_back(*e);
  }
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const std::uint64_t largest = largest_device_allocation(*b->queue);
  std::vector<sycl::event> written;

  internal_allocation tables(b->queue);
  int status = tables.allocate(record->workspace_bytes[0], largest);
  if (status != status_success) return status;
  if (tables.get() != nullptr) {
    status = add_workspace<T>(tables.get(), workspace_usm, 0, record, workspace_part_twiddles, &written);
    // Kept whatever the status: the block's release waits for the writes.
    b->internal_workspace = tables.release();
    if (status != status_success) return status;
  }
  internal_allocation second(b->queue);
  status = second.allocate(record->workspace_bytes[1], largest);
  if (status != status_success) return status;
  b->second_internal_workspace = second.release();
  // The commit hands back tables that are ready to be read.
  for (sycl::event& e : written) e.wait();
  return status_success;
}

QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE_BLOCK_WORKSPACE_ENTRIES)

}  // namespace ulmara::qez::dft::n_fact_colbatch
