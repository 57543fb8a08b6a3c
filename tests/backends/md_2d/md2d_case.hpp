// Two-dimensional complex records driven directly: a record of one layout
// (lengths, strides with padding, distances, in either convention, scales,
// placement, workspace mode), committed through the complex rank-2 list and
// then, when the list chose another backend, to a given backend table; runs
// of its compute entries on USM or buffers measured against the long-double
// reference.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/run_words.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace md2d_test {

using backend_test::container;
using backend_test::direction;
using backend_test::workspace;

struct c2c_2d_config {
  bool dbl = true;
  std::int64_t n1 = 0;  // rows (outer dimension)
  std::int64_t n0 = 0;  // row length (inner dimension)
  std::int64_t batch = 1;
  bool in_place = false;
  // Unused elements after each row and after each transform, on the input
  // side of the forward transform and on its output side.
  std::int64_t in_row_pad = 0, out_row_pad = 0;
  std::int64_t in_batch_pad = 0, out_batch_pad = 0;
  // Strides and distances given as input/output instead of forward/backward.
  bool io_convention = false;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  workspace ws = workspace::internal;
  std::uint32_t directions = 2;  // 0 forward only, 1 backward only, 2 both
  sycl::queue* queue = nullptr;   // null: the test process's queue
};

// `batch` transforms of n1 rows of n0 elements; every other field keeps its
// default.
inline c2c_2d_config sized(bool dbl, std::int64_t n1, std::int64_t n0, std::int64_t batch) {
  c2c_2d_config c;
  c.dbl = dbl;
  c.n1 = n1;
  c.n0 = n0;
  c.batch = batch;
  return c;
}

std::string name_of(const c2c_2d_config& c);
// How test names print a configuration.
void PrintTo(const c2c_2d_config& c, std::ostream* os);

using run_result = backend_test::bounded_run;

class c2c_2d_record {
 public:
  // Creates, configures and commits the record; `pin`, when given, must hold
  // it afterwards (committed directly when the list chose another).
  c2c_2d_record(const c2c_2d_config& c, const ulmara::qez::dft::backend_table* pin);
  ~c2c_2d_record();
  c2c_2d_record(const c2c_2d_record&) = delete;
  c2c_2d_record& operator=(const c2c_2d_record&) = delete;

  DFTI_DESCRIPTOR* record() const { return record_; }
  int commit_status() const { return commit_status_; }
  // Hands a caller workspace of the configured kind over; the set-workspace
  // status.
  int give_workspace();
  // One transform of random data, against the reference.
  run_result run(bool forward, container k) const;

 private:
  struct impl;
  c2c_2d_config c_;
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
  std::unique_ptr<impl> impl_;
};

// The record is committed to `table`.
bool held_by(const DFTI_DESCRIPTOR* record, const ulmara::qez::dft::backend_table* table);

// The 2D main backend's table of the precision.
const ulmara::qez::dft::backend_table* main_table(bool dbl);

}  // namespace md2d_test
