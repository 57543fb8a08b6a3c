// The child-plan strategy of the 3D main backend: acceptance, the children
// and their names, shared or separate per direction, the workspace they add
// up to, the scales in the last pass, and transforms in many layouts on USM
// and buffers, both precisions, both directions.
#include <gtest/gtest.h>

#include <complex>
#include <cstring>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace md_3d_test {
namespace {

namespace qd = ulmara::qez::dft;
namespace main3d = ulmara::qez::dft::c2c_3d_main;

constexpr int fx = main3d::slot_of(0, ulmara::qez::dft::plan_basics::dir_forward);

template <class T>
const main3d::block<T>& block_of(const DFTI_DESCRIPTOR* r) {
  return *main3d::block_of<T>(r);
}

std::vector<std::string> names_of(DFTI_DESCRIPTOR* const (&children)[main3d::slot_count]) {
  std::vector<std::string> out;
  for (const DFTI_DESCRIPTOR* c : children) out.push_back(c == nullptr ? "-" : child_name(c));
  return out;
}

// ---- Children, names and workspace -----------------------------------------

TEST(children_3d, a_plain_descriptor_shares_one_child_per_dimension) {
  c2c_config c;
  c.lengths = {6, 5, 4};
  c.fwd_scale = 0.25;
  c.bwd_scale = 2.0;
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  const auto& b = block_of<double>(r);
  EXPECT_FALSE(b.fused);
  EXPECT_EQ(names_of(b.children),
            (std::vector<std::string>{"3D_C2C|1d", "3D_C2C|1d", "3D_C2C|2d", "3D_C2C|2d", "3D_C2C|3d", "3D_C2C|3d"}));
  std::uint64_t persistent = 0, scratch = 0;
  for (int dim = 0; dim < 3; ++dim) {
    const DFTI_DESCRIPTOR* child = b.children[2 * dim];
    EXPECT_EQ(child, b.children[2 * dim + 1]);
    EXPECT_EQ(child->commit_status, qd::dfti_committed);
    EXPECT_EQ(child->directions, 2u);
    EXPECT_EQ(child->is_child, 1u);
    persistent += child->workspace_bytes[0];
    scratch = std::max(scratch, child->workspace_bytes[1]);
    // Only the last pass scales.
    EXPECT_EQ(child->fwd_scale, dim == 2 ? 0.25 : 1.0);
    EXPECT_EQ(child->bwd_scale, dim == 2 ? 2.0 : 1.0);
  }
  EXPECT_EQ(r->workspace_bytes[0], persistent);
  EXPECT_EQ(r->workspace_bytes[1], scratch);
  // Innermost dimension first: X has length 4.
  EXPECT_EQ(b.children[fx]->lengths.records[0].length, 4);
  EXPECT_EQ(b.children[fx + 4]->lengths.records[0].length, 6);
}

TEST(children_3d, differing_domain_layouts_split_the_in_place_passes) {
  c2c_config c;
  c.lengths = {4, 3, 5};
  c.backward_side = {1, 2};
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  // X reads one side and writes the other in both directions alike; Y and
  // Z work on the output, which is the other domain per direction.
  EXPECT_EQ(names_of(block_of<double>(r).children),
            (std::vector<std::string>{"3D_C2C|1d", "3D_C2C|1d", "3DC2C|f2d", "3DC2C|b2d", "3DC2C|f3d", "3DC2C|b3d"}));
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward");
  EXPECT_WITHIN_BOUNDS(plan.backward(container::buffer), "backward");
}

TEST(children_3d, a_forward_only_descriptor_makes_three_children_and_refuses_backward) {
  c2c_config c;
  c.lengths = {3, 4, 5};
  c.directions = 0;
  c.double_precision = false;
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  const auto& b = block_of<float>(r);
  EXPECT_EQ(names_of(b.children),
            (std::vector<std::string>{"3DC2C|f1d", "-", "3DC2C|f2d", "-", "3DC2C|f3d", "-"}));
  std::uint64_t persistent = 0;
  for (int dim = 0; dim < 3; ++dim) persistent += b.children[2 * dim]->workspace_bytes[0];
  EXPECT_EQ(r->workspace_bytes[0], persistent);
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward");
  std::uint64_t kind = qd::container_usm;
  EXPECT_EQ(r->compute_bwd(r, nullptr, nullptr, nullptr, &kind, nullptr), qd::status_invalid_configuration);
}

TEST(children_3d, a_backward_only_descriptor_makes_three_children_and_refuses_forward) {
  c2c_config c;
  c.lengths = {4, 3, 2};
  c.directions = 1;
  c.bwd_scale = 0.125;
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  const auto& b = block_of<double>(r);
  EXPECT_EQ(names_of(b.children),
            (std::vector<std::string>{"-", "3DC2C|b1d", "-", "3DC2C|b2d", "-", "3DC2C|b3d"}));
  EXPECT_EQ(b.children[5]->bwd_scale, 0.125);
  EXPECT_WITHIN_BOUNDS(plan.backward(container::buffer), "backward");
  std::uint64_t kind = qd::container_usm;
  EXPECT_EQ(r->compute_fwd(r, nullptr, nullptr, nullptr, &kind, nullptr), qd::status_invalid_configuration);
}

// Input and output strides that differ give each direction its own X child;
// the Y and Z passes of both directions work on the output layout and share.
TEST(children_3d, input_and_output_strides_split_the_first_pass) {
  const std::vector<std::int64_t> lengths = {3, 4, 5};
  const qez_test::strided_layout in_layout = qez_test::make_layout(lengths, 1, 1);
  const qez_test::strided_layout out_layout = qez_test::make_layout(lengths, 2, 0);
  qd::descriptor<qd::precision::DOUBLE, qd::domain::COMPLEX> desc(lengths);
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  DFTI_DESCRIPTOR* r = qd::descriptor_access::record(desc);
  // The record takes the first offset, then the strides innermost first.
  const std::int64_t in_strides[] = {0, in_layout.strides[2], in_layout.strides[1], in_layout.strides[0]};
  const std::int64_t out_strides[] = {0, out_layout.strides[2], out_layout.strides[1], out_layout.strides[0]};
  ASSERT_EQ(r->methods->set_input_strides(r, in_strides), 0);
  ASSERT_EQ(r->methods->set_output_strides(r, out_strides), 0);
  desc.commit(test_queue());
  ASSERT_TRUE(taken_by_3d_main(r));
  EXPECT_EQ(names_of(block_of<double>(r).children),
            (std::vector<std::string>{"3DC2C|f1d", "3DC2C|b1d", "3D_C2C|2d", "3D_C2C|2d", "3D_C2C|3d", "3D_C2C|3d"}));

  // Both directions read the input layout and write the output layout.
  using value = std::complex<double>;
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    const std::vector<qez_test::cld> x = qez_test::random_complex(60, forward ? 5 : 6);
    std::vector<value> input(size_t(in_layout.span(lengths, 1)));
    qez_test::place(x, lengths, 1, in_layout, input.data());
    const size_t out_count = size_t(out_layout.span(lengths, 1));
    value* in = sycl::malloc_device<value>(input.size(), test_queue());
    value* out = sycl::malloc_device<value>(out_count, test_queue());
    test_queue().memcpy(in, input.data(), input.size() * sizeof(value)).wait();
    (forward ? qd::compute_forward(desc, in, out) : qd::compute_backward(desc, in, out)).wait();
    std::vector<value> result(out_count);
    test_queue().memcpy(result.data(), out, out_count * sizeof(value)).wait();
    sycl::free(in, test_queue());
    sycl::free(out, test_queue());
    const auto got = qez_test::collect<qez_test::cld>(result.data(), lengths, 1, out_layout);
    const auto reference = qez_test::reference_c2c(
        x, lengths, 1, forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
    const auto error = qez_test::measure(got, reference);
    EXPECT_TRUE(qez_test::within(error, qez_test::bounds_for<double>(60)))
        << qez_test::describe(error, qez_test::bounds_for<double>(60));
  }
}

// In asynchronous offload mode every compute call takes the descriptor's
// queue again, treats it as out of order and hands it to the children.
TEST(children_3d, asynchronous_offload_refreshes_the_queue_of_block_and_children) {
  c2c_config c;
  c.lengths = {5, 4, 3};
  c.batch = 2;
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  auto& b = *main3d::block_of<double>(r);
  b.queue = nullptr;
  b.in_order = 1;
  r->offload_mode = 2;
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward");
  EXPECT_EQ(b.queue, r->queue);
  EXPECT_EQ(b.in_order, 0u);
  for (const DFTI_DESCRIPTOR* child : b.children) {
    EXPECT_EQ(child->offload_mode, 2u);
    EXPECT_EQ(child->queue, r->queue);
  }
  r->offload_mode = 0;
}

// ---- Declining ------------------------------------------------------------

TEST(children_3d, offsets_rank_and_storage_are_declined) {
  c2c_config c;
  c.lengths = {2, 3, 4};
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  const qd::backend_table& table = qd::dft_c2c_3d_main_gpu_bkd_table_double;
  r->fwd_offset = 2;
  EXPECT_EQ(table.bkd_commit(&table, r), qd::status_not_handled);
  r->fwd_offset = 0;
  r->in_offset = 1;
  EXPECT_EQ(table.bkd_commit(&table, r), qd::status_not_handled);
  r->in_offset = 0;
  r->complex_storage = qd::dfti_real_real;
  EXPECT_EQ(table.bkd_commit(&table, r), qd::status_not_handled);
  r->complex_storage = qd::dfti_complex_complex;
  r->fused_twiddle_length = 1;
  EXPECT_EQ(table.bkd_commit(&table, r), qd::status_not_handled);
  r->fused_twiddle_length = 0;
  // Declining left the committed plan alone.
  EXPECT_TRUE(taken_by_3d_main(r));
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward after declines");

  qd::descriptor<qd::precision::DOUBLE, qd::domain::COMPLEX> two_d(std::vector<std::int64_t>{5, 6});
  two_d.commit(test_queue());
  DFTI_DESCRIPTOR* r2 = qd::descriptor_access::record(two_d);
  EXPECT_EQ(table.bkd_commit(&table, r2), qd::status_not_handled);
}

TEST(children_3d, compute_without_private_block_is_refused) {
  c2c_config c;
  c.lengths = {2, 3, 4};
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  void* kept = r->bkd_data;
  r->bkd_data = nullptr;
  std::uint64_t kind = qd::container_usm;
  EXPECT_EQ(main3d::compute_3d_fwd<double>(r, nullptr, nullptr, nullptr, &kind, nullptr),
            qd::status_invalid_configuration);
  EXPECT_EQ(main3d::add_workspace<double>(nullptr, 2, 0, r, 0, nullptr), qd::status_invalid_configuration);
  r->bkd_data = kept;
}

TEST(children_3d, an_external_workspace_must_be_given_before_compute) {
  c2c_config c;
  c.lengths = {64, 2, 3};  // a child long enough to want tables
  c.ws = workspace::internal;
  c2c_plan probe(c);
  if (probe.record()->workspace_bytes[0] + probe.record()->workspace_bytes[1] == 0)
    GTEST_SKIP() << "the children of this size need no workspace";
  qd::descriptor<qd::precision::DOUBLE, qd::domain::COMPLEX> desc(c.lengths);
  desc.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
  desc.commit(test_queue());
  DFTI_DESCRIPTOR* r = qd::descriptor_access::record(desc);
  ASSERT_TRUE(taken_by_3d_main(r));
  std::uint64_t kind = qd::container_usm;
  EXPECT_EQ(r->compute_fwd(r, nullptr, nullptr, nullptr, &kind, nullptr), qd::status_no_workspace);
}

// ---- Transforms -------------------------------------------------------------

class children_transform : public ::testing::TestWithParam<c2c_config> {};

TEST_P(children_transform, both_directions_on_usm_and_buffers_match_the_reference) {
  const c2c_config c = GetParam();
  c2c_plan plan(c);
  ASSERT_TRUE(taken_by_3d_main(plan.record()));
  // The front end runs a caller's workspace only with data of its own kind.
  std::vector<container> kinds{container::usm, container::buffer};
  if (c.ws == workspace::external_usm) kinds = {container::usm};
  if (c.ws == workspace::external_buffer) kinds = {container::buffer};
  for (container k : kinds) {
    const char* where = k == container::usm ? "usm" : "buffer";
    EXPECT_WITHIN_BOUNDS(plan.forward(k), std::string("forward ") + where);
    EXPECT_WITHIN_BOUNDS(plan.backward(k), std::string("backward ") + where);
  }
}

INSTANTIATE_TEST_SUITE_P(
    layouts, children_transform,
    ::testing::Values(config(true, {4, 5, 6}, 1, false, workspace::internal),
                      config(false, {8, 3, 5}, 3, true, workspace::internal, {}, {}, 0.5, 1.0 / 120),
                      config(true, {3, 4, 5}, 2, false, workspace::external_usm, {2, 3}, {1, 1}),
                      config(false, {6, 6, 4}, 2, false, workspace::external_buffer, {1, 2}, {2, 0}, 1.0, 0.25),
                      config(true, {7, 2, 9}, 2, true, workspace::external_usm, {1, 5}, {1, 5}, 1.0 / 126, 1.0),
                      config(false, {16, 12, 10}, 1, false, workspace::internal, {}, {3, 1})),
    [](const ::testing::TestParamInfo<c2c_config>& info) { return name_of(info.param); });

}  // namespace
}  // namespace md_3d_test
