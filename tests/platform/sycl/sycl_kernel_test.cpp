// Kernels: host-run range and nd-range kernels (local memory, barriers),
// OpenCL kernels over nd-ranges (dimension order, local arguments), and the
// nd-range checks a real runtime makes.
#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "sycl_test_util.hpp"

namespace {

TEST(SyclHostKernels, RangesCoverEveryItemOnce) {
  sycl::queue q(sycl::gpu_selector_v);
  constexpr size_t nx = 7, ny = 13, nz = 5;
  int* hits = sycl::malloc_shared<int>(nx * ny * nz, q);
  std::fill(hits, hits + nx * ny * nz, 0);
  q.parallel_for(sycl::range<3>(nx, ny, nz), [=](sycl::item<3> it) {
     hits[it.get_linear_id()] += 1;
   }).wait();
  for (size_t i = 0; i < nx * ny * nz; ++i) ASSERT_EQ(hits[i], 1) << i;
  sycl::free(hits, q);
}

TEST(SyclHostKernels, NdRangeWithLocalMemoryAndBarriers) {
  sycl::queue q(sycl::gpu_selector_v);
  constexpr size_t n = 1024, wg = 128;
  std::vector<int> host(n);
  std::iota(host.begin(), host.end(), 0);
  std::vector<int> sums(n / wg);
  {
    sycl::buffer<int> data(host.data(), sycl::range<1>(n));
    sycl::buffer<int> out(sums.data(), sycl::range<1>(n / wg));
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(data, h, sycl::read_write);
      sycl::accessor s(out, h, sycl::write_only);
      sycl::local_accessor<int, 1> tmp(sycl::range<1>(wg), h);
      h.parallel_for(sycl::nd_range<1>(sycl::range<1>(n), sycl::range<1>(wg)), [=](sycl::nd_item<1> it) {
        const size_t l = it.get_local_id(0);
        tmp[l] = a[it.get_global_id(0)];
        it.barrier(sycl::access::fence_space::local_space);
        a[it.get_global_id(0)] = tmp[wg - 1 - l];  // reverse within the group
        it.barrier();
        // Tree reduction with a barrier per level.
        for (size_t stride = wg / 2; stride > 0; stride /= 2) {
          if (l < stride) tmp[l] += tmp[l + stride];
          sycl::group_barrier(it.get_group());
        }
        if (l == 0) s[it.get_group(0)] = tmp[0];
      });
    });
  }
  for (size_t g = 0; g < n / wg; ++g) {
    for (size_t l = 0; l < wg; ++l) ASSERT_EQ(host[g * wg + l], static_cast<int>(g * wg + wg - 1 - l));
    long expect = 0;
    for (size_t l = 0; l < wg; ++l) expect += static_cast<long>(g * wg + l);
    EXPECT_EQ(sums[g], expect);
  }
}

TEST(SyclHostKernels, TwoDimensionalNdItemGeometry) {
  sycl::queue q(sycl::gpu_selector_v);
  constexpr size_t gy = 6, gx = 16, ly = 3, lx = 4;
  size_t* rec = sycl::malloc_shared<size_t>(gy * gx * 4, q);
  q.parallel_for(sycl::nd_range<2>(sycl::range<2>(gy, gx), sycl::range<2>(ly, lx)), [=](sycl::nd_item<2> it) {
     const size_t lin = it.get_global_linear_id();
     rec[4 * lin + 0] = it.get_global_id(0);
     rec[4 * lin + 1] = it.get_global_id(1);
     rec[4 * lin + 2] = it.get_group_linear_id();
     rec[4 * lin + 3] = it.get_local_linear_id();
   }).wait();
  for (size_t y = 0; y < gy; ++y)
    for (size_t x = 0; x < gx; ++x) {
      const size_t lin = y * gx + x;
      EXPECT_EQ(rec[4 * lin + 0], y);
      EXPECT_EQ(rec[4 * lin + 1], x);
      EXPECT_EQ(rec[4 * lin + 2], (y / ly) * (gx / lx) + x / lx);
      EXPECT_EQ(rec[4 * lin + 3], (y % ly) * lx + x % lx);
    }
  sycl::free(rec, q);
}

TEST(SyclHostKernels, ExceptionsBecomeAsynchronousErrors) {
  sycl::queue q(sycl::gpu_selector_v);
  q.parallel_for(sycl::nd_range<1>(sycl::range<1>(64), sycl::range<1>(8)), [=](sycl::nd_item<1> it) {
    it.barrier();
    if (it.get_global_id(0) == 13) throw std::logic_error("work-item 13");
  });
  EXPECT_THROW(q.wait_and_throw(), std::logic_error);
}

TEST(SyclNdRange, GlobalNotAMultipleOfLocalThrows) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::kernel k = qez_test::build_kernel(q, qez_test::slow_kernels(), "add_one");
  int* p = sycl::malloc_device<int>(64, q);
  auto expect_nd_range = [](auto&& submit) {
    try {
      submit();
      ADD_FAILURE() << "no exception";
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::errc::nd_range) << e.what();
    }
  };
  expect_nd_range([&] {
    q.submit([&](sycl::handler& h) {
      h.set_arg(0, p);
      h.parallel_for(sycl::nd_range<1>(sycl::range<1>(60), sycl::range<1>(16)), k);
    });
  });
  expect_nd_range([&] {
    q.parallel_for(sycl::nd_range<2>(sycl::range<2>(8, 10), sycl::range<2>(4, 4)), [=](sycl::nd_item<2>) {});
  });
  const size_t max_wg = q.get_device().get_info<sycl::info::device::max_work_group_size>();
  expect_nd_range([&] {
    q.submit([&](sycl::handler& h) {
      h.set_arg(0, p);
      h.parallel_for(sycl::nd_range<1>(sycl::range<1>(4 * max_wg), sycl::range<1>(2 * max_wg)), k);
    });
  });
  q.wait();
  sycl::free(p, q);
}

// SYCL ranges list the slowest dimension first; OpenCL's dimension 0 is the
// fastest (global {64, 8} local {16, 4} in OpenCL order is the
// SYCL nd_range ((8, 64), (4, 16))).
TEST(SyclNdRange, SyclToOpenClDimensionOrder) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::kernel geometry = qez_test::build_kernel(q, qez_test::slow_kernels(), "geometry");
  constexpr size_t gx = 64, gy = 8;
  cl_ulong* out = sycl::malloc_shared<cl_ulong>(8 + gx * gy, q);
  q.submit([&](sycl::handler& h) {
     h.set_arg(0, out);
     h.parallel_for(sycl::nd_range<2>(sycl::range<2>(gy, gx), sycl::range<2>(4, 16)), geometry);
   }).wait();
  EXPECT_EQ(out[0], gx);  // get_global_size(0)
  EXPECT_EQ(out[1], gy);
  EXPECT_EQ(out[2], 16u);  // get_local_size(0)
  EXPECT_EQ(out[3], 4u);
  EXPECT_EQ(out[4], 4u);  // get_num_groups(0)
  EXPECT_EQ(out[5], 2u);
  EXPECT_EQ(out[6], 2u);
  EXPECT_EQ(out[8 + 3 * gx + 5], 5u + 3000u);
  // A range launch leaves the local size to the runtime; offsets map the same way.
  q.submit([&](sycl::handler& h) {
     h.set_arg(0, out);
     h.parallel_for(sycl::range<2>(gy, gx), geometry);
   }).wait();
  EXPECT_EQ(out[0], gx);
  EXPECT_EQ(out[1], gy);
  sycl::free(out, q);
}

TEST(SyclNdRange, LocalMemoryArgumentOfAnOpenClKernel) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::kernel rev = qez_test::build_kernel(q, qez_test::slow_kernels(), "local_reverse");
  constexpr int n = 256, wg = 64;
  int* d = sycl::malloc_shared<int>(n, q);
  std::iota(d, d + n, 0);
  q.submit([&](sycl::handler& h) {
     sycl::local_accessor<int, 1> scratch(sycl::range<1>(wg), h);
     h.set_arg(0, d);
     h.set_arg(1, scratch);
     h.parallel_for(sycl::nd_range<1>(sycl::range<1>(n), sycl::range<1>(wg)), rev);
   }).wait();
  for (int i = 0; i < n; ++i) ASSERT_EQ(d[i], (i / wg) * wg + wg - 1 - i % wg) << i;
  sycl::free(d, q);
}

TEST(SyclNdRange, ConcurrentLaunchesOfOneKernelKeepTheirArguments) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::kernel slow = qez_test::build_kernel(q, qez_test::slow_kernels(), "slow_fill");
  constexpr int threads = 4, per = 20, n = 64;
  std::vector<int*> bufs;
  for (int t = 0; t < threads; ++t) bufs.push_back(sycl::malloc_shared<int>(n * per, q));
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&, t] {
      for (int r = 0; r < per; ++r)
        q.submit([&](sycl::handler& h) {
          h.set_args(bufs[t] + r * n, 1000 * t + r, 10);
          h.parallel_for(sycl::range<1>(n), slow);
        });
    });
  for (auto& th : pool) th.join();
  q.wait();
  for (int t = 0; t < threads; ++t) {
    for (int r = 0; r < per; ++r) ASSERT_EQ(bufs[t][r * n + n - 1], 1000 * t + r);
    sycl::free(bufs[t], q);
  }
}

}  // namespace
