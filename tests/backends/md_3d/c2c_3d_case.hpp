// Complex three-dimensional transforms through the public interface on a GPU
// queue (PoCL under a GPU profile): one descriptor of one configuration,
// committed once, then forward and backward runs on USM or buffers in any
// stride layout, measured against the long-double reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/public_api_harness.hpp"
#include "tests/backends/support/run_words.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/strided_layout.hpp"

namespace md_3d_test {

using backend_test::container;
using backend_test::workspace;

// Layout of one side: every stride times `spread`, `pad` unused elements
// after each row and after each transform.
struct side_layout {
  std::int64_t spread = 1;
  std::int64_t pad = 0;
};

struct c2c_config {
  bool double_precision = true;
  std::vector<std::int64_t> lengths;  // row-major, outermost first
  std::int64_t batch = 1;
  bool in_place = false;
  workspace ws = workspace::internal;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  side_layout forward_side;
  side_layout backward_side;
  // Directions word written into the record before commit (2 both).
  std::uint32_t directions = 2;
};

// `batch` transforms of `lengths` with both sides' layouts and the scales.
inline c2c_config config(bool dp, std::vector<std::int64_t> lengths, std::int64_t batch, bool in_place,
                         workspace ws, side_layout fwd = {}, side_layout bwd = {}, double fs = 1.0,
                         double bs = 1.0) {
  c2c_config c;
  c.double_precision = dp;
  c.lengths = std::move(lengths);
  c.batch = batch;
  c.in_place = in_place;
  c.ws = ws;
  c.forward_side = fwd;
  c.backward_side = bwd;
  c.fwd_scale = fs;
  c.bwd_scale = bs;
  return c;
}

std::string name_of(const c2c_config& c);
inline void PrintTo(const c2c_config& c, std::ostream* os) { *os << name_of(c); }
sycl::queue& test_queue();

using run_result = backend_test::bounded_run;

// A committed descriptor of the configuration.
class c2c_plan : public backend_test::committed_public_plan {
 public:
  explicit c2c_plan(const c2c_config& c);
};

// The record is committed to the 3D main backend of its precision.
bool taken_by_3d_main(const DFTI_DESCRIPTOR* record);
bool taken_by_3d_padded(const DFTI_DESCRIPTOR* record);

// The 10-byte name of a child, without the padding blanks.
std::string child_name(const DFTI_DESCRIPTOR* child);

}  // namespace md_3d_test
