// The fused two-factor program text as the 2D and 3D main backends build it:
// the row and column kernels of square transforms (128^2, 192^2 and small
// sides) built with the 2D option line (no depth kernel, no long sub-group
// option in single precision), and the row, column and depth kernels of
// small cubes built with the 3D option line, both precisions, fed with
// tables from the shared writers, and run on the device against the
// long-double reference.
#include <gtest/gtest.h>

#include <complex>
#include <string>
#include <tuple>
#include <vector>

#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"
#include "tests/support/reference_dft.hpp"

namespace md_3d_test {
namespace {

namespace qd = ulmara::qez::dft;
namespace f2 = ulmara::qez::dft::fused_2_facts;

// A USM array of the test queue, freed at scope exit.
template <class V>
struct usm_array {
  V* data;
  size_t count;
  explicit usm_array(size_t n) : data(sycl::malloc_device<V>(n, test_queue())), count(n) {
    test_queue().memset(data, 0, n * sizeof(V)).wait();
  }
  ~usm_array() { sycl::free(data, test_queue()); }
  usm_array(const usm_array&) = delete;
  usm_array& operator=(const usm_array&) = delete;
};

struct kernel_slot {
  sycl::kernel* k = nullptr;
  ~kernel_slot() { qd::release_kernel_handle(k); }
};

// The shape of one run: `batch` squares (two passes, the 2D option line) or
// cubes (three passes, the 3D option line with the depth kernel) of side n.
struct fused_shape {
  std::int64_t n;
  int dimensions;
  std::int64_t batch;
};

template <class T>
qez_test::accuracy_bounds run_fused(const fused_shape& s, bool forward, double scale, qez_test::accuracy* error) {
  constexpr bool dp = sizeof(T) == sizeof(double);
  constexpr std::int64_t e = 2 * sizeof(T);
  using value = std::complex<T>;
  sycl::queue& q = test_queue();
  const std::int64_t n = s.n;
  const bool cubic = s.dimensions == 3;
  const f2::factor_pair p = f2::two_factor_split(n);
  const std::int64_t pad0 = f2::pad_to_four(p.fact0), pad1 = f2::pad_to_four(p.fact1);
  const f2::row_groups g = f2::row_group_count(p.fact0, pad0, p.fact1, pad1);

  char pass_names[3][64], fact0_name[64], fact1_name[64];
  for (int pass = 0; pass < s.dimensions; ++pass) f2::pass_kernel_name(pass_names[pass], n, dp ? "d" : "s", pass);
  f2::codelet_name(fact0_name, p.fact0);
  f2::codelet_name(fact1_name, p.fact1);
  f2::option_values v;
  v.long_subgroups = dp;
  v.fact0 = p.fact0;
  v.pad0 = pad0;
  v.fact1 = p.fact1;
  v.pad1 = pad1;
  v.kernel_func0 = pass_names[0];
  v.fact0_func = fact0_name;
  v.fact1_func = fact1_name;
  v.forward = forward ? 1 : 0;
  v.n0 = v.n1 = n;
  v.n2 = cubic ? n : 1;
  v.work_group_size = 8 * g.groups;
  v.loop_bound = g.loop_bound;
  v.batch_dist = n * n * v.n2;
  v.kernel_func1 = pass_names[1];
  v.kernel_func2 = cubic ? pass_names[2] : nullptr;
  v.transforms = s.batch;
  const std::string options = f2::format_options(v);
  const std::string program = std::string("gpu_framework_c2c_3d_2_facts.qez_dft_gpu_bkd_c2c_") +
                              (cubic ? "3d" : "2d") + "_main_sycl_" + (dp ? "d" : "s");
  const char* source = qd::kernels::program_text("gpu_framework_c2c_3d_2_facts", dp);
  EXPECT_NE(source, nullptr);
  kernel_slot kernels[3];
  for (int pass = 0; pass < s.dimensions; ++pass)
    EXPECT_EQ(qd::build_cached_kernel({&q, program.c_str(), source, pass_names[pass], options.c_str()},
                                      kernels[pass].k),
              0);

  usm_array<char> row_table(size_t(f2::row_table_bytes(p.fact0, p.fact1, pad1, e)));
  usm_array<char> column_table(size_t(f2::column_table_bytes(p.fact0, p.fact1, e)));
  const f2::row_table_writer<T> row_writer{4, p.fact0, n, 8, static_cast<T>(scale)};
  const f2::column_table_writer<T> column_writer{p.fact0, 8, n};
  f2::upload_line_table<T>(
      q, row_writer, sycl::range<2>(size_t(p.fact0), size_t(p.fact1)), f2::table_target{row_table.data, nullptr})
      .wait();
  f2::upload_line_table<T>(
      q, column_writer, sycl::range<2>(size_t(p.fact1), size_t(p.fact0)), f2::table_target{column_table.data, nullptr})
      .wait();

  const std::int64_t points = v.batch_dist * s.batch;
  const std::vector<qez_test::cld> x = qez_test::random_complex(points, std::uint64_t(n + s.batch));
  const size_t count = static_cast<size_t>(points);
  std::vector<value> host(count);
  for (std::int64_t i = 0; i < points; ++i) host[size_t(i)] = value(T(x[size_t(i)].real()), T(x[size_t(i)].imag()));
  usm_array<value> in(count), out(count);
  q.memcpy(in.data, host.data(), host.size() * sizeof(value)).wait();

  const auto launch = [&](sycl::kernel& k, void* source_data, char* table, std::int64_t groups, std::int64_t local,
                          std::int64_t local_bytes) {
    q.submit([&](sycl::handler& cgh) {
       cgh.set_arg(0, source_data);
       cgh.set_arg(1, static_cast<void*>(out.data));
       cgh.set_arg(2, static_cast<void*>(table));
       cgh.set_arg(3, sycl::local_accessor<char, 1>(sycl::range<1>(size_t(local_bytes)), cgh));
       cgh.parallel_for(sycl::nd_range<1>(sycl::range<1>(size_t(groups * local)), sycl::range<1>(size_t(local))), k);
     }).wait();
  };
  // Rows from the input; then, in place, columns along y of every xy plane
  // and, for cubes, columns along z of every xz plane.
  const std::int64_t column_groups = f2::column_blocks(n) * v.n2 * s.batch;
  launch(*kernels[0].k, in.data, row_table.data, n * v.n2 * s.batch, 8 * g.groups,
         f2::line_local_bytes(p.fact0, p.fact1, pad1, e));
  for (int pass = 1; pass < s.dimensions; ++pass)
    launch(*kernels[pass].k, out.data, column_table.data, column_groups, 8 * p.fact0, 4 * n * e);

  q.memcpy(host.data(), out.data, host.size() * sizeof(value)).wait();
  std::vector<qez_test::cld> got(count);
  for (std::int64_t i = 0; i < points; ++i) got[size_t(i)] = qez_test::cld(host[size_t(i)].real(), host[size_t(i)].imag());
  const std::vector<std::int64_t> lengths(size_t(s.dimensions), n);
  std::vector<qez_test::cld> reference = qez_test::reference_c2c(
      x, lengths, s.batch, forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
  for (qez_test::cld& r : reference) r *= static_cast<long double>(scale);
  *error = qez_test::measure(got, reference);
  return qez_test::bounds_for<T>(v.batch_dist);
}

// Precision, shape, direction.
using fused_case = std::tuple<bool, fused_shape, bool>;
class fused_program : public ::testing::TestWithParam<fused_case> {};

TEST_P(fused_program, line_kernels_transform_batches) {
  const auto [dp, shape, forward] = GetParam();
  qez_test::accuracy error;
  const qez_test::accuracy_bounds bounds =
      dp ? run_fused<double>(shape, forward, 0.5, &error) : run_fused<float>(shape, forward, 0.5, &error);
  EXPECT_TRUE(qez_test::within(error, bounds)) << qez_test::describe(error, bounds);
}

std::string fused_case_name(const ::testing::TestParamInfo<fused_case>& info) {
  const auto& [dp, shape, forward] = info.param;
  return std::string(dp ? "double_" : "single_") + std::to_string(shape.n) + (shape.dimensions == 3 ? "_cube" : "") +
         (forward ? "_forward" : "_backward");
}

// The squares the 2D main backend takes, in batches of two.
INSTANTIATE_TEST_SUITE_P(sizes, fused_program,
                         ::testing::Values(fused_case{true, {128, 2, 2}, true}, fused_case{true, {192, 2, 2}, false},
                                           fused_case{false, {192, 2, 2}, true}, fused_case{false, {128, 2, 2}, false}),
                         fused_case_name);

// Small shapes that reach every kernel of the program, with the roads of
// the 3D backend's 135 = 15 x 9: padded factors, a tail block of fewer than
// four columns, the depth kernel. 10 = 5 x 2 and 15 = 5 x 3 also loop twice
// over their row groups; 12 = 4 x 3 pads only the second factor and has no
// tail.
INSTANTIATE_TEST_SUITE_P(small, fused_program,
                         ::testing::Values(fused_case{true, {10, 3, 1}, true}, fused_case{false, {9, 3, 1}, false},
                                           fused_case{false, {15, 2, 2}, true}, fused_case{true, {12, 2, 2}, false}),
                         fused_case_name);

}  // namespace
}  // namespace md_3d_test
