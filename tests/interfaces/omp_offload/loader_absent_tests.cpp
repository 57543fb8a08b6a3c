// A process without the OpenMP offload runtime: the loader fails once and
// for good, the commit reports it, and a call-through ends the process.
#include <gtest/gtest.h>

#include <unistd.h>

#include "interfaces/omp_offload/omptarget_loader.hpp"
#include "tests/interfaces/omp_offload/offload_test_support.hpp"

namespace {

namespace omp = ulmara::qez::omp;
using namespace qez_offload_test;

void* const some_interop = reinterpret_cast<void*>(std::uintptr_t{0x1230});

TEST(OmpRuntimeAbsent, LoadFailsAndIsNotTriedAgain) {
  EXPECT_EQ(omp::load_omptarget_library(), -1);
  EXPECT_EQ(omp::omptarget_load_attempts(), 1);
  EXPECT_EQ(omp::load_omptarget_library(), -1);
  EXPECT_EQ(omp::omptarget_load_attempts(), 1);
}

TEST(OmpRuntimeAbsent, CommitReturns83WithTheLoadMessage) {
  descriptor_owner d;
  make_complex_1d<float>(d, 16, true);
  const std::uint32_t mode_before = d->offload_mode;
  std::string printed;
  EXPECT_EQ(with_stderr([&] { return qez_DftiCommitDescriptor_omp_offload(d.get(), some_interop); },
                        &printed),
            83);
  EXPECT_EQ(printed, offload_line(commit_name, load_message));
  EXPECT_EQ(d->offload_mode, mode_before);
  EXPECT_EQ(d->queue, nullptr);
}

// Each call-through prints the service layer's missing-symbol message with
// its quoted name and ends the process with code 2.
struct call_through_case {
  const char* quoted_name;
  void (*call)();
};
const call_through_case call_through_cases[] = {
    {"'omp_get_interop_int'", [] { int rc = 0; omp::omp_get_interop_int(some_interop, -1, &rc); }},
    {"'omp_get_interop_ptr'", [] { int rc = 0; omp::omp_get_interop_ptr(some_interop, -9, &rc); }},
    {"'omp_get_interop_str'", [] { int rc = 0; omp::omp_get_interop_str(some_interop, -1, &rc); }},
    {"'ompx_interop_add_completion_callback'",
     [] { omp::ompx_interop_add_completion_callback(some_interop, nullptr, nullptr); }},
};

void PrintTo(const call_through_case& c, std::ostream* out) { *out << c.quoted_name; }

class OmpRuntimeAbsentCallThrough : public testing::TestWithParam<call_through_case> {};

TEST_P(OmpRuntimeAbsentCallThrough, EndsTheProcessWithCode2) {
  const call_through_case c = GetParam();
  // The service layer prints on standard output; the death test reads
  // standard error.
  EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), c.call()), testing::ExitedWithCode(2),
              std::string("Cannot load symbol ") + c.quoted_name);
}

INSTANTIATE_TEST_SUITE_P(EveryFunction, OmpRuntimeAbsentCallThrough, testing::ValuesIn(call_through_cases),
                         [](const testing::TestParamInfo<call_through_case>& info) {
                           return std::to_string(info.index);
                         });

}  // namespace
