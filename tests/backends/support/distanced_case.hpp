// Records whose transforms lie one after another at a distance on each side
// (forward and backward domain, or input and output): their configuration,
// how it is set on a record, the runs measured against the reference and
// the workspace estimate configuration.
#pragma once

#include <cstdint>
#include <vector>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/support/record_runs.hpp"

namespace backend_test {

struct distanced_config {
  bool double_precision = true;
  std::int64_t length = 1;
  std::int64_t count = 1;
  bool io_distances = false;      // input/output instead of forward/backward distances
  std::int64_t in_distance = 0;   // 0: the length (input side, or forward domain)
  std::int64_t out_distance = 0;  // 0: the length (output side, or backward domain)
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = ulmara::qez::dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
};

// Count, distances, scales (straight into the record), placement,
// directions and workspace mode.
void configure_distanced(DFTI_DESCRIPTOR* record, const distanced_config& c);

// One direction on deterministic data through the compute entry; `sample`
// lists the transforms measured (empty: all).
run_result run_distanced(DFTI_DESCRIPTOR* record, const distanced_config& c, bool forward, bool usm,
                         const std::vector<std::int64_t>& sample = {});

ulmara::qez::dft::dft_estimate_config estimate_config_of(const distanced_config& c);

}  // namespace backend_test
