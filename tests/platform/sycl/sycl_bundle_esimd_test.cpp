// Kernel bundles and specialization constants, the ESIMD layer (vectors,
// global and shared local memory, barriers) and cospi/sinpi.
#include <cmath>
#include <cstring>
#include <vector>

#include "sycl_test_util.hpp"  // OpenCL's types before the stand-in's headers

#include <sycl/ext/tavir/esimd.hpp>

namespace {

constexpr sycl::specialization_id<int> spec_width(7);
constexpr sycl::specialization_id<double> spec_factor(0.5);
constexpr sycl::specialization_id<std::uint64_t> spec_big(1);

template <int Tag>
struct tagged_kernel {
  int* out;
  void operator()(sycl::nd_item<1> it, sycl::kernel_handler kh) const {
    out[it.get_global_id(0)] = kh.get_specialization_constant<spec_width>() * 10 + Tag;
  }
};
struct range_kernel {
  double* out;
  void operator()(sycl::item<1> it, sycl::kernel_handler kh) const {
    out[it[0]] = kh.get_specialization_constant<spec_factor>() * static_cast<double>(it[0]);
  }
};

sycl::kernel_bundle<sycl::bundle_state::input> input_bundle(const sycl::queue& q,
                                                            const std::vector<sycl::kernel_id>& ids) {
  return sycl::get_kernel_bundle<sycl::bundle_state::input>(q.get_context(), {q.get_device()}, ids);
}

TEST(SyclKernelBundles, KernelIdsAreNamedAfterTheKernelType) {
  const sycl::kernel_id a = sycl::get_kernel_id<tagged_kernel<1>>();
  EXPECT_EQ(std::string(a.get_name()), std::string("_ZTS") + typeid(tagged_kernel<1>).name());
  EXPECT_TRUE(a == sycl::get_kernel_id<tagged_kernel<1>>());
  EXPECT_TRUE(a != sycl::get_kernel_id<tagged_kernel<2>>());
  class incomplete_name;
  EXPECT_EQ(std::string(sycl::get_kernel_id<incomplete_name>().get_name()).rfind("_ZTS", 0), 0u);
}

TEST(SyclKernelBundles, SpecializationConstantsAreSetAndSnapshotByBuild) {
  sycl::queue q(sycl::gpu_selector_v);
  auto in = input_bundle(q, {sycl::get_kernel_id<tagged_kernel<1>>()});
  EXPECT_EQ(in.get_specialization_constant<spec_width>(), 7);  // default
  in.set_specialization_constant<spec_width>(3);
  in.set_specialization_constant<spec_width>(4);  // replaces
  in.set_specialization_constant<spec_big>(0x123456789ull);
  EXPECT_EQ(in.get_specialization_constant<spec_width>(), 4);
  auto exe = sycl::build(in);
  in.set_specialization_constant<spec_width>(9);
  EXPECT_EQ(exe.get_specialization_constant<spec_width>(), 4);
  EXPECT_EQ(exe.get_specialization_constant<spec_big>(), 0x123456789ull);
  EXPECT_DOUBLE_EQ(exe.get_specialization_constant<spec_factor>(), 0.5);
  EXPECT_TRUE(exe.has_kernel<tagged_kernel<1>>());
  EXPECT_FALSE(exe.has_kernel<tagged_kernel<2>>());
  ASSERT_EQ(exe.get_kernel_ids().size(), 1u);
  EXPECT_TRUE(exe.get_context() == q.get_context());
  ASSERT_EQ(exe.get_devices().size(), 1u);
  EXPECT_TRUE(exe.get_devices()[0] == q.get_device());
}

TEST(SyclKernelBundles, KernelsReadTheConstantsOfTheBundleTheyUse) {
  sycl::queue q(sycl::gpu_selector_v);
  auto in = input_bundle(q, {sycl::get_kernel_id<tagged_kernel<1>>(), sycl::get_kernel_id<range_kernel>()});
  in.set_specialization_constant<spec_width>(5);
  in.set_specialization_constant<spec_factor>(2.5);
  const auto exe = sycl::build(in);
  constexpr size_t n = 64;
  int* ints = sycl::malloc_shared<int>(n, q);
  double* reals = sycl::malloc_shared<double>(n, q);
  q.submit([&](sycl::handler& h) {
     h.use_kernel_bundle(exe);
     h.parallel_for(sycl::nd_range<1>(n, 8), tagged_kernel<1>{ints});
   }).wait();
  q.submit([&](sycl::handler& h) {
     h.use_kernel_bundle(exe);
     h.parallel_for(sycl::range<1>(n), range_kernel{reals});
   }).wait();
  for (size_t i = 0; i < n; ++i) {
    ASSERT_EQ(ints[i], 51);
    ASSERT_DOUBLE_EQ(reals[i], 2.5 * static_cast<double>(i));
  }
  // Without a bundle the kernel sees the defaults.
  q.parallel_for(sycl::nd_range<1>(n, 8), tagged_kernel<1>{ints}).wait();
  EXPECT_EQ(ints[n - 1], 71);
  sycl::free(ints, q);
  sycl::free(reals, q);
}

TEST(SyclKernelBundles, MisuseIsReported) {
  sycl::queue q(sycl::gpu_selector_v);
  const auto exe = sycl::build(input_bundle(q, {sycl::get_kernel_id<tagged_kernel<1>>()}));
  int* out = sycl::malloc_shared<int>(8, q);
  try {
    q.submit([&](sycl::handler& h) {
      h.use_kernel_bundle(exe);
      h.parallel_for(sycl::nd_range<1>(8, 8), tagged_kernel<2>{out});
    });
    ADD_FAILURE() << "a kernel outside the bundle was accepted";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::kernel_not_supported);
  }
  // A device outside the context.
  sycl::context gpu_only(q.get_device());
  sycl::device cpu(sycl::cpu_selector_v);
  try {
    sycl::get_kernel_bundle<sycl::bundle_state::input>(gpu_only, {cpu}, {});
    ADD_FAILURE() << "a foreign device was accepted";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::invalid);
  }
  // A queue of another context.
  sycl::queue other(gpu_only, q.get_device());
  try {
    other.submit([&](sycl::handler& h) { h.use_kernel_bundle(exe); });
    ADD_FAILURE() << "a bundle of another context was accepted";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::invalid);
  }
  sycl::free(out, q);
}

namespace esimd = sycl::ext::tavir::esimd;

TEST(SyclEsimd, VectorsAndSelections) {
  esimd::simd<float, 8> a(1.0f, 2.0f);  // 1, 3, 5, ...
  esimd::simd<float, 8> b(2.0f);
  const esimd::simd<float, 8> c = a * b - 1.0f;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(c[i], 2.0f * (1 + 2 * i) - 1.0f);
  esimd::simd<float, 4> even = a.select<4, 2>(0);
  EXPECT_EQ(even[3], 13.0f);
  a.select<4, 2>(1) = esimd::simd<float, 4>(-1.0f);
  EXPECT_EQ(a[0], 1.0f);
  EXPECT_EQ(a[7], -1.0f);
  a.select<2, 1>(2) += esimd::simd<float, 2>(10.0f);
  EXPECT_EQ(a[2], 15.0f);
  const esimd::simd_mask<8> m = c > esimd::simd<float, 8>(9.0f);
  EXPECT_EQ(m[0] + m[1] + m[2], 0);
  EXPECT_EQ(m[3], 1);
}

// One work-group of 4 work-items: each block-loads 16 values, stores them
// in SLM; after the barrier each gathers a column written by all four.
TEST(SyclEsimd, GlobalAndSharedLocalMemoryAcrossABarrier) {
  sycl::queue q(sycl::gpu_selector_v);
  constexpr int items = 4, width = 16;
  float* data = sycl::malloc_shared<float>(items * width, q);
  float* out = sycl::malloc_shared<float>(items * width, q);
  for (int i = 0; i < items * width; ++i) data[i] = static_cast<float>(i);
  std::memset(out, 0, sizeof(float) * items * width);
  q.parallel_for(sycl::nd_range<1>(items, items), [=](sycl::nd_item<1> it) {
     const uint32_t l = static_cast<uint32_t>(it.get_local_id(0));
     esimd::slm_init(items * width * sizeof(float));
     const auto row = esimd::block_load<float, width>(data + l * width);
     esimd::slm_block_store<float, width>(l * width * sizeof(float), row);
     esimd::fence();
     esimd::barrier();
     // Column l of the 4 x 16 matrix, then 3 x, 4 lanes at a time.
     esimd::simd<uint32_t, items> offsets(l * sizeof(float), width * sizeof(float));
     const auto column = esimd::slm_gather<float, items>(offsets);
     esimd::simd<uint32_t, items> to(l * sizeof(float), items * sizeof(float));
     esimd::scatter<float, items>(out, to, column * 3.0f);
   }).wait_and_throw();
  for (int l = 0; l < items; ++l)
    for (int r = 0; r < items; ++r) EXPECT_EQ(out[l + r * items], 3.0f * static_cast<float>(r * width + l));
  // Masked lanes neither read nor write.
  esimd::simd_mask<4> mask(0);
  mask[1] = 1;
  const auto g = esimd::gather<float, 4>(data, esimd::simd<uint32_t, 4>(0u, 4u), mask);
  EXPECT_EQ(g[0], 0.0f);
  EXPECT_EQ(g[1], 1.0f);
  esimd::scatter<float, 4>(out, esimd::simd<uint32_t, 4>(0u, 4u), esimd::simd<float, 4>(-5.0f), mask);
  EXPECT_EQ(out[0], 0.0f);
  EXPECT_EQ(out[1], -5.0f);
  sycl::free(data, q);
  sycl::free(out, q);
}

TEST(SyclEsimd, SharedLocalMemoryOutsideTheReservationFails) {
  sycl::queue q(sycl::gpu_selector_v);
  q.parallel_for(sycl::nd_range<1>(2, 2), [=](sycl::nd_item<1>) {
    esimd::slm_init(64);
    esimd::slm_block_store<float, 16>(16, esimd::simd<float, 16>(1.0f));  // bytes 16 .. 80
  });
  try {
    q.wait_and_throw();
    ADD_FAILURE() << "an access beyond slm_init was accepted";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::kernel);
  }
}

TEST(SyclMath, CospiAndSinpi) {
  const long double pi = 3.141592653589793238462643383279502884L;
  for (double x : {0.0, 0.1, 0.25, 0.3, 0.5, 0.75, 1.0, 1.3, 1.5, 1.9, 2.0, 7.2, -0.3, -1.75, 123.456}) {
    EXPECT_NEAR(sycl::cospi(x), static_cast<double>(std::cos(pi * x)), 4e-16) << x;
    EXPECT_NEAR(sycl::sinpi(x), static_cast<double>(std::sin(pi * x)), 4e-16) << x;
    const float xf = static_cast<float>(x);
    EXPECT_NEAR(sycl::cospi(xf), static_cast<float>(std::cos(pi * static_cast<long double>(xf))), 6e-8f) << x;
    EXPECT_NEAR(sycl::sinpi(xf), static_cast<float>(std::sin(pi * static_cast<long double>(xf))), 6e-8f) << x;
  }
  // Exact at integers and half-integers.
  EXPECT_EQ(sycl::sinpi(1.0), 0.0);
  EXPECT_EQ(sycl::sinpi(-3.0), 0.0);
  EXPECT_EQ(sycl::cospi(0.5), 0.0);
  EXPECT_EQ(sycl::cospi(1.5f), 0.0f);
  EXPECT_EQ(sycl::cospi(1.0), -1.0);
  EXPECT_EQ(sycl::sinpi(0.5), 1.0);
  EXPECT_EQ(sycl::sinpi(1.5), -1.0);
}

}  // namespace
