// The helpers of the gpu_framework_c2c_1d_def program text besides the
// codelets: generic-size DFTs, the output copy kernel, the twiddle and swap
// macros, and the NEED_FFT_FUNC guards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>
#include <tuple>

#include "dft/gpu/kernels/program_texts.hpp"
#include "tests/kernels/test_program.hpp"

namespace qez_kernels_test {
namespace {

using buffers_t = std::vector<std::vector<unsigned char>>;

// ---- Generic sizes ----------------------------------------------------------

struct generic_case {
  std::uint32_t fact;
  std::uint32_t in_stride;
  std::uint32_t out_stride;
};

class generic_default : public ::testing::TestWithParam<std::tuple<real_kind, direction>> {};

TEST_P(generic_default, odd_and_even_sizes_match_the_reference_dft) {
  const auto [kind, dir] = GetParam();
  // 4099 is the largest size whose twiddle pairs come from the per-call
  // table; 4100 evaluates each term's pair.
  const generic_case cases[] = {{3, 1, 1},   {67, 3, 2},  {97, 1, 1},   {2, 1, 2},   {66, 2, 3},
                                {100, 1, 1}, {128, 1, 1}, {4099, 1, 2}, {4100, 2, 1}};
  const std::int64_t batch = 3;
  const cl_program program = helper_program(kind, dir);
  for (const generic_case& c : cases) {
    SCOPED_TRACE("fact " + std::to_string(c.fact));
    const std::int64_t n = c.fact;
    const std::vector<cld> packed = rounded_to(qez_test::random_complex(n * batch, 7 * n), kind);
    std::vector<cld> in(n * batch * c.in_stride), out(n * batch * c.out_stride);
    for (std::int64_t t = 0; t < batch; ++t)
      for (std::int64_t j = 0; j < n; ++j) in[(t * n + j) * c.in_stride] = packed[t * n + j];
    buffers_t buffers = {to_device_layout(in, kind), to_device_layout(out, kind)};
    opencl_runner::instance().run(
        program, c.fact % 2 ? "run_odd_default" : "run_even_default", {std::size_t(batch)}, buffers,
        {kernel_arg::buf(0), kernel_arg::buf(1), kernel_arg::u32(c.fact),
         kernel_arg::u32(c.in_stride), kernel_arg::u32(c.out_stride)});
    const std::vector<cld> strided = from_device_layout(buffers[1], kind);
    std::vector<cld> got(n * batch);
    for (std::int64_t i = 0; i < n * batch; ++i) got[i] = strided[i * c.out_stride];
    const auto sign =
        dir == direction::forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward;
    const auto error = qez_test::measure(got, qez_test::reference_c2c(packed, {n}, batch, sign));
    const auto bounds = qez_test::bounds_for(epsilon_of(kind), n);
    record_accuracy(kind, "generic DFT of " + std::to_string(n) + " " + name_of(dir), error, bounds);
    EXPECT_TRUE(qez_test::within(error, bounds)) << qez_test::describe(error, bounds);
  }
}

// ---- Twiddle and swap macros -----------------------------------------------

class lane_macros : public ::testing::TestWithParam<std::tuple<real_kind, direction>> {};

TEST_P(lane_macros, twiddle_multiplies_by_the_direction_conjugate_and_swap_by_j) {
  const auto [kind, dir] = GetParam();
  const std::int64_t count = 64;
  const std::vector<cld> v = rounded_to(qez_test::random_complex(count, 11), kind);
  std::vector<cld> twiddles(count);
  for (std::int64_t i = 0; i < count; ++i) {
    const long double angle = 0.37L * static_cast<long double>(i) - 3.0L;
    twiddles[i] = cld(std::cos(angle), std::sin(angle));
  }
  twiddles = rounded_to(twiddles, kind);
  buffers_t buffers = {to_device_layout(v, kind), to_device_layout(twiddles, kind),
                       to_device_layout(v, kind), to_device_layout(v, kind)};
  opencl_runner::instance().run(helper_program(kind, dir), "run_twiddle", {std::size_t(count)},
                                buffers,
                                {kernel_arg::buf(0), kernel_arg::buf(1), kernel_arg::buf(2),
                                 kernel_arg::buf(3)});
  const std::vector<cld> product = from_device_layout(buffers[2], kind);
  const std::vector<cld> swapped = from_device_layout(buffers[3], kind);
  const bool forward = dir == direction::forward;
  const cld j = forward ? cld(0, -1) : cld(0, 1);
  for (std::int64_t i = 0; i < count; ++i) {
    const cld w = forward ? std::conj(twiddles[i]) : twiddles[i];  // twr -+ i*twi
    EXPECT_LE(std::abs(product[i] - v[i] * w), 2 * epsilon_of(kind) * std::abs(v[i])) << i;
    EXPECT_EQ(swapped[i], j * v[i]) << i;
  }
}

// ---- Twiddle evaluation of the pass kernels ----------------------------------

// Every twiddle p / size, |p| <= size / 2, that the pass kernels of the
// default 1D backend take for the power-of-two lengths up to 2^22 (the
// twiddles of 2^22 contain those of every smaller power), every length up to
// 1024 and the passes of the composite bench lengths.
struct pass_twiddle {
  std::int64_t p, size;
};

std::vector<pass_twiddle> pass_twiddles() {
  std::vector<std::int64_t> sizes = {std::int64_t{1} << 22, 30030, 546, 1000};
  for (std::int64_t size = 3; size <= 1024; ++size)
    if (size & (size - 1)) sizes.push_back(size);
  std::vector<pass_twiddle> out;
  for (const std::int64_t size : sizes)
    for (std::int64_t p = -size / 2; 2 * p <= size; ++p) out.push_back({p, size});
  return out;
}

// Its argument in half-turns as qez_cossinpi takes it: (ftype)(2 p) / (ftype)size.
template <class T>
T half_turns(const pass_twiddle& t) {
  return static_cast<T>(2 * t.p) / static_cast<T>(t.size);
}

// cos(pi a), sin(pi a) in long double: a = q/2 + t is exact, |t| <= 1/4.
cld exact_cossinpi(long double a) {
  const long double pi = 3.141592653589793238462643383279502884L;
  const long double q = std::rint(2 * a), t = a - q / 2;
  const long double c = std::cos(pi * t), s = std::sin(pi * t);
  const int k = static_cast<int>(q) & 3;
  const long double cq = k & 1 ? s : c, sq = k & 1 ? c : s;
  return {((k + 1) & 2) ? -cq : cq, (k & 2) ? -sq : sq};
}

// Error of one computed value in units of the last place of the exact one.
long double ulp_error(long double got, long double exact, long double eps) {
  if (exact == 0) return got == 0 ? 0 : std::numeric_limits<long double>::infinity();
  return std::abs(got - exact) / std::ldexp(eps, std::ilogb(exact));
}

struct worst_error {
  long double ulps = 0, absolute = 0;
  void add(long double got, long double exact, long double eps) {
    ulps = std::max(ulps, ulp_error(got, exact, eps));
    absolute = std::max(absolute, std::abs(got - exact));
  }
};

template <class T>
std::vector<unsigned char> bytes_of(const std::vector<T>& v) {
  std::vector<unsigned char> out(v.size() * sizeof(T));
  std::memcpy(out.data(), v.data(), out.size());
  return out;
}

template <class T>
T element(const std::vector<unsigned char>& bytes, std::size_t i) {
  T v;
  std::memcpy(&v, bytes.data() + i * sizeof(T), sizeof(T));
  return v;
}

template <class T>
void expect_twiddles_no_less_accurate_than_the_builtins(real_kind kind) {
  const std::vector<pass_twiddle> twiddles = pass_twiddles();
  const std::size_t n = twiddles.size(), padded = (n + 3) / 4 * 4;
  std::vector<T> args(padded, T(0));
  // qez_twiddle_cossin takes p in [0, size): the same twiddle one turn on.
  std::vector<std::uint64_t> products(padded, 0), sizes(padded, 1);
  for (std::size_t i = 0; i < n; ++i) {
    args[i] = half_turns<T>(twiddles[i]);
    products[i] = static_cast<std::uint64_t>(twiddles[i].p < 0 ? twiddles[i].p + twiddles[i].size : twiddles[i].p);
    sizes[i] = static_cast<std::uint64_t>(twiddles[i].size);
  }
  const std::size_t pair_bytes = 2 * padded * sizeof(T);
  buffers_t buffers = {bytes_of(args), std::vector<unsigned char>(pair_bytes),
                       std::vector<unsigned char>(pair_bytes), std::vector<unsigned char>(pair_bytes)};
  opencl_runner& runner = opencl_runner::instance();
  const cl_program program = helper_program(kind, direction::forward);
  runner.run(program, "run_cossinpi", {padded / 4}, buffers,
             {kernel_arg::buf(0), kernel_arg::buf(1), kernel_arg::buf(2), kernel_arg::buf(3)});
  buffers_t integer_buffers = {bytes_of(products), bytes_of(sizes), std::vector<unsigned char>(pair_bytes)};
  runner.run(program, "run_twiddle_cossin", {padded}, integer_buffers,
             {kernel_arg::buf(0), kernel_arg::buf(1), kernel_arg::buf(2)});
  const long double eps = std::numeric_limits<T>::epsilon();
  worst_error ours[2], ours4[2], integer[2], builtin[2];
  for (std::size_t i = 0; i < n; ++i) {
    const cld exact = exact_cossinpi(args[i]);
    // The four-value form stores four cosines, then four sines.
    const std::size_t in4 = 8 * (i / 4) + i % 4;
    for (int part = 0; part < 2; ++part) {
      const long double want = part ? exact.imag() : exact.real();
      ours[part].add(element<T>(buffers[1], 2 * i + part), want, eps);
      ours4[part].add(element<T>(buffers[2], in4 + 4 * part), want, eps);
      builtin[part].add(element<T>(buffers[3], 2 * i + part), want, eps);
    }
    // The integer form rounds 2 p / size once, where (ftype)(2 p) / (ftype)size
    // may round twice: its reference is the exact twiddle.
    const long double turns =
        2.0L * static_cast<long double>(twiddles[i].p) / static_cast<long double>(twiddles[i].size);
    const cld exact_twiddle = exact_cossinpi(turns);
    for (int part = 0; part < 2; ++part)
      integer[part].add(element<T>(integer_buffers[2], 2 * i + part),
                        part ? exact_twiddle.imag() : exact_twiddle.real(), eps);
  }
  for (int part = 0; part < 2; ++part) {
    const char* what = part ? "sinpi" : "cospi";
    std::cout << "[ twiddle ] " << name_of(kind) << ' ' << what << " over " << n << " arguments, worst error: ours "
              << static_cast<double>(ours[part].ulps) << " ulp (" << static_cast<double>(ours[part].absolute)
              << "), four at a time " << static_cast<double>(ours4[part].ulps) << " ulp, from the integers "
              << static_cast<double>(integer[part].ulps) << " ulp (" << static_cast<double>(integer[part].absolute)
              << "), built-in " << static_cast<double>(builtin[part].ulps) << " ulp ("
              << static_cast<double>(builtin[part].absolute) << ")\n";
    for (const worst_error& w : {ours[part], ours4[part], integer[part]}) {
      EXPECT_LE(w.ulps, builtin[part].ulps) << what;
      EXPECT_LE(w.absolute, builtin[part].absolute) << what;
    }
  }
}

TEST(pass_twiddles, single_precision_is_no_less_accurate_than_the_builtins) {
  expect_twiddles_no_less_accurate_than_the_builtins<float>(real_kind::single_precision);
}

TEST(pass_twiddles, double_precision_is_no_less_accurate_than_the_builtins) {
  expect_twiddles_no_less_accurate_than_the_builtins<double>(real_kind::double_precision);
}

// ---- Output copy ------------------------------------------------------------

class copy_output : public ::testing::TestWithParam<real_kind> {};

TEST_P(copy_output, copies_each_transform_into_the_batch_layout) {
  const real_kind kind = GetParam();
  const copy_layout& c = test_copy_layout;
  const std::int64_t elements = 5, transforms = 10, offset = 2, out_size = 256;
  const std::vector<cld> in = rounded_to(qez_test::random_complex(transforms * c.idist, 5), kind);
  const cld untouched(-7, 9);
  buffers_t buffers = {to_device_layout(in, kind),
                       to_device_layout(std::vector<cld>(out_size, untouched), kind)};
  const std::string kernel = std::string("copy_output_") + (kind == real_kind::double_precision ? "d" : "s");
  opencl_runner::instance().run(helper_program(kind, direction::forward), kernel,
                                {std::size_t(elements), std::size_t(transforms)}, buffers,
                                {kernel_arg::buf(0), kernel_arg::buf(1), kernel_arg::i32(offset)});
  std::vector<cld> want(out_size, untouched);
  for (std::int64_t t = 0; t < transforms; ++t) {
    const std::int64_t o = t + offset;
    const std::int64_t z1 = o % c.batch[0], z2 = (o / c.batch[0]) % c.batch[1],
                       z3 = o / (c.batch[0] * c.batch[1]);
    for (std::int64_t e = 0; e < elements; ++e)
      want[z1 * c.odist_z[0] + z2 * c.odist_z[1] + z3 * c.odist_z[2] + e * c.ostride] =
          in[t * c.idist + e * c.istride];
  }
  EXPECT_EQ(from_device_layout(buffers[1], kind), want);
}

// ---- Guards -------------------------------------------------------------------

// A program that calls fft_SIZE_s builds only when a factor macro asks for it.
bool builds_with_call(int size, const std::string& factor_options) {
  const std::string source =
      std::string(ulmara::qez::dft::kernels::program_text_c2c_1d_def(false)) +
      "kernel void call(global ftype *d)\n{\n    ptype v[64];\n"
      "    for (int i = 0; i < 64; ++i) v[i] = vload2(i, d);\n"
      "    fft_" + std::to_string(size) + "_s(v, (ftype)1);\n"
      "    for (int i = 0; i < 64; ++i) vstore2(v[i], i, d);\n}\n";
  std::string log;
  return opencl_runner::instance().program(
             source, "-DNONSUBGRP -DFWD_DIR=1 -DBWD_DIR=0 " + factor_options, &log) != nullptr;
}

TEST(need_fft_func, compiles_only_the_codelets_of_the_factor_macros) {
  ASSERT_TRUE(opencl_runner::instance().available());
  EXPECT_TRUE(builds_with_call(16, "-DFACT0=16 -DFACT1=5"));
  EXPECT_TRUE(builds_with_call(5, "-DFACT0=16 -DFACT1=5"));
  EXPECT_FALSE(builds_with_call(7, "-DFACT0=16 -DFACT1=5"));
  EXPECT_TRUE(builds_with_call(7, "-DFACT0=16 -DN1_FACT1=7"));
}

const auto kinds = ::testing::Values(real_kind::single_precision, real_kind::double_precision);
const auto directions = ::testing::Values(direction::forward, direction::backward);
auto kind_direction_name = [](const auto& info) {
  return std::string(name_of(std::get<0>(info.param))) + "_" + name_of(std::get<1>(info.param));
};

INSTANTIATE_TEST_SUITE_P(all, generic_default, ::testing::Combine(kinds, directions),
                         kind_direction_name);
INSTANTIATE_TEST_SUITE_P(all, lane_macros, ::testing::Combine(kinds, directions),
                         kind_direction_name);
INSTANTIATE_TEST_SUITE_P(all, copy_output, kinds,
                         [](const auto& info) { return std::string(name_of(info.param)); });

}  // namespace
}  // namespace qez_kernels_test
