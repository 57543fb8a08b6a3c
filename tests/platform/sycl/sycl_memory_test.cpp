// Memory: USM kinds and pointer queries, buffers, sub-buffers, reinterpret,
// host accessors, write-back, the host device.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <numeric>
#include <string>
#include <vector>

#include "sycl_test_util.hpp"

namespace {

TEST(SyclUsm, PointerTypeOfEveryAllocationKind) {
  sycl::queue q(sycl::gpu_selector_v);
  const sycl::context ctx = q.get_context();
  void* d = sycl::malloc_device(1000, q);
  void* s = sycl::malloc_shared(1000, q);
  void* h = sycl::malloc_host(1000, q);
  void* a = sycl::aligned_alloc_device(4096, 100, q);
  ASSERT_TRUE(d && s && h && a);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 4096, 0u);
  EXPECT_EQ(sycl::get_pointer_type(d, ctx), sycl::usm::alloc::device);
  EXPECT_EQ(sycl::get_pointer_type(s, ctx), sycl::usm::alloc::shared);
  EXPECT_EQ(sycl::get_pointer_type(h, ctx), sycl::usm::alloc::host);
  EXPECT_EQ(sycl::get_pointer_type(a, ctx), sycl::usm::alloc::device);
  // Interior pointers belong to their allocation; one past the end does not.
  EXPECT_EQ(sycl::get_pointer_type(static_cast<char*>(d) + 999, ctx), sycl::usm::alloc::device);
  EXPECT_EQ(sycl::get_pointer_type(static_cast<char*>(s) + 500, ctx), sycl::usm::alloc::shared);
  EXPECT_EQ(sycl::get_pointer_device(static_cast<char*>(d) + 10, ctx), q.get_device());
  // Foreign memory.
  int local = 0;
  std::vector<int> heap(10);
  void* m = std::malloc(64);
  EXPECT_EQ(sycl::get_pointer_type(&local, ctx), sycl::usm::alloc::unknown);
  EXPECT_EQ(sycl::get_pointer_type(heap.data(), ctx), sycl::usm::alloc::unknown);
  EXPECT_EQ(sycl::get_pointer_type(m, ctx), sycl::usm::alloc::unknown);
  EXPECT_EQ(sycl::get_pointer_type(nullptr, ctx), sycl::usm::alloc::unknown);
  std::free(m);
  // Another context does not know them.
  sycl::context other(q.get_device());
  EXPECT_EQ(sycl::get_pointer_type(d, other), sycl::usm::alloc::unknown);
  // Typed, generic and zero-size allocations.
  double* t = sycl::malloc_device<double>(8, q);
  EXPECT_EQ(sycl::get_pointer_type(t + 7, ctx), sycl::usm::alloc::device);
  void* g = sycl::malloc(64, q, sycl::usm::alloc::shared);
  EXPECT_EQ(sycl::get_pointer_type(g, ctx), sycl::usm::alloc::shared);
  EXPECT_EQ(sycl::malloc_device(0, q), nullptr);
  for (void* p : {d, s, h, a, static_cast<void*>(t), g}) sycl::free(p, q);
  EXPECT_EQ(sycl::get_pointer_type(d, ctx), sycl::usm::alloc::unknown);
  sycl::free(nullptr, q);
}

TEST(SyclUsm, QueuesOfOneDeviceShareTheDefaultContext) {
  sycl::queue q1(sycl::gpu_selector_v), q2(sycl::gpu_selector_v);
  EXPECT_EQ(q1.get_context(), q2.get_context());
  int* p = sycl::malloc_device<int>(16, q1);
  q2.fill(p, 3, 16).wait();
  std::vector<int> h(16);
  q1.copy(p, h.data(), 16).wait();
  EXPECT_EQ(h[15], 3);
  sycl::free(p, q2);
}

// Device blocks of a huge page or more start on a huge-page boundary (or on
// a larger requested one) and still hold every byte asked for; smaller ones
// keep the 128-byte alignment.
TEST(SyclUsm, LargeDeviceBlocksStartOnAHugePage) {
  sycl::queue q(sycl::gpu_selector_v);
  const sycl::context ctx = q.get_context();
  constexpr std::size_t huge = std::size_t{2} << 20;
  struct request {
    std::size_t alignment, bytes, boundary;
  };
  const request requests[] = {
      {0, huge - 64, 128}, {0, huge, huge}, {0, 5 * huge + 3, huge}, {4 * huge, 3 * huge, 4 * huge}, {256, huge, huge}};
  for (const request& r : requests) {
    auto* p = static_cast<unsigned char*>(r.alignment ? sycl::aligned_alloc_device(r.alignment, r.bytes, q)
                                                      : sycl::malloc_device(r.bytes, q));
    ASSERT_NE(p, nullptr) << r.bytes;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % r.boundary, 0u) << r.bytes;
    EXPECT_EQ(sycl::get_pointer_type(p + r.bytes - 1, ctx), sycl::usm::alloc::device) << r.bytes;
    q.memset(p, 0x5a, r.bytes).wait();
    std::vector<unsigned char> back(r.bytes);
    q.memcpy(back.data(), p, r.bytes).wait();
    EXPECT_EQ(std::count(back.begin(), back.end(), 0x5a), static_cast<std::ptrdiff_t>(r.bytes)) << r.bytes;
    sycl::free(p, q);
  }
}

TEST(SyclUsm, InteriorPointersAsKernelArguments) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::kernel add_one = qez_test::build_kernel(q, qez_test::slow_kernels(), "add_one");
  int* p = sycl::malloc_shared<int>(64, q);
  std::fill(p, p + 64, 0);
  q.submit([&](sycl::handler& h) {
     h.set_arg(0, p + 32);
     h.parallel_for(sycl::range<1>(16), add_one);
   }).wait();
  for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], (i >= 32 && i < 48) ? 1 : 0) << i;
  sycl::free(p, q);
}

// A sub-buffer cannot be made of a sub-buffer (nor of a byte view of one),
// and must lie inside its parent.
TEST(SyclBuffers, SubBufferOfASubBufferOrPastTheParentIsRefused) {
  sycl::buffer<int> parent(sycl::range<1>(64));
  sycl::buffer<int> sub(parent, sycl::id<1>(16), sycl::range<1>(8));
  const auto refused_with = [](auto make, const std::string& text) {
    try {
      make();
      ADD_FAILURE() << "not refused: " << text;
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::invalid));
      EXPECT_EQ(std::string(e.what()), text);
    }
  };
  refused_with([&] { sycl::buffer<int> inner(sub, sycl::id<1>(0), sycl::range<1>(4)); },
               "Cannot create sub buffer from sub buffer.");
  sycl::buffer<char> bytes = sub.reinterpret<char>();
  refused_with([&] { sycl::buffer<char> inner(bytes, sycl::id<1>(0), sycl::range<1>(4)); },
               "Cannot create sub buffer from sub buffer.");
  refused_with([&] { sycl::buffer<int> past(parent, sycl::id<1>(60), sycl::range<1>(8)); },
               "Requested sub-buffer size exceeds the size of the parent buffer");
  sycl::buffer<int> last(parent, sycl::id<1>(56), sycl::range<1>(8));
  EXPECT_EQ(last.ext_ulmara_get_offset_bytes(), 56u * sizeof(int));
}

TEST(SyclBuffers, SubBuffersAndReinterpretAliasTheirParent) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::kernel add_one = qez_test::build_kernel(q, qez_test::slow_kernels(), "add_one");
  std::vector<int> host(64, 0);
  {
    sycl::buffer<int> parent(host.data(), sycl::range<1>(64));
    sycl::buffer<int> sub(parent, sycl::id<1>(16), sycl::range<1>(8));
    EXPECT_TRUE(sub.is_sub_buffer());
    EXPECT_FALSE(parent.is_sub_buffer());
    EXPECT_EQ(sub.ext_ulmara_get_offset_bytes(), 64u);
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(sub, h, sycl::read_write);
      h.set_arg(0, a);
      h.parallel_for(sycl::range<1>(8), add_one);
    });
    q.submit([&](sycl::handler& h) {  // host-run kernel on the sub-buffer
      sycl::accessor a(sub, h, sycl::read_write);
      h.parallel_for(sycl::range<1>(8), [=](sycl::id<1> i) { a[i] += 10; });
    });
    // A byte view of the sub-buffer keeps its offset and flag.
    sycl::buffer<char> bytes = sub.reinterpret<char>();
    EXPECT_EQ(bytes.size(), 32u);
    EXPECT_TRUE(bytes.is_sub_buffer());
    EXPECT_EQ(bytes.ext_ulmara_get_offset_bytes(), 64u);
    {
      sycl::host_accessor b(bytes, sycl::read_write);
      b[0] = 5;  // low byte of parent element 16: 11 -> 5
    }
    sycl::buffer<char> all = parent.reinterpret<char>(sycl::range<1>(256));
    q.submit([&](sycl::handler& h) {
      sycl::accessor c(all, h, sycl::read_write);
      h.single_task([=] { c[4 * 20] = 42; });
    });
    sycl::host_accessor p(parent, sycl::read_only);
    EXPECT_EQ(p[15], 0);
    EXPECT_EQ(p[16], 5);
    for (int i = 17; i < 24; ++i) EXPECT_EQ(p[i], i == 20 ? 42 : 11) << i;
    EXPECT_EQ(p[24], 0);
    EXPECT_THROW(sycl::buffer<int>(parent, sycl::id<1>(60), sycl::range<1>(8)), sycl::exception);
    EXPECT_THROW(parent.reinterpret<char>(sycl::range<1>(3)), sycl::exception);
  }
  EXPECT_EQ(host[16], 5);
  EXPECT_EQ(host[20], 42);
  EXPECT_EQ(host[23], 11);
}

TEST(SyclBuffers, WriteBackRules) {
  sycl::queue q(sycl::gpu_selector_v);
  std::vector<float> a(8, 1.0f), b(8, 1.0f), c(8, 1.0f), d(8, 0.0f);
  const std::vector<float> ro(8, 2.0f);
  {
    sycl::buffer<float> ba(a.data(), sycl::range<1>(8));
    sycl::buffer<float> bb(b.data(), sycl::range<1>(8));
    sycl::buffer<float> bc(c.data(), sycl::range<1>(8));
    sycl::buffer<float> bro(ro.data(), sycl::range<1>(8));
    bb.set_write_back(false);
    bc.set_final_data(d.data());
    for (auto* buf : {&ba, &bb, &bc})
      q.submit([&](sycl::handler& h) {
        sycl::accessor x(*buf, h, sycl::read_write);
        sycl::accessor r(bro, h, sycl::read_only);
        h.parallel_for(sycl::range<1>(8), [=](sycl::id<1> i) { x[i] += r[i]; });
      });
  }
  EXPECT_EQ(a[7], 3.0f);
  EXPECT_EQ(b[7], 1.0f);
  EXPECT_EQ(c[7], 1.0f);
  EXPECT_EQ(d[7], 3.0f);
}

TEST(SyclBuffers, TwoDimensionalAccessAndRangedAccessors) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::buffer<int, 2> buf{sycl::range<2>(4, 6)};
  q.submit([&](sycl::handler& h) {
    sycl::accessor a(buf, h, sycl::write_only);
    h.parallel_for(sycl::range<2>(4, 6), [=](sycl::item<2> it) { a[it] = static_cast<int>(it.get_linear_id()); });
  });
  q.submit([&](sycl::handler& h) {
    sycl::accessor a(buf, h, sycl::range<2>(2, 2), sycl::id<2>(1, 3));
    h.single_task([=] { a[1][1] = -1; });  // element (2, 4)
  });
  sycl::host_accessor h(buf);
  EXPECT_EQ(h[0][5], 5);
  EXPECT_EQ(h[sycl::id<2>(3, 0)], 18);
  EXPECT_EQ(h[2][4], -1);
}

TEST(SyclHostDevice, CommandsRunOnTheHost) {
  sycl::queue q(sycl::cpu_selector_v);
  EXPECT_TRUE(q.get_device().is_cpu());
  std::vector<double> v(100);
  {
    sycl::buffer<double> b(v.data(), sycl::range<1>(100));
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(b, h, sycl::write_only);
      h.parallel_for(sycl::range<1>(100), [=](sycl::id<1> i) { a[i] = 0.5 * static_cast<double>(i); });
    });
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(b, h, sycl::read_write);
      h.host_task([=] { a[99] += 1000; });
    });
  }
  EXPECT_EQ(v[10], 5.0);
  EXPECT_EQ(v[99], 1049.5);
  double* u = sycl::malloc_shared<double>(4, q);
  EXPECT_EQ(sycl::get_pointer_type(u, q.get_context()), sycl::usm::alloc::shared);
  q.fill(u, 2.5, 4).wait();
  double out[4];
  q.memcpy(out, u, sizeof out).wait();
  EXPECT_EQ(out[3], 2.5);
  sycl::free(u, q);
  // OpenCL kernels do not run here.
  sycl::queue gpu(sycl::gpu_selector_v);
  sycl::kernel k = qez_test::build_kernel(gpu, qez_test::slow_kernels(), "add_one");
  try {
    q.submit([&](sycl::handler& h) { h.parallel_for(sycl::range<1>(1), k); });
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::kernel_not_supported);
  }
}

// A descriptor's slot buffer: host tasks reach a host
// variable only through a buffer; destroying the buffer waits for them.
TEST(SyclHostDevice, BufferOverHostSlotWaitsForItsHostTasks) {
  sycl::queue q(sycl::cpu_selector_v);
  int* slot = nullptr;
  static int target = 0;
  {
    sycl::buffer<int*, 1> b(&slot, sycl::range<1>(1));
    q.submit([&](sycl::handler& h) {
      auto acc = b.get_access<sycl::access::mode::read_write>(h);
      h.host_task([=] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        acc[0] = &target;
      });
    });
    sycl::host_accessor r(b, sycl::read_only);
    EXPECT_EQ(r[0], &target);
  }
  EXPECT_EQ(slot, &target);
}

}  // namespace
