// Four-factor transforms on PoCL (Harix profile, sub-groups of 16) against
// the long-double reference: both precisions, forward and backward with
// scales, in and out of place, USM and buffers, internal and caller
// workspace, batch chunks, one-direction plans.
#include <cstdio>

#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "tests/backends/four_factor/four_factor_case.hpp"
#include "tests/backends/support/transform_suite.hpp"

namespace four_factor_test {
namespace {

using transform_case = backend_test::transform_case<record_config>;

record_config scaled(bool dp, std::int64_t n, std::int64_t count, bool in_place) {
  record_config c = backend_test::scaled_config<record_config>(dp, n, count);
  c.in_place = in_place;
  return c;
}

std::vector<transform_case> transform_cases() {
  std::vector<transform_case> cases;
  // 2048 = 64 (8 x 8) x 32 (8 x 4): no tail in either pass.
  cases.push_back({"d2048", scaled(true, 2048, 3, false)});
  cases.push_back({"s2048_in_place", scaled(false, 2048, 3, true)});
  // 2880 = 60 (10 x 6) x 48 (8 x 6): pass 1 has a tail of 4 columns.
  cases.push_back({"d2880_in_place", scaled(true, 2880, 2, true)});
  cases.push_back({"s2880", scaled(false, 2880, 2, false)});
  // 2744 = 56 (8 x 7) x 49 (7 x 7): pass 0 has a tail of 1 column.
  cases.push_back({"d2744", scaled(true, 2744, 2, false)});
  record_config io = scaled(false, 4096, 2, false);
  io.io_distances = true;
  cases.push_back({"s4096_io_distances", io});
  return cases;
}

BACKEND_TRANSFORM_SUITE(FourFactorTransform, committed_record, transform_cases(), nullptr, container::buffer);

// Through the library's own list: the earlier backends decline these
// lengths and the four-factor backend takes them.
TEST(FourFactorRoad, LibraryListReachesTheBackend) {
  record_config d = scaled(true, 10000, 2, false);  // 100 (10 x 10) x 100 (10 x 10)
  d.library_list = true;
  record_config s = scaled(false, 131072, 1, true);  // 512 (32 x 16) x 256 (16 x 16)
  s.library_list = true;
  for (const record_config& c : {d, s}) {
    committed_record r(c);
    ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status() << ", length " << c.length;
    std::printf("[ plan ] %s\n", r.description().c_str());
    for (direction d : backend_test::both_directions)
      EXPECT_ACCURATE(run_and_measure(r, d, container::usm), c.double_precision, c.length);
  }
}

// The workspace a plan reports: table A, table B and one cross table per
// prepared direction, then the intermediate area of one chunk.
template <class T>
void expect_reported_workspace_of(const committed_record& r, std::uint64_t cross_tables) {
  const ff::block<T>& s = r.plan<T>();
  sycl::queue* q = &backend_test::gpu_test_queue();
  const std::uint64_t e = 2 * sizeof(T);
  const std::uint64_t n = static_cast<std::uint64_t>(r.config().length);
  const std::uint64_t a = dft::pad_to_base_addr_align(static_cast<std::uint64_t>(s.len1) * e, q);
  const std::uint64_t b = dft::pad_to_base_addr_align(static_cast<std::uint64_t>(s.len2) * e, q);
  const std::uint64_t groups = (static_cast<std::uint64_t>(s.len1) + 7) / 8;  // of 8 columns
  const std::uint64_t cross = dft::pad_to_base_addr_align(groups * 8 * static_cast<std::uint64_t>(s.len2) * 2 * e, q);
  EXPECT_EQ(r.record()->workspace_bytes[0], a + b + cross_tables * cross);
  EXPECT_EQ(r.record()->workspace_bytes[1],
            dft::pad_to_base_addr_align(static_cast<std::uint64_t>(s.chunk) * n * e, q));
  // What a caller sizes from the library's estimate is enough.
  EXPECT_LE(static_cast<std::int64_t>(backend_test::workspace_bytes(r.record())), estimator_of(r.config()));
}

void expect_reported_workspace(const committed_record& r, std::uint64_t cross_tables) {
  if (r.config().double_precision)
    expect_reported_workspace_of<double>(r, cross_tables);
  else
    expect_reported_workspace_of<float>(r, cross_tables);
}

TEST(FourFactorWorkspace, ReportedSizes) {
  for (bool dp : {true, false}) {
    record_config c = scaled(dp, 2880, 3, false);
    committed_record both(c);
    ASSERT_TRUE(both.committed_here()) << "status " << both.commit_status();
    expect_reported_workspace(both, 2);
    c.directions = dft::directions_backward;
    committed_record one(c);
    ASSERT_TRUE(one.committed_here()) << "status " << one.commit_status();
    expect_reported_workspace(one, 1);
  }
}

// A batch in chunks: the launch pairs run with offsets 0, 2, 4 over a
// smaller chunk than the intermediate area holds.
TEST(FourFactorChunks, BatchInChunks) {
  for (bool dp : {true, false}) {
    record_config c = scaled(dp, 2048, 5, false);
    for (bool in_place : {false, true}) {
      c.in_place = in_place;
      committed_record r(c);
      ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
      if (dp)
        r.plan<double>().chunk = 2;
      else
        r.plan<float>().chunk = 2;
      for (container kind : backend_test::both_containers)
        for (direction d : backend_test::both_directions) EXPECT_ACCURATE(run_and_measure(r, d, kind), dp, c.length);
    }
  }
}

// One direction only: no kernels and no cross table of the other, which is
// refused rather than run.
TEST(FourFactorDirections, OneDirectionPlans) {
  for (std::uint32_t directions : {dft::directions_forward, dft::directions_backward}) {
    record_config c = scaled(true, 2048, 1, false);
    c.directions = directions;
    committed_record r(c);
    ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
    const bool forward = directions == dft::directions_forward;
    const direction d = forward ? direction::forward : direction::backward;
    const ff::block<double>& s = r.plan<double>();
    const int served = forward ? ff::dir_forward : ff::dir_backward;
    const int other = forward ? ff::dir_backward : ff::dir_forward;
    for (int p = 0; p < ff::pass_count; ++p) {
      EXPECT_NE(s.kernels[p][served], nullptr);
      EXPECT_EQ(s.kernels[p][other], nullptr);
    }
    EXPECT_NE(s.cross_pointers[served], nullptr);
    EXPECT_EQ(s.cross_pointers[other], nullptr);
    EXPECT_ACCURATE(run_and_measure(r, d, container::usm), true, c.length);
    EXPECT_EQ(run_and_measure(r, backend_test::opposite(d), container::usm).status, dft::status_invalid_configuration);
  }
}

// On an in-order queue the passes wait for nothing explicitly: the queue
// orders the table writers, the chunks and the calls.
TEST(FourFactorQueues, InOrderQueue) {
  sycl::queue& shared = backend_test::gpu_test_queue();
  static sycl::queue* in_order =
      new sycl::queue(shared.get_context(), shared.get_device(), sycl::property_list{sycl::property::queue::in_order()});
  for (bool internal : {true, false}) {
    record_config c = scaled(true, 2880, 3, false);
    c.queue = in_order;
    c.internal_workspace = internal;
    committed_record r(c);
    ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
    EXPECT_EQ(r.plan<double>().in_order, 1u);
    if (!internal) {
      ASSERT_EQ(r.workspace().give_usm(r.record(), backend_test::workspace_bytes(r.record())), 0);
    }
    r.plan<double>().chunk = 2;
    for (container kind : backend_test::both_containers)
      for (direction d : backend_test::both_directions) EXPECT_ACCURATE(run_and_measure(r, d, kind), true, c.length);
    in_order->wait();
  }
}

// A descriptor of the offload interface computing with the queue of the
// call: the plan follows the record's queue and stops trusting its order.
TEST(FourFactorQueues, AsynchronousOffloadFollowsTheQueue) {
  record_config c = scaled(false, 2048, 2, false);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  sycl::queue& shared = backend_test::gpu_test_queue();
  static sycl::queue* other =
      new sycl::queue(shared.get_context(), shared.get_device(), sycl::property_list{sycl::property::queue::in_order()});
  r.record()->offload_mode = dft::offload_asynchronous;
  r.record()->queue = other;
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), false, c.length);
  EXPECT_EQ(r.plan<float>().queue, other);
  EXPECT_EQ(r.plan<float>().in_order, 0u);
  other->wait();
  r.record()->queue = &shared;
}

// The table writers' events go to the caller's list: both cross tables
// (when both directions are prepared), then tables A and B.
TEST(FourFactorWorkspace, TableEventsHandedOver) {
  for (std::uint32_t directions : {dft::directions_both, dft::directions_forward}) {
    record_config c = scaled(true, 2048, 1, false);
    c.internal_workspace = false;
    c.directions = directions;
    committed_record r(c);
    ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
    ASSERT_EQ(r.workspace().give_usm(r.record(), backend_test::workspace_bytes(r.record())), 0);
    std::vector<sycl::event> events;
    const dft::backend_table* t = table_of(true);
    ASSERT_EQ(t->add_workspace(r.workspace().usm(), dft::container_usm, 0, r.record(), dft::workspace_part_both,
                               &events),
              0);
    EXPECT_EQ(events.size(), directions == dft::directions_both ? 4u : 3u);
    for (sycl::event& e : events) e.wait();
    EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, c.length);
  }
}

// A caller's buffer too small for the layout is refused by the sub-buffer
// it cannot hold, and the plan then refuses to compute rather than run on
// missing slices.
TEST(FourFactorWorkspace, BufferTooSmall) {
  record_config c = scaled(true, 2048, 1, false);
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const std::uint64_t bytes = backend_test::workspace_bytes(r.record());
  EXPECT_THROW(r.workspace().give_buffer(r.record(), bytes - 1), sycl::exception);
  EXPECT_EQ(run_and_measure(r, direction::forward, container::buffer).status, dft::status_no_workspace);
  ASSERT_EQ(r.workspace().give_buffer(r.record(), bytes), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), true, c.length);
}

// Two USM computes submitted back to back without dependencies between them
// share the record's intermediate area: the second must not start before
// the first is done with it (the queue is out of order).
TEST(FourFactorConcurrency, BackToBackUsmComputes) {
  record_config c;
  c.length = 4096;
  c.count = 2;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  backend_test::expect_back_to_back_usm_computes(r.record(), c.length, c.count);
}

}  // namespace
}  // namespace four_factor_test
