// Real transforms of the column-batch backend on PoCL under the default
// profile, against the long-double reference: both precisions, one and two
// factors, USM and buffers, forward and backward, in and out of place, the
// in/out and the domain layout forms, an outer batch, transposed output,
// offsets, scales, post-twiddles and a caller's workspace.
#include <ostream>
#include <string>

#include "tests/backends/n_fact_colbatch/colbatch_case.hpp"

namespace colbatch_test {
namespace {

struct transform_case {
  std::string name;
  record_config config;
};

record_config base(bool dp, std::int64_t n, std::int64_t h) {
  record_config c;
  c.double_precision = dp;
  c.length = n;
  c.columns = h;
  return c;
}

std::vector<transform_case> cases() {
  std::vector<transform_case> out;
  {  // two factors {4, 3}, rows wider than the block
    record_config c = base(true, 12, 6);
    c.stride = 9;
    out.push_back({"Double12Stride9", c});
  }
  {  // one prime factor, columns not a multiple of a half sub-group, whole block
    record_config c = base(false, 7, 5);
    out.push_back({"Single7Whole", c});
  }
  {  // many columns: several column groups and a partial last one
    record_config c = base(false, 64, 37);
    c.stride = 40;
    out.push_back({"Single64Columns37", c});
  }
  {  // three factors: 845 = 13 x 13 x 5 has no split into two factors up to 64
    record_config c = base(false, 845, 3);
    out.push_back({"Single845ThreeFactors", c});
  }
  {
    record_config c = base(true, 845, 6);
    c.transposed = true;
    out.push_back({"Double845ThreeFactorsTransposed", c});
  }
  {  // in place, domain form
    record_config c = base(false, 6, 4);
    c.io_form = false;
    c.in_place = true;
    out.push_back({"Single6InPlaceDomain", c});
  }
  {  // outer batch: two blocks of three columns
    record_config c = base(true, 16, 3);
    c.blocks = 2;
    c.stride = 4;
    c.outer_in = 16 * 4 + 2;
    c.outer_out = 16 * 4 + 6;
    out.push_back({"Double16Outer", c});
  }
  {  // transposed output: each transform contiguous
    record_config c = base(true, 8, 5);
    c.transposed = true;
    out.push_back({"Double8Transposed", c});
  }
  {  // offsets of the input and output
    record_config c = base(true, 10, 3);
    c.stride = 4;
    c.in_offset = 3;
    c.out_offset = 5;
    out.push_back({"Double10Offsets", c});
  }
  {  // scales folded into the main table
    record_config c = base(true, 12, 6);
    c.stride = 9;
    c.fwd_scale = 0.5;
    c.bwd_scale = 1.0 / 12.0;
    out.push_back({"Double12Scaled", c});
  }
  {  // a whole block of 32 columns: the export's 8-register pieces
    record_config c = base(true, 64, 32);
    out.push_back({"Double64WholeBlock", c});
  }
  {  // rows starting off a 16-byte boundary: single words before the blocks
    record_config c = base(false, 12, 6);
    c.stride = 9;
    c.out_offset = 3;
    out.push_back({"Single12OddOffsetRows", c});
  }
  {  // post-twiddle over two batch positions
    record_config c = base(true, 8, 4);
    c.post_twiddle = 2;
    out.push_back({"Double8PostTwiddle", c});
  }
  {  // post-twiddle across an outer batch
    record_config c = base(false, 8, 4);
    c.blocks = 3;
    c.post_twiddle = 6;
    out.push_back({"Single8OuterPostTwiddle", c});
  }
  return out;
}

// Cases print as their names.
void PrintTo(const transform_case& c, std::ostream* os) { *os << c.name; }

class ColbatchTransform : public ::testing::TestWithParam<transform_case> {};

TEST_P(ColbatchTransform, MatchesReferenceBothDirectionsUsmAndBuffers) {
  const record_config& c = GetParam().config;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  SCOPED_TRACE(r.description());
  for (container kind : backend_test::both_containers)
    for (direction d : backend_test::both_directions) {
      SCOPED_TRACE(std::string(backend_test::is_usm(kind) ? "usm " : "buffer ") +
                   (backend_test::is_forward(d) ? "forward" : "backward"));
      EXPECT_ACCURATE(run_and_measure(r, d, kind), c.double_precision, c.length);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ColbatchTransform, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<transform_case>& i) { return i.param.name; });

// A caller's workspace, in both kinds, instead of the library's own.
TEST(ColbatchWorkspace, CallerUsmAndBufferWorkspaces) {
  record_config c = base(true, 12, 6);
  c.stride = 9;
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const std::uint64_t bytes = backend_test::workspace_bytes(r.record());
  // Both directions' main tables, each padded to the base-address alignment.
  EXPECT_GE(bytes, 2u * 12u * 16u);
  EXPECT_EQ(r.record()->workspace_bytes[1], 0u);
  // No workspace yet: the compute says so instead of reading nothing.
  EXPECT_EQ(run_and_measure(r, direction::forward, container::usm).status, 11);
  ASSERT_EQ(r.workspace().give_usm(r.record(), bytes), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, 12);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), true, 12);
  ASSERT_EQ(r.workspace().give_buffer(r.record(), bytes), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), true, 12);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), true, 12);
}

}  // namespace
}  // namespace colbatch_test
