// The parts of a GPU backend's definition every backend writes the same
// way: the two precision tables, the commit body around the backend's own
// init and destroy, and bkd_free.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend.hpp"

namespace ulmara {
namespace qez {
namespace dft {

// How a commit treats a failing init (both are kept by existing backends).
struct commit_body {
  int (*init)(DFTI_DESCRIPTOR*);
  void (*destroy)(DFTI_DESCRIPTOR*);
  // A failed init also leaves the record without a backend.
  bool clear_backend_on_failure;
  // An init that throws has the block destroyed before the exception goes
  // on (otherwise the exception passes the block by).
  bool destroy_when_init_throws;
};

// Steps after take_over_record: init, and destroy on a failing status (or a
// throw, per `body`). Returns init's status.
inline int run_commit_body(DFTI_DESCRIPTOR* record, const commit_body& body) {
  int status = status_success;
  if (body.destroy_when_init_throws) {
    try {
      status = body.init(record);
    } catch (...) {
      body.destroy(record);
      if (body.clear_backend_on_failure) record->backend = nullptr;
      throw;
    }
  } else {
    status = body.init(record);
  }
  if (status != status_success) {
    body.destroy(record);
    if (body.clear_backend_on_failure) record->backend = nullptr;
  }
  return status;
}

// bkd_free: only the owner's record, then the block.
inline int free_owned_record(const backend_table* table, DFTI_DESCRIPTOR* record,
                             void (*destroy)(DFTI_DESCRIPTOR*)) {
  const int status = release_if_owner(table, record);
  if (status != status_success) return status;
  destroy(record);
  return status_success;
}

// A zero-filled private block from the allocator hooks, hung on the record
// (which then runs single-threaded); null when memory is short.
template <class Block>
Block* hang_zeroed_block(DFTI_DESCRIPTOR* record) {
  auto* b = static_cast<Block*>(allocate_zeroed_block(sizeof(Block)));
  if (b == nullptr) return nullptr;
  record->bkd_data = b;
  record->threads = 1;
  return b;
}

// Data addresses of a 1D complex compute call: 1 in place, 2 otherwise.
inline std::uint32_t data_arrays_of_placement(const DFTI_DESCRIPTOR* record) {
  return record->placement == dfti_inplace ? 1u : 2u;
}

// An accepting commit once acceptance holds: take the record over, run the body
// and, when init succeeded, give the record its compute entries.
inline int take_over_and_commit(const backend_table* table, DFTI_DESCRIPTOR* record, const commit_body& body,
                                compute_entry forward, compute_entry backward) {
  take_over_record(table, record);
  const int status = run_commit_body(record, body);
  if (status != status_success) return status;
  mark_committed(record, forward, backward, data_arrays_of_placement(record));
  return status_success;
}

// The destroy step of a backend whose block has a queue, workspace views
// (its bkd_free_buffers) and kernels (its release_kernels), both found next
// to the block's type: what the block owns, then the block itself.
template <class Block>
void destroy_block_and_kernels(DFTI_DESCRIPTOR* record, Block* b) {
  if (b == nullptr) return;
  if (b->queue != nullptr) bkd_free_buffers(b, workspace_part_both);
  release_kernels(b);
  free_block(b);
  record->bkd_data = nullptr;
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara

// Expands `M(float) M(double)`: explicit instantiation lists.
#define QEZ_FOR_EACH_PRECISION(M) M(float) M(double)

// Defines the tables `<name>_table_float` and `<name>_table_double` (as
// QEZ_DECLARE_BACKEND_TABLES declares them) of a backend whose namespace
// `ns` has bkd_commit<T>, bkd_free<T> and add_workspace<T>. Use in
// namespace ulmara::qez::dft.
#define QEZ_DEFINE_BACKEND_TABLES(name, ns)                                                          \
  const backend_table name##_table_float = {ns::bkd_commit<float>, ns::bkd_free<float>,             \
                                            ns::add_workspace<float>};                               \
  const backend_table name##_table_double = {ns::bkd_commit<double>, ns::bkd_free<double>,          \
                                             ns::add_workspace<double>};

// Instantiates, for precision T, what QEZ_DECLARE_COMMIT_ENTRIES declares.
#define QEZ_INSTANTIATE_COMMIT_ENTRIES(T)                             \
  template int bkd_commit<T>(const backend_table*, DFTI_DESCRIPTOR*); \
  template int bkd_init<T>(DFTI_DESCRIPTOR*);                         \
  template void bkd_free_on_failure<T>(DFTI_DESCRIPTOR*);             \
  template int bkd_free<T>(const backend_table*, DFTI_DESCRIPTOR*);

// Instantiates, for precision T, what QEZ_DECLARE_WORKSPACE_ENTRIES declares.
#define QEZ_INSTANTIATE_WORKSPACE_ENTRIES(T)                                                      \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*); \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);
