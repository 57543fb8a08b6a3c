// The descriptor class: the four instantiations, construction and its
// refusals, move construction and assignment, the moved-from refusal, and
// destruction of a descriptor whose CPU copy is freed by a host task.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/api/descriptor_node.hpp"
#include "dft/api/descriptor_state.hpp"
#include "qez_service.h"
#include "qez_service_control.h"
#include "ulmara/qez/dft.hpp"

namespace {

namespace dft = ulmara::qez::dft;
using dft::domain;
using dft::precision;

template <class D>
class DescriptorClass : public ::testing::Test {};

template <precision P, domain D>
struct kind {
  using type = dft::descriptor<P, D>;
  static constexpr std::uint32_t precision_code = static_cast<std::uint32_t>(P);
  static constexpr std::uint32_t domain_code = static_cast<std::uint32_t>(D);
};
using kinds = ::testing::Types<kind<precision::SINGLE, domain::COMPLEX>,
                               kind<precision::SINGLE, domain::REAL>,
                               kind<precision::DOUBLE, domain::COMPLEX>,
                               kind<precision::DOUBLE, domain::REAL>>;
TYPED_TEST_SUITE(DescriptorClass, kinds);

TYPED_TEST(DescriptorClass, OneLengthAndVectorBuildTheSameRecord) {
  typename TypeParam::type a(std::int64_t{64});
  typename TypeParam::type b(std::vector<std::int64_t>{64});
  const DFTI_DESCRIPTOR* ra = dft::descriptor_access::record(a);
  const DFTI_DESCRIPTOR* rb = dft::descriptor_access::record(b);
  ASSERT_NE(ra, nullptr);
  ASSERT_NE(rb, nullptr);
  EXPECT_EQ(ra->precision, TypeParam::precision_code);
  EXPECT_EQ(ra->domain, TypeParam::domain_code);
  EXPECT_EQ(ra->precision, rb->precision);
  EXPECT_EQ(ra->lengths.count, rb->lengths.count);
  EXPECT_EQ(ra->lengths.records[0].length, 64);
  EXPECT_EQ(rb->lengths.records[0].length, 64);
  EXPECT_EQ(ra->lengths.records[0].forward, rb->lengths.records[0].forward);
  EXPECT_EQ(ra->commit_status, 31u);
}

TYPED_TEST(DescriptorClass, ConstructionFailuresAreTheRightExceptions) {
  using D = typename TypeParam::type;
  try {
    D d(std::vector<std::int64_t>{});
    FAIL() << "no exception";
  } catch (const ulmara::qez::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "ulmara::qez::dft::descriptor constructor: invalid argument: the "
                           "dimension must be at least 1.");
  }
  try {
    D d(std::vector<std::int64_t>{2, 2, 2, 2});
    FAIL() << "no exception";
  } catch (const ulmara::qez::unimplemented& e) {
    EXPECT_STREQ(e.what(), "ulmara::qez::dft::descriptor constructor: unimplemented "
                           "functionality: dimension larger than 3 is not implemented.");
  }
  EXPECT_THROW(D d(std::int64_t{0}), dft::invalid_descriptor_exception)
      << "the engine refuses a length of 0 with status 2";
}

TYPED_TEST(DescriptorClass, MoveConstructionLeavesTheSourceRefusingUse) {
  using D = typename TypeParam::type;
  D a(std::vector<std::int64_t>{8, 16});
  const DFTI_DESCRIPTOR* record = dft::descriptor_access::record(a);
  D b(std::move(a));
  EXPECT_EQ(dft::descriptor_access::record(b), record);
  EXPECT_EQ(dft::descriptor_access::record(a), nullptr);
  try {
    dft::ensure_initialized(dft::descriptor_access::record(a), "commit");
    FAIL() << "no exception";
  } catch (const ulmara::qez::uninitialized& e) {
    EXPECT_STREQ(e.what(), "ulmara::qez::dft::commit: uninitialized object: This moved-from "
                           "descriptor must be re-assigned before reuse.");
  }
}

TYPED_TEST(DescriptorClass, MoveAssignmentExchanges) {
  using D = typename TypeParam::type;
  D a(std::int64_t{8});
  D b(std::int64_t{32});
  const DFTI_DESCRIPTOR* ra = dft::descriptor_access::record(a);
  const DFTI_DESCRIPTOR* rb = dft::descriptor_access::record(b);
  b = std::move(a);
  EXPECT_EQ(dft::descriptor_access::record(b), ra);
  EXPECT_EQ(dft::descriptor_access::record(a), rb) << "a holds b's former record";
  b = std::move(b);
  EXPECT_EQ(dft::descriptor_access::record(b), ra) << "self-assignment changes nothing";
  D moved_from(std::move(a));
  a = std::move(moved_from);
  EXPECT_EQ(dft::descriptor_access::record(a), rb) << "assignment revives a moved-from object";
}

TEST(DescriptorDestruction, FreesEverythingItOwns) {
  const long before = qez_standin_live_allocations();
  {
    dft::descriptor<precision::DOUBLE, domain::COMPLEX> d(std::vector<std::int64_t>{4, 4, 4});
    dft::descriptor<precision::DOUBLE, domain::COMPLEX> e(std::move(d));
  }
  EXPECT_EQ(qez_standin_live_allocations(), before);
}

TEST(DescriptorDestruction, CpuCopyIsFreedByAHostTaskBeforeTheDestructorReturns) {
  const long before = qez_standin_live_allocations();
  {
    dft::descriptor<precision::SINGLE, domain::REAL> d(std::int64_t{16});
    // Put a CPU-committed copy in the slot and a CPU queue in the record, as
    // a commit to a CPU device leaves them.
    auto* holder = static_cast<dft::SYCL_DFTI_DESCRIPTOR*>(qez_serv_malloc(8, 64));
    holder->record = nullptr;
    const std::int64_t length = 16;
    ASSERT_EQ(dft::create_descriptor_node(&holder->record, 35, 33, 1, &length), 0);
    {
      sycl::host_accessor slot(dft::descriptor_access::slot_buffer(d), sycl::read_write);
      slot[0] = holder;
    }
    dft::descriptor_access::record(d)->queue = new sycl::queue(sycl::cpu_selector_v);
  }
  EXPECT_EQ(qez_standin_live_allocations(), before);
}

}  // namespace
