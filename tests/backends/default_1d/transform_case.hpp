// Runs one-dimensional complex transforms through a committed GPU record and
// measures them against the long-double reference. A case names the length,
// the placement, the element strides and up to three batch dimensions, the
// stride convention, the container kind and who owns the workspace.
#pragma once

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"

namespace default_1d_test {

using qez_test::cld;

struct batch_dim {
  std::int64_t count;
  std::int64_t distance_a;  // forward-domain (or input) side
  std::int64_t distance_b;  // backward-domain (or output) side
};

using backend_test::container;
using backend_test::distance_convention;
enum class workspace_owner { library, caller };

struct transform_case {
  std::int64_t n = 1;
  bool in_place = false;
  std::int64_t stride_a = 1, stride_b = 1;
  std::vector<batch_dim> batch;  // empty: one transform
  distance_convention layout = distance_convention::forward_backward;
  container data = container::usm;  // of the data and of a caller's workspace
  workspace_owner workspace = workspace_owner::library;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  std::uint32_t directions = 2;
};

std::int64_t transform_count(const transform_case& c);

// Owns a committed record on a queue; frees it (and any caller workspace)
// before the queue goes.
class committed_record : public backend_test::record_owner {
public:
  committed_record(sycl::queue& queue, const transform_case& c, bool double_precision);

  DFTI_DESCRIPTOR* get() const { return record(); }
  // Hands the record a workspace of the kind of the case (after commit).
  int give_workspace();

private:
  transform_case case_;
};

// Forward (sign -1) or backward (+1) transform of `count` random transforms
// through the record; returns the accuracy against the reference. Positions
// outside the output layout must keep their contents.
template <class T>
qez_test::accuracy run_transform(sycl::queue& queue, committed_record& r, const transform_case& c, bool forward,
                                 std::uint64_t seed, int* status);

// Test-side bound: generic-size direct DFTs may take twice the bound.
template <class T>
qez_test::accuracy_bounds bounds_for_case(const transform_case& c);

// Both directions with their scales, checked against the bounds; also
// checks that the default backend accepted.
template <class T>
void check_round(sycl::queue& queue, const transform_case& c);

sycl::queue& gpu_queue();

}  // namespace default_1d_test
