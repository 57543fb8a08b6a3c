// Workspaces of the ESIMD plan: two table slices per pass, attached as USM
// memory or as sub-buffers of a buffer, or made by the plan itself (internal
// workspace: a device block for the USM tables and plan-owned buffers for the
// buffer tables); their release; the container-kind check of the computes.
#include <stdexcept>

#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_internal.hpp"
#include "dft/gpu/core/internal_workspace.hpp"

namespace ulmara::qez::dft {

using namespace esimd_2_facts;

namespace {

void append_events(const std::vector<sycl::event>& from, std::vector<sycl::event>* to) {
  if (to) to->insert(to->end(), from.begin(), from.end());
}

// The error SYCL raises for a sub-buffer that cannot be made from `parent`
// at element `offset` with `count` elements.
template <class T>
void check_sub_buffer(const sycl::buffer<T, 1>& parent, std::uint64_t offset, std::uint64_t count) {
  if (parent.is_sub_buffer())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid), "Cannot create sub buffer from sub buffer.");
  if (offset + count > parent.size())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                          "Requested sub-buffer size exceeds the size of the parent buffer");
}

// The first byte at or after `offset` where a table of T may start, in both
// forms: rounding down would begin the first slice before the area the
// caller handed this plan; rounding up stays within the slack the plan's
// workspace size holds (workspace_offset_slack).
template <class T>
std::uint64_t first_table_byte(std::uint64_t offset) {
  const std::uint64_t scalar = sizeof(T);
  return (offset + scalar - 1) / scalar * scalar;
}

}  // namespace

template <class T>
void esimd_2_facts_plan<T>::set_workspace(void* workspace, std::uint32_t phase, std::vector<sycl::event>* list,
                                          std::uint64_t offset) {
  switch (phase) {
    case 2:
      container_kind = container_usm;
      delete_internal_allocations(2);
      break;
    case 1: delete_internal_allocations(1); return;
    case 0:
      delete_internal_allocations(0);
      if (list) {
        // The plan's own buffers, so that buffer computes work too.
        for (std::uint64_t k = 0; k < 2 * rank; ++k)
          table_buffers[k].reset(new table_buffer(sycl::range<1>(slice_bytes[k] / sizeof(T))));
        create_twiddle_table(1);
        append_events(events, list);
      }
      break;
    default: break;
  }
  char* base = static_cast<char*>(workspace) + first_table_byte<T>(offset);
  for (std::uint64_t k = 0; k < 2 * rank; ++k) {
    table_pointers[k] = reinterpret_cast<T*>(base);
    base += slice_bytes[k];
  }
  create_twiddle_table(0);
  append_events(events, list);
}

template <class T>
void esimd_2_facts_plan<T>::set_workspace(table_buffer& workspace, std::uint32_t phase,
                                          std::vector<sycl::event>* list, std::uint64_t offset) {
  if (phase == 2) {
    container_kind = container_buffer;
    delete_internal_allocations(2);
  } else {
    delete_internal_allocations(phase);
    if (phase != 0) return;
  }
  std::uint64_t first = first_table_byte<T>(offset) / sizeof(T);
  for (std::uint64_t k = 0; k < 2 * rank; ++k) {
    const std::uint64_t count = slice_bytes[k] / sizeof(T);
    check_sub_buffer(workspace, first, count);
    table_buffers[k].reset(new table_buffer(workspace, sycl::id<1>(first), sycl::range<1>(count)));
    first += count;
  }
  create_twiddle_table(1);
  append_events(events, list);
}

template <class T>
void esimd_2_facts_plan<T>::set_workspace(sycl::buffer<char, 1>& workspace, std::uint32_t phase,
                                          std::vector<sycl::event>* list, std::uint64_t offset) {
  table_buffer view = workspace.reinterpret<T, 1>(sycl::range<1>(workspace.byte_size() / sizeof(T)));
  set_workspace(view, phase, list, offset);
}

template <class T>
std::uint64_t esimd_2_facts_plan<T>::create_and_initialize_internal_workspaces() {
  std::vector<sycl::event> collected;
  const std::uint64_t largest = largest_device_allocation(*queue);
  for (int kind = 0; kind < 2; ++kind) {
    const std::uint64_t bytes = workspace_bytes[kind];
    if (bytes == 0) continue;
    if (bytes > largest) return 1;
    void* block = sycl::malloc_device(bytes, *queue);
    if (block == nullptr) return 1;
    if (kind == 0) {
      set_workspace(block, 0, &collected, 0);
    } else {
      free_device_area_after_queue(*queue, internal_allocations[1]);
    }
    internal_allocations[kind] = block;
  }
  sycl::event::wait(collected);
  return 0;
}

template <class T>
void esimd_2_facts_plan<T>::delete_internal_allocations(std::uint32_t kind) {
  if (kind == 0 || kind == 2) {
    // Freed once the queue's work is done: table writes or computes may
    // still read the block.
    if (queue) free_device_area_after_queue(*queue, internal_allocations[0]);
    for (int k = 0; k < max_slices; ++k) {
      table_buffers[k].reset();
      table_pointers[k] = nullptr;
    }
  }
  if ((kind == 1 || kind == 2) && queue) free_device_area_after_queue(*queue, internal_allocations[1]);
}

template <class T>
std::int32_t esimd_2_facts_plan<T>::check_container_kind(std::int32_t kind) const {
  if (kind == container_not_fixed) throw std::invalid_argument("The compute-time data container type must be known");
  if (container_kind != container_not_fixed) return static_cast<std::int32_t>(container_kind) != kind ? 1 : 0;
  if (rank == 0) return 0;
  for (std::uint64_t k = 0; k < 2 * std::min<std::uint64_t>(rank, max_rank); ++k) {
    if (kind == container_buffer && !table_buffers[k]) return 1;
    if (kind == container_usm && table_pointers[k] == nullptr) return 1;
  }
  return kind == container_buffer || kind == container_usm ? 0 : 1;
}

#define QEZ_INSTANTIATE(T)                                                                                   \
  template void esimd_2_facts_plan<T>::set_workspace(void*, std::uint32_t, std::vector<sycl::event>*,         \
                                                     std::uint64_t);                                           \
  template void esimd_2_facts_plan<T>::set_workspace(table_buffer&, std::uint32_t, std::vector<sycl::event>*, \
                                                     std::uint64_t);                                           \
  template void esimd_2_facts_plan<T>::set_workspace(sycl::buffer<char, 1>&, std::uint32_t,                   \
                                                     std::vector<sycl::event>*, std::uint64_t);                \
  template std::uint64_t esimd_2_facts_plan<T>::create_and_initialize_internal_workspaces();                  \
  template void esimd_2_facts_plan<T>::delete_internal_allocations(std::uint32_t);                            \
  template std::int32_t esimd_2_facts_plan<T>::check_container_kind(std::int32_t) const;
QEZ_INSTANTIATE(float)
QEZ_INSTANTIATE(double)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft
