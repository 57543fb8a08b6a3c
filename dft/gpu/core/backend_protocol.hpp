// The backend protocol: how every GPU backend's bkd_commit and bkd_free run.
//
// A backend states what it is in a policy class (one per precision, or per
// precision and rank):
//   static constexpr commit_policy on_failure;      how a failing commit ends
//   static int acceptance(DFTI_DESCRIPTOR*);        0 to take the record; any
//                                                   other status declines it
//                                                   untouched
//   static int init(DFTI_DESCRIPTOR*);              builds the private block
//   static void destroy(DFTI_DESCRIPTOR*);          releases it (also half-built)
//   static compute_entry forward_entry(), backward_entry();
//   static std::uint32_t data_arrays(const DFTI_DESCRIPTOR*);  addresses a
//                                                   compute call takes
// and its table holds commit_backend<Policy> and free_backend<Policy>
// (QEZ_DEFINE_BACKEND_POLICY writes the class, QEZ_DEFINE_BACKEND_TABLES the
// tables). The commit runs in one fixed order: acceptance, take the record
// over, init, then either the failure steps of the policy or the committed
// record with its compute entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/kernel_handles.hpp"

namespace ulmara {
namespace qez {
namespace dft {

// How a commit ends when init fails or throws. Every failed commit leaves
// the record's backend set and its block destroyed (the next backend that
// takes the record, or the record's release, clears the backend); backends
// differ in what a throwing init does.
struct commit_policy {
  // An init that throws has the block destroyed before the exception goes
  // on (otherwise the exception passes the block by).
  bool destroy_when_init_throws;
  // What init throws for memory (status 1) or from the device or a program
  // build (status 7) becomes the commit's status instead of passing on.
  bool exceptions_become_status;
};

// The commit policy of the multi-dimensional and real backends: what init
// throws for memory or from the device becomes a status, anything else goes
// on; either way the block is destroyed first.
constexpr commit_policy keep_backend_exceptions_as_status = {/*destroy_when_init_throws=*/true,
                                                             /*exceptions_become_status=*/true};

// Runs init, turning a memory or SYCL exception into status 1 or 7.
int init_with_exceptions_as_status(int (*init)(DFTI_DESCRIPTOR*), DFTI_DESCRIPTOR* record);

// The failure step after init did not succeed: the block goes, the
// record's backend stays.
inline void end_failed_commit(DFTI_DESCRIPTOR* record, void (*destroy)(DFTI_DESCRIPTOR*)) { destroy(record); }

// Init under `policy`: its status, with a failing status (or a throw, per
// the policy) already followed by the failure steps.
inline int run_init(DFTI_DESCRIPTOR* record, int (*init)(DFTI_DESCRIPTOR*), void (*destroy)(DFTI_DESCRIPTOR*),
                    const commit_policy& policy) {
  int status = status_success;
  try {
    status = policy.exceptions_become_status ? init_with_exceptions_as_status(init, record) : init(record);
  } catch (...) {
    if (policy.destroy_when_init_throws) end_failed_commit(record, destroy);
    throw;
  }
  if (status != status_success) end_failed_commit(record, destroy);
  return status;
}

// bkd_commit of the backend `Policy` describes.
template <class Policy>
int commit_backend(const backend_table* table, DFTI_DESCRIPTOR* record) {
  const int accepted = Policy::acceptance(record);
  if (accepted != status_success) return accepted;
  take_over_record(table, record);
  const int status = run_init(record, &Policy::init, &Policy::destroy, Policy::on_failure);
  if (status != status_success) return status;
  mark_committed(record, Policy::forward_entry(), Policy::backward_entry(), Policy::data_arrays(record));
  return status_success;
}

// bkd_free of the backend `Policy` describes: only the owner's record, then
// the block.
template <class Policy>
int free_backend(const backend_table* table, DFTI_DESCRIPTOR* record) {
  const int status = release_if_owner(table, record);
  if (status != status_success) return status;
  Policy::destroy(record);
  return status_success;
}

// ---------------------------------------------------------------------------
// Data addresses of a compute call.

// 1 in place, 2 otherwise.
inline std::uint32_t data_arrays_of_placement(const DFTI_DESCRIPTOR* record) {
  return record->placement == dfti_inplace ? 1u : 2u;
}

// The same, doubled for complex data in real-real storage.
std::uint32_t data_arrays_of_storage(const DFTI_DESCRIPTOR* record);

// ---------------------------------------------------------------------------
// Acceptance shared by the multi-dimensional and real backends: no fused
// twiddle, a batch layout of exactly one record, and zero first offsets.
bool common_acceptance(const DFTI_DESCRIPTOR* record);

// ---------------------------------------------------------------------------
// Private blocks: C++ objects built (value-initialised) in the zero-filled,
// 64-byte aligned memory of the allocator hooks and hung on the record,
// which then runs single-threaded.

// The new block, or null when memory is short (the record is left as it was).
template <class Block>
Block* create_block(DFTI_DESCRIPTOR* record) {
  void* memory = allocate_zeroed_block(sizeof(Block));
  if (memory == nullptr) return nullptr;
  Block* block = new (memory) Block();
  record->bkd_data = block;
  record->threads = 1;
  return block;
}

// Destroys the record's block (if any) and clears the record's slot.
template <class Block>
void destroy_block(DFTI_DESCRIPTOR* record) {
  auto* block = static_cast<Block*>(record->bkd_data);
  if (block == nullptr) return;
  block->~Block();
  free_block(block);
  record->bkd_data = nullptr;
}

// The destroy step of a backend whose block has a queue, workspace views
// (its bkd_free_buffers) and kernels (its release_kernels), both found next
// to the block's type: what the block owns, then the block itself.
template <class Block>
void destroy_block_and_kernels(DFTI_DESCRIPTOR* record, Block* b) {
  if (b == nullptr) return;
  if (b->queue != nullptr) bkd_free_buffers(b, workspace_part_both);
  release_kernels(b);
  destroy_block<Block>(record);
}

// The destroy step of a backend whose block type is `Block`: that of
// destroy_block_and_kernels for the block the record holds.
template <class Block>
void destroy_record_block(DFTI_DESCRIPTOR* record) {
  destroy_block_and_kernels(record, static_cast<Block*>(record->bkd_data));
}

// ---------------------------------------------------------------------------
// Acceptance made of tests, each `bool test(record)` of the record or of the
// device it names, run in order until one fails: 0 when all pass, otherwise
// status_not_handled (the record is left untouched).
template <auto... Tests>
int acceptance_when(DFTI_DESCRIPTOR* record) {
  return (... && Tests(record)) ? status_success : status_not_handled;
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara

// Defines, in the current namespace, the policy class backend_policy<T> of
// a backend: `failure` is its commit_policy, `accept`, `init_step` and
// `destroy_step` its acceptance, init and destroy, `fwd` and `bwd` its
// compute entries and `arrays` the data addresses of a compute call (each
// may name T, e.g. `compute_2d_fwd<T>`).
#define QEZ_DEFINE_BACKEND_POLICY(failure, accept, init_step, destroy_step, fwd, bwd, arrays)        \
  template <class T>                                                                              \
  struct backend_policy {                                                                         \
    static constexpr commit_policy on_failure = failure;                                          \
    static int acceptance(DFTI_DESCRIPTOR* record) { return accept(record); }                     \
    static int init(DFTI_DESCRIPTOR* record) { return init_step(record); }                        \
    static void destroy(DFTI_DESCRIPTOR* record) { destroy_step(record); }                        \
    static compute_entry forward_entry() { return fwd; }                                          \
    static compute_entry backward_entry() { return bwd; }                                         \
    static std::uint32_t data_arrays(const DFTI_DESCRIPTOR* record) { return arrays(record); }    \
  };

// The {bkd_commit, bkd_free} pair of a table for the policy class given.
#define QEZ_PROTOCOL_ENTRIES(...) commit_backend<__VA_ARGS__>, free_backend<__VA_ARGS__>

// Defines the tables `<name>_table_float` and `<name>_table_double` (as
// QEZ_DECLARE_BACKEND_TABLES declares them) of a backend whose namespace
// `ns` has backend_policy<T> and add_workspace<T>. Use in namespace
// ulmara::qez::dft.
#define QEZ_DEFINE_BACKEND_TABLES(name, ns)                                                           \
  const backend_table name##_table_float = {QEZ_PROTOCOL_ENTRIES(ns::backend_policy<float>),          \
                                            ns::add_workspace<float>};                                \
  const backend_table name##_table_double = {QEZ_PROTOCOL_ENTRIES(ns::backend_policy<double>),        \
                                             ns::add_workspace<double>};

// Instantiates, for precision T, what QEZ_DECLARE_BLOCK_ENTRIES and
// QEZ_DECLARE_COMMIT_ENTRIES declare: describe<T> and bkd_init<T>.
#define QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES(T)      \
  template std::string describe<T>(const block<T>&); \
  template int bkd_init<T>(DFTI_DESCRIPTOR*);

// Instantiates, for precision T, what QEZ_DECLARE_KERNEL_ENTRIES declares.
#define QEZ_INSTANTIATE_KERNEL_ENTRIES(T)      \
  template int build_kernels<T>(block<T>*); \
  template void release_kernels<T>(block<T>*);

// Instantiates, for precision T, what QEZ_DECLARE_WORKSPACE_ENTRIES declares.
#define QEZ_INSTANTIATE_WORKSPACE_ENTRIES(T)                                                      \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*); \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);

// Instantiates, for precision T, what QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES
// declares.
#define QEZ_INSTANTIATE_BLOCK_WORKSPACE_ENTRIES(T) \
  QEZ_INSTANTIATE_WORKSPACE_ENTRIES(T)             \
  template void bkd_free_buffers<T>(block<T>*, std::uint32_t);
