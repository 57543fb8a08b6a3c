// What the one-dimensional backends do alike with a workspace handed to
// add_workspace: which parts a call covers, the slices they lay out one
// after the other (a byte sub-buffer of a buffer workspace or an address in
// a USM one), the release of those views, the heap events of the table
// writers a block keeps, and the two-part internal workspace they allocate
// at commit.
#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft {

// The part handed to add_workspace covers the tables (part 0) / the scratch
// (part 1); "both" covers either.
inline bool covers_twiddle_part(std::uint32_t part) {
  return part == workspace_part_twiddles || part == workspace_part_both;
}
inline bool covers_scratch_part(std::uint32_t part) {
  return part == workspace_part_scratch || part == workspace_part_both;
}

// A view of `bytes` at `offset` of a buffer workspace, created on behalf of
// add_workspace.
byte_buffer* workspace_sub_buffer(byte_buffer& parent, std::uint64_t offset, std::uint64_t bytes);

// Deletes a block's view of a workspace (if any) and clears the slot.
void release_view(byte_buffer*& view);

// Keeps a heap copy of `e` in a block's slot, replacing what was there.
void keep_event(sycl::event*& slot, const sycl::event& e);

// Where a backend's twiddle-table writers are submitted from, as the SYCL
// runtime records them: the writer routine and the line.
inline sycl::detail::code_location table_writer_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "bkd_write_twiddle_table_on_device", line, 0);
}

// The first steps of add_workspace for a block with `workspace` and
// `workspace_kind` fields: the block holds `workspace` (a buffer workspace,
// else a USM one), then lets go of its views and areas of `part` (tables
// still being written and computes still reading go first, by its
// bkd_free_buffers). 0, 2 without a block, or 11 without a workspace.
template <class Block>
int take_workspace(Block* b, void* workspace, int kind, std::uint32_t part) {
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = kind == plan_basics::workspace_buffer ? plan_basics::workspace_buffer : plan_basics::workspace_usm;
  bkd_free_buffers(b, part);
  return workspace == nullptr ? status_no_workspace : status_success;
}

// Slices of one workspace, one after the other from `offset`: views of a
// buffer workspace (`buffer`), else addresses in a USM one.
struct workspace_slicer {
  void* workspace;
  bool buffer;
  std::uint64_t offset;

  // The next `bytes`: a new view in *view, or an address in *pointer.
  void take(std::uint64_t bytes, void** pointer, byte_buffer** view) {
    if (buffer)
      *view = workspace_sub_buffer(*static_cast<byte_buffer*>(workspace), offset, bytes);
    else
      *pointer = static_cast<char*>(workspace) + offset;
    offset += bytes;
  }
};

// A backend's add_workspace.
using add_workspace_entry = decltype(backend_table::add_workspace);

// The internal workspace of a backend with two parts: part 0 (the tables),
// then, once part 0 is in place, part 1 (the scratch), each a fresh USM
// area of the record's size for that part (larger than the device's
// largest allocation, or refused: 1) handed to the backend's `add`. An area
// is the block's (kept in `first` / `second`, plain slots or device_area
// members) whatever add answers, since its release waits for the writes;
// `kind` becomes `internal_kind` once part 1 was handed over. The table
// writes are done when this returns.
template <class Slot, class Kind, class Value>
int create_two_part_internal_workspace(DFTI_DESCRIPTOR* record, sycl::queue* queue, add_workspace_entry add,
                                       Slot& first, Slot& second, Kind& kind, Value internal_kind) {
  const std::uint64_t largest = largest_device_allocation(*queue);
  const int usm = static_cast<int>(kind_usm_pointer);
  event_list written;

  internal_allocation tables(queue);
  int status = tables.allocate(record->workspace_bytes[workspace_part_twiddles], largest);
  if (status == status_success) {
    status = add(tables.get(), usm, 0, record, workspace_part_twiddles, &written);
    keep_internal_area(first, tables);
  }
  if (status == status_success) {
    internal_allocation scratch(queue);
    status = scratch.allocate(record->workspace_bytes[workspace_part_scratch], largest);
    if (status == status_success) {
      status = add(scratch.get(), usm, 0, record, workspace_part_scratch, &written);
      keep_internal_area(second, scratch);
      kind = internal_kind;
    }
  }
  for (sycl::event& e : written) e.wait();
  return status;
}

}  // namespace ulmara::qez::dft
