// The real 1D backend on records committed through the method table: its
// twiddle table against a long-double host computation, the backend protocol's
// statuses, the layout it declines, the kernels a one-direction plan builds,
// and the group plan of a batch below the temp cap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/backends/real_small_md/r2c_1d/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "tests/backends/r2c_1d/real_case.hpp"

namespace r2c_1d_test {
namespace {

namespace r1 = ulmara::qez::dft::r2c_1d;

// A real rank-1 record bound to the real list, on the test queue (not
// owned), not yet committed.
class record_holder {
 public:
  record_holder(precision p, std::int64_t n, std::int64_t batch, bool internal_workspace) {
    const int created = p == precision::double_precision ? qd::create_child_descriptor_r2c_1d_double(&r_, n, nullptr)
                                                         : qd::create_child_descriptor_r2c_1d_float(&r_, n, nullptr);
    EXPECT_EQ(created, 0);
    r_->queue = &test_queue();
    r_->placement = qd::dfti_not_inplace;
    r_->workspace_internal = internal_workspace ? 1 : 0;
    EXPECT_EQ(r_->methods->set_number_of_transforms(r_, batch), 0);
    EXPECT_EQ(r_->methods->set_forward_distance(r_, n), 0);
    EXPECT_EQ(r_->methods->set_backward_distance(r_, n / 2 + 1), 0);
  }
  ~record_holder() {
    if (r_ != nullptr) r_->free(r_, r_);
  }
  record_holder(const record_holder&) = delete;
  record_holder& operator=(const record_holder&) = delete;
  DFTI_DESCRIPTOR* get() const { return r_; }
  int commit() const { return r_->methods->commit(r_); }
  r1::block& plan() const { return *static_cast<r1::block*>(r_->bkd_data); }

 private:
  DFTI_DESCRIPTOR* r_ = nullptr;
};

template <class T>
void expect_table_matches_host(const std::vector<T>& table, std::int64_t n) {
  const long double pi = 3.141592653589793238462643383279502884L;
  // The angle k/(N/2) is rounded to T first: one unit of T on top of the
  // rounding of the value.
  const long double tolerance = 2 * std::numeric_limits<T>::epsilon();
  ASSERT_EQ(table.size(), static_cast<size_t>(n));
  for (std::int64_t k = 0; k < n / 2; ++k) {
    const long double angle = 2 * pi * k / n;
    EXPECT_NEAR(table[2 * k], std::cos(angle), tolerance) << "k " << k;
    EXPECT_NEAR(table[2 * k + 1], std::sin(angle), tolerance) << "k " << k;
  }
}

TEST(RealRecord, TwiddleTableInInternalWorkspaceEqualsHost) {
  constexpr std::int64_t n = 96;
  record_holder r(precision::double_precision, n, 2, true);
  ASSERT_EQ(r.commit(), 0);
  ASSERT_TRUE(accepted_by_real_1d(r.get(), precision::double_precision));
  const r1::block& b = r.plan();
  ASSERT_NE(b.twiddle_pointer, nullptr);
  std::vector<double> table(n);
  test_queue().wait();  // commit only submits the table upload
  test_queue().memcpy(table.data(), b.twiddle_pointer, n * sizeof(double)).wait();
  expect_table_matches_host(table, n);
}

TEST(RealRecord, TwiddleTableInCallerBufferEqualsHost) {
  constexpr std::int64_t n = 250;
  record_holder r(precision::single_precision, n, 1, false);
  ASSERT_EQ(r.commit(), 0);
  const std::uint64_t bytes = r.get()->workspace_bytes[0] + r.get()->workspace_bytes[1];
  qd::byte_buffer workspace{sycl::range<1>(bytes)};
  ASSERT_EQ(r.get()->methods->set_workspace(r.get(), &workspace, qd::container_buffer), 0);
  const r1::block& b = r.plan();
  ASSERT_TRUE(b.twiddle_slice);
  std::vector<float> table(n);
  {
    sycl::host_accessor<char, 1> a(*b.twiddle_slice);
    std::memcpy(table.data(), &a[0], n * sizeof(float));
  }
  expect_table_matches_host(table, n);
}

TEST(RealRecord, GroupPlanBelowTheCapIsOneGroup) {
  record_holder r(precision::double_precision, 63, 5, false);
  ASSERT_EQ(r.commit(), 0);
  const r1::block& b = r.plan();
  EXPECT_EQ(b.child_length, 63);
  EXPECT_EQ(b.group_batch, 5);
  EXPECT_EQ(b.remainder_batch, 0);
  EXPECT_FALSE(b.children[r1::child_remainder]);
  EXPECT_EQ(b.twiddle_size, 0u);
  // The main child runs three complex rows (the last one half empty).
  EXPECT_EQ(b.children[r1::child_main]->batch.records[0].length, 3);
  char name[11] = {};
  std::memcpy(name, b.children[r1::child_main]->name, 10);
  EXPECT_STREQ(name, "1D_R2C|c");
}

TEST(RealRecord, FreeOnAnotherBackendsRecordIsInternalError) {
  record_holder r(precision::double_precision, 64, 1, true);
  ASSERT_EQ(r.commit(), 0);
  const qd::backend_table& other = qd::dft_r2c_1d_main_gpu_bkd_table_float;
  EXPECT_EQ(other.bkd_free(&other, r.get()), 7);
  EXPECT_EQ(r.get()->commit_status, qd::dfti_committed);
  EXPECT_NE(r.get()->bkd_data, nullptr);
}

TEST(RealRecord, DeclinesWithoutTouchingTheRecord) {
  const qd::backend_table& mine = qd::dft_r2c_1d_main_gpu_bkd_table_double;
  struct change {
    const char* what;
    void (*apply)(DFTI_DESCRIPTOR*);
  };
  const change changes[] = {
      {"restriction word", [](DFTI_DESCRIPTOR* r) { r->fused_twiddle_length = 1; }},
      {"input offset", [](DFTI_DESCRIPTOR* r) { r->in_offset = 1; }},
      {"backward offset", [](DFTI_DESCRIPTOR* r) { r->bwd_offset = 2; }},
      {"packed format", [](DFTI_DESCRIPTOR* r) { r->packed_format = qd::dfti_ccs_format; }},
      {"complex domain", [](DFTI_DESCRIPTOR* r) { r->domain = qd::dfti_complex; }},
      {"two batch records", [](DFTI_DESCRIPTOR* r) { r->work_batch.count = 2; }},
  };
  for (const change& c : changes) {
    record_holder r(precision::double_precision, 64, 1, true);
    c.apply(r.get());
    EXPECT_EQ(mine.bkd_commit(&mine, r.get()), 100) << c.what;
    EXPECT_EQ(r.get()->backend, nullptr) << c.what;
    EXPECT_EQ(r.get()->bkd_data, nullptr) << c.what;
    r.get()->work_batch.count = 1;
  }
}

TEST(RealRecord, BackwardOnlyPlanBuildsNoForwardKernels) {
  record_holder r(precision::single_precision, 64, 2, true);
  r.get()->directions = qd::directions_backward;
  ASSERT_EQ(r.commit(), 0);
  const r1::block& b = r.plan();
  EXPECT_FALSE(b.kernels[r1::kernel_r2c]);
  EXPECT_FALSE(b.kernels[r1::kernel_fwd_input_copy]);
  EXPECT_FALSE(b.kernels[r1::kernel_fwd_output_copy]);
  EXPECT_FALSE(b.kernels[r1::kernel_bwd_input_copy]);  // even N
  EXPECT_TRUE(b.kernels[r1::kernel_c2r]);
  EXPECT_TRUE(b.kernels[r1::kernel_bwd_output_copy]);
  // A forward call on it is refused, not run without kernels.
  float* data = sycl::malloc_device<float>(2 * 66, test_queue());
  std::uint64_t kind = qd::container_usm;
  std::vector<sycl::event> dependencies;
  EXPECT_EQ(r.get()->compute_fwd(r.get(), data, data, &dependencies, &kind, nullptr), 2);
  sycl::free(data, test_queue());
}

TEST(RealRecord, ComputeWithoutWorkspaceStatuses) {
  float* data = sycl::malloc_device<float>(4 * 66, test_queue());
  std::uint64_t kind = qd::container_usm;
  std::vector<sycl::event> dependencies;
  {
    // User workspace mode, no workspace handed over: 11.
    record_holder r(precision::single_precision, 64, 2, false);
    ASSERT_EQ(r.commit(), 0);
    EXPECT_EQ(r.get()->compute_fwd(r.get(), data, data + 2 * 66, &dependencies, &kind, nullptr), 11);
  }
  {
    // Internal workspace mode with the internal area gone: 5.
    record_holder r(precision::single_precision, 64, 2, true);
    ASSERT_EQ(r.commit(), 0);
    r.plan().internal_scratch.reset();
    EXPECT_EQ(r.get()->compute_bwd(r.get(), data, data + 2 * 66, &dependencies, &kind, nullptr), 5);
  }
  sycl::free(data, test_queue());
  // No private block: 2.
  record_holder r(precision::single_precision, 64, 2, false);
  const qd::backend_table& mine = qd::dft_r2c_1d_main_gpu_bkd_table_float;
  EXPECT_EQ(mine.add_workspace(nullptr, 2, 0, r.get(), 2, nullptr), 2);
}

// Slices of a buffer workspace are sub-buffers: a workspace that is itself
// a sub-buffer, or one too small for the plan, is refused with a
// sycl::exception (the child plan's slices come first and may be the ones
// that refuse).
TEST(RealRecord, SubBufferOrShortWorkspaceIsRefused) {
  record_holder r(precision::double_precision, 64, 1, false);
  ASSERT_EQ(r.commit(), 0);
  const std::uint64_t bytes = r.get()->workspace_bytes[0] + r.get()->workspace_bytes[1];
  qd::byte_buffer parent{sycl::range<1>(2 * bytes)};
  qd::byte_buffer view(parent, sycl::id<1>(0), sycl::range<1>(bytes));
  EXPECT_THROW(r.get()->methods->set_workspace(r.get(), &view, qd::container_buffer), sycl::exception);
  qd::byte_buffer small{sycl::range<1>(bytes / 2)};
  EXPECT_THROW(r.get()->methods->set_workspace(r.get(), &small, qd::container_buffer), sycl::exception);
}

// A complex child that fails every compute, as one whose device work
// cannot be submitted would.
int failing_child_compute(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) {
  return qd::status_internal_error;
}

// When the complex child fails, its status comes back and the output stage
// does not run: the caller's output keeps what it held.
TEST(RealRecord, FailingChildLeavesTheOutputAlone) {
  constexpr std::int64_t n = 64, batch = 2;
  record_holder r(precision::double_precision, n, batch, true);
  ASSERT_EQ(r.commit(), 0);
  ASSERT_TRUE(accepted_by_real_1d(r.get(), precision::double_precision));
  DFTI_DESCRIPTOR* child = r.plan().children[r1::child_main].get();
  ASSERT_NE(child, nullptr);
  child->compute_fwd = failing_child_compute;

  sycl::queue& q = test_queue();
  const std::int64_t reals = n * batch, complex_values = 2 * (n / 2 + 1) * batch;
  double* in = sycl::malloc_shared<double>(reals, q);
  double* out = sycl::malloc_shared<double>(complex_values, q);
  for (std::int64_t k = 0; k < reals; ++k) in[k] = std::sin(0.3 * static_cast<double>(k));
  constexpr double guard = -12345.0;
  std::fill(out, out + complex_values, guard);
  std::uint64_t kind = qd::container_usm;
  std::vector<sycl::event> dependencies;
  EXPECT_EQ(r.get()->compute_fwd(r.get(), in, out, &dependencies, &kind, nullptr), qd::status_internal_error);
  q.wait();
  std::int64_t written = 0;
  for (std::int64_t k = 0; k < complex_values; ++k) written += out[k] != guard;
  EXPECT_EQ(written, 0);
  sycl::free(in, q);
  sycl::free(out, q);
}

// Strided batches are tested for overlap like packed ones: lines two reals
// apart with transforms 8 apart share every other real and are declined;
// the same stride with transforms 1 apart interleaves them and is taken.
TEST(RealRecord, OverlappingStridedBatchesAreDeclined) {
  struct layout {
    std::int64_t real_stride, real_distance, complex_stride, complex_distance;
    bool taken;
  };
  const layout layouts[] = {{2, 8, 1, 5, false}, {1, 8, 2, 4, false}, {2, 1, 2, 1, true}, {1, 8, 1, 5, true}};
  for (const layout& l : layouts) {
    record_holder r(precision::double_precision, 8, 2, true);
    const std::int64_t real_strides[2] = {0, l.real_stride}, complex_strides[2] = {0, l.complex_stride};
    ASSERT_EQ(r.get()->methods->set_forward_strides(r.get(), real_strides), 0);
    ASSERT_EQ(r.get()->methods->set_backward_strides(r.get(), complex_strides), 0);
    ASSERT_EQ(r.get()->methods->set_forward_distance(r.get(), l.real_distance), 0);
    ASSERT_EQ(r.get()->methods->set_backward_distance(r.get(), l.complex_distance), 0);
    const int status = r.commit();
    const std::string what = "strides " + std::to_string(l.real_stride) + "/" + std::to_string(l.complex_stride) +
                             ", distances " + std::to_string(l.real_distance) + "/" +
                             std::to_string(l.complex_distance);
    if (l.taken) {
      EXPECT_EQ(status, 0) << what;
      EXPECT_TRUE(accepted_by_real_1d(r.get(), precision::double_precision)) << what;
    } else {
      EXPECT_NE(r.get()->commit_status, qd::dfti_committed) << what;
      EXPECT_FALSE(status == 0 && accepted_by_real_1d(r.get(), precision::double_precision)) << what;
    }
  }
}

// Out of place with unit strides, batch 2, N = 8: a complex distance of 4
// would put value 4 of the first transform on value 0 of the second, so the
// backend wants N/2+1 = 5; nothing else takes the record and the commit
// reaches the caller as an exception.
TEST(RealPublicApiLayout, ComplexDistanceBelowHalfPlusOneIsRefused) {
  qd::descriptor<qd::precision::DOUBLE, qd::domain::REAL> refused(8);
  refused.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  refused.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, std::int64_t{2});
  refused.set_value(qd::config_param::FWD_DISTANCE, std::int64_t{8});
  refused.set_value(qd::config_param::BWD_DISTANCE, std::int64_t{4});
  EXPECT_THROW(refused.commit(test_queue()), std::exception);
  EXPECT_NE(qd::descriptor_access::record(refused)->commit_status, qd::dfti_committed);

  qd::descriptor<qd::precision::DOUBLE, qd::domain::REAL> taken(8);
  taken.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  taken.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, std::int64_t{2});
  taken.set_value(qd::config_param::FWD_DISTANCE, std::int64_t{8});
  taken.set_value(qd::config_param::BWD_DISTANCE, std::int64_t{5});
  taken.commit(test_queue());
  EXPECT_TRUE(accepted_by_real_1d(qd::descriptor_access::record(taken), precision::double_precision));
}

}  // namespace
}  // namespace r2c_1d_test
