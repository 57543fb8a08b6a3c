// Every status road of the OpenMP-offload commit and compute, with the exact
// line each prints on standard error (or the silence it keeps), and the
// handler table that turns exceptions into statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "dft/api/descriptor_record.hpp"
#include "interfaces/omp_offload/interop_caches.hpp"
#include "interfaces/omp_offload/offload_status_guard.hpp"
#include "tests/interfaces/omp_offload/interop_owner.hpp"
#include "tests/interfaces/omp_offload/offload_test_support.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace gpu = ulmara::qez::gpu;
namespace omp = ulmara::qez::omp;
using namespace qez_offload_test;

class OffloadStatus : public testing::Test {
protected:
  void SetUp() override { qez_omp_double_reset_counts(); }
  std::int64_t commit(void* interop, std::string* printed) {
    return with_stderr([&] { return qez_DftiCommitDescriptor_omp_offload(d_.get(), interop); }, printed);
  }
  sycl::queue queue_{sycl::gpu_selector_v};
  descriptor_owner d_;
};

// ---------------------------------------------------------------------------
// Commit.

TEST_F(OffloadStatus, CommitOfNoDescriptorIs5AndTouchesNoRuntime) {
  std::string printed;
  EXPECT_EQ(with_stderr([] { return qez_DftiCommitDescriptor_omp_offload(nullptr, nullptr); }, &printed), 5);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_fr_id), 0);
}

TEST_F(OffloadStatus, CommitOfARecordWithoutMagicIs5) {
  make_complex_1d<float>(d_, 16, true);
  interop_owner interop(qez_omp_double_sycl_interop(&queue_));
  d_->magic = 0;
  std::string printed;
  EXPECT_EQ(commit(interop.get(), &printed), 5);
  d_->magic = dft::descriptor_magic;
  EXPECT_EQ(printed, "");
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_fr_id), 0);
}

TEST_F(OffloadStatus, CommitWithoutACommitOperationIs7) {
  make_complex_1d<float>(d_, 16, true);
  interop_owner interop(qez_omp_double_sycl_interop(&queue_));
  const dft::descriptor_methods* methods = d_->methods;
  const dft::descriptor_methods empty{};
  d_->methods = &empty;
  std::string printed;
  EXPECT_EQ(commit(interop.get(), &printed), 7);
  d_->methods = methods;
  EXPECT_EQ(printed, "");
}

// Conjugate-even storage and packed format: an inconsistent pair is 3 before
// the runtime is asked anything; a consistent one goes on to the runtime,
// whose failing runtime-id query then decides.
struct storage_case {
  std::uint32_t conjugate_even_storage;
  std::uint32_t packed_format;
  bool consistent;
};
void PrintTo(const storage_case& c, std::ostream* out) {
  *out << c.conjugate_even_storage << "/" << c.packed_format;
}
class OffloadStoragePair : public OffloadStatus, public testing::WithParamInterface<storage_case> {};

TEST_P(OffloadStoragePair, DecidesBeforeTheRuntime) {
  const storage_case c = GetParam();
  make_complex_1d<float>(d_, 16, true);
  interop_owner interop(qez_omp_double_sycl_interop(&queue_));
  qez_omp_double_fail_property(interop.get(), omp::omp_ipr_fr_id);
  d_->conjugate_even_storage = c.conjugate_even_storage;
  d_->packed_format = c.packed_format;
  std::string printed;
  if (c.consistent) {
    EXPECT_EQ(commit(interop.get(), &printed), 83);
    EXPECT_EQ(printed, offload_line(commit_name, runtime_id_message));
  } else {
    EXPECT_EQ(commit(interop.get(), &printed), 3);
    EXPECT_EQ(printed, "");
  }
}
INSTANTIATE_TEST_SUITE_P(Pairs, OffloadStoragePair,
                         testing::Values(storage_case{39, 57, true}, storage_case{39, 54, false},
                                         storage_case{39, 55, false}, storage_case{39, 56, false},
                                         storage_case{40, 57, false}, storage_case{40, 54, true}),
                         [](const testing::TestParamInfo<storage_case>& info) {
                           return "storage" + std::to_string(info.param.conjugate_even_storage) + "_format" +
                                  std::to_string(info.param.packed_format);
                         });

TEST_F(OffloadStatus, CommitWithAFailingRuntimeIdQueryIs83AndKeepsTheMode) {
  make_complex_1d<float>(d_, 16, true);
  interop_owner interop(qez_omp_double_sycl_interop(&queue_));
  qez_omp_double_fail_property(interop.get(), omp::omp_ipr_fr_id);
  const std::uint32_t mode = d_->offload_mode;
  std::string printed;
  EXPECT_EQ(commit(interop.get(), &printed), 83);
  EXPECT_EQ(printed, offload_line(commit_name, runtime_id_message));
  EXPECT_EQ(d_->offload_mode, mode);
}

TEST_F(OffloadStatus, CommitWithAFailingTargetsyncQueryIs83AndKeepsTheModesSet) {
  make_complex_1d<float>(d_, 16, true);
  interop_owner interop(qez_omp_double_sycl_interop(&queue_));
  qez_omp_double_fail_property(interop.get(), omp::omp_ipr_targetsync);
  std::string printed;
  EXPECT_EQ(commit(interop.get(), &printed), 83);
  EXPECT_EQ(printed, offload_line(commit_name, commit_queue_message));
  EXPECT_EQ(d_->offload_mode, 1u);
  EXPECT_EQ(d_->workspace_internal, 1u);
  EXPECT_EQ(d_->queue, nullptr);
}

TEST_F(OffloadStatus, CommitWithAFailingDeviceOrContextQueryIs83) {
  for (int property : {omp::omp_ipr_device, omp::omp_ipr_device_context}) {
    make_complex_1d<float>(d_, 16, true);
    interop_owner interop(qez_omp_double_opencl_interop());
    qez_omp_double_fail_property(interop.get(), property);
    std::string printed;
    EXPECT_EQ(commit(interop.get(), &printed), 83) << property;
    EXPECT_EQ(printed, offload_line(commit_name, commit_queue_message)) << property;
  }
}

TEST_F(OffloadStatus, CommitOnANivoloDeviceNoPlatformExposesIs83) {
  make_complex_1d<float>(d_, 16, true);
  interop_owner interop(qez_omp_double_nivolo_interop());
  std::string printed;
  EXPECT_EQ(commit(interop.get(), &printed), 83);
  EXPECT_EQ(printed, sycl_line(commit_name, sycl::errc::invalid, not_exposed_message));
}

TEST_F(OffloadStatus, CommitOnAnotherRuntimeIs83WithoutDeviceOrContextQueries) {
  make_complex_1d<float>(d_, 16, true);
  interop_owner interop(qez_omp_double_interop_with(5, &queue_, &queue_, &queue_));
  std::string printed;
  EXPECT_EQ(commit(interop.get(), &printed), 83);
  EXPECT_EQ(printed, offload_line(commit_name, commit_queue_message));
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_device), 0);
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_device_context), 0);
  EXPECT_EQ(d_->queue, nullptr);
}

TEST_F(OffloadStatus, CommitOfRank4Is6AndPrintsNothing) {
  const std::int64_t lengths[] = {2, 2, 2, 2};
  ASSERT_EQ(dft::dfti_cpu_create_single_md(d_.slot(), 32, 4, lengths), 0);
  interop_owner interop(qez_omp_double_sycl_interop(&queue_));
  std::string printed;
  EXPECT_EQ(commit(interop.get(), &printed), 6);
  EXPECT_EQ(printed, "");
}

// Runtime 4: the interop's own queue, without device or context queries and
// without the interop caches.
TEST_F(OffloadStatus, CommitOnASyclInteropUsesItsQueue) {
  make_complex_1d<float>(d_, 16, false);
  interop_owner interop(qez_omp_double_sycl_interop(&queue_));
  const std::size_t contexts = gpu::ovrax_context_cache_size();
  const std::size_t queues = gpu::ovrax_queue_cache_size();
  std::string printed;
  ASSERT_EQ(commit(interop.get(), &printed), 0);
  EXPECT_EQ(printed, "");
  ASSERT_NE(d_->queue, nullptr);
  EXPECT_TRUE(*static_cast<sycl::queue*>(d_->queue) == queue_);
  EXPECT_EQ(d_->offload_mode, 1u);
  EXPECT_EQ(d_->workspace_internal, 1u);
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_device), 0);
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_device_context), 0);
  EXPECT_EQ(gpu::ovrax_context_cache_size(), contexts);
  EXPECT_EQ(gpu::ovrax_queue_cache_size(), queues);
}

TEST_F(OffloadStatus, CommitsThroughInteropsOfOneNativeQueueShareTheCachedQueue) {
  make_complex_1d<float>(d_, 16, true);
  interop_owner first(qez_omp_double_opencl_interop());
  interop_owner second(qez_omp_double_interop_with(3, qez_omp_double_targetsync(first.get()),
                                                   qez_omp_double_device(first.get()),
                                                   qez_omp_double_context(first.get())));
  std::string printed;
  ASSERT_EQ(commit(first.get(), &printed), 0);
  void* queue = d_->queue;
  ASSERT_EQ(commit(second.get(), &printed), 0);
  EXPECT_EQ(d_->queue, queue);
  EXPECT_EQ(printed, "");
}

// ---------------------------------------------------------------------------
// Compute.

class OffloadComputeStatus : public OffloadStatus {
protected:
  void SetUp() override {
    OffloadStatus::SetUp();
    make_complex_1d<float>(d_, length, false);
    ASSERT_EQ(qez_DftiCommitDescriptor_omp_offload(d_.get(), interop_.get()), 0);
    qez_omp_double_reset_counts();
  }
  std::int64_t forward(void* interop, void* in, void* out, std::string* printed) {
    return with_stderr([&] { return qez_DftiComputeForward_omp_offload(d_.get(), in, interop, out); },
                       printed);
  }
  std::int64_t backward(void* interop, void* in, void* out, std::string* printed) {
    return with_stderr([&] { return qez_DftiComputeBackward_omp_offload(d_.get(), in, interop, out); },
                       printed);
  }
  static constexpr std::size_t length = 16;
  interop_owner interop_{qez_omp_double_sycl_interop(&queue_)};
  usm_array<std::complex<float>> in_{queue_, length};
  usm_array<std::complex<float>> out_{queue_, length};
};

TEST_F(OffloadComputeStatus, NoDescriptorIs5) {
  std::string printed;
  EXPECT_EQ(with_stderr([&] { return qez_DftiComputeForward_omp_offload(nullptr, in_.data(), interop_.get()); },
                        &printed),
            5);
  EXPECT_EQ(printed, "");
}

TEST_F(OffloadComputeStatus, RecordWithoutMagicIs5) {
  d_->magic = 0;
  std::string printed;
  EXPECT_EQ(forward(interop_.get(), in_.data(), out_.data(), &printed), 5);
  d_->magic = dft::descriptor_magic;
  EXPECT_EQ(printed, "");
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_fr_id), 0);
}

TEST_F(OffloadComputeStatus, DescriptorNeverCommittedIs2) {
  descriptor_owner fresh;
  make_complex_1d<float>(fresh, length, false);
  EXPECT_EQ(qez_DftiComputeForward_omp_offload(fresh.get(), in_.data(), interop_.get(), out_.data()), 2);
  EXPECT_EQ(qez_DftiComputeBackward_omp_offload(fresh.get(), in_.data(), interop_.get(), out_.data()), 2);
}

TEST_F(OffloadComputeStatus, RecordNoLongerCommittedIs2) {
  d_->commit_status = dft::dfti_uncommitted;
  std::string printed;
  EXPECT_EQ(forward(interop_.get(), in_.data(), out_.data(), &printed), 2);
  d_->commit_status = dft::dfti_committed;
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_fr_id), 0);
}

TEST_F(OffloadComputeStatus, FourDataArraysIs6WithoutReadingThem) {
  const std::uint32_t arrays = d_->data_arrays;
  d_->data_arrays = 4;
  EXPECT_EQ(qez_DftiComputeForward_omp_offload(d_.get(), in_.data(), interop_.get()), 6);
  d_->data_arrays = arrays;
}

TEST_F(OffloadComputeStatus, MissingInputOrOutputIs3) {
  std::string printed;
  EXPECT_EQ(forward(interop_.get(), nullptr, out_.data(), &printed), 3);
  EXPECT_EQ(forward(interop_.get(), in_.data(), nullptr, &printed), 3);
  EXPECT_EQ(printed, "");
}

TEST_F(OffloadComputeStatus, FailingRuntimeIdQueryIs83WithEachDirectionsName) {
  interop_owner failing(qez_omp_double_sycl_interop(&queue_));
  qez_omp_double_fail_property(failing.get(), omp::omp_ipr_fr_id);
  std::string printed;
  EXPECT_EQ(forward(failing.get(), in_.data(), out_.data(), &printed), 83);
  EXPECT_EQ(printed, offload_line(forward_name, runtime_id_message));
  EXPECT_EQ(backward(failing.get(), in_.data(), out_.data(), &printed), 83);
  EXPECT_EQ(printed, offload_line(backward_name, runtime_id_message));
}

TEST_F(OffloadComputeStatus, FailingTargetsyncQueryIs83) {
  interop_owner failing(qez_omp_double_sycl_interop(&queue_));
  qez_omp_double_fail_property(failing.get(), omp::omp_ipr_targetsync);
  std::string printed;
  EXPECT_EQ(backward(failing.get(), in_.data(), out_.data(), &printed), 83);
  EXPECT_EQ(printed, offload_line(backward_name, compute_queue_message));
  EXPECT_EQ(d_->offload_mode, 2u);
}

TEST_F(OffloadComputeStatus, NivoloDeviceNoPlatformExposesIs83) {
  interop_owner nivolo(qez_omp_double_nivolo_interop());
  std::string printed;
  EXPECT_EQ(forward(nivolo.get(), in_.data(), out_.data(), &printed), 83);
  EXPECT_EQ(printed, sycl_line(forward_name, sycl::errc::invalid, not_exposed_message));
}

// Memory the device cannot reach is refused (3, silently) before a kernel
// could read or write it.
TEST_F(OffloadComputeStatus, UnreachableInputIs3) {
  usm_array<std::complex<float>> host(queue_, length, sycl::usm::alloc::host);
  std::vector<std::complex<float>> system(length);
  std::string printed;
  EXPECT_EQ(forward(interop_.get(), host.data(), out_.data(), &printed), 3);
  EXPECT_EQ(forward(interop_.get(), system.data(), out_.data(), &printed), 3);
  EXPECT_EQ(printed, "");
}

TEST_F(OffloadComputeStatus, UnreachableOutputIs3AndIsNotWritten) {
  const std::complex<float> untouched(-7.0f, 3.0f);
  usm_array<std::complex<float>> host(queue_, length, sycl::usm::alloc::host);
  std::vector<std::complex<float>> system(length, untouched);
  for (std::size_t i = 0; i < length; ++i) {
    host.data()[i] = untouched;
    in_.data()[i] = std::complex<float>(1.0f, 0.0f);
  }
  std::string printed;
  EXPECT_EQ(forward(interop_.get(), in_.data(), host.data(), &printed), 3);
  EXPECT_EQ(backward(interop_.get(), in_.data(), system.data(), &printed), 3);
  EXPECT_EQ(printed, "");
  queue_.wait();
  for (std::size_t i = 0; i < length; ++i) {
    EXPECT_EQ(host.data()[i], untouched);
    EXPECT_EQ(system[i], untouched);
  }
}

// ---------------------------------------------------------------------------
// The handler table.

struct handler_case {
  const char* label;
  void (*raise)();
  std::int64_t status;
  std::string printed;  // after "<entry>: "
};

const handler_case handler_cases[] = {
    {"unsupported_device", [] { throw ulmara::qez::unsupported_device("dft", "op", "t"); }, 5, ""},
    {"host_bad_alloc", [] { throw ulmara::qez::host_bad_alloc("dft", "op", "t"); }, 1, ""},
    {"device_bad_alloc", [] { throw ulmara::qez::device_bad_alloc("dft", "op", "t"); }, 1, ""},
    {"unimplemented", [] { throw ulmara::qez::unimplemented("dft", "op", "t"); }, 6, ""},
    {"invalid_argument", [] { throw ulmara::qez::invalid_argument("dft", "op", "t"); }, 3, ""},
    {"uninitialized", [] { throw ulmara::qez::uninitialized("dft", "op", "t"); }, 5, ""},
    {"computation_error", [] { throw ulmara::qez::computation_error("dft", "op", "t"); }, 5, ""},
    {"batch_error", [] { throw ulmara::qez::batch_error("dft", "op", "t"); }, 5, ""},
    {"exception", [] { throw ulmara::qez::exception("dft", "op", "t"); }, 5, ""},
    {"offload", [] { throw omp::dft_omp_offload_exception("what went wrong"); }, 83,
     "An error specific to OpenMP offload was detected. Message: what went wrong\n"},
    {"sycl", [] { throw sycl::exception(sycl::make_error_code(sycl::errc::kernel), "no kernel"); }, 83,
     "A sycl::exception was caught internally (code 2). Message: no kernel\n"},
    {"std", [] { throw std::runtime_error("plain failure"); }, 7, "An std::exception was caught: plain failure\n"},
    {"unknown", [] { throw 42; }, 7, "An unknown and unexpected error occurred\n"},
};

void PrintTo(const handler_case& c, std::ostream* out) { *out << c.label; }

class OffloadHandlerTable : public testing::TestWithParam<handler_case> {};

TEST_P(OffloadHandlerTable, MapsEachExceptionToItsStatusAndLine) {
  const handler_case c = GetParam();
  std::string printed;
  const std::int64_t status = with_stderr(
      [&] {
        return omp::run_offload_guarded("entry_name", [&]() -> std::int64_t {
          c.raise();
          return 0;
        });
      },
      &printed);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(printed, c.printed.empty() ? std::string() : "entry_name: " + c.printed);
}
INSTANTIATE_TEST_SUITE_P(Handlers, OffloadHandlerTable, testing::ValuesIn(handler_cases),
                         [](const testing::TestParamInfo<handler_case>& info) { return info.param.label; });

}  // namespace
