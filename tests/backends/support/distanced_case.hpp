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
#include "tests/backends/support/record_owner.hpp"
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
  bool library_list = false;     // a child on the library's own list instead of the backend alone
  sycl::queue* queue = nullptr;  // null: the test process's out-of-order queue
};

// Count, distances, scales (straight into the record), placement,
// directions and workspace mode.
void configure_distanced(DFTI_DESCRIPTOR* record, const distanced_config& c);

// One direction on deterministic data through the compute entry; `sample`
// lists the transforms measured (empty: all).
run_result run_distanced(DFTI_DESCRIPTOR* record, const distanced_config& c, direction d, container k,
                         const std::vector<std::int64_t>& sample = {});

ulmara::qez::dft::dft_estimate_config estimate_config_of(const distanced_config& c);

// A child record of a distanced configuration committed to `Backend` (see
// backend_case), on the library's list or with the backend alone.
template <class Backend, class Config>
class distanced_record : public backend_case<Backend, Config> {
 public:
  explicit distanced_record(const Config& c)
      : backend_case<Backend, Config>(c, c.queue != nullptr ? *c.queue : gpu_test_queue()) {
    this->make_and_commit(c.library_list ? road::child_on_library_list : road::solo_list, c.length,
                          [&c](DFTI_DESCRIPTOR* r) { configure_distanced(r, c); });
  }
};

// One direction on deterministic data through the record's compute entry;
// `sample` lists the transforms measured (empty: all).
template <class Backend, class Config>
run_result run_and_measure(const distanced_record<Backend, Config>& r, direction d, container k,
                           const std::vector<std::int64_t>& sample = {}) {
  return run_distanced(r.record(), r.config(), d, k, sample);
}

}  // namespace backend_test
