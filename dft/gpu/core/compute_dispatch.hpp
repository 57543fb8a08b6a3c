// What every GPU backend's compute entry does before and after its own
// launches: reading the container-kind word (buffer form or USM form),
// following the descriptor's queue in asynchronous offload mode, checking
// that the workspace is there, and handing the last event back.
#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"

namespace ulmara::qez::dft {

// Values of the record's offload mode.
enum offload_mode : std::uint32_t {
  offload_none = 0,
  offload_synchronous = 1,
  offload_asynchronous = 2,  // the queue may change between compute calls
};

// Bits of the container-kind word of a compute call: buffer form, USM form.
constexpr std::uint64_t container_word_buffer_bit = 1;
constexpr std::uint64_t container_word_usm_bit = 2;

// The call is in buffer form (no word at all means USM form).
inline bool is_buffer_form(const std::uint64_t* container_kind) {
  return container_kind != nullptr && (*container_kind & container_word_buffer_bit) != 0;
}

// The data's kind of a call: kind_byte_buffer in buffer form, else
// kind_usm_pointer.
inline std::int64_t data_kind_of(const std::uint64_t* container_kind) {
  return is_buffer_form(container_kind) ? kind_byte_buffer : kind_usm_pointer;
}

// Asynchronous offload, before a compute entry submits anything: a block
// that borrows the descriptor's queue follows it and treats it as out of
// order from then on.
template <class Block>
void follow_descriptor_queue(const DFTI_DESCRIPTOR* record, Block* block) {
  if (block == nullptr || record->offload_mode != offload_asynchronous) return;
  block->queue = static_cast<sycl::queue*>(record->queue);
  block->in_order = 0;
}

// Workspace check before anything is submitted: in internal mode 5 when a
// part with a size has no allocation; otherwise 11 when the caller never
// handed a workspace over (`caller_workspace_given`, by each backend's own
// reading of the kind it recorded) although one is needed.
int workspace_status_before_compute(const DFTI_DESCRIPTOR* record, const void* internal_persistent,
                                    const void* internal_scratch, bool caller_workspace_given);
// The same for a block that records the workspace_kind add_workspace was
// handed (a buffer or USM kind: the caller's workspace is there).
int workspace_status(const DFTI_DESCRIPTOR* record, const void* internal_persistent, const void* internal_scratch,
                     std::uint32_t recorded_kind);

// Where a backend's compute submissions come from, as the SYCL runtime
// records them: the compute routine and the line.
inline sycl::detail::code_location compute_submission_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "compute_1d_xwd", line, 0);
}

// The dependencies argument of a compute entry.
inline const std::vector<sycl::event>* dependency_list(void* dependencies) {
  return static_cast<const std::vector<sycl::event>*>(dependencies);
}

// Hands the call's last event back when the caller asked for one.
inline void hand_back_event(void* result_event, const sycl::event& last) {
  if (result_event != nullptr) *static_cast<sycl::event*>(result_event) = last;
}

// One compute call as a backend's launches read it: the direction, the
// data addresses, the data's kind (kind_usm_pointer, or 1 for the buffer
// form) and the caller's dependencies.
template <class Direction>
struct compute_call {
  Direction d;
  void* input;
  void* output;
  std::int64_t data_kind;
  const std::vector<sycl::event>* dependencies;
};

// The call of a compute entry in direction `d`.
template <class Direction>
compute_call<Direction> compute_call_of(Direction d, void* input, void* output, void* dependencies,
                                        const std::uint64_t* container_kind) {
  return {d, input, output, data_kind_of(container_kind), dependency_list(dependencies)};
}

// Keeps a copy of `last` in a block's heap slot (made on first use).
inline void remember_event(sycl::event*& slot, const sycl::event& last) {
  if (slot == nullptr)
    slot = new sycl::event(last);
  else
    *slot = last;
}

}  // namespace ulmara::qez::dft

// Declares the compute entries `fwd`<T> and `bwd`<T>, the entries a commit
// stores in the record, in the current namespace.
#define QEZ_DECLARE_NAMED_COMPUTE_ENTRIES(fwd, bwd)                                          \
  template <class T>                                                                          \
  int fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,             \
          std::uint64_t* container_kind, void* result_event);                                 \
  template <class T>                                                                          \
  int bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,             \
          std::uint64_t* container_kind, void* result_event);

// Declares compute_1d_fwd<T> and compute_1d_bwd<T>.
#define QEZ_DECLARE_COMPUTE_ENTRIES() QEZ_DECLARE_NAMED_COMPUTE_ENTRIES(compute_1d_fwd, compute_1d_bwd)

// Defines the compute entries `fwd`<T> and `bwd`<T> in the current namespace
// as calls of `dispatch(record, input, output, dependencies, container_kind,
// result_event, direction)` with `forward` and `backward`, and instantiates
// both for float and double. `dispatch` may name T (e.g. `entry<T>`).
#define QEZ_DEFINE_NAMED_COMPUTE_ENTRIES(fwd, bwd, dispatch, forward, backward)                  \
  template <class T>                                                                            \
  int fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,               \
          std::uint64_t* container_kind, void* result_event) {                                  \
    return dispatch(record, input, output, dependencies, container_kind, result_event, forward); \
  }                                                                                             \
  template <class T>                                                                            \
  int bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,               \
          std::uint64_t* container_kind, void* result_event) {                                  \
    return dispatch(record, input, output, dependencies, container_kind, result_event, backward); \
  }                                                                                             \
  template int fwd<float>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);        \
  template int bwd<float>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);        \
  template int fwd<double>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);       \
  template int bwd<double>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);

// Defines compute_1d_fwd<T> and compute_1d_bwd<T> that way.
#define QEZ_DEFINE_COMPUTE_ENTRIES(dispatch, forward, backward) \
  QEZ_DEFINE_NAMED_COMPUTE_ENTRIES(compute_1d_fwd, compute_1d_bwd, dispatch, forward, backward)
