// The transform tests every committed-record backend runs on its table of
// cases, written once: with the internal workspace, both directions on USM
// and buffers against the long-double reference (and the committed
// workspace within the estimate, where the backend has one); with a caller
// workspace, nothing before it arrives, then both directions on a USM
// workspace and on a buffer that replaces it.
// BACKEND_TRANSFORM_SUITE(Suite, Record, cases, estimate, first_backward)
// instantiates them for a backend as Cases/Suite.InternalWorkspace/<case>
// and Cases/Suite.CallerWorkspace/<case>.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"

namespace backend_test {

template <class Config>
struct transform_case {
  const char* name;
  Config config;
};

// `count` transforms of `n` in the precision, scaled by 1/n forward and by
// 1/2 backward.
template <class Config>
Config scaled_config(bool double_precision, std::int64_t n, std::int64_t count) {
  Config c;
  c.double_precision = double_precision;
  c.length = n;
  c.count = count;
  c.fwd_scale = 1.0 / static_cast<double>(n);
  c.bwd_scale = 0.5;
  return c;
}

template <class Config>
std::string transform_case_name(const ::testing::TestParamInfo<transform_case<Config>>& i) {
  return i.param.name;
}

// The workspace estimate of a configuration, or estimate_declined where the
// estimator does not model it.
template <class Config>
using estimate_function = std::int64_t (*)(const Config&);

template <class Record>
void expect_transforms_with_internal_workspace(const typename Record::config_type& c,
                                               estimate_function<typename Record::config_type> estimate) {
  const Record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  std::printf("[ plan ] %s\n", r.description().c_str());
  if (estimate != nullptr) {
    const std::int64_t limit = estimate(c);
    if (limit != ulmara::qez::dft::estimate_declined) {
      EXPECT_LE(static_cast<std::int64_t>(workspace_bytes(r.record())), limit);
    }
  }
  const qez_test::accuracy_bounds bounds = bounds_of(r.double_precision(), c.length);
  for (container k : both_containers)
    for (direction d : both_directions) EXPECT_RUN_ACCURATE(run_and_measure(r, d, k), bounds);
}

template <class Record>
void expect_transforms_with_caller_workspace(typename Record::config_type c, container first_backward) {
  c.internal_workspace = false;
  Record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  expect_caller_workspace_sequence(
      r.record(), r.workspace(), [&r](direction d, container k) { return run_and_measure(r, d, k); },
      bounds_of(r.double_precision(), c.length), first_backward);
}

}  // namespace backend_test

#define BACKEND_TRANSFORM_SUITE(Suite, Record, cases, estimate, first_backward)                           \
  class Suite : public ::testing::TestWithParam<::backend_test::transform_case<Record::config_type>> {};  \
  TEST_P(Suite, InternalWorkspace) {                                                                      \
    ::backend_test::expect_transforms_with_internal_workspace<Record>(GetParam().config, (estimate));     \
  }                                                                                                       \
  TEST_P(Suite, CallerWorkspace) {                                                                        \
    ::backend_test::expect_transforms_with_caller_workspace<Record>(GetParam().config, (first_backward)); \
  }                                                                                                       \
  INSTANTIATE_TEST_SUITE_P(Cases, Suite, ::testing::ValuesIn(cases),                                      \
                           ::backend_test::transform_case_name<Record::config_type>)
