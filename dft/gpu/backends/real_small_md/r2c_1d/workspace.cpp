// Workspace of the real one-dimensional backend: the persistent part (the
// children's persistent parts, the temp when the children need scratch of
// their own, the twiddle table) and the scratch part (the children's scratch
// or the temp), carved from the caller's or the internal workspace; and the
// writer of the twiddle table.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_1d/plan.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/table_upload.hpp"
#include "dft/gpu/core/twiddle_angles.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::r2c_1d {

namespace {

sycl::detail::code_location location_of(const char* function, unsigned long line) {
  return sycl::detail::code_location(__FILE__, function, line, 0);
}

// A view of `bytes` bytes at `offset` in the workspace: a sub-buffer of a
// buffer workspace (which must not itself be a sub-buffer, and must hold the
// view), the address otherwise.
struct slice {
  void* pointer = nullptr;
  buffer_slice buffer;
};

slice make_slice(void* workspace, int kind, std::uint64_t offset, std::uint64_t bytes) {
  slice s;
  if (kind != plan_basics::workspace_buffer) {
    s.pointer = static_cast<char*>(workspace) + offset;
    return s;
  }
  auto* parent = static_cast<byte_buffer*>(workspace);
  if (parent == nullptr) return s;
  if (parent->is_sub_buffer())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                          "Cannot create sub buffer from sub buffer.");
  if (offset + bytes > parent->byte_size())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                          "Requested sub-buffer size exceeds the size of the parent buffer");
  s.buffer = std::make_unique<byte_buffer>(*parent, sycl::id<1>(offset), sycl::range<1>(bytes),
                                           location_of("add_workspace", __LINE__));
  return s;
}

void place_temp(block& b, void* workspace, int kind, std::uint64_t offset) {
  slice s = make_slice(workspace, kind, offset, b.temp_size);
  b.temp_pointer = s.pointer;
  b.temp_slice = std::move(s.buffer);
}

// Entry k of the table of N/2 entries, as the host-table maker calls it.
template <class T>
struct twiddle_writer {
  std::int64_t half;
  auto key_fields() const { return std::make_tuple(half); }
  void write(T* table, std::size_t k, std::size_t) const { twiddle_entry<T>(static_cast<std::int64_t>(k), half, table); }
};

// The table of N/2 entries, made on the host and uploaded.
template <class T>
sycl::event bkd_write_twiddle_table_on_device(block& b, int kind) {
  const bool into_buffer = kind == plan_basics::workspace_buffer;
  void* target = into_buffer ? static_cast<void*>(b.twiddle_slice.get()) : b.twiddle_pointer;
  const sycl::range<2> entries(static_cast<size_t>(b.half_length), 1);
  return upload_host_table<T>(*b.queue, target, into_buffer, twiddle_writer<T>{b.half_length}, entries,
                              2 * entries.size(), location_of("bkd_write_twiddle_table_on_device", __LINE__));
}

template <class T>
int place_twiddles(block& b, void* workspace, int kind, std::uint64_t offset) {
  slice s = make_slice(workspace, kind, offset, b.twiddle_size);
  b.twiddle_pointer = s.pointer;
  b.twiddle_slice = std::move(s.buffer);
  const bool target = kind == plan_basics::workspace_usm ? b.twiddle_pointer != nullptr
                                                        : static_cast<bool>(b.twiddle_slice);
  if (!target) return status_no_workspace;
  b.twiddle_event = std::make_unique<sycl::event>(bkd_write_twiddle_table_on_device<T>(b, kind));
  return status_success;
}

// The children's areas of one part, in child order; persistent areas follow
// each other, scratch areas all start at `offset`.
int place_children(block& b, void* workspace, int kind, std::uint64_t& offset, workspace_part part,
                   void* events) {
  for (child_handle& c : b.children) {
    if (!c) continue;
    const int status = c->backend->add_workspace(workspace, kind, offset, c.get(), part, events);
    if (status != status_success) return status;
    if (part == workspace_part_twiddles) offset += c->workspace_bytes[part];
  }
  return status_success;
}

bool has_part(std::uint32_t phase, workspace_part part) {
  return phase == workspace_part_both || phase == static_cast<std::uint32_t>(part);
}

}  // namespace

template <class T>
void twiddle_entry(std::int64_t k, std::int64_t half_length, T* table) {
  const T step = T(1) / static_cast<T>(half_length);
  const T t = static_cast<T>(k) * step;
  table[2 * k] = cospi_of(t);
  table[2 * k + 1] = sinpi_of(t);
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t phase, void* events) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  bkd_free_buffers(b, phase);

  if (has_part(phase, workspace_part_twiddles)) {
    int status = place_children(*b, workspace, kind, offset, workspace_part_twiddles, events);
    if (status != status_success) return status;
    if (b->temp_in_persistent) {
      place_temp(*b, workspace, kind, offset);
      offset += b->temp_size;
    }
    if (b->even()) {
      status = place_twiddles<T>(*b, workspace, kind, offset);
      if (status != status_success) return status;
      offset += b->twiddle_size;
    }
    if (events != nullptr && b->twiddle_event)
      static_cast<event_list*>(events)->push_back(*b->twiddle_event);
  }
  if (has_part(phase, workspace_part_scratch)) {
    if (!b->temp_in_persistent) place_temp(*b, workspace, kind, offset);
    return place_children(*b, workspace, kind, offset, workspace_part_scratch, events);
  }
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  return create_block_internal_workspace(record, block_of(record), add_workspace<T>, &block::internal_persistent,
                                         &block::internal_scratch);
}

void bkd_free_buffers(block* b, std::uint32_t phase) {
  if (has_part(phase, workspace_part_twiddles)) {
    b->twiddle_event.reset();
    b->twiddle_slice.reset();
    b->internal_persistent.reset();
    b->twiddle_pointer = nullptr;
    if (b->temp_in_persistent) {
      b->temp_pointer = nullptr;
      b->temp_slice.reset();
    }
  }
  if (has_part(phase, workspace_part_scratch)) {
    b->internal_scratch.reset();
    if (!b->temp_in_persistent) {
      b->temp_pointer = nullptr;
      b->temp_slice.reset();
    }
  }
}

#define QEZ_INSTANTIATE(T)                                                                       \
  template void twiddle_entry<T>(std::int64_t, std::int64_t, T*);                                 \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*); \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::r2c_1d
