// The backend plug-in protocol: what a backend's commit may assume and must
// do with a record, shared by every GPU backend.
#pragma once

#include <cstdint>
#include <string>

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"

namespace ulmara::qez::dft {

// Parts of a workspace handed to add_workspace.
enum workspace_part : std::uint32_t {
  workspace_part_twiddles = 0,
  workspace_part_scratch = 1,
  workspace_part_both = 2,
};

// Values of the record's `directions`.
enum plan_directions : std::uint32_t {
  directions_forward = 0,
  directions_backward = 1,
  directions_both = 2,
};

// add_workspace of backends that need no caller workspace.
int shared_no_op_add_workspace(void* workspace, int kind, std::uint64_t offset,
                               DFTI_DESCRIPTOR* record, std::uint32_t part, void* events);

// Working rank and batch rank every backend tests.
inline std::int32_t working_rank(const DFTI_DESCRIPTOR* r) { return r->work_lengths.count; }
inline std::int32_t batch_rank(const DFTI_DESCRIPTOR* r) { return r->work_batch.count; }

// An accepting commit, before its init: release whatever another backend
// committed, then take the record over.
inline void take_over_record(const backend_table* table, DFTI_DESCRIPTOR* record) {
  if ((record->backend != nullptr && record->backend != table) || record->bkd_data != nullptr) {
    if (record->release) record->release(record, nullptr);
  }
  record->backend = table;
}

// The end of a successful commit: the record is committed with these
// entries.
inline void mark_committed(DFTI_DESCRIPTOR* record, compute_entry forward, compute_entry backward,
                           std::uint32_t data_arrays) {
  record->compute_fwd = forward;
  record->compute_bwd = backward;
  record->data_arrays = data_arrays;
  record->commit_status = dfti_committed;
}

// What every bkd_free does around freeing its own block.
inline int release_if_owner(const backend_table* table, DFTI_DESCRIPTOR* record) {
  if (record->backend != table) return status_internal_error;
  record->compute_fwd = nullptr;
  record->compute_bwd = nullptr;
  record->commit_status = dfti_uncommitted;
  return status_success;
}

}  // namespace ulmara::qez::dft

// Expands `M(float) M(double)`: explicit instantiation lists.
#define QEZ_FOR_EACH_PRECISION(M) M(float) M(double)

// Declares, in the current namespace, the init step of a backend with a
// block per precision: bkd_init<T> (its policy class runs it through the
// backend protocol).
#define QEZ_DECLARE_COMMIT_ENTRIES() \
  template <class T>                 \
  int bkd_init(DFTI_DESCRIPTOR* record);

// Declares, in the current namespace, add_workspace<T> (the backend's
// table entry) and create_and_initialize_internal_workspaces<T> (commit).
#define QEZ_DECLARE_WORKSPACE_ENTRIES()                                                                 \
  template <class T>                                                                                    \
  int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,           \
                    std::uint32_t part, void* events);                                                  \
  template <class T>                                                                                    \
  int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record);

// Declares, in the namespace of a backend whose private block is block<T>,
// block_of<T> (the block a committed record holds) and describe<T> (one line
// describing a plan, for tests and diagnostics).
#define QEZ_DECLARE_BLOCK_ENTRIES()                   \
  template <class T>                                  \
  block<T>* block_of(const DFTI_DESCRIPTOR* record) { \
    return static_cast<block<T>*>(record->bkd_data);  \
  }                                                   \
  template <class T>                                  \
  std::string describe(const block<T>& b);

// Declares, in the namespace of a backend whose private block is block<T>,
// the kernel steps the shared commit tail and destroy step call by name:
// build_kernels<T> (0, or the status failing the commit) and
// release_kernels<T>.
#define QEZ_DECLARE_KERNEL_ENTRIES() \
  template <class T>                 \
  int build_kernels(block<T>* b);    \
  template <class T>                 \
  void release_kernels(block<T>* b);

// QEZ_DECLARE_WORKSPACE_ENTRIES and bkd_free_buffers<T>: the release of the
// workspace views and areas a block<T> holds for the `part` given.
#define QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES() \
  QEZ_DECLARE_WORKSPACE_ENTRIES()             \
  template <class T>                          \
  void bkd_free_buffers(block<T>* b, std::uint32_t part);
