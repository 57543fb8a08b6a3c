// Workspace of the four-factor backend. The twiddle part holds table A,
// table B and the cross table of each prepared direction (forward first);
// the temporary part holds the intermediate area of one chunk. Both live in
// the backend's own USM allocations or in the caller's buffer or USM
// workspace, the temporary part after the twiddle part.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/twiddles.hpp"
#include "dft/gpu/core/backend_definition.hpp"
#include "dft/gpu/core/internal_workspace.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace four_factor {

namespace {

bool holds_twiddles(std::uint32_t which) { return which == workspace_part_twiddles || which == workspace_part_both; }
bool holds_temp(std::uint32_t which) { return which == workspace_part_scratch || which == workspace_part_both; }

sycl::detail::code_location location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "add_workspace", line, 0);
}

void release_buffer(byte_buffer*& buffer) {
  try {
    delete buffer;
  } catch (...) {
    // The view is gone for the block either way.
  }
  buffer = nullptr;
}

// Slices of one workspace, one after the other from `offset`.
struct slice_maker {
  void* workspace;
  std::uint32_t kind;
  std::uint64_t offset;

  void take(std::uint64_t bytes, void** pointer, byte_buffer** buffer) {
    if (kind == workspace_buffer)
      *buffer = new byte_buffer(*static_cast<byte_buffer*>(workspace), sycl::id<1>(offset), sycl::range<1>(bytes),
                                location(__LINE__));
    else
      *pointer = static_cast<char*>(workspace) + offset;
    offset += bytes;
  }
};

void keep_event(sycl::event*& slot, const sycl::event& e) {
  delete slot;
  slot = new sycl::event(e);
}

template <class T>
table_view sub_table_view(const four_fact_state<T>& s, pass p) {
  return {s.ws_kind, s.sub_table_pointers[p], s.sub_table_buffers[p]};
}
template <class T>
table_view cross_view(const four_fact_state<T>& s, direction d) {
  return {s.ws_kind, s.cross_pointers[d], s.cross_buffers[d]};
}

template <class T>
void take_twiddle_slices(four_fact_state<T>* s, slice_maker& slices) {
  for (pass p : {pass_1, pass_2})
    slices.take(s->passes[p].sub_table_bytes, &s->sub_table_pointers[p], &s->sub_table_buffers[p]);
  for (direction d : {dir_forward, dir_backward})
    if (serves(s->direction_mode, d)) slices.take(s->cross_table_bytes, &s->cross_pointers[d], &s->cross_buffers[d]);
}

// Submits the table writers; 11 when a slice is missing.
template <class T>
int bkd_write_twiddle_table_on_device(four_fact_state<T>* s) {
  sycl::queue& q = *s->queue;
  for (pass p : {pass_1, pass_2}) {
    const table_view view = sub_table_view(*s, p);
    if (!view.present()) return status_no_workspace;
    keep_event(s->sub_table_events[p], write_sub_length_table<T>(q, view, s->passes[p].fact0, s->passes[p].fact1));
  }
  const cross_table_shape shape = cross_shape_of(s->passes[pass_2], s->length);
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s->direction_mode, d)) continue;
    const table_view view = cross_view(*s, d);
    if (!view.present()) return status_no_workspace;
    keep_event(s->cross_events[d], write_cross_table<T>(q, view, shape, s->scale[d]));
  }
  return status_success;
}

template <class T>
void append_table_events(const four_fact_state<T>& s, std::vector<sycl::event>* list) {
  for (sycl::event* e : {s.cross_events[dir_forward], s.cross_events[dir_backward], s.sub_table_events[pass_1],
                         s.sub_table_events[pass_2]})
    if (e != nullptr) list->push_back(*e);
}

}  // namespace

template <class T>
void bkd_free_buffers(four_fact_state<T>* s, std::uint32_t which) {
  if (holds_twiddles(which)) {
    for (sycl::event*& e : s->sub_table_events) finish_event(e);
    for (sycl::event*& e : s->cross_events) finish_event(e);
    for (byte_buffer*& b : s->sub_table_buffers) release_buffer(b);
    for (byte_buffer*& b : s->cross_buffers) release_buffer(b);
    free_device_area_after_queue(*s->queue, s->internal_twiddles);
    for (void*& p : s->sub_table_pointers) p = nullptr;
    for (void*& p : s->cross_pointers) p = nullptr;
  }
  if (holds_temp(which)) {
    finish_event(s->last_compute);
    release_buffer(s->temp_buffer);
    free_device_area_after_queue(*s->queue, s->internal_temp);
    s->temp_pointer = nullptr;
  }
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t which,
                  void* events) {
  four_fact_state<T>* s = state_of<T>(record);
  if (s == nullptr) return status_invalid_configuration;
  s->ws_base = workspace;
  s->ws_kind = kind == workspace_buffer ? workspace_buffer : workspace_usm;
  // Tables still being written and computes still running go first.
  bkd_free_buffers(s, which);
  if (workspace == nullptr) return status_no_workspace;

  slice_maker slices{workspace, s->ws_kind, offset};
  if (holds_twiddles(which)) {
    take_twiddle_slices(s, slices);
    const int status = bkd_write_twiddle_table_on_device(s);
    if (status != status_success) return status;
    if (events != nullptr) append_table_events(*s, static_cast<std::vector<sycl::event>*>(events));
  }
  if (holds_temp(which)) slices.take(s->temp_bytes, &s->temp_pointer, &s->temp_buffer);
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  if (record->workspace_internal == 0) return status_bad_descriptor;
  four_fact_state<T>* s = state_of<T>(record);
  if (s == nullptr) return status_invalid_configuration;
  const std::uint64_t largest = largest_device_allocation(*s->queue);
  std::vector<sycl::event> written;

  internal_allocation twiddles(s->queue);
  int status = twiddles.allocate(record->workspace_bytes[0], largest);
  if (status == status_success) {
    status = add_workspace<T>(twiddles.get(), workspace_usm, 0, record, workspace_part_twiddles, &written);
    // Kept whatever the status: the block's release waits for the writers.
    s->internal_twiddles = twiddles.release();
  }
  if (status == status_success) {
    internal_allocation temp(s->queue);
    status = temp.allocate(record->workspace_bytes[1], largest);
    if (status == status_success) {
      status = add_workspace<T>(temp.get(), workspace_usm, 0, record, workspace_part_scratch, &written);
      s->internal_temp = temp.release();
      s->ws_kind = workspace_internal;
    }
  }
  for (sycl::event& e : written) e.wait();
  return status;
}

#define QEZ_INSTANTIATE(T)                                                                          \
  template void bkd_free_buffers<T>(four_fact_state<T>*, std::uint32_t);                            \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*); \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace four_factor
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
