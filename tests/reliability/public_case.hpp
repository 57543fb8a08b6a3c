// One transform through the public interface, checked against the
// long-double reference: commit on a queue, then forward and backward out of
// place on USM or on buffers.
#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "ulmara/qez/dft.hpp"

namespace reliability_test {

namespace qd = ulmara::qez::dft;

enum class data_kind { usm, buffer };

struct case_shape {
  bool real;
  std::vector<std::int64_t> lengths;  // slowest dimension first
  long double backward_scale = 1.0L;
  std::int64_t count = 1;  // transforms, packed one after the other
  std::int64_t thread_limit = 0;  // 0: the default
};

// Commits `shape` on `queue`, computes forward then backward out of place on
// `kind` and expects both within the accuracy bounds of the reference;
// returns the backend table that accepted the commit (null on a CPU queue).
template <qd::precision p>
const qd::backend_table* run_public_case(const case_shape& shape, sycl::queue& queue, data_kind kind);

}  // namespace reliability_test
