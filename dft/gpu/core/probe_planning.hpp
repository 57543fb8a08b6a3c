// Acceptance by a probe plan: a backend whose plan may fail on the device
// (a work-group, local memory or table size it cannot carry) plans a
// throw-away block first, so that such a plan is declined before the record
// (and a plan another backend committed on it) is touched.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

// Plans a fresh, discarded `Block` for `record` with
// `plan(&block, record)`: 0, or the status planning declines with.
template <class Block, class Plan>
int plan_probe_block(const DFTI_DESCRIPTOR* record, Plan plan) {
  Block probe{};
  return plan(&probe, record);
}

}  // namespace ulmara::qez::dft
