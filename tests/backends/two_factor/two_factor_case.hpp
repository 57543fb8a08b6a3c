// Records committed to the two-factor backend on the GPU (PoCL under a GPU
// profile), and transforms run through their compute entries on USM or
// buffers, checked against the long-double reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/two_factor/plan.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/support/accuracy.hpp"

namespace two_factor_test {

using ulmara::qez::dft::two_factor::block;

enum class precision { single_precision, double_precision };
enum class container { usm, buffer };
enum class workspace_source { internal, caller_usm, caller_buffer };
enum class placement { in_place, out_of_place };
enum class distance_convention { forward_backward, input_output };

struct record_config {
  precision p = precision::single_precision;
  std::int64_t n = 16;
  std::int64_t howmany = 1;
  std::int64_t in_distance = 0;   // 0: packed (n) for several transforms
  std::int64_t out_distance = 0;
  distance_convention convention = distance_convention::forward_backward;
  placement place = placement::out_of_place;
  workspace_source workspace = workspace_source::internal;
  std::uint32_t directions = 2;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  std::int64_t fused_twiddle_length = 0;
  std::int64_t in_offset = 0;
};

// The queue every record of a test process uses.
sycl::queue& test_queue();

// A record of the configuration, committed through the record's method
// table; destroyed (with its caller workspace) when the case goes.
class committed_record : public backend_test::record_owner {
 public:
  explicit committed_record(const record_config& c);

  const record_config& config() const { return config_; }
  bool committed_by_two_factor() const;
  template <class T>
  const block<T>& plan() const {
    return backend_data<const block<T>>();
  }
  // The committed plan in one line (for messages).
  std::string describe() const;
  // Hands the caller's workspace over (when the configuration asks for one).
  int give_workspace();

 private:
  record_config config_;
};

enum class direction { forward, backward };

// Runs one direction on random data through the record's compute entry and
// measures it against the reference (scale of the direction included).
qez_test::accuracy run_and_measure(const committed_record& r, direction d, container c);

qez_test::accuracy_bounds bounds_of(const record_config& c);

}  // namespace two_factor_test
