// Workspace of the n-factor SLM backend: areas 1 and 2 (the pass twiddles),
// then the forward and the backward main table, laid out in the backend's
// own USM allocation or in the caller's buffer or USM workspace.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/twiddles.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::n_facts_slm {

namespace {

template <class T>
void finish_events(block<T>* b) {
  for (sycl::event*& e : b->events) finish_event(e);
}

template <class T>
void release_views(block<T>* b) {
  for (byte_buffer*& s : b->main_subbuffers) release_view(s);
  for (byte_buffer*& s : b->area_subbuffers) release_view(s);
  for (void*& p : b->main_tables) p = nullptr;
  for (void*& p : b->areas) p = nullptr;
}

template <class T>
void lay_out(block<T>* b, void* workspace, std::uint32_t kind, std::uint64_t offset) {
  workspace_slicer slices{workspace, kind == workspace_buffer, offset};
  for (int a = area_0; a < area_count; ++a)
    if (b->area_bytes[a] != 0) slices.take(b->area_bytes[a], &b->areas[a], &b->area_subbuffers[a]);
  for (direction d : {dir_forward, dir_backward})
    if (serves(b->directions, d)) slices.take(b->main_table_bytes, &b->main_tables[d], &b->main_subbuffers[d]);
}

template <class T>
void* area_view(const block<T>* b, int a) {
  return b->workspace_kind == workspace_buffer ? static_cast<void*>(b->area_subbuffers[a]) : b->areas[a];
}
template <class T>
void* main_view(const block<T>* b, direction d) {
  return b->workspace_kind == workspace_buffer ? static_cast<void*>(b->main_subbuffers[d]) : b->main_tables[d];
}

template <class T>
int write_tables(block<T>* b) {
  sycl::queue& q = *b->queue;
  const std::int64_t f0 = b->fact[fact0], f1 = b->fact[fact1], f2 = b->fact[fact2];
  void* area1 = area_view(b, area_1);
  if (area1 == nullptr) return status_no_workspace;
  keep_event(b->events[area_1], init_or_copy_simple_twiddles_on_device<T>(area1, b->workspace_kind, f0, f1, q));
  void* area2 = area_view(b, area_2);
  if (area2 == nullptr) return status_no_workspace;
  keep_event(b->events[area_2],
             init_or_copy_simple_twiddles_on_device<T>(area2, b->workspace_kind, f0 * f1, f2, q));
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) continue;
    void* table = main_view(b, d);
    if (table == nullptr) return status_no_workspace;
    const T scale = d == dir_forward ? b->fwd_scale : b->bwd_scale;
    keep_event(b->events[main_event_slot(d)],
               init_or_copy_main_twiddle_on_device<T>(table, b->workspace_kind, scale, *b, q));
  }
  return status_success;
}

template <class T>
void append_events(const block<T>* b, std::vector<sycl::event>* events) {
  for (int slot : {int(event_main_forward), int(event_main_backward), int(area_0), int(area_1), int(area_2),
                   int(area_3)})
    if (b->events[slot] != nullptr) events->push_back(*b->events[slot]);
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t mode) {
  if (covers_twiddle_part(mode)) {
    finish_events(b);
    release_views(b);
    free_device_area_after_queue(*b->queue, b->internal_workspace);
  }
  if (covers_scratch_part(mode)) free_device_area_after_queue(*b->queue, b->second_internal_workspace);
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t mode,
                  void* events) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  // Tables still being written and computes still reading go first.
  bkd_free_buffers(b, mode);
  if (!covers_twiddle_part(mode)) return status_success;
  b->workspace = workspace;
  b->workspace_kind = kind == workspace_buffer ? workspace_buffer : workspace_usm;
  if (workspace == nullptr) return status_no_workspace;
  lay_out(b, workspace, b->workspace_kind, offset);
  const int status = write_tables(b);
  if (events != nullptr) append_events(b, static_cast<std::vector<sycl::event>*>(events));
  return status;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record, add_workspace_fn add) {
  if (record->workspace_internal == 0) return status_bad_descriptor;
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  std::vector<sycl::event> written;

  internal_allocation tables(b->queue);
  int status = tables.allocate(record->workspace_bytes[0]);
  if (status != status_success) return status;
  status = add(tables.get(), workspace_usm, 0, record, workspace_part_twiddles, &written);
  // Recorded whatever the status: the block's release waits for the writes.
  b->internal_workspace = tables.release();
  if (status == status_success) {
    internal_allocation second(b->queue);
    status = second.allocate(record->workspace_bytes[1]);
    if (status == status_success && second.get() != nullptr) {
      free_device_area_after_queue(*b->queue, b->second_internal_workspace);
      b->second_internal_workspace = second.release();
    }
  }
  for (sycl::event& e : written) e.wait();
  return status;
}

#define QEZ_INSTANTIATE(T)                                                                                     \
  template void bkd_free_buffers<T>(block<T>*, std::uint32_t);                                                 \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*);            \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*, add_workspace_fn);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::n_facts_slm
