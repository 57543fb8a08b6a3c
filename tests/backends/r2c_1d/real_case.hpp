// Real one-dimensional transforms through the public interface on a GPU
// queue (PoCL under a GPU profile): a descriptor of one configuration,
// committed once, then forward and backward runs on USM or buffers measured
// against the long-double reference.
#pragma once

#include <complex>
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
#include "ulmara/qez/dft.hpp"

namespace r2c_1d_test {

namespace qd = ulmara::qez::dft;

using backend_test::container;
using backend_test::precision;
using backend_test::workspace;

struct real_config {
  precision p = precision::double_precision;
  std::int64_t n = 64;
  std::int64_t batch = 1;
  bool in_place = false;
  workspace ws = workspace::internal;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  // Distances; 0 takes the packed ones (N and N/2+1 out of place,
  // 2(N/2+1) and N/2+1 in place).
  std::int64_t real_distance = 0;
  std::int64_t complex_distance = 0;
};

std::string name_of(const real_config& c);

// The configured distances, or the packed ones where they are 0.
std::int64_t real_distance_of(const real_config& c);
std::int64_t complex_distance_of(const real_config& c);

// The queue of every descriptor of a test process.
sycl::queue& test_queue();

// The record's accepting backend is the real 1D backend of the precision.
bool accepted_by_real_1d(const DFTI_DESCRIPTOR* record, precision p);

// Errors of one run against the reference, with the run's bounds.
using run_result = backend_test::bounded_run;

// A committed descriptor of one configuration (and its external workspace).
class real_plan : public backend_test::committed_public_plan {
 public:
  explicit real_plan(const real_config& c);

  const real_config& config() const { return config_; }
  std::int64_t real_distance() const { return real_distance_of(config_); }
  std::int64_t complex_distance() const { return complex_distance_of(config_); }

 private:
  real_config config_;
};

// Bytes the workspace estimator of the real 1D backend gives for the
// configuration.
std::int64_t estimator_bytes(const real_config& c);

}  // namespace r2c_1d_test
