// Commit: its refusals, recommit, the CPU copy it makes, and the GPU road
// up to the GPU descriptor core's lists with its device checks.
#include <gtest/gtest.h>

#include <chrono>
#include <complex>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "dft/api/commit.hpp"
#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_methods.hpp"
#include "tests/api/descriptor_test_support.hpp"

namespace {

using namespace qez_api_test;

const std::string commit_prefix = "ulmara::qez::dft::commit: ";
const std::string unimplemented_configuration =
    commit_prefix + "unimplemented functionality: Unimplemented support for the attempted "
                    "configuration.";

TEST(Commit, MovedFromDescriptorIsRefused) {
  single_complex a(std::int64_t{8});
  single_complex b(std::move(a));
  expect_message<ulmara::qez::uninitialized>(
      [&] { a.commit(cpu_queue()); }, commit_prefix + "uninitialized object: " + moved_from_text);
}

TEST(Commit, NegativeStridesAndDistancesAreRefusedBeforeAnyQueue) {
  const std::string message = commit_prefix +
                              "unimplemented functionality: Negative strides or distances are "
                              "not supported yet.";
  single_complex d(std::vector<std::int64_t>{4, 4});
  d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, 4, -1});
  expect_message<ulmara::qez::unimplemented>([&] { d.commit(cpu_queue()); }, message);
  EXPECT_EQ(dft::descriptor_access::record(d)->queue, nullptr);

  double_real e(std::int64_t{16});
  e.set_value(P::NUMBER_OF_TRANSFORMS, std::int64_t{2});
  e.set_value(P::FWD_DISTANCE, std::int64_t{-5});
  expect_message<ulmara::qez::unimplemented>([&] { e.commit(cpu_queue()); }, message);
}

TEST(Commit, InPlaceComplexStridesMustAgree) {
  single_complex d(std::int64_t{8});
  d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, 2});
  d.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, 1});
  expect_message<ulmara::qez::exception>(
      [&] { d.commit(cpu_queue()); },
      commit_prefix + "Strides and distances must be same in forward and backward domains for "
                      "complex inplace transforms.");
}

TEST(Commit, InPlaceComplexWithOnlyForwardStridesTakesThemForBoth) {
  single_complex d(std::int64_t{8});
  d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{1, 2});
  d.commit(cpu_queue());
  std::vector<std::int64_t> bwd(2);
  d.get_value(P::BWD_STRIDES, &bwd);
  EXPECT_EQ(bwd, (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(commit_status(d), V::COMMITTED);
}

TEST(Commit, CpuCommitHoldsACommittedCopyAndTheQueue) {
  double_complex d(std::vector<std::int64_t>{4, 6});
  d.commit(cpu_queue());
  const DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  ASSERT_NE(r->queue, nullptr);
  EXPECT_EQ(*dft::record_queue(r), cpu_queue());
  sycl::host_accessor slot(dft::descriptor_access::slot_buffer(d), sycl::read_only);
  ASSERT_NE(slot[0], nullptr);
  ASSERT_NE(slot[0]->record, nullptr);
  EXPECT_NE(slot[0]->record, r);
  EXPECT_EQ(slot[0]->record->commit_status, 30u);
  EXPECT_EQ(slot[0]->record->lengths.records[0].length, 6);
  std::int64_t threads = 0;
  d.get_value(P::THREAD_LIMIT, &threads);
  EXPECT_GE(threads, 1);
}

TEST(Commit, RecommitReplacesTheCpuCopy) {
  single_real d(std::int64_t{32});
  d.commit(cpu_queue());
  sycl::queue other(sycl::cpu_selector_v);
  d.commit(other);
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  EXPECT_EQ(*dft::record_queue(dft::descriptor_access::record(d)), other);
  sycl::host_accessor slot(dft::descriptor_access::slot_buffer(d), sycl::read_only);
  ASSERT_NE(slot[0], nullptr);
  EXPECT_EQ(slot[0]->record->commit_status, 30u);
}

TEST(Commit, CallerWorkspaceIsUnimplementedOnTheCpu) {
  single_complex d(std::int64_t{64});
  d.set_value(P::WORKSPACE_PLACEMENT, V::WORKSPACE_EXTERNAL);
  expect_message<ulmara::qez::unimplemented>([&] { d.commit(cpu_queue()); },
                                             unimplemented_configuration);
  EXPECT_EQ(commit_status(d), V::UNCOMMITTED);
}

TEST(Commit, SplitComplexStorageIsUnimplementedOnTheCpu) {
  single_complex d(std::int64_t{64});
  d.set_value(P::COMPLEX_STORAGE, V::COMPLEX_SPLIT);
  expect_message<ulmara::qez::unimplemented>([&] { d.commit(cpu_queue()); },
                                             unimplemented_configuration);
}

TEST(Commit, RankAboveThreeIsRefusedOnEachDevice) {
  single_complex d(std::vector<std::int64_t>{2, 2, 2});
  // The constructor never makes such a record; a working list can hold more.
  dft::descriptor_access::record(d)->work_lengths.count = 4;
  expect_message<ulmara::qez::unimplemented>(
      [&] { d.commit(cpu_queue()); },
      commit_prefix + "unimplemented functionality: dimension larger than 3 is not implemented "
                      "on CPU device.");
  expect_message<ulmara::qez::unimplemented>(
      [&] { d.commit(gpu_queue()); },
      commit_prefix + "unimplemented functionality: dimension larger than 3 is not implemented "
                      "on GPU device.");
  dft::descriptor_access::record(d)->work_lengths.count = 3;
}

TEST(Commit, GpuCommitReachesTheBackendLists) {
  // Split complex storage is a configuration no GPU backend computes: the
  // lists end in their terminator, which calls it unimplemented.
  single_complex d(std::int64_t{256});
  d.set_value(P::COMPLEX_STORAGE, V::COMPLEX_SPLIT);
  expect_message<ulmara::qez::unimplemented>([&] { d.commit(gpu_queue()); },
                                             unimplemented_configuration);
  const DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  EXPECT_EQ(r->backend_list, dft::backend_list_c2c_1d_float());
  EXPECT_EQ(r->methods, &dft::descriptor_method_table);
  EXPECT_EQ(commit_status(d), V::UNCOMMITTED);
  auto* data = sycl::malloc_shared<std::complex<float>>(256, gpu_queue());
  EXPECT_THROW(dft::compute_forward(d, data), dft::invalid_descriptor_exception)
      << "a failed GPU commit leaves nothing to compute with";
  sycl::free(data, gpu_queue());

  double_real m(std::vector<std::int64_t>{8, 8});
  m.set_value(P::PLACEMENT, V::OUT_OF_PLACE);
  m.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{3, 16, 1});
  m.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, 5, 1});
  // No GPU backend takes a real spectrum with these row strides.
  expect_message<ulmara::qez::unimplemented>([&] { m.commit(gpu_queue()); },
                                             unimplemented_configuration);
  EXPECT_EQ(commit_status(m), V::UNCOMMITTED);
  EXPECT_EQ(dft::descriptor_access::record(m)->backend_list, dft::backend_list_r2c_md_double());
}

TEST(Commit, GpuThenCpuRecommitWorks) {
  single_complex d(std::int64_t{16});
  ASSERT_NO_THROW(d.commit(gpu_queue()));
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  EXPECT_TRUE(dft::record_queue(dft::descriptor_access::record(d))->get_device().is_gpu());
  d.commit(cpu_queue());
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  EXPECT_TRUE(dft::record_queue(dft::descriptor_access::record(d))->get_device().is_cpu());
  EXPECT_EQ(dft::descriptor_access::record(d)->backend, nullptr) << "the GPU backend was freed";
}

// A backend table that wraps the committed backend's and watches its
// release: how often it is freed, and whether the work of the old queue was
// done by then.
struct watched_backend {
  static const dft::backend_table* real;
  static int frees;
  static int free_status;  // non-zero: the free fails with it
  static sycl::event in_flight;
  static bool done_at_free;
  static int watched_free(const dft::backend_table*, DFTI_DESCRIPTOR* r) {
    ++frees;
    done_at_free = in_flight.get_info<sycl::info::event::command_execution_status>() ==
                   sycl::info::event_command_status::complete;
    if (free_status != 0) return free_status;
    // A backend frees only a record it owns.
    r->backend = real;
    return real->bkd_free(real, r);
  }
  static const dft::backend_table table;
  // Puts the wrapper in place of the record's backend and leaves a slow
  // kernel running on its queue.
  static void watch(DFTI_DESCRIPTOR* r, int status) {
    real = r->backend;
    frees = 0;
    free_status = status;
    done_at_free = false;
    in_flight = dft::record_queue(r)->single_task(
        [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });
    r->backend = &table;
  }
};
const dft::backend_table* watched_backend::real = nullptr;
int watched_backend::frees = 0;
int watched_backend::free_status = 0;
sycl::event watched_backend::in_flight;
bool watched_backend::done_at_free = false;
const dft::backend_table watched_backend::table = {nullptr, watched_backend::watched_free,
                                                   nullptr};

TEST(Commit, GpuRecommitFreesTheOldBackendOnceAfterItsQueue) {
  single_complex d(std::int64_t{16});
  sycl::queue first(sycl::gpu_selector_v);
  sycl::queue second(sycl::gpu_selector_v);
  ASSERT_NO_THROW(d.commit(first));
  DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  const dft::backend_table* committed = r->backend;
  ASSERT_NE(committed, nullptr);
  watched_backend::watch(r, 0);
  ASSERT_NO_THROW(d.commit(second));
  EXPECT_EQ(watched_backend::frees, 1);
  EXPECT_TRUE(watched_backend::done_at_free) << "the old queue was waited for first";
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  EXPECT_EQ(r->backend, committed) << "the backend of the new commitment, not the wrapper";
  EXPECT_EQ(*dft::record_queue(r), second);
  auto* data = sycl::malloc_shared<std::complex<float>>(16, second);
  for (int i = 0; i < 16; ++i) data[i] = {i == 0 ? 1.0f : 0.0f, 0.0f};
  dft::compute_forward(d, data).wait();
  EXPECT_FLOAT_EQ(data[5].real(), 1.0f) << "the impulse transforms to ones";
  sycl::free(data, second);
}

TEST(Commit, FailingFreeOfTheOldBackendKeepsTheOldCommitment) {
  single_complex d(std::int64_t{16});
  sycl::queue first(sycl::gpu_selector_v);
  ASSERT_NO_THROW(d.commit(first));
  DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  sycl::queue* old_queue = dft::record_queue(r);
  watched_backend::watch(r, 7);
  expect_message<ulmara::qez::exception>(
      [&] { d.commit(gpu_queue()); },
      commit_prefix + "Failed to synchronize queue and cleanup old handle.");
  EXPECT_EQ(watched_backend::frees, 1);
  EXPECT_EQ(dft::record_queue(r), old_queue) << "the old queue stays";
  EXPECT_EQ(*old_queue, first);
  EXPECT_EQ(commit_status(d), V::COMMITTED) << "the old status stays";
  EXPECT_EQ(r->backend, &watched_backend::table) << "the old backend table stays";
  // Let the real backend go with the descriptor.
  r->backend = watched_backend::real;
}

TEST(GpuChecks, DoublePrecisionNeedsFp64) {
  EXPECT_EQ(dft::gpu_precision_status(35, false), 0);
  EXPECT_EQ(dft::gpu_precision_status(36, true), 0);
  EXPECT_EQ(dft::gpu_precision_status(36, false), 2) << "status 2: invalid_descriptor_exception";
  EXPECT_EQ(dft::gpu_precision_status(34, true), 2);
}

// The scalars of one side, with the record built by the public constructor.
template <class D>
std::int64_t size_status(std::vector<std::int64_t> lengths, std::int64_t transforms = 1) {
  D d(lengths);
  d.set_value(P::NUMBER_OF_TRANSFORMS, transforms);
  return dft::gpu_size_limit_status(dft::descriptor_access::record(d));
}

TEST(GpuChecks, SizeLimitAllowsTwoToThe32Scalars) {
  const std::int64_t two_31 = std::int64_t{1} << 31;
  const std::int64_t two_32 = std::int64_t{1} << 32;
  EXPECT_EQ(size_status<single_complex>({two_31}), 0) << "exactly 2^34 bytes";
  EXPECT_EQ(size_status<single_complex>({two_31 + 1}), 6);
  EXPECT_EQ(size_status<double_real>({two_32 - 2}), 0) << "2^32 real scalars";
  EXPECT_EQ(size_status<double_real>({two_32}), 6) << "2^32 + 2 real scalars";
  EXPECT_EQ(size_status<single_complex>({1024, 1024}, 2048), 0);
  EXPECT_EQ(size_status<single_complex>({1024, 1024}, 2049), 6);
}

TEST(GpuChecks, SizeProductsThatWrapCountAsTooLarge) {
  const std::int64_t big = std::int64_t{1} << 40;
  // 2^120 scalars wrap to 0 in 64 bits.
  EXPECT_EQ(size_status<single_complex>({big, big, big}), 6);
  EXPECT_EQ(size_status<double_real>({std::int64_t{1} << 21, std::int64_t{1} << 21},
                                     std::int64_t{1} << 22),
            6);
}

TEST(GpuChecks, StridesReachingBeyond64BitOffsetsAreTooLarge) {
  // 64 points 2^58 apart reach 63 * 2^58 > 2^63: no element offset fits.
  single_complex wide(std::int64_t{64});
  const std::int64_t far = std::int64_t{1} << 58;
  wide.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, far});
  wide.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, 1});
  EXPECT_EQ(dft::gpu_size_limit_status(dft::descriptor_access::record(wide)), 6);
  // The same through the distance of a batch, and on the backward side.
  single_complex batched(std::int64_t{8});
  batched.set_value(P::NUMBER_OF_TRANSFORMS, std::int64_t{3});
  batched.set_value(P::FWD_DISTANCE, std::int64_t{8});
  batched.set_value(P::BWD_DISTANCE, std::numeric_limits<std::int64_t>::max() / 2 + 1);
  EXPECT_EQ(dft::gpu_size_limit_status(dft::descriptor_access::record(batched)), 6);
  // Element offsets that fit but whose byte offsets (8 bytes a single
  // complex) do not: the backends scale offsets to bytes (a fuzzer finding
  // of the FFTW offload planner, output stride 1153202979583557382).
  single_complex bytes_beyond(std::int64_t{64});
  bytes_beyond.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, std::int64_t{1} << 56});
  bytes_beyond.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, 1});
  EXPECT_EQ(dft::gpu_size_limit_status(dft::descriptor_access::record(bytes_beyond)), 6);
  // Far apart but within 64-bit byte offsets: fine.
  single_complex near(std::int64_t{64});
  near.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, std::int64_t{1} << 52});
  near.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, 1});
  EXPECT_EQ(dft::gpu_size_limit_status(dft::descriptor_access::record(near)), 0);
}

TEST(GpuChecks, LengthsBelowOneAreRefused) {
  single_complex d(std::int64_t{8});
  DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  r->lengths.records[0].length = 0;
  EXPECT_EQ(dft::gpu_size_limit_status(r), 2);
  r->lengths.records[0].length = -8;
  EXPECT_EQ(dft::gpu_size_limit_status(r), 2);
  r->lengths.records[0].length = 8;
  EXPECT_THROW(single_complex(std::int64_t{0}), dft::invalid_descriptor_exception);
}

TEST(GpuChecks, TooLargeCommitIsUnimplemented) {
  single_complex d((std::int64_t{1} << 31) + 1);
  expect_message<ulmara::qez::unimplemented>([&] { d.commit(gpu_queue()); },
                                             unimplemented_configuration);
  EXPECT_NE(dft::descriptor_access::record(d)->queue, nullptr) << "the new queue is stored";
  EXPECT_EQ(commit_status(d), V::UNCOMMITTED);
}

}  // namespace
