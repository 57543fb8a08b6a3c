// Workspace of the four-factor backend. The twiddle part holds table A,
// table B and the cross table of each prepared direction (forward first);
// the temporary part holds the intermediate area of one chunk. Both live in
// the backend's own USM allocations or in the caller's buffer or USM
// workspace, the temporary part after the twiddle part.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/twiddles.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::four_factor {

namespace {

template <class T>
table_view sub_table_view(const block<T>& s, pass p) {
  return {s.workspace_kind, s.sub_table_pointers[p], s.sub_table_buffers[p]};
}
template <class T>
table_view cross_view(const block<T>& s, direction d) {
  return {s.workspace_kind, s.cross_pointers[d], s.cross_buffers[d]};
}

template <class T>
void take_twiddle_slices(block<T>* s, workspace_slicer& slices) {
  for (pass p : {pass_0, pass_1})
    slices.take(s->passes[p].sub_table_bytes, &s->sub_table_pointers[p], &s->sub_table_buffers[p]);
  for (direction d : {dir_forward, dir_backward})
    if (serves(s->directions, d)) slices.take(s->cross_table_bytes, &s->cross_pointers[d], &s->cross_buffers[d]);
}

// Submits the table writers; 11 when a slice is missing.
template <class T>
int bkd_write_twiddle_table_on_device(block<T>* s) {
  sycl::queue& q = *s->queue;
  for (pass p : {pass_0, pass_1}) {
    const table_view view = sub_table_view(*s, p);
    if (!view.present()) return status_no_workspace;
    keep_event(s->sub_table_events[p], write_sub_length_table<T>(q, view, s->passes[p].fact0, s->passes[p].fact1));
  }
  const cross_table_shape shape = cross_shape_of(s->passes[pass_1], s->length);
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s->directions, d)) continue;
    const table_view view = cross_view(*s, d);
    if (!view.present()) return status_no_workspace;
    keep_event(s->cross_events[d], write_cross_table<T>(q, view, shape, s->scale[d]));
  }
  return status_success;
}

template <class T>
void append_table_events(const block<T>& s, std::vector<sycl::event>* list) {
  for (sycl::event* e : {s.cross_events[dir_forward], s.cross_events[dir_backward], s.sub_table_events[pass_0],
                         s.sub_table_events[pass_1]})
    if (e != nullptr) list->push_back(*e);
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* s, std::uint32_t which) {
  if (covers_twiddle_part(which)) {
    for (sycl::event*& e : s->sub_table_events) finish_event(e);
    for (sycl::event*& e : s->cross_events) finish_event(e);
    for (byte_buffer*& b : s->sub_table_buffers) release_view(b);
    for (byte_buffer*& b : s->cross_buffers) release_view(b);
    free_device_area_after_queue(*s->queue, s->internal_twiddles);
    for (void*& p : s->sub_table_pointers) p = nullptr;
    for (void*& p : s->cross_pointers) p = nullptr;
  }
  if (covers_scratch_part(which)) {
    finish_event(s->last_compute);
    release_view(s->temp_buffer);
    free_device_area_after_queue(*s->queue, s->internal_temp);
    s->temp_pointer = nullptr;
  }
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t which,
                  void* events) {
  block<T>* s = block_of<T>(record);
  const int taken = take_workspace(s, workspace, kind, which);
  if (taken != status_success) return taken;

  workspace_slicer slices{workspace, s->workspace_kind == workspace_buffer, offset};
  if (covers_twiddle_part(which)) {
    take_twiddle_slices(s, slices);
    const int status = bkd_write_twiddle_table_on_device(s);
    if (status != status_success) return status;
    if (events != nullptr) append_table_events(*s, static_cast<std::vector<sycl::event>*>(events));
  }
  if (covers_scratch_part(which)) slices.take(s->temp_bytes, &s->temp_pointer, &s->temp_buffer);
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  return create_block_internal_workspace(record, block_of<T>(record), add_workspace<T>, &block<T>::internal_twiddles,
                                         &block<T>::internal_temp);
}

QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE_BLOCK_WORKSPACE_ENTRIES)

}  // namespace ulmara::qez::dft::four_factor
