// A runtime that exports omp_get_interop_int and omp_get_interop_ptr but not
// omp_get_interop_str: the load counts as failed, the functions found before
// the missing one still call through, and those after it stay unbound.
#include <gtest/gtest.h>

#include <unistd.h>

#include "interfaces/omp_offload/omptarget_loader.hpp"
#include "tests/interfaces/omp_offload/interop_owner.hpp"
#include "tests/interfaces/omp_offload/offload_test_support.hpp"

namespace {

namespace omp = ulmara::qez::omp;
using namespace qez_offload_test;

int queue_object;  // stands for the targetsync object; never used as a queue here

TEST(OmpRuntimePartial, LoadFails) {
  EXPECT_EQ(omp::load_omptarget_library(), -1);
  EXPECT_EQ(omp::load_omptarget_library(), -1);
  EXPECT_EQ(omp::omptarget_load_attempts(), 1);
}

TEST(OmpRuntimePartial, FunctionsBeforeTheMissingOneCallThrough) {
  EXPECT_EQ(omp::load_omptarget_library(), -1);
  interop_owner interop(qez_omp_double_interop_with(4, &queue_object, nullptr, nullptr));
  int rc = -1;
  EXPECT_EQ(omp::omp_get_interop_int(interop.get(), omp::omp_ipr_fr_id, &rc), 4);
  EXPECT_EQ(rc, 0);
  rc = -1;
  EXPECT_EQ(omp::omp_get_interop_ptr(interop.get(), omp::omp_ipr_targetsync, &rc), &queue_object);
  EXPECT_EQ(rc, 0);
}

TEST(OmpRuntimePartial, MissingFunctionEndsTheProcess) {
  EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO),
               omp::omp_get_interop_str(nullptr, omp::omp_ipr_fr_id, nullptr)),
              testing::ExitedWithCode(2), "Cannot load symbol 'omp_get_interop_str'");
}

// The runtime exports it, but resolution stopped before it.
TEST(OmpRuntimePartial, FunctionAfterTheMissingOneStaysUnbound) {
  EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO),
               omp::ompx_interop_add_completion_callback(nullptr, nullptr, nullptr)),
              testing::ExitedWithCode(2), "Cannot load symbol 'ompx_interop_add_completion_callback'");
}

TEST(OmpRuntimePartial, CommitReturns83WithTheLoadMessage) {
  descriptor_owner d;
  make_complex_1d<double>(d, 8, false);
  interop_owner interop(qez_omp_double_interop_with(4, &queue_object, nullptr, nullptr));
  std::string printed;
  EXPECT_EQ(with_stderr([&] { return qez_DftiCommitDescriptor_omp_offload(d.get(), interop.get()); },
                        &printed),
            83);
  EXPECT_EQ(printed, offload_line(commit_name, load_message));
  EXPECT_EQ(qez_omp_double_query_count(omp::omp_ipr_fr_id), 0);
}

}  // namespace
