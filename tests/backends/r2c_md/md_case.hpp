// Real two- and three-dimensional transforms through the public interface on
// a GPU queue (PoCL under a GPU profile), in any stride layout: a descriptor
// of one configuration, committed once, then forward and backward runs on
// USM or buffers measured against the long-double reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/public_api_harness.hpp"
#include "tests/backends/support/run_words.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace r2c_md_test {

using backend_test::container;
using backend_test::precision;
using backend_test::workspace;

struct md_config {
  precision p = precision::double_precision;
  std::vector<std::int64_t> lengths;  // row-major, outermost first
  std::int64_t batch = 1;
  bool in_place = false;
  workspace ws = workspace::internal;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  // Row-major strides without the offset; empty takes the packed ones
  // (real rows padded to 2(N/2+1) in place).
  std::vector<std::int64_t> real_strides;
  std::vector<std::int64_t> complex_strides;
  // Distances; 0 takes the extent of the strided transform.
  std::int64_t real_distance = 0;
  std::int64_t complex_distance = 0;
};

std::string name_of(const md_config& c);
sycl::queue& test_queue();

using run_result = backend_test::bounded_run;

// A committed descriptor of the configuration.
class md_plan : public backend_test::committed_public_plan {
 public:
  explicit md_plan(const md_config& c);
};

// The record is committed to the composite real backend of its rank and
// precision.
bool accepted_by_composite(const DFTI_DESCRIPTOR* record, const md_config& c);

// Bytes the estimator of that backend gives for the configuration.
std::int64_t estimator_bytes(const md_config& c);

}  // namespace r2c_md_test
