// The entry frame every multi-dimensional and real GPU backend meets the
// descriptor core through: the fixed order of bkd_commit and bkd_free, the
// checks every compute path makes before it submits anything, the
// asynchronous-offload refresh of the private block's queue, and the internal
// workspace that a commit in internal workspace mode makes and hands to the
// backend's own add_workspace.
//
// A backend supplies a policy class:
//   static const backend_table& table();          its own static table
//   static int acceptance(const DFTI_DESCRIPTOR*); 0 to take, 100 or 5 not to
//   static int init(DFTI_DESCRIPTOR*);             bkd_init
//   static void destroy(DFTI_DESCRIPTOR*);         bkd_destroy
//   static compute_entry forward_entry(), backward_entry();
// and the frame gives it bkd_commit and bkd_free.
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace frame {

// Values of the record's offload mode.
enum offload_mode : std::uint32_t {
  offload_none = 0,
  offload_synchronous = 1,
  offload_asynchronous = 2,  // the queue may change between compute calls
};

// Direction of a compute call, as the direction-generic routines take it.
enum direction : int { dir_forward = 0, dir_backward = 1 };

// Bits of the container-kind word of a compute call.
constexpr std::uint64_t buffer_form_bit = 1;
constexpr std::uint64_t usm_form_bit = 2;

// Workspace kinds add_workspace takes, and the kind a block records once the
// internal workspace was made.
constexpr int kind_buffer_workspace = 1;
constexpr int kind_usm_workspace = 2;
constexpr std::uint32_t workspace_kind_internal = 0;

// ---------------------------------------------------------------------------
// Acceptance shared by every backend of the frame.

// Declines (false) a positive restriction word, a batch layout of other than
// exactly one record, and any non-zero first offset.
bool common_acceptance(const DFTI_DESCRIPTOR* record);

// Data addresses a compute call takes: 1 in place, 2 not in place; doubled
// for complex data in real-real storage.
std::uint32_t container_count(const DFTI_DESCRIPTOR* record);

// The record wants `d` (directions word 0 forward only, 1 backward only,
// 2 both).
bool wants(std::uint32_t directions, direction d);

// ---------------------------------------------------------------------------
// Checks before any submission of a compute path (after "no private block",
// which the caller tests): 5 when the internal workspace a part needs is
// missing, 11 when the caller's workspace was never handed over.
int workspace_status(const DFTI_DESCRIPTOR* record, const void* internal_persistent,
                     const void* internal_scratch, std::uint32_t recorded_kind);

// Step 1 of a compute entry: in asynchronous offload mode the block follows
// the descriptor's queue and treats it as out of order.
template <class Block>
void refresh_queue(const DFTI_DESCRIPTOR* record, Block* block) {
  follow_descriptor_queue(record, block);
}

inline bool buffer_form(const std::uint64_t* container_kind) { return is_buffer_form(container_kind); }

// ---------------------------------------------------------------------------
// Device memory a block owns: a USM device allocation freed on the queue it
// was made on.
class device_area {
 public:
  device_area() = default;
  ~device_area() { reset(); }
  device_area(const device_area&) = delete;
  device_area& operator=(const device_area&) = delete;

  // `bytes` 0 leaves the area empty and succeeds; false when the device
  // refuses the allocation.
  bool allocate(sycl::queue& queue, std::uint64_t bytes);
  void reset();
  // Takes `other`'s allocation over, releasing its own first.
  void adopt(device_area& other);
  void* get() const { return pointer_; }

 private:
  void* pointer_ = nullptr;
  std::optional<sycl::queue> queue_;
};

// Events the table writers of one add_workspace call produce; destroying the
// list waits for none of them, wait_all waits for each.
using event_list = std::vector<sycl::event>;
void wait_all(event_list& events);

// The internal workspace of a commit in internal workspace mode: part 0 then
// part 1 (sizes from the record), each larger than the device's largest
// allocation or refused giving 1, handed to the backend's add_workspace as
// USM with phases 0 and 1, and the table writes waited for. The block's
// slots receive the areas; its recorded workspace kind becomes 0.
struct internal_workspace_slots {
  device_area& persistent;
  device_area& scratch;
  std::uint32_t& recorded_kind;
};
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record, const backend_table& self,
                                              sycl::queue& queue, internal_workspace_slots slots);

// ---------------------------------------------------------------------------
// Private blocks: C++ objects built in the zero-filled, 64-byte aligned
// memory of the allocator hooks and hung on the record.

// Builds a Block in hook memory and hangs it on the record; null when memory
// is short.
void* allocate_block_memory(std::size_t bytes);
void free_block_memory(void* block);

template <class Block>
Block* create_block(DFTI_DESCRIPTOR* record) {
  void* memory = allocate_block_memory(sizeof(Block));
  if (memory == nullptr) return nullptr;
  Block* block = new (memory) Block();
  record->bkd_data = block;
  return block;
}

template <class Block>
void destroy_block(DFTI_DESCRIPTOR* record) {
  auto* block = static_cast<Block*>(record->bkd_data);
  if (block == nullptr) return;
  block->~Block();
  free_block_memory(block);
  record->bkd_data = nullptr;
}

// ---------------------------------------------------------------------------
// bkd_commit and bkd_free.

// Runs init, turning what a device query or a program build throws into a
// status: 1 for memory, 7 for anything else.
int guarded_init(int (*init)(DFTI_DESCRIPTOR*), DFTI_DESCRIPTOR* record);

template <class Backend>
int bkd_commit(const backend_table* /*table*/, DFTI_DESCRIPTOR* record) {
  const int accepted = Backend::acceptance(record);
  if (accepted != status_success) return accepted;
  take_over_record(&Backend::table(), record);
  const int status = guarded_init(&Backend::init, record);
  if (status != status_success) {
    Backend::destroy(record);
    return status;
  }
  mark_committed(record, Backend::forward_entry(), Backend::backward_entry(),
                 container_count(record));
  return status_success;
}

template <class Backend>
int bkd_free(const backend_table* /*table*/, DFTI_DESCRIPTOR* record) {
  const int status = release_if_owner(&Backend::table(), record);
  if (status != status_success) return status;
  Backend::destroy(record);
  return status_success;
}

}  // namespace frame
}  // namespace dft
}  // namespace qez
}  // namespace ulmara

// Defines, in namespace ulmara::qez::dft, backend_policy<T>::table() of a
// frame backend whose namespace `ns` has backend_policy<T> and
// add_workspace<T>, and the tables `<name>_table_float` and
// `<name>_table_double` it returns (declared beforehand, as
// QEZ_DECLARE_BACKEND_TABLES does).
#define QEZ_DEFINE_FRAME_BACKEND_TABLES(name, ns)                                                 \
  template <>                                                                                     \
  const backend_table& ns::backend_policy<float>::table() {                                       \
    return name##_table_float;                                                                    \
  }                                                                                               \
  template <>                                                                                     \
  const backend_table& ns::backend_policy<double>::table() {                                      \
    return name##_table_double;                                                                   \
  }                                                                                               \
  const backend_table name##_table_float = {frame::bkd_commit<ns::backend_policy<float>>,         \
                                            frame::bkd_free<ns::backend_policy<float>>,           \
                                            ns::add_workspace<float>};                            \
  const backend_table name##_table_double = {frame::bkd_commit<ns::backend_policy<double>>,       \
                                             frame::bkd_free<ns::backend_policy<double>>,         \
                                             ns::add_workspace<double>};
