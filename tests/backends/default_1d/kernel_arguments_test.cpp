// dft_set_arg: one piece of command-group code binds USM pointers and byte
// buffers to a prebuilt OpenCL kernel.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "dft/gpu/core/kernel_arguments.hpp"
#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/kernel_types.hpp"
#include "gpu/service/native_handles.hpp"

namespace {

using namespace ulmara::qez::dft;

constexpr const char* probe_source =
    "kernel void plus_one(const global uchar *a, global uchar *b, global uchar *c)\n"
    "{ const size_t i = get_global_id(0); b[i] = a[i] + 1; c[i] += 2; }\n"
    "kernel void is_null(const global uchar *a, global uchar *flag) { flag[0] = a == 0 ? 7 : 9; }\n";

constexpr std::size_t count = 64;

sycl::queue& queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

// A kernel of the probe program, owned for the test.
struct probe_kernel {
  sycl::kernel* kernel;
  explicit probe_kernel(const char* name) {
    int status = 0;
    kernel = ulmara::qez::gpu::get_OCL_kernel_by_progname(&status, &queue(), ulmara::qez::gpu::domain_dft,
                                                           "qez_test_dft_set_arg", probe_source, name, "");
  }
  ~probe_kernel() {
    int status = 0;
    ulmara::qez::gpu::release_kernel_obj(&status, kernel);
  }
};

std::vector<char> ramp() {
  std::vector<char> v(count);
  std::iota(v.begin(), v.end(), 0);
  return v;
}

std::vector<char> read_back(byte_buffer& b) {
  sycl::host_accessor<char, 1, sycl::access_mode::read> r(b);
  return std::vector<char>(r.get_pointer(), r.get_pointer() + count);
}

TEST(DftSetArg, UsmPointersAtTheFormsIndexes) {
  probe_kernel k("plus_one");
  ASSERT_NE(k.kernel, nullptr);
  char* a = sycl::malloc_shared<char>(count, queue());
  char* b = sycl::malloc_shared<char>(count, queue());
  char* c = sycl::malloc_shared<char>(count, queue());
  const std::vector<char> r = ramp();
  std::copy(r.begin(), r.end(), a);
  std::fill_n(c, count, 1);
  queue().submit([&](sycl::handler& h) {
    dft_set_arg_input(h, a, kind_usm_pointer);
    dft_set_arg_output(h, b, kind_usm_pointer);
    dft_set_arg_constructed(h, 2, c, kind_usm_pointer);
    h.parallel_for(sycl::range<1>(count), *k.kernel);
  }).wait();
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_EQ(b[i], static_cast<char>(i + 1));
    EXPECT_EQ(c[i], 3);
  }
  for (char* p : {a, b, c}) sycl::free(p, queue());
}

TEST(DftSetArg, NullUsmPointerIsBoundAsNull) {
  probe_kernel k("is_null");
  char* flag = sycl::malloc_shared<char>(1, queue());
  queue().submit([&](sycl::handler& h) {
    dft_set_arg(h, 0, nullptr, kind_usm_pointer);
    dft_set_arg_output(h, flag, kind_usm_pointer);
    h.parallel_for(sycl::range<1>(1), *k.kernel);
  }).wait();
  EXPECT_EQ(flag[0], 7);
  sycl::free(flag, queue());
}

class DftSetArgBufferKinds : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(DftSetArgBufferKinds, EveryKindButTwoIsABuffer) {
  probe_kernel k("plus_one");
  const std::int64_t kind = GetParam();
  std::vector<char> r = ramp(), twos(count, 1);
  byte_buffer a(r.data(), sycl::range<1>(count)), b{sycl::range<1>(count)}, c(twos.data(), sycl::range<1>(count));
  // Two launches on an out-of-order queue: the accessors order them.
  for (int launch = 0; launch < 2; ++launch)
    queue().submit([&](sycl::handler& h) {
      dft_set_arg_input(h, &a, kind);
      dft_set_arg_inout(h, &b, kind);
      dft_set_arg_constructed(h, 2, &c, kind);
      h.parallel_for(sycl::range<1>(count), *k.kernel);
    });
  const std::vector<char> got_b = read_back(b), got_c = read_back(c);
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_EQ(got_b[i], static_cast<char>(i + 1));
    EXPECT_EQ(got_c[i], 5);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DftSetArgBufferKinds, ::testing::Values(0, 1, 3));

TEST(DftSetArg, SubBufferKeepsItsOffset) {
  probe_kernel k("plus_one");
  std::vector<char> r(3 * count, 0), zeros(3 * count, 0);
  std::iota(r.begin(), r.end(), 0);
  byte_buffer whole(r.data(), sycl::range<1>(3 * count)), out(zeros.data(), sycl::range<1>(3 * count));
  {
    byte_buffer middle(whole, sycl::id<1>(count), sycl::range<1>(count));
    byte_buffer target(out, sycl::id<1>(2 * count), sycl::range<1>(count));
    byte_buffer scratch{sycl::range<1>(count)};
    queue().submit([&](sycl::handler& h) {
      dft_set_arg_input(h, &middle, 1);
      dft_set_arg_output(h, &target, 1);
      dft_set_arg_constructed(h, 2, &scratch, 1);
      h.parallel_for(sycl::range<1>(count), *k.kernel);
    });
  }
  sycl::host_accessor<char, 1, sycl::access_mode::read> got(out);
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_EQ(got[i], 0);
    EXPECT_EQ(got[2 * count + i], static_cast<char>(count + i + 1));
  }
}

}  // namespace
