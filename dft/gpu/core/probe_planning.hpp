// Acceptance by a probe plan: a backend whose plan may fail on the device
// (a work-group, local memory or table size it cannot carry) plans a
// throw-away block first, so that such a plan is declined before the record
// (and a plan another backend committed on it) is touched.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"

namespace ulmara::qez::dft {

// Plans a fresh, discarded `Block` for `record` with
// `plan(&block, record)`: 0, or the status planning declines with.
template <class Block, class Plan>
int plan_probe_block(const DFTI_DESCRIPTOR* record, Plan plan) {
  Block probe{};
  return plan(&probe, record);
}

// A probe plan of a `Block` with `Plan` succeeds for the record (a test for
// acceptance_when).
template <class Block, auto Plan>
bool probe_plans(const DFTI_DESCRIPTOR* record) {
  return plan_probe_block<Block>(record, Plan) == status_success;
}

// Acceptance by `Test(record)`, then by a probe plan of a `Block` with
// `Plan`: status_not_handled when the test fails, otherwise the status of
// the probe plan.
template <class Block, auto Test, auto Plan>
int acceptance_by_probe(DFTI_DESCRIPTOR* record) {
  if (!Test(record)) return status_not_handled;
  return plan_probe_block<Block>(record, Plan);
}

}  // namespace ulmara::qez::dft
