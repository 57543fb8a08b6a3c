// Twiddle tables and workspace slices of the column-batch backend: table
// contents against the long-double formula (scale folded into the main
// table of its direction only), the slice layout of a caller's buffer or
// USM workspace, refused sub-buffers, and the statuses of a compute without
// its workspace.
#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/n_fact_colbatch/colbatch_case.hpp"

namespace colbatch_test {
namespace {

const dft::backend_table& double_table() { return dft::dft_c2c_2_facts_colbatch_gpu_bkd_table_double; }

// 845 = 13 x 13 x 5: a main and a sub table per direction.
record_config three_factor_config() {
  record_config c;
  c.length = 845;
  c.columns = 3;
  c.fwd_scale = 0.5;
  c.bwd_scale = 2.0;
  return c;
}

std::vector<std::complex<double>> read_table(const void* table, std::uint64_t entries) {
  std::vector<std::complex<double>> host(entries);
  backend_test::gpu_test_queue().memcpy(host.data(), table, entries * sizeof(std::complex<double>)).wait();
  return host;
}

// Largest distance of entry (i, j) of a rows x width table from
// scale * exp(-2 pi i i j / points).
double table_error(const std::vector<std::complex<double>>& t, std::int64_t rows, std::int64_t width,
                   std::int64_t points, double scale) {
  double worst = 0;
  for (std::int64_t i = 0; i < rows; ++i)
    for (std::int64_t j = 0; j < width; ++j) {
      const long double angle = -2.0L * 3.141592653589793238462643383279502884L *
                                static_cast<long double>((i * j) % points) / static_cast<long double>(points);
      const std::complex<double> want(static_cast<double>(scale * std::cos(angle)),
                                      static_cast<double>(scale * std::sin(angle)));
      worst = std::max(worst, std::abs(t[static_cast<size_t>(i * width + j)] - want));
    }
  return worst;
}

TEST(ColbatchTables, MainTablesCarryTheirScaleSubTablesNone) {
  committed_record r(three_factor_config());
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const cb::block<double>& b = r.plan<double>();
  ASSERT_EQ(b.factors[0], 13);
  ASSERT_EQ(b.factors[2], 5);
  const double eps = 4e-16;
  for (cb::direction d : {cb::dir_forward, cb::dir_backward}) {
    const double scale = d == cb::dir_forward ? 0.5 : 2.0;
    EXPECT_LE(table_error(read_table(b.main_pointers[d], 845), 65, 13, 845, scale), 4 * eps);
    EXPECT_LE(table_error(read_table(b.sub_pointers[d], 65), 5, 13, 65, 1.0), 2 * eps);
  }
  // Slices in order: forward main, backward main, forward sub, backward sub.
  const char* base = static_cast<const char*>(b.internal_workspace);
  EXPECT_EQ(static_cast<const char*>(b.main_pointers[cb::dir_forward]), base);
  EXPECT_EQ(static_cast<const char*>(b.main_pointers[cb::dir_backward]), base + b.main_slice_bytes);
  EXPECT_EQ(static_cast<const char*>(b.sub_pointers[cb::dir_forward]), base + 2 * b.main_slice_bytes);
  EXPECT_EQ(static_cast<const char*>(b.sub_pointers[cb::dir_backward]),
            base + 2 * b.main_slice_bytes + b.sub_slice_bytes);
  EXPECT_EQ(r.record()->workspace_bytes[0], 2 * (b.main_slice_bytes + b.sub_slice_bytes));
  EXPECT_GE(b.sub_slice_bytes, 65u * 16u);
}

// USM device memory that outlives the record it is given to (declare first).
struct usm_area {
  explicit usm_area(std::uint64_t bytes)
      : area(static_cast<char*>(sycl::malloc_device(bytes, backend_test::gpu_test_queue()))) {}
  ~usm_area() { sycl::free(area, backend_test::gpu_test_queue()); }
  usm_area(const usm_area&) = delete;
  usm_area& operator=(const usm_area&) = delete;
  char* area;
};

TEST(ColbatchTables, CallerWorkspaceAtAnOffsetAndItsEvents) {
  record_config c = three_factor_config();
  c.internal_workspace = false;
  const std::uint64_t offset = 256;
  usm_area workspace(1 << 20);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  ASSERT_NE(workspace.area, nullptr);
  ASSERT_LE(r.record()->workspace_bytes[0] + offset, 1u << 20);
  std::vector<sycl::event> events;
  EXPECT_EQ(double_table().add_workspace(workspace.area, 2, offset, r.record(), 2, &events), 0);
  EXPECT_EQ(events.size(), 4u);  // main and sub of both directions
  for (sycl::event& e : events) e.wait();
  const cb::block<double>& b = r.plan<double>();
  EXPECT_EQ(static_cast<char*>(b.main_pointers[cb::dir_forward]), workspace.area + offset);
  EXPECT_LE(table_error(read_table(b.main_pointers[cb::dir_backward], 845), 65, 13, 845, 2.0), 1.6e-15);
  // Mode 1 (scratch only): nothing of the tables changes.
  EXPECT_EQ(double_table().add_workspace(workspace.area, 2, 0, r.record(), 1, nullptr), 0);
  EXPECT_EQ(static_cast<char*>(b.main_pointers[cb::dir_forward]), workspace.area + offset);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, 845);
}

TEST(ColbatchTables, SubBufferWorkspacesRefused) {
  record_config c;
  c.length = 12;
  c.columns = 6;
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const std::uint64_t bytes = r.record()->workspace_bytes[0];
  sycl::buffer<char, 1> parent{sycl::range<1>(bytes * 2)};
  sycl::buffer<char, 1> view(parent, sycl::id<1>(0), sycl::range<1>(bytes));
  try {
    double_table().add_workspace(&view, 1, 0, r.record(), 2, nullptr);
    ADD_FAILURE() << "a sub-buffer workspace was taken";
  } catch (const sycl::exception& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create sub buffer from sub buffer."), std::string::npos) << e.what();
  }
  sycl::buffer<char, 1> too_small{sycl::range<1>(bytes - 16)};
  try {
    double_table().add_workspace(&too_small, 1, 0, r.record(), 2, nullptr);
    ADD_FAILURE() << "a workspace too small for the slices was taken";
  } catch (const sycl::exception& e) {
    EXPECT_NE(std::string(e.what()).find("Requested sub-buffer size exceeds the size of the parent buffer"),
              std::string::npos)
        << e.what();
  }
}

TEST(ColbatchTables, ComputeWithoutItsWorkspace) {
  record_config c;
  c.length = 12;
  c.columns = 6;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  // The library's own workspace gone: 5.
  cb::bkd_free_buffers(static_cast<cb::block<double>*>(r.record()->bkd_data), dft::workspace_part_both);
  EXPECT_EQ(run_and_measure(r, direction::forward, container::usm).status, 5);
  // No private block at all: 2.
  void* saved = r.record()->bkd_data;
  r.record()->bkd_data = nullptr;
  EXPECT_EQ(run_and_measure(r, direction::forward, container::usm).status, 2);
  EXPECT_EQ(double_table().add_workspace(nullptr, 2, 0, r.record(), 2, nullptr), 2);
  r.record()->bkd_data = saved;
}

}  // namespace
}  // namespace colbatch_test
