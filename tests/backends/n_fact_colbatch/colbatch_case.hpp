// Column-batch records committed on the GPU (PoCL under a GPU profile)
// through a list that holds only the n-factor column-batch backend and the
// terminator, and transforms run through their compute entries against the
// long-double reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace colbatch_test {

namespace dft = ulmara::qez::dft;
namespace cb = ulmara::qez::dft::n_fact_colbatch;

// H transforms of N points as adjacent columns with row stride `stride`,
// optionally O such blocks at an outer distance.
struct record_config {
  bool double_precision = true;
  std::int64_t length = 12;     // N
  std::int64_t columns = 6;     // H
  std::int64_t blocks = 1;      // O (a second batch dimension when above 1)
  std::int64_t stride = 0;      // row stride of the input side; 0: H
  std::int64_t out_stride = 0;  // of the output side; 0: the input side's
  std::int64_t outer_in = 0;    // outer distance of the input side; 0: N x stride
  std::int64_t outer_out = 0;   // of the output side; 0: N x output stride (N x H transposed)
  bool io_form = true;          // input/output strides, else forward/backward domain
  bool transposed = false;      // output stride 1, each transform contiguous (distance N)
  std::int64_t in_offset = 0;   // input (or forward-domain) first element
  std::int64_t out_offset = 0;  // output (or backward-domain) first element
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
  std::int64_t post_twiddle = 0;
  bool without_queue = false;   // the record reaches the commit with no queue
};

// Where element r of transform (o, c) of one side lives, in complex values.
struct side_layout {
  std::int64_t offset, stride, inner, outer;
  std::int64_t at(std::int64_t o, std::int64_t c, std::int64_t r) const {
    return offset + o * outer + c * inner + r * stride;
  }
};
side_layout input_side(const record_config& c, bool forward);
side_layout output_side(const record_config& c, bool forward);

using colbatch_backend = backend_test::backend_of<cb::block, dft::dft_c2c_2_facts_colbatch_gpu_bkd_table_double,
                                                  dft::dft_c2c_2_facts_colbatch_gpu_bkd_table_float>;

// A child record that tries the column-batch backend alone.
class committed_record : public backend_test::backend_case<colbatch_backend, record_config> {
 public:
  explicit committed_record(const record_config& c);
};

using backend_test::bounds_of;
using backend_test::container;
using backend_test::direction;
using backend_test::run_result;

// One direction on random data through the compute entry; the values of
// the output array outside the output layout that changed are counted in
// stray_writes (not in place).
run_result run_and_measure(const committed_record& r, direction d, container kind);

}  // namespace colbatch_test
