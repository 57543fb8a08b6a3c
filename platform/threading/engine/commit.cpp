// Commit and compute of the CPU engine: the layout is resolved and both
// directions are planned at commit; the compute entries run the plans.
#include <algorithm>
#include <memory>
#include <new>

#include "dft/api/status_codes.hpp"
#include "platform/threading/engine/engine_internal.hpp"
#include "platform/threading/engine/fftw_plans.hpp"
#include "platform/threading/engine/layout.hpp"

namespace ulmara {
namespace qez {
namespace cpu_engine {

using namespace ::ulmara::qez::dft;

namespace {

struct engine_state {
  std::shared_ptr<const direction_plan> forward;
  std::shared_ptr<const direction_plan> backward;
  bool in_place = false;
};

engine_state* state_of(const DFTI_DESCRIPTOR* record) {
  return static_cast<engine_state*>(record->engine_state);
}

// In-place plans take one data address (or the same one twice), out-of-place
// plans two distinct ones.
template <std::shared_ptr<const direction_plan> engine_state::*Which>
int compute(DFTI_DESCRIPTOR* record, void* input, void* output, void* /*dependencies*/,
            std::uint64_t* /*container_kind*/, void* /*result_event*/) {
  if (!is_live_record(record)) return status_bad_descriptor;
  const engine_state* state = state_of(record);
  if (state == nullptr || !(state->*Which)) return status_invalid_configuration;
  if (input == nullptr) return status_invalid_descriptor;
  if (state->in_place) {
    if (output != nullptr && output != input) return status_invalid_descriptor;
    output = input;
  } else if (output == nullptr || output == input) {
    return status_invalid_descriptor;
  }
  return (state->*Which)->execute(input, output);
}

int default_thread_count(const DFTI_DESCRIPTOR* record) {
  const service_table::query max_threads = service_slot(record->services, &service_table::max_threads);
  return max_threads != nullptr ? max_threads() : available_cpus();
}

// The threads a committed transform runs on: the descriptor's limit, or the
// service layer's count, and never more than the service layer allows.
int committed_thread_count(const DFTI_DESCRIPTOR* record) {
  const int wanted = record->thread_limit != 0 ? record->thread_limit
                                               : default_thread_count(record);
  const service_table::query max_threads = service_slot(record->services, &service_table::max_threads);
  const int allowed = max_threads != nullptr ? max_threads() : wanted;
  return std::max(1, std::min(wanted, allowed));
}

}  // namespace

void release_engine_state(DFTI_DESCRIPTOR* record) {
  delete state_of(record);
  record->engine_state = nullptr;
}

int commit_record(DFTI_DESCRIPTOR* record) {
  if (!is_live_record(record)) return status_bad_descriptor;
  transform_layout layout;
  int status = resolve_layout(record, &layout);
  if (status != status_success) return status;

  std::unique_ptr<engine_state> state(new (std::nothrow) engine_state);
  if (!state) return status_allocation_failed;
  state->in_place = layout.forward.in_place;
  const int threads = committed_thread_count(record);
  status = make_direction_plan(layout.forward, layout.double_precision,
                               layout.destroy_input_allowed, threads, &state->forward);
  if (status != status_success) return status;
  // The backward direction has the forward one's size: when measuring the
  // forward one ran out of time, measuring the backward one would too, and
  // end in the same estimate after the whole bound.
  const planning_effort backward_effort = state->forward->measuring_ran_out_of_time()
                                              ? planning_effort::estimate
                                              : planning_effort::measure;
  status = make_direction_plan(layout.backward, layout.double_precision,
                               layout.destroy_input_allowed, threads, &state->backward,
                               backward_effort);
  if (status != status_success) return status;

  // The new plans replace whatever an earlier commit left.
  if (record->release != nullptr) record->release(record, nullptr);
  release_engine_state(record);
  record->engine_state = state.release();
  record->compute_fwd = &compute<&engine_state::forward>;
  record->compute_bwd = &compute<&engine_state::backward>;
  record->data_arrays = layout.forward.in_place ? 1 : 2;
  record->threads = record->thread_limit != 0 ? record->thread_limit
                                              : default_thread_count(record);
  if (const service_table::query count = service_slot(record->services, &service_table::thread_query))
    record->service_count = count();
  record->commit_status = dfti_committed;
  return status_success;
}

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
