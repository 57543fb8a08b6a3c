// Interops of the Nivolo driver (foreign runtime 6): the handles of a queue of
// the stand-in's Nivolo backend become a cached SYCL context and queue that a
// transform is committed to and computed on, as a command queue or an
// immediate command list by property 10; and the native-device lookup finds
// the sub-device (tile) of a partitioned GPU.
#include <gtest/gtest.h>

#include <vector>

#include "interfaces/omp_offload/interop_caches.hpp"
#include "tests/interfaces/omp_offload/interop_owner.hpp"
#include "tests/interfaces/omp_offload/offload_test_support.hpp"
#include "tests/support/accuracy.hpp"

namespace {

namespace gpu = ulmara::qez::gpu;
using namespace qez_offload_test;
using qez_test::cld;
constexpr auto nivolo = sycl::backend::ext_ulmara_nivolo;
constexpr int foreign_runtime_nivolo = 6;

std::vector<sycl::device> nivolo_gpus() {
  for (const sycl::platform& p : sycl::platform::get_platforms())
    if (p.get_backend() == nivolo) return p.get_devices(sycl::info::device_type::gpu);
  return {};
}

TEST(NivoloInterop, QueueOfRuntimeSixCommitsAndComputes) {
  sycl::queue owner(sycl::gpu_selector_v);
  ASSERT_EQ(owner.get_backend(), nivolo);
  interop_owner interop(qez_omp_double_interop_with(foreign_runtime_nivolo, sycl::get_native<nivolo>(owner),
                                                    sycl::get_native<nivolo>(owner.get_device()),
                                                    sycl::get_native<nivolo>(owner.get_context())));
  qez_omp_double_set_property_10(interop.get(), 1);  // an immediate command list
  sycl::queue* queue = gpu::lookup_and_cache_ovrax_queue_and_context(interop.get());
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(queue->get_backend(), nivolo);
  EXPECT_EQ(sycl::get_native<nivolo>(*queue), sycl::get_native<nivolo>(owner));
  EXPECT_EQ(sycl::get_native<nivolo>(queue->get_context()), sycl::get_native<nivolo>(owner.get_context()));
  EXPECT_EQ(gpu::lookup_and_cache_ovrax_queue_and_context(interop.get()), queue);

  constexpr std::int64_t n = 64, batch = 2;
  descriptor_owner d;
  make_complex_1d<float>(d, n, /*in_place=*/false, batch);
  ASSERT_EQ(qez_DftiCommitDescriptor_omp_offload(d.get(), interop.get()), 0);
  const std::vector<cld> input = qez_test::random_complex(n * batch, 66);
  usm_array<std::complex<float>> in(*queue, n * batch), out(*queue, n * batch);
  for (std::int64_t i = 0; i < n * batch; ++i) in.data()[i] = std::complex<float>(input[i]);
  ASSERT_EQ(qez_DftiComputeForward_omp_offload(d.get(), in.data(), interop.get(), out.data()), 0);
  queue->wait();
  const std::vector<cld> got(out.data(), out.data() + n * batch);
  const auto reference = qez_test::reference_c2c(input, {n}, batch, qez_test::dft_sign::forward);
  const auto bounds = qez_test::bounds_for<float>(n);
  const auto a = qez_test::measure(got, reference);
  EXPECT_TRUE(qez_test::within(a, bounds)) << qez_test::describe(a, bounds);
}

// Property 10 of a Nivolo interop: non-zero and answered, the queue handle is
// an immediate command list; otherwise a command queue.
struct queue_kind_case {
  const char* name;
  std::int64_t property_10;
  bool query_fails;
  sycl::ext::ulmara::nivolo::queue_handle_kind made_as;
};
using sycl::ext::ulmara::nivolo::queue_handle_kind;
const queue_kind_case queue_kind_cases[] = {
    {"ImmediateList", 1, false, queue_handle_kind::immediate_command_list},
    {"QueryFails", 1, true, queue_handle_kind::command_queue},
    {"Zero", 0, false, queue_handle_kind::command_queue},
};

void PrintTo(const queue_kind_case& c, std::ostream* os) { *os << c.name; }

class NivoloQueueKind : public ::testing::TestWithParam<queue_kind_case> {};

TEST_P(NivoloQueueKind, Property10ChoosesTheKindOfQueueHandle) {
  const queue_kind_case& c = GetParam();
  sycl::queue owner(sycl::gpu_selector_v);
  interop_owner interop(qez_omp_double_interop_with(foreign_runtime_nivolo, sycl::get_native<nivolo>(owner),
                                                    sycl::get_native<nivolo>(owner.get_device()),
                                                    sycl::get_native<nivolo>(owner.get_context())));
  qez_omp_double_set_property_10(interop.get(), c.property_10);
  if (c.query_fails) qez_omp_double_fail_property(interop.get(), 10);
  sycl::queue* queue = gpu::lookup_and_cache_ovrax_queue_and_context(interop.get());
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(sycl::get_native<nivolo>(*queue), sycl::get_native<nivolo>(owner));
  EXPECT_EQ(sycl::ext::ulmara::nivolo::get_queue_handle_kind(*queue), c.made_as);
}

INSTANTIATE_TEST_SUITE_P(Property10, NivoloQueueKind, ::testing::ValuesIn(queue_kind_cases),
                         [](const ::testing::TestParamInfo<queue_kind_case>& info) { return info.param.name; });

TEST(NivoloInterop, SubDeviceOfAPartitionedGpuIsFound) {
  const std::vector<sycl::device> gpus = nivolo_gpus();
  ASSERT_EQ(gpus.size(), 2u);
  using sycl::info::partition_property;
  const sycl::device& second = gpus.back();
  ASSERT_EQ(second.get_info<sycl::info::device::partition_properties>(),
            std::vector<partition_property>{partition_property::partition_by_affinity_domain});
  const std::vector<sycl::device> tiles = second.create_sub_devices<partition_property::partition_by_affinity_domain>(
      sycl::info::partition_affinity_domain::next_partitionable);
  ASSERT_EQ(tiles.size(), 2u);
  auto* wanted = sycl::get_native<nivolo>(tiles.back());
  const sycl::device found = gpu::get_sycl_device_from_native(wanted);
  EXPECT_EQ(sycl::get_native<nivolo>(found), wanted);
  EXPECT_EQ(found, tiles.back());  // the runtime makes a device's sub-devices once
  // A root device is found before any partition is looked at.
  EXPECT_EQ(gpu::get_sycl_device_from_native(sycl::get_native<nivolo>(gpus.front())), gpus.front());
  int unknown = 0;
  try {
    gpu::get_sycl_device_from_native(&unknown);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::invalid));
    EXPECT_STREQ(e.what(), not_exposed_message);
  }
}

}  // namespace
