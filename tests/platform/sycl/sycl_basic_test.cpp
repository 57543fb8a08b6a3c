// The SYCL stand-in as a SYCL 2020 program sees it: devices, selectors,
// information queries, USM, buffers, host tasks and OpenCL interop.
#include <numeric>
#include <vector>

#include "qez_gpu_profile.h"
#include "sycl_test_util.hpp"

namespace {

TEST(SyclDevices, SelectorsFindTheGpuAndTheHostCpu) {
  sycl::device gpu(sycl::gpu_selector_v);
  EXPECT_TRUE(gpu.is_gpu());
  EXPECT_EQ(gpu.get_backend(), sycl::backend::opencl);
  EXPECT_EQ(gpu.get_info<sycl::info::device::device_type>(), sycl::info::device_type::gpu);
  sycl::device cpu(sycl::cpu_selector_v);
  EXPECT_TRUE(cpu.is_cpu());
  EXPECT_NE(cpu.get_backend(), sycl::backend::opencl);
  EXPECT_NE(cpu.get_backend(), sycl::backend::ext_ulmara_nivolo);
  EXPECT_EQ(sycl::device(), gpu);  // the default selector prefers the GPU
  EXPECT_EQ(sycl::queue().get_device(), gpu);
  EXPECT_EQ(sycl::device::get_devices(sycl::info::device_type::gpu).size(), 1u);
  EXPECT_EQ(sycl::device::get_devices(sycl::info::device_type::cpu).size(), 1u);
  EXPECT_EQ(gpu.get_platform().get_backend(), sycl::backend::opencl);
  EXPECT_THROW(sycl::device{sycl::accelerator_selector_v}, sycl::exception);
  EXPECT_EQ(std::hash<sycl::device>()(gpu), std::hash<sycl::device>()(sycl::device(sycl::gpu_selector_v)));
}

TEST(SyclDevices, GpuInformationComesFromTheProfile) {
  const qez_gpu_profile_t* p = qez_gpu_profile_active();
  ASSERT_NE(p, nullptr);
  sycl::device d(sycl::gpu_selector_v);
  EXPECT_EQ(d.get_info<sycl::info::device::name>(), p->device_name);
  EXPECT_EQ(d.get_info<sycl::info::device::vendor>(), QEZ_GPU_PROFILE_VENDOR_NAME);
  EXPECT_EQ(d.get_info<sycl::info::device::vendor_id>(), QEZ_GPU_PROFILE_VENDOR_ID);
  EXPECT_EQ(d.get_info<sycl::info::device::max_compute_units>(), p->eu_count);
  EXPECT_EQ(d.get_info<sycl::info::device::max_work_group_size>(), p->max_work_group_size);
  EXPECT_EQ(d.get_info<sycl::info::device::local_mem_size>(), p->local_mem_size);
  const auto sg = d.get_info<sycl::info::device::sub_group_sizes>();
  ASSERT_EQ(sg.size(), p->num_sub_group_sizes);
  for (size_t i = 0; i < sg.size(); ++i) EXPECT_EQ(sg[i], p->sub_group_sizes[i]);
  EXPECT_EQ(d.get_info<sycl::ext::tavir::info::device::gpu_eu_count>(), p->eu_count);
  EXPECT_EQ(d.get_info<sycl::ext::tavir::info::device::gpu_slices>(), p->slices);
  EXPECT_EQ(d.get_info<sycl::ext::tavir::info::device::gpu_subslices_per_slice>(), p->sub_slices_per_slice);
  EXPECT_EQ(d.get_info<sycl::ext::tavir::info::device::gpu_eu_count_per_subslice>(), p->eus_per_sub_slice);
  EXPECT_EQ(d.get_info<sycl::ext::tavir::info::device::gpu_hw_threads_per_eu>(), p->threads_per_eu);
  EXPECT_TRUE(d.has(static_cast<sycl::aspect>(35)));
  EXPECT_TRUE(d.has(sycl::aspect::fp64));
  EXPECT_FALSE(d.get_info<sycl::info::device::double_fp_config>().empty());
  EXPECT_FALSE(d.get_info<sycl::info::device::single_fp_config>().empty());
  EXPECT_FALSE(d.has(sycl::aspect::usm_system_allocations));  // PoCL has no fine-grained system SVM
  EXPECT_TRUE(d.has(sycl::aspect::usm_device_allocations));
  EXPECT_GE(d.get_info<sycl::info::device::mem_base_addr_align>(), 8u);
  EXPECT_GT(d.get_info<sycl::info::device::max_mem_alloc_size>(), 0u);
  EXPECT_GT(d.get_info<sycl::info::device::global_mem_size>(), 0u);
  const auto wis = d.get_info<sycl::info::device::max_work_item_sizes<3>>();
  EXPECT_LE(wis[2], p->max_work_group_size);
  EXPECT_FALSE(d.get_info<sycl::info::device::driver_version>().empty());

  sycl::device cpu(sycl::cpu_selector_v);
  EXPECT_TRUE(cpu.has(sycl::aspect::usm_system_allocations));
  EXPECT_FALSE(cpu.has(static_cast<sycl::aspect>(35)));
  try {
    cpu.get_info<sycl::ext::tavir::info::device::gpu_slices>();
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::invalid);
  }
}

// A program written the way any SYCL 2020 program is: queue from a selector,
// USM and buffers, host tasks, get_native, an OpenCL C kernel built with the
// OpenCL API and launched through make_kernel and parallel_for(nd_range).
TEST(SyclProgram, OpenClKernelOnUsmAndBuffersWithHostTasks) {
  sycl::queue q(sycl::gpu_selector_v);
  constexpr int n = 256;
  sycl::kernel copy_plus = qez_test::build_kernel(q, qez_test::slow_kernels(), "copy_plus");
  EXPECT_EQ(copy_plus.get_info<sycl::info::kernel::num_args>(), 3u);
  EXPECT_EQ(copy_plus.get_info<sycl::info::kernel::function_name>(), "copy_plus");
  EXPECT_EQ(copy_plus.get_context(), q.get_context());

  // USM.
  int* in = sycl::malloc_shared<int>(n, q);
  int* out = sycl::malloc_device<int>(n, q);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  std::iota(in, in + n, 0);
  auto k1 = q.submit([&](sycl::handler& h) {
    h.set_args(in, out, 5);
    h.parallel_for(sycl::nd_range<1>(sycl::range<1>(n), sycl::range<1>(64)), copy_plus);
  });
  std::vector<int> seen(n, -1);
  auto t = q.submit([&](sycl::handler& h) {
    h.depends_on(k1);
    h.host_task([&] { std::copy(out, out + n, seen.begin()); });
  });
  t.wait();
  for (int i = 0; i < n; ++i) ASSERT_EQ(seen[i], i + 5) << i;

  // Buffers with write-back.
  std::vector<int> host_in(n), host_out(n, 0);
  std::iota(host_in.begin(), host_in.end(), 100);
  {
    sycl::buffer<int> bin(host_in.data(), sycl::range<1>(n));
    sycl::buffer<int> bout(host_out.data(), sycl::range<1>(n));
    q.submit([&](sycl::handler& h) {
      sycl::accessor a(bin, h, sycl::read_only);
      sycl::accessor b(bout, h, sycl::write_only);
      h.set_arg(0, a);
      h.set_arg(1, b);
      h.set_arg(2, -100);
      h.parallel_for(sycl::nd_range<1>(sycl::range<1>(n), sycl::range<1>(32)), copy_plus);
    });
    q.submit([&](sycl::handler& h) {
      sycl::accessor b(bout, h, sycl::read_write);
      h.host_task([=] {
        for (int i = 0; i < n; ++i) b[i] *= 2;
      });
    });
  }  // destruction waits and writes back
  for (int i = 0; i < n; ++i) ASSERT_EQ(host_out[i], 2 * i) << i;
  sycl::free(in, q);
  sycl::free(out, q.get_context());
}

TEST(SyclInterop, NativeHandlesAndWrapping) {
  sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::in_order());
  cl_command_queue cq = sycl::get_native<sycl::backend::opencl>(q);
  cl_context cc = sycl::get_native<sycl::backend::opencl>(q.get_context());
  cl_device_id cd = sycl::get_native<sycl::backend::opencl>(q.get_device());
  cl_context from_queue = nullptr;
  clGetCommandQueueInfo(cq, CL_QUEUE_CONTEXT, sizeof from_queue, &from_queue, nullptr);
  EXPECT_EQ(from_queue, cc);
  cl_device_type type = 0;
  clGetDeviceInfo(cd, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
  EXPECT_EQ(type, static_cast<cl_device_type>(CL_DEVICE_TYPE_GPU));  // the profile's view, same as SYCL's
  EXPECT_EQ(sycl::make_device<sycl::backend::opencl>(cd), q.get_device());

  // A SYCL context and queue over the native ones.
  sycl::context c2 = sycl::make_context<sycl::backend::opencl>(cc);
  sycl::queue q2 = sycl::make_queue<sycl::backend::opencl>(cq, c2);
  EXPECT_TRUE(q2.is_in_order());
  EXPECT_EQ(q2.get_device(), q.get_device());
  int* p = sycl::malloc_device<int>(4, q2);
  q2.fill(p, 7, 4).wait();
  int host[4] = {};
  q2.memcpy(host, p, sizeof host).wait();
  for (int v : host) EXPECT_EQ(v, 7);
  sycl::free(p, q2);

  // The detail entry points with ownership flags.
  clRetainContext(cc);
  sycl::context c3 = sycl::detail::make_context(reinterpret_cast<sycl::detail::native_handle_t>(cc), {},
                                                sycl::backend::opencl, /*keep_ownership=*/false);
  sycl::queue q3 = sycl::detail::make_queue(reinterpret_cast<sycl::detail::native_handle_t>(cq), 0, c3, nullptr,
                                            /*keep_ownership=*/true, {}, {}, sycl::backend::opencl);
  q3.wait();

  // Host tasks reach the native queue.
  q.submit([&](sycl::handler& h) {
     h.host_task([=](sycl::interop_handle ih) {
       EXPECT_EQ(ih.get_backend(), sycl::backend::opencl);
       EXPECT_EQ(ih.get_native_queue<sycl::backend::opencl>(), cq);
       EXPECT_EQ(ih.get_native_context<sycl::backend::opencl>(), cc);
     });
   }).wait();

  // Backend mismatch on the host device.
  sycl::queue host_q(sycl::cpu_selector_v);
  try {
    sycl::get_native<sycl::backend::opencl>(host_q.get_device());
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::backend_mismatch);
    EXPECT_STREQ(e.what(), "Backends mismatch");
  }
  clReleaseCommandQueue(cq);
  clReleaseContext(cc);
  clReleaseDevice(cd);
}

TEST(SyclInterop, WeakReferencesToContextsAndQueues) {
  sycl::ext::ulmara::weak_object<sycl::context> wc;
  sycl::ext::ulmara::weak_object<sycl::queue> wq;
  {
    sycl::context ctx{sycl::device(sycl::gpu_selector_v)};
    sycl::queue q(ctx, ctx.get_devices()[0]);
    wc = ctx;
    wq = q;
    EXPECT_FALSE(wc.expired());
    EXPECT_EQ(wc.lock(), ctx);
    EXPECT_EQ(*wq.try_lock(), q);
    // Owner-equivalent: neither is owner_before the other.
    EXPECT_FALSE(wc.owner_before(ctx));
    EXPECT_FALSE(ctx.ext_ulmara_owner_before(ctx));
    sycl::context other{sycl::device(sycl::gpu_selector_v)};
    EXPECT_TRUE(wc.owner_before(other) || sycl::ext::ulmara::weak_object<sycl::context>(other).owner_before(wc));
  }
  EXPECT_TRUE(wc.expired());
  EXPECT_TRUE(wq.expired());
  EXPECT_FALSE(wq.try_lock().has_value());
  EXPECT_THROW(wc.lock(), sycl::exception);
}

TEST(SyclErrors, ExceptionsCarryErrc) {
  sycl::exception e(sycl::make_error_code(sycl::errc::runtime), "OpenCL error -6");
  EXPECT_EQ(e.code().value(), 1);
  EXPECT_EQ(e.code(), sycl::errc::runtime);
  EXPECT_EQ(&e.category(), &sycl::sycl_category());
  EXPECT_STREQ(e.what(), "OpenCL error -6");
  EXPECT_EQ(static_cast<int>(sycl::errc::backend_mismatch), 14);
  EXPECT_FALSE(e.has_context());
}

}  // namespace
