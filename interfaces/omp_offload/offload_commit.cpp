// qez_DftiCommitDescriptor_omp_offload: commits a DFTI descriptor on the
// device behind an OpenMP interop object.
#include "interfaces/omp_offload/omp_offload_entry_points.hpp"

#include "dft/api/commit.hpp"
#include "interfaces/omp_offload/offload_status_guard.hpp"
#include "interfaces/omp_offload/omptarget_loader.hpp"

namespace ulmara::qez::omp {
namespace {

constexpr const char* commit_name = "qez_DftiCommitDescriptor_omp_offload";
constexpr const char* load_message = "Failed to load the OpenMP offloading library.";
constexpr const char* commit_queue_message =
    "Failed to retrieve the required queue for openMP offloading.";

enum offload_mode : std::uint32_t { offload_synchronous = 1 };

// The conjugate-even storage and packed format must agree (CCE with
// complex-complex storage only).
bool storage_pair_consistent(const DFTI_DESCRIPTOR* desc) {
  const bool cce = desc->packed_format == dft::dfti_cce_format;
  if (desc->conjugate_even_storage == dft::dfti_complex_real) return !cce;
  if (desc->conjugate_even_storage == dft::dfti_complex_complex) return cce;
  return true;
}

// Statuses decided before anything touches the OpenMP runtime.
std::int64_t precheck(const DFTI_DESCRIPTOR* desc) {
  if (!dft::is_live_record(desc)) return dft::status_bad_descriptor;
  if (desc->methods == nullptr || desc->methods->commit == nullptr) return dft::status_internal_error;
  if (!storage_pair_consistent(desc)) return dft::status_invalid_descriptor;
  return dft::status_success;
}

std::int64_t commit_on_interop(DFTI_DESCRIPTOR* desc, omp_interop_t interop) {
  if (load_omptarget_library() != 0) throw dft_omp_offload_exception(load_message);
  const std::int32_t runtime_id = query_runtime_id(interop);
  desc->offload_mode = offload_synchronous;
  desc->workspace_internal = 1;
  sycl::queue* queue = resolve_interop_queue(interop, runtime_id, commit_queue_message);
  // The GPU commit needs a queue: an interop of another runtime has none.
  if (queue == nullptr) throw dft_omp_offload_exception(commit_queue_message);
  desc->queue = queue;
  return dft::gpu_commit(desc);
}

}  // namespace
}  // namespace ulmara::qez::omp

extern "C" std::int64_t qez_DftiCommitDescriptor_omp_offload(DFTI_DESCRIPTOR* desc,
                                                             omp_interop_t interop) {
  namespace omp = ulmara::qez::omp;
  const std::int64_t status = omp::precheck(desc);
  if (status != 0) return status;
  return omp::run_offload_guarded(omp::commit_name,
                                  [&] { return omp::commit_on_interop(desc, interop); });
}
