// Four-factor records committed on the GPU (PoCL under a GPU profile)
// through a list that holds only the four-factor backend and the
// terminator, and transforms run through their compute entries against the
// long-double reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"
#include "tests/backends/support/distanced_case.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/support/accuracy.hpp"

namespace four_factor_test {

namespace dft = ulmara::qez::dft;
namespace ff = ulmara::qez::dft::four_factor;

struct record_config : backend_test::distanced_config {
  record_config() { length = 2048; }
  bool library_list = false;     // the library's own list instead of this backend alone
  sycl::queue* queue = nullptr;  // null: the test process's out-of-order queue
};

class committed_record : public backend_test::committed_case<record_config, ff::block> {
 public:
  explicit committed_record(const record_config& c);

  // Committed, and to the four-factor backend of the record's precision.
  bool committed_here() const;
  std::string description() const;
};

// The four-factor table of a precision.
const dft::backend_table* table_of(bool double_precision);

using backend_test::run_result;

// One direction on random data through the compute entry; `sample` lists the
// transforms measured (empty: all).
run_result run_and_measure(const committed_record& r, bool forward, bool usm,
                           const std::vector<std::int64_t>& sample = {});

using backend_test::bounds_of;

// The library's workspace estimate for the record's configuration.
std::int64_t estimator_of(const record_config& c);

#define EXPECT_ACCURATE(run, dp, n) EXPECT_RUN_ACCURATE((run), ::backend_test::bounds_of((dp), (n)))

}  // namespace four_factor_test
