// The interop caches over real OpenCL handles of the PoCL device: one SYCL
// object per native handle, shared by every caller and by racing threads,
// each holding one native reference of its own; the queries of
// lookup_and_cache_ovrax_queue_and_context; the lock.
#include <gtest/gtest.h>

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "interfaces/omp_offload/interop_caches.hpp"
#include "interfaces/omp_offload/interop_properties.hpp"
#include "interfaces/omp_offload/interop_rw_lock.hpp"
#include "tests/interfaces/omp_offload/interop_owner.hpp"
#include "tests/interfaces/omp_offload/offload_test_support.hpp"

namespace {

namespace gpu = ulmara::qez::gpu;
namespace omp = ulmara::qez::omp;
using namespace qez_offload_test;

cl_uint context_references(void* context) {
  cl_uint n = 0;
  EXPECT_EQ(clGetContextInfo(static_cast<cl_context>(context), CL_CONTEXT_REFERENCE_COUNT, sizeof n, &n,
                             nullptr),
            CL_SUCCESS);
  return n;
}

cl_uint queue_references(void* queue) {
  cl_uint n = 0;
  EXPECT_EQ(clGetCommandQueueInfo(static_cast<cl_command_queue>(queue), CL_QUEUE_REFERENCE_COUNT, sizeof n,
                                  &n, nullptr),
            CL_SUCCESS);
  return n;
}

// The OpenCL queue a SYCL queue wraps (get_native adds a reference).
void* native_of(const sycl::queue& queue) {
  cl_command_queue q = sycl::get_native<sycl::backend::opencl>(queue);
  clReleaseCommandQueue(q);
  return q;
}
void* native_of(const sycl::context& context) {
  cl_context c = sycl::get_native<sycl::backend::opencl>(context);
  clReleaseContext(c);
  return c;
}

sycl::context* opencl_context_of(void* interop) {
  return gpu::lookup_and_cache_ovrax_context(qez_omp_double_context(interop), qez_omp_double_device(interop),
                                             QEZ_GPU_BACKEND_OPENCL, nullptr);
}
sycl::queue* opencl_queue_of(void* interop, const sycl::context& context) {
  return gpu::lookup_and_cache_ovrax_queue(qez_omp_double_targetsync(interop), QEZ_GPU_BACKEND_OPENCL,
                                           context, interop);
}

// Runs `work` on two threads released together.
template <class Work>
void race(Work work) {
  std::atomic<int> ready{0};
  auto body = [&] {
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    work();
  };
  std::thread a(body), b(body);
  a.join();
  b.join();
}

// ---------------------------------------------------------------------------

TEST(InteropContextCache, HitReturnsTheSameContext) {
  interop_owner interop(qez_omp_double_opencl_interop());
  ASSERT_NE(interop.get(), nullptr);
  const std::size_t before = gpu::ovrax_context_cache_size();
  sycl::context* first = opencl_context_of(interop.get());
  sycl::context* second = opencl_context_of(interop.get());
  EXPECT_EQ(first, second);
  EXPECT_EQ(gpu::ovrax_context_cache_size(), before + 1);
  EXPECT_EQ(native_of(*first), qez_omp_double_context(interop.get()));
}

TEST(InteropContextCache, SameContextWithTwoDeviceHandlesMakesTwoEntries) {
  interop_owner interop(qez_omp_double_opencl_interop());
  void* context = qez_omp_double_context(interop.get());
  const std::size_t before = gpu::ovrax_context_cache_size();
  sycl::context* with_device = opencl_context_of(interop.get());
  sycl::context* without = gpu::lookup_and_cache_ovrax_context(context, nullptr, QEZ_GPU_BACKEND_OPENCL, nullptr);
  EXPECT_NE(with_device, without);
  EXPECT_EQ(gpu::ovrax_context_cache_size(), before + 2);
}

// The cache takes one reference of its own, which its SYCL context gives
// back once at exit; the runtime's reference stays the runtime's.
TEST(InteropContextCache, HoldsOneReferenceOfItsOwn) {
  interop_owner interop(qez_omp_double_opencl_interop());
  void* context = qez_omp_double_context(interop.get());
  const cl_uint before = context_references(context);
  opencl_context_of(interop.get());
  EXPECT_EQ(context_references(context), before + 1);
  opencl_context_of(interop.get());
  EXPECT_EQ(context_references(context), before + 1);
}

TEST(InteropContextCache, TwoThreadsOnOneNewKeyMakeOneEntry) {
  interop_owner interop(qez_omp_double_opencl_interop());
  void* context = qez_omp_double_context(interop.get());
  const cl_uint references = context_references(context);
  const std::size_t before = gpu::ovrax_context_cache_size();
  sycl::context* seen[2] = {nullptr, nullptr};
  std::atomic<int> next{0};
  race([&] { seen[next.fetch_add(1)] = opencl_context_of(interop.get()); });
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(gpu::ovrax_context_cache_size(), before + 1);
  EXPECT_EQ(context_references(context), references + 1);
}

TEST(InteropQueueCache, HitReturnsTheSameQueueOnItsFirstContext) {
  interop_owner a(qez_omp_double_opencl_interop());
  interop_owner b(qez_omp_double_opencl_interop());
  sycl::context* context_a = opencl_context_of(a.get());
  sycl::context* context_b = opencl_context_of(b.get());
  const std::size_t before = gpu::ovrax_queue_cache_size();
  sycl::queue* first = opencl_queue_of(a.get(), *context_a);
  sycl::queue* again = opencl_queue_of(a.get(), *context_a);
  sycl::queue* other_context = opencl_queue_of(a.get(), *context_b);
  EXPECT_EQ(first, again);
  EXPECT_EQ(first, other_context);
  EXPECT_EQ(gpu::ovrax_queue_cache_size(), before + 1);
  EXPECT_EQ(first->get_context(), *context_a);
  EXPECT_EQ(native_of(*first), qez_omp_double_targetsync(a.get()));
}

TEST(InteropQueueCache, TwoThreadsOnOneNewQueueMakeOneEntry) {
  interop_owner interop(qez_omp_double_opencl_interop());
  sycl::context* context = opencl_context_of(interop.get());
  void* native = qez_omp_double_targetsync(interop.get());
  const cl_uint references = queue_references(native);
  const std::size_t before = gpu::ovrax_queue_cache_size();
  sycl::queue* seen[2] = {nullptr, nullptr};
  std::atomic<int> next{0};
  race([&] { seen[next.fetch_add(1)] = opencl_queue_of(interop.get(), *context); });
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(gpu::ovrax_queue_cache_size(), before + 1);
  EXPECT_EQ(queue_references(native), references + 1);
}

// A cached native queue stays alive after its interop is gone, so a later
// queue cannot take its address and be answered with the stale entry.
TEST(InteropQueueCache, ReleasedInteropQueueCannotBeConfusedWithALaterOne) {
  void* first_native = nullptr;
  sycl::queue* first = nullptr;
  {
    interop_owner a(qez_omp_double_opencl_interop());
    first_native = qez_omp_double_targetsync(a.get());
    first = opencl_queue_of(a.get(), *opencl_context_of(a.get()));
  }
  EXPECT_GE(queue_references(first_native), 1u);  // the cache's own reference
  interop_owner b(qez_omp_double_opencl_interop());
  void* second_native = qez_omp_double_targetsync(b.get());
  EXPECT_NE(second_native, first_native);
  sycl::queue* second = opencl_queue_of(b.get(), *opencl_context_of(b.get()));
  EXPECT_NE(second, first);
  EXPECT_EQ(native_of(*second), second_native);
}

// ---------------------------------------------------------------------------

TEST(InteropQueueAndContext, OpenClInteropGivesTheCachedQueue) {
  interop_owner interop(qez_omp_double_opencl_interop());
  qez_omp_double_reset_counts();
  sycl::queue* queue = gpu::lookup_and_cache_ovrax_queue_and_context(interop.get());
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(native_of(*queue), qez_omp_double_targetsync(interop.get()));
  EXPECT_EQ(native_of(queue->get_context()), qez_omp_double_context(interop.get()));
  // OpenCL interops are cached without a device handle.
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_device), 0);
  sycl::context* context = gpu::lookup_and_cache_ovrax_context(qez_omp_double_context(interop.get()), nullptr,
                                                               QEZ_GPU_BACKEND_OPENCL, nullptr);
  EXPECT_EQ(opencl_queue_of(interop.get(), *context), queue);
}

TEST(InteropQueueAndContext, FailingQueriesGiveNullAndCacheNothing) {
  const int properties[] = {omp::omp_ipr_fr_id, omp::omp_ipr_device_context, omp::omp_ipr_targetsync};
  for (int property : properties) {
    interop_owner interop(qez_omp_double_opencl_interop());
    qez_omp_double_fail_property(interop.get(), property);
    const std::size_t contexts = gpu::ovrax_context_cache_size();
    const std::size_t queues = gpu::ovrax_queue_cache_size();
    EXPECT_EQ(gpu::lookup_and_cache_ovrax_queue_and_context(interop.get()), nullptr) << property;
    EXPECT_EQ(gpu::ovrax_context_cache_size(), contexts);
    EXPECT_EQ(gpu::ovrax_queue_cache_size(), queues);
  }
}

TEST(InteropQueueAndContext, OtherRuntimesGiveNull) {
  sycl::queue queue(sycl::gpu_selector_v);
  interop_owner sycl_interop(qez_omp_double_sycl_interop(&queue));
  EXPECT_EQ(gpu::lookup_and_cache_ovrax_queue_and_context(sycl_interop.get()), nullptr);
  interop_owner unknown(qez_omp_double_interop_with(5, &queue, nullptr, nullptr));
  EXPECT_EQ(gpu::lookup_and_cache_ovrax_queue_and_context(unknown.get()), nullptr);
}

TEST(InteropQueueAndContext, NivoloDeviceNotExposedThrows) {
  interop_owner interop(qez_omp_double_nivolo_interop());
  try {
    gpu::lookup_and_cache_ovrax_queue_and_context(interop.get());
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::invalid));
    EXPECT_STREQ(e.what(), not_exposed_message);
  }
}

// ---------------------------------------------------------------------------

int hash_probe;

TEST(InteropHandleHash, IsFnv1aOverThePointerBytesLowestFirst) {
  const void* handles[] = {nullptr, reinterpret_cast<void*>(std::uintptr_t{0x0123456789abcdefull}),
                           &hash_probe};
  for (const void* handle : handles) {
    // The FNV-1a definition, written out on the byte array.
    unsigned char bytes[sizeof handle];
    std::memcpy(bytes, &handle, sizeof handle);
    std::uint64_t expected = 14695981039346656037ull;
    for (unsigned char b : bytes) expected = (expected ^ b) * 1099511628211ull;
    EXPECT_EQ(gpu::interop_handle_hash(handle), expected);
  }
}

TEST(InteropRwLock, ReadersShareAndWritersWaitForThem) {
  gpu::interop_rw_lock lock;
  std::atomic<bool> written{false};
  std::thread writer;
  {
    gpu::read_lock_guard first(lock);
    gpu::read_lock_guard second(lock);
    EXPECT_EQ(lock.word(), 4u);
    writer = std::thread([&] {
      gpu::write_lock_guard w(lock);
      written.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(written.load());
  }
  writer.join();
  EXPECT_TRUE(written.load());
  EXPECT_EQ(lock.word(), 0u);
}

TEST(InteropRwLock, ReaderWaitsForTheWriter) {
  gpu::interop_rw_lock lock;
  std::atomic<bool> read{false};
  std::thread reader;
  {
    gpu::write_lock_guard w(lock);
    reader = std::thread([&] {
      gpu::read_lock_guard r(lock);
      read.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(read.load());
  }
  reader.join();
  EXPECT_TRUE(read.load());
}

}  // namespace
