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
