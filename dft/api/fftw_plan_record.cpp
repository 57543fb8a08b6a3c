// FFTW3-interface plan records.
#include "dft/api/fftw_plan_record.hpp"

#include <cstring>

#include "dft/api/descriptor_node.hpp"
#include "qez_service.h"

namespace ulmara::qez::dft {

fftw_plan_record* (*fftw_plan_record_alloc_hook)() = fftw_plan_record_alloc;
std::int32_t dfti_cpu_alignment = 64;

void* dfti_cpu_malloc(std::size_t size) { return qez_serv_malloc(size, dfti_cpu_alignment); }

void dfti_cpu_mfree(void* block) { qez_serv_free(block); }

fftw_plan_record* fftw_plan_record_alloc() {
  auto* plan = static_cast<fftw_plan_record*>(dfti_cpu_malloc(sizeof(fftw_plan_record)));
  if (plan == nullptr) return nullptr;
  // Every word zero, the offload execute word included, until a planner
  // fills the one of its kind.
  std::memset(static_cast<void*>(plan), 0, sizeof *plan);
  plan->destroy = fftw_plan_record_destroy;
  return plan;
}

void fftw_plan_record_destroy(qez_fftw_plan_record* record) {
  fftw_plan_record* plan = library_plan(record);
  if (plan == nullptr) return;
  for (int i = 2; i >= 0; --i)
    if (plan->buffers[i] != nullptr) dfti_cpu_mfree(plan->buffers[i]);
  if (plan->descriptor != nullptr) free_cpu_descriptor(&plan->descriptor);
  dfti_cpu_mfree(plan);
}

}  // namespace ulmara::qez::dft
