// Acceptance, planning, workspace, compute and release of the padded 3D
// backend, and its backend tables.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/3d_padded/plan.hpp"
#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/submitted_work.hpp"
#include "dft/gpu/core/workspace_slices.hpp"
#include "gpu/service/architecture.hpp"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft {
namespace c2c_3d_padded {

namespace {

constexpr std::size_t name_bytes = 10;
constexpr int name_pad = ' ';

// Planes must be whole multiples of 64 KiB.
template <class T>
constexpr std::uint64_t plane_multiple() {
  return 65536 / (2 * sizeof(T));
}

int create_child(DFTI_DESCRIPTOR** out, std::int64_t length, float*) {
  return create_child_descriptor_c2c_1d_float(out, length, nullptr);
}
int create_child(DFTI_DESCRIPTOR** out, std::int64_t length, double*) {
  return create_child_descriptor_c2c_1d_double(out, length, nullptr);
}

void copy_batch(block& b, const DFTI_DESCRIPTOR* r) {
  const dim_record& batch = r->work_batch.records[0];
  b.transforms = static_cast<std::uint64_t>(batch.length);
  copy_batch_distances(b, batch);
}

// One stride per dimension, the same on both sides of the transform.
bool copy_strides(block& b, const DFTI_DESCRIPTOR* r) {
  for (int d = 0; d < axis_count; ++d) {
    const dim_record& rec = r->work_lengths.records[d];
    const std::int64_t in = rec.input != 0 ? rec.input : rec.forward;
    const std::int64_t out = rec.output != 0 ? rec.output : rec.backward;
    if (in != out || in <= 0) return false;
    b.lengths[d] = static_cast<std::uint64_t>(rec.length);
    b.strides[d] = static_cast<std::uint64_t>(in);
  }
  return true;
}

// Packed dimensions and packed transforms.
bool packed(block& b) {
  const std::uint64_t n0 = b.lengths[0], n1 = b.lengths[1], n2 = b.lengths[2];
  if (b.strides[0] != 1 || b.strides[1] != n0 || b.strides[2] != n0 * n1) return false;
  const std::uint64_t volume = n0 * n1 * n2;
  if (b.transforms < 2) {
    b.distance = volume;
    return true;
  }
  const std::uint64_t first = b.io_distances ? b.input_distance : b.forward_distance;
  const std::uint64_t partner = b.io_distances ? b.output_distance : b.backward_distance;
  b.distance = first;
  return first == partner && first == volume;
}

// The child of one axis, in the input/output convention: its length and
// strides, its batch records (the transforms last) and its placement.
struct child_layout {
  std::int64_t length, in_stride, out_stride;
  dim_record batch[3];
  int batch_count;
  bool in_place;
};

child_layout layout_of(const block& b, child_axis axis) {
  const auto i = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
  const std::int64_t n0 = i(b.lengths[0]), n1 = i(b.lengths[1]), n2 = i(b.lengths[2]);
  const std::int64_t r = i(b.row), plane = i(b.plane), volume = i(b.volume), t = i(b.transforms);
  const std::int64_t dist = i(b.distance);
  switch (axis) {
    case axis_x:
      return {n0, i(b.strides[0]), 1, {{n1, n0, r, 0, 0}, {n2, n0 * n1, plane, 0, 0}, {t, dist, volume, 0, 0}}, 3,
              false};
    case axis_y:
      return {n1, r, n0, {{n0, 1, 1, 0, 0}, {n2, plane, n0 * n1, 0, 0}, {t, volume, dist, 0, 0}}, 3, false};
    default:
      return {n2, plane, plane, {{plane, 1, 1, 0, 0}, {t, volume, volume, 0, 0}, {1, 0, 0, 0, 0}}, 2, true};
  }
}

template <class T>
int make_child(DFTI_DESCRIPTOR* r, block& b, child_axis axis) {
  static const char* const labels[axis_count] = {"3DC2C|1d", "3DC2C|2d", "3DC2C|3d"};
  const child_layout l = layout_of(b, axis);
  DFTI_DESCRIPTOR*& slot = b.children[axis];
  if (int status = create_child(&slot, l.length, static_cast<T*>(nullptr))) return status;
  DFTI_DESCRIPTOR* c = slot;
  qez_dft_bless_node_thr(c);
  take_parent_settings(c, r);
  c->directions = r->directions;
  c->lengths.records[0] = dim_record{l.length, l.in_stride, l.out_stride, 0, 0};
  for (int k = 0; k < l.batch_count; ++k) c->batch.records[k] = l.batch[k];
  // The input/output convention is the one in force for these records.
  c->set_flags = (c->set_flags & ~explicit_layout_flags) | io_set_flags;
  c->placement = l.in_place ? dfti_inplace : dfti_not_inplace;
  if (axis == axis_z) {
    c->fwd_scale = r->fwd_scale;
    c->bwd_scale = r->bwd_scale;
  }
  char name[name_bytes] = {};
  std::snprintf(name, name_bytes, "%s", labels[axis]);
  if (int status = c->methods->set_name(c, name, name_bytes, name_pad)) return status;
  return c->methods->commit(c);
}

int hand_to_child(DFTI_DESCRIPTOR* child, void* workspace, int kind, std::uint64_t offset, std::uint32_t phase,
                  void* events) {
  return child->backend->add_workspace(workspace, kind, offset, child, phase, events);
}

int compute(DFTI_DESCRIPTOR* r, plan_basics::direction d, void* input, void* output, void* dependencies,
            std::uint64_t* container_kind, void* result_event) {
  block* b = block_of(r);
  if (b == nullptr) return status_invalid_configuration;
  const bool buffer_data = is_buffer_form(container_kind);
  const std::uint64_t persistent = r->workspace_bytes[workspace_part_twiddles];
  const std::uint64_t scratch = r->workspace_bytes[workspace_part_scratch];
  if (r->workspace_internal != 0) {
    if ((persistent != 0 && b->internal_persistent.get() == nullptr) ||
        (scratch != 0 && b->internal_scratch.get() == nullptr))
      return status_bad_descriptor;
  } else if (persistent + scratch != 0) {
    const std::uint64_t data_bit = buffer_data ? container_word_buffer_bit : container_word_usm_bit;
    if ((b->workspace_kind & data_bit) == 0) return status_no_workspace;
  }
  follow_descriptor_queue(r, b);
  for (DFTI_DESCRIPTOR* c : b->children) {
    c->offload_mode = r->offload_mode;
    c->queue = r->queue;
  }
  void* temp = buffer_data ? static_cast<void*>(b->buffer_temp.get()) : b->usm_temp;
  if (temp == nullptr) return status_no_workspace;
  if (output == nullptr) output = input;  // in place

  const auto entry_of = [d](DFTI_DESCRIPTOR* c) { return d == plan_basics::dir_forward ? c->compute_fwd : c->compute_bwd; };
  DFTI_DESCRIPTOR* x = b->children[axis_x];
  DFTI_DESCRIPTOR* y = b->children[axis_y];
  DFTI_DESCRIPTOR* z = b->children[axis_z];
  sycl::event after_x, after_z, after_y;
  submitted_work work;
  int status = entry_of(x)(x, input, temp, dependencies, container_kind, &after_x);
  if (status != status_success) return status;
  std::vector<sycl::event> wait_x{work.add(after_x)};
  status = entry_of(z)(z, temp, temp, &wait_x, container_kind, &after_z);
  if (status != status_success) return status;
  std::vector<sycl::event> wait_z{work.add(after_z)};
  status = entry_of(y)(y, temp, output, &wait_z, container_kind, &after_y);
  if (status == status_success) hand_back_event(result_event, after_y);
  return work.settle(status);
}

}  // namespace

std::uint64_t memory_need(std::uint64_t data_bytes, bool in_place, std::uint64_t temp_bytes, bool internal) {
  return data_bytes * (in_place ? 1 : 2) + temp_bytes * (internal ? 2 : 1);
}

int acceptance(const DFTI_DESCRIPTOR* r) {
  if (!common_acceptance(r) || !complex_interleaved(r) || working_rank(r) != axis_count)
    return status_not_handled;
  const std::int64_t n0 = r->work_lengths.records[0].length;
  if (n0 != 512 && n0 != 1024) return status_not_handled;
  if (r->work_lengths.records[1].length != n0 || r->work_lengths.records[2].length != n0) return status_not_handled;
  auto* queue = static_cast<sycl::queue*>(r->queue);
  if (queue == nullptr) return status_not_handled;
  int status = 0;
  const auto arch = static_cast<std::uint32_t>(gpu::get_architecture(&status, queue));
  return status == 0 && arch == QEZ_GPU_ARCH_HARIX ? status_success : status_not_handled;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* r) {
  constexpr bool double_precision = sizeof(T) == sizeof(double);
  constexpr std::uint64_t element = 2 * sizeof(T);
  block* b = create_block<block>(r);
  if (b == nullptr) return status_allocation_failed;
  b->queue = static_cast<sycl::queue*>(r->queue);
  if (b->queue == nullptr) return status_not_handled;
  b->in_order = r->offload_mode == offload_none ? b->queue->is_in_order() : 0;
  copy_batch(*b, r);
  if (!copy_strides(*b, r) || !packed(*b)) return status_not_handled;
  if (b->strides[2] % plane_multiple<T>() != 0) return status_not_handled;

  b->temp_stride = 1;
  b->row = padded_row(b->lengths[0], double_precision);
  b->plane = b->lengths[1] * b->row;
  b->volume = b->lengths[2] * b->plane;
  b->temp_bytes = pad_to_base_addr_align(b->transforms * b->volume * element, b->queue);

  const bool internal = r->workspace_internal == 1;
  const std::uint64_t need =
      memory_need(b->transforms * b->distance * element, r->placement != dfti_not_inplace, b->temp_bytes, internal);
  const T global = static_cast<T>(b->queue->get_device().get_info<sycl::info::device::global_mem_size>());
  if (global * static_cast<T>(memory_share(internal)) < static_cast<T>(need)) return status_not_handled;

  for (child_axis axis : {axis_x, axis_y, axis_z})
    if (int status = make_child<T>(r, *b, axis)) return status;

  std::uint64_t persistent = b->temp_bytes, scratch = 0;
  for (const DFTI_DESCRIPTOR* c : b->children) {
    persistent += c->workspace_bytes[workspace_part_twiddles];
    scratch = std::max(scratch, c->workspace_bytes[workspace_part_scratch]);
  }
  r->workspace_bytes[workspace_part_twiddles] = persistent;
  r->workspace_bytes[workspace_part_scratch] = scratch;

  if (r->workspace_internal == 0) return status_success;
  // Part 0 holds the temporary and the children's persistent parts, part 1
  // the children's scratch.
  if (int status = create_two_part_internal_workspace(r, b->queue, add_workspace, b->internal_persistent,
                                                      b->internal_scratch, b->workspace_kind,
                                                      plan_basics::workspace_internal))
    return status;
  b->buffer_temp = std::make_unique<byte_buffer>(sycl::range<1>(static_cast<size_t>(b->temp_bytes)));
  return status_success;
}

void bkd_free_buffers(block* b, std::uint32_t phase) {
  if (b == nullptr) return;
  if (covers_twiddle_part(phase)) {
    b->buffer_temp.reset();
    b->internal_persistent.reset();
    b->usm_temp = nullptr;
  }
  if (covers_scratch_part(phase)) b->internal_scratch.reset();
}

int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* r, std::uint32_t phase,
                  void* events) {
  block* b = r != nullptr ? block_of(r) : nullptr;
  if (b == nullptr) return status_invalid_configuration;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  b->workspace = workspace;
  bkd_free_buffers(b, phase);
  const bool persistent = covers_twiddle_part(phase);
  const bool scratch = covers_scratch_part(phase);
  if (persistent) {
    if (kind == plan_basics::workspace_buffer) {
      // The same carving rules as the fused kernels' tables.
      b->buffer_temp.reset(fused_2_facts::table_view(static_cast<byte_buffer*>(workspace), offset, b->temp_bytes));
      if (b->buffer_temp == nullptr) return status_no_workspace;
    } else {
      b->usm_temp = workspace != nullptr ? static_cast<char*>(workspace) + offset : nullptr;
    }
    offset += b->temp_bytes;
    for (DFTI_DESCRIPTOR* c : b->children) {
      if (int status = hand_to_child(c, workspace, kind, offset, workspace_part_twiddles, events)) return status;
      offset += c->workspace_bytes[workspace_part_twiddles];
    }
  }
  if (scratch) {
    for (DFTI_DESCRIPTOR* c : b->children)
      if (int status = hand_to_child(c, workspace, kind, offset, workspace_part_scratch, events)) return status;
  }
  return status_success;
}

int compute_3d_fwd(DFTI_DESCRIPTOR* r, void* input, void* output, void* dependencies, std::uint64_t* container_kind,
                   void* result_event) {
  return compute(r, plan_basics::dir_forward, input, output, dependencies, container_kind, result_event);
}

int compute_3d_bwd(DFTI_DESCRIPTOR* r, void* input, void* output, void* dependencies, std::uint64_t* container_kind,
                   void* result_event) {
  return compute(r, plan_basics::dir_backward, input, output, dependencies, container_kind, result_event);
}

void bkd_destroy(DFTI_DESCRIPTOR* r) {
  block* b = block_of(r);
  if (b == nullptr) return;
  for (DFTI_DESCRIPTOR*& child : b->children) {
    if (child != nullptr) child->free(child, child);
    child = nullptr;
  }
  bkd_free_buffers(b, workspace_part_both);
  destroy_block<block>(r);
}

template int bkd_init<float>(DFTI_DESCRIPTOR*);
template int bkd_init<double>(DFTI_DESCRIPTOR*);

}  // namespace c2c_3d_padded

const backend_table dft_c2c_3d_padded_gpu_bkd_table_float = {
    QEZ_PROTOCOL_ENTRIES(c2c_3d_padded::backend_policy<float>), c2c_3d_padded::add_workspace};
const backend_table dft_c2c_3d_padded_gpu_bkd_table_double = {
    QEZ_PROTOCOL_ENTRIES(c2c_3d_padded::backend_policy<double>), c2c_3d_padded::add_workspace};

}  // namespace ulmara::qez::dft
