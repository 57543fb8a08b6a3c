// One transform through the public interface, checked against the
// long-double reference: commit on a queue, then forward and backward out of
// place on USM or on buffers.
#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "ulmara/qez/dft.hpp"

namespace reliability_test {

namespace qd = ulmara::qez::dft;

enum class data_kind { usm, buffer };

struct case_shape {
  bool real;
  std::vector<std::int64_t> lengths;  // slowest dimension first
};

// Commits `shape` on `queue`, computes forward then backward out of place on
// `kind` and expects both within the accuracy bounds of the reference.
template <qd::precision p>
void run_public_case(const case_shape& shape, sycl::queue& queue, data_kind kind);

}  // namespace reliability_test
