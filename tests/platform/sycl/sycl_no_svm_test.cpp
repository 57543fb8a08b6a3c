// The stand-in on an OpenCL device without SVM (Oclgrind's, run by CTest
// with Oclgrind as the only platform): buffers and device USM are OpenCL
// buffer objects that kernels take through clSetKernelArg, copies and fills
// write, copy and fill the bytes they name and no others (Oclgrind's checker
// of uninitialised values, on in CTest's run, reports a kernel that reads
// bytes it takes for unwritten), host commands see the device bytes and hand
// back what they wrote, and a thread that never touched OpenCL may wait for
// the device; shared USM, host memory as a kernel argument and copies to a
// null pointer are refused.
#include <gtest/gtest.h>

#include <sycl/sycl.hpp>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "sycl_test_util.hpp"

namespace {

const char* kernels() {
  return R"CLC(
kernel void add_one(global int* data) { data[get_global_id(0)] += 1; }
kernel void copy_plus(global const int* in, global int* out, int add) {
  size_t i = get_global_id(0);
  out[i] = in[i] + add;
}
)CLC";
}

std::vector<int> iota_values(size_t n, int first) {
  std::vector<int> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

TEST(NoSvm, DeviceHasNoSvmAspects) {
  sycl::queue q{sycl::gpu_selector_v};
  const sycl::device d = q.get_device();
  EXPECT_FALSE(d.has(sycl::aspect::usm_shared_allocations));
  EXPECT_FALSE(d.has(sycl::aspect::usm_host_allocations));
  EXPECT_TRUE(d.has(sycl::aspect::usm_device_allocations));
}

TEST(NoSvm, BufferKernelHostTaskAndWriteBack) {
  sycl::queue q{sycl::gpu_selector_v};
  sycl::kernel add_one = qez_test::build_kernel(q, kernels(), "add_one");
  std::vector<int> host = iota_values(32, 0);
  {
    sycl::buffer<int, 1> b(host.data(), sycl::range<1>(host.size()));
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(b, h, sycl::read_write);
      h.set_arg(0, a);
      h.parallel_for(sycl::range<1>(32), add_one);
    });
    // A host command on the device's queue reads the kernel's result and
    // its writes reach the next kernel.
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(b, h, sycl::read_write);
      h.host_task([=] {
        for (size_t i = 0; i < 32; i += 2) a[i] *= 10;
      });
    });
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(b, h, sycl::read_write);
      h.set_arg(0, a);
      h.parallel_for(sycl::range<1>(32), add_one);
    });
    sycl::host_accessor r(b, sycl::read_only);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(r[i], (i % 2 == 0 ? (i + 1) * 10 : i + 1) + 1) << i;
  }
  for (int i = 0; i < 32; ++i) EXPECT_EQ(host[i], (i % 2 == 0 ? (i + 1) * 10 : i + 1) + 1) << i;
}

TEST(NoSvm, SubBufferIsAnInteriorKernelArgument) {
  sycl::queue q{sycl::gpu_selector_v};
  sycl::kernel add_one = qez_test::build_kernel(q, kernels(), "add_one");
  const size_t align = q.get_device().get_info<sycl::info::device::mem_base_addr_align>() / 8 / sizeof(int);
  std::vector<int> host = iota_values(4 * align, 0);
  {
    sycl::buffer<int, 1> whole(host.data(), sycl::range<1>(host.size()));
    sycl::buffer<int, 1> part(whole, sycl::id<1>(align), sycl::range<1>(align));
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(part, h, sycl::read_write);
      h.set_arg(0, a);
      h.parallel_for(sycl::range<1>(align), add_one);
    });
  }
  for (size_t i = 0; i < host.size(); ++i)
    EXPECT_EQ(host[i], static_cast<int>(i) + (i >= align && i < 2 * align ? 1 : 0)) << i;
}

TEST(NoSvm, DeviceUsmCopiesFillsAndKernels) {
  sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order()};
  sycl::kernel copy_plus = qez_test::build_kernel(q, kernels(), "copy_plus");
  const size_t n = 64;
  int* in = sycl::malloc_device<int>(n, q);
  int* out = sycl::malloc_device<int>(2 * n, q);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(sycl::get_pointer_type(in, q.get_context()), sycl::usm::alloc::device);
  const std::vector<int> values = iota_values(n, 7);
  q.memcpy(in, values.data(), n * sizeof(int));
  q.fill(out, -1, 2 * n);
  // Interior pointer: the second half of `out`.
  q.submit([&](sycl::handler& h) {
    h.set_args(in, out + n, 100);
    h.parallel_for(sycl::range<1>(n), copy_plus);
  });
  std::vector<int> back(2 * n, 0);
  q.memcpy(back.data(), out, 2 * n * sizeof(int)).wait();
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(back[i], -1) << i;
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(back[n + i], values[i] + 100) << i;
  // Device to device.
  q.memcpy(out, in, n * sizeof(int));
  q.memcpy(back.data(), out, n * sizeof(int)).wait();
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(back[i], values[i]) << i;
  sycl::free(in, q);
  sycl::free(out, q);
}

// Device memory filled piece by piece, in blocks that take the place of
// freed smaller ones: every byte a kernel then reads was written.
TEST(NoSvm, PiecewiseWritesOfReusedMemoryAreAllWritten) {
  sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order()};
  sycl::kernel copy_plus = qez_test::build_kernel(q, kernels(), "copy_plus");
  for (size_t n : {8, 64}) {
    int* small = sycl::malloc_device<int>(n / 4, q);
    q.fill(small, 0, n / 4).wait();
    sycl::free(small, q);
    int* in = sycl::malloc_device<int>(n, q);
    int* out = sycl::malloc_device<int>(n, q);
    const std::vector<int> values = iota_values(n, 3);
    q.memcpy(in, values.data(), n / 2 * sizeof(int));
    q.memcpy(in + n / 2, values.data() + n / 2, n / 4 * sizeof(int));
    q.fill(in + 3 * n / 4, 9, n / 4);
    q.submit([&](sycl::handler& h) {
      h.set_args(in, out, 1);
      h.parallel_for(sycl::range<1>(n), copy_plus);
    });
    std::vector<int> back(n, 0);
    q.memcpy(back.data(), out, n * sizeof(int)).wait();
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(back[i], (i < 3 * n / 4 ? values[i] : 9) + 1) << n << " " << i;
    sycl::free(in, q);
    sycl::free(out, q);
  }
}

// The simulator runs queued commands on the thread that flushes or waits.
TEST(NoSvm, AThreadOfItsOwnUsesTheDevice) {
  sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order()};
  sycl::kernel add_one = qez_test::build_kernel(q, kernels(), "add_one");
  const std::vector<int> values = iota_values(16, 0);
  std::vector<int> back(16, 0);
  int* p = sycl::malloc_device<int>(16, q);
  std::thread([&] {
    q.memcpy(p, values.data(), sizeof(int) * 16);
    q.submit([&](sycl::handler& h) {
      h.set_arg(0, p);
      h.parallel_for(sycl::range<1>(16), add_one);
    });
    q.memcpy(back.data(), p, sizeof(int) * 16).wait();
  }).join();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], i + 1) << i;
  sycl::free(p, q);
}

TEST(NoSvm, HostKernelWritesDeviceUsm) {
  sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order()};
  int* p = sycl::malloc_device<int>(16, q);
  q.fill(p, 5, 16);
  q.parallel_for(sycl::range<1>(8), [=](sycl::id<1> i) { p[i[0] * 2] += static_cast<int>(i[0]); });
  std::vector<int> back(16, 0);
  q.memcpy(back.data(), p, sizeof(int) * 16).wait();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], i % 2 == 0 ? 5 + i / 2 : 5) << i;
  sycl::free(p, q);
}

// A host command sees every device block there was when it started; one
// freed by another thread while it runs stays whole until it ends, and the
// block the command writes still comes back.
TEST(NoSvm, BlockFreedWhileAHostCommandRuns) {
  sycl::queue q{sycl::gpu_selector_v};
  int* kept = sycl::malloc_device<int>(16, q);
  int* freed = sycl::malloc_device<int>(1024, q);
  q.fill(kept, 1, 16).wait();
  q.fill(freed, 2, 1024).wait();
  std::atomic<bool> started{false}, released{false};
  sycl::event e = q.submit([&](sycl::handler& h) {
    h.host_task([&] {
      started = true;
      while (!released) std::this_thread::yield();
      kept[3] = 7;
    });
  });
  while (!started) std::this_thread::yield();
  sycl::free(freed, q);
  released = true;
  e.wait();
  std::vector<int> back(16, 0);
  q.memcpy(back.data(), kept, sizeof(int) * 16).wait();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], i == 3 ? 7 : 1) << i;
  sycl::free(kept, q);
}

TEST(NoSvm, SharedUsmIsRefused) {
  sycl::queue q{sycl::gpu_selector_v};
  try {
    void* p = sycl::malloc_shared(64, q);
    sycl::free(p, q);
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::feature_not_supported) << e.what();
  }
}

TEST(NoSvm, CopyToANullPointerIsRefused) {
  sycl::queue q{sycl::gpu_selector_v};
  int* p = sycl::malloc_device<int>(16, q);
  try {
    q.memcpy(nullptr, p, 16 * sizeof(int));
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::invalid) << e.what();
  }
  q.wait();
  sycl::free(p, q);
}

TEST(NoSvm, HostUsmIsNoKernelArgument) {
  sycl::queue q{sycl::gpu_selector_v};
  sycl::kernel add_one = qez_test::build_kernel(q, kernels(), "add_one");
  int* p = sycl::malloc_host<int>(16, q);
  ASSERT_NE(p, nullptr);
  try {
    q.submit([&](sycl::handler& h) {
      h.set_arg(0, p);
      h.parallel_for(sycl::range<1>(16), add_one);
    });
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::kernel_argument) << e.what();
  }
  q.wait();
  sycl::free(p, q);
}

}  // namespace
