// Four-factor column-batch records committed on the GPU (PoCL under a GPU
// profile) through a list that holds only this backend and the terminator,
// and transforms run through their compute entries against the long-double
// reference. Element n of transform t of outer index o lies at complex
// offset o * outer_distance + t + n * stride on each side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_owner.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "tests/support/accuracy.hpp"

namespace colbatch_test {

namespace dft = ulmara::qez::dft;
namespace cb = ulmara::qez::dft::four_factor_colbatch;

// One side of the data: stride of the transform dimension and distance of
// the second batch dimension, in complex elements.
struct side_layout {
  std::int64_t stride = 0;          // 0: the number of transforms
  std::int64_t outer_distance = 0;  // 0: stride * length (only with outer_count)
};

struct record_config {
  bool double_precision = true;
  std::int64_t length = 4096;
  std::int64_t count = 20;        // first batch dimension (distance 1)
  std::int64_t outer_count = 0;   // second batch dimension; 0: none
  bool io_layout = false;         // input/output instead of forward/backward domain
  side_layout first_side;         // forward domain (or input)
  side_layout second_side;        // backward domain (or output)
  bool in_place = false;
  bool internal_workspace = true;
  std::uint32_t directions = dft::directions_both;
  double fwd_scale = 1.0;
  double bwd_scale = 1.0;
};

// The layout of a side with its defaults filled in.
side_layout resolved(const record_config& c, const side_layout& s);

using colbatch_backend =
    backend_test::backend_of<cb::block, dft::dft_c2c_4_facts_colbatch_gpu_bkd_table_double,
                             dft::dft_c2c_4_facts_colbatch_gpu_bkd_table_float>;

// The column-batch table of a precision.
inline const dft::backend_table* table_of(bool double_precision) { return colbatch_backend::table(double_precision); }

// A child record that tries the column-batch backend alone.
class committed_record : public backend_test::backend_case<colbatch_backend, record_config> {
 public:
  explicit committed_record(const record_config& c);

  // Commits the record again with new scales; the commit's status.
  int recommit_with_scales(double fwd_scale, double bwd_scale);
};

using backend_test::container;
using backend_test::direction;
using backend_test::run_result;

// One direction on random data through the compute entry; positions of the
// result outside every transform are counted in stray_writes.
run_result run_and_measure(const committed_record& r, backend_test::direction d, backend_test::container kind);

using backend_test::bounds_of;

}  // namespace colbatch_test
