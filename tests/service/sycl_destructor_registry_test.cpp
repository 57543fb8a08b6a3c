// SYCL destructor registry. The table is process-wide and never shrinks, so
// every scenario runs in a child process of its own (the parent registers
// nothing); the child reports through its exit code and standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gpu/service/sycl_destructor_registry.hpp"
#include "tests/service/death_output.hpp"

using namespace ulmara::qez::gpu;

namespace {

std::string ran;
void first() { ran += "first "; }
void second() { ran += "second "; }
void third() { ran += "third "; }
void say_first() { std::fputs("callback first\n", stderr); }
void say_second() { std::fputs("callback second\n", stderr); }
void say_third() { std::fputs("callback third\n", stderr); }
void quiet() {}

// Runs `scenario` in a child; the child exits 0 when it returns true.
#define EXPECT_SCENARIO(scenario) \
  EXPECT_EXIT(std::_Exit((scenario)() ? 0 : 1), ::testing::ExitedWithCode(0), "")

TEST(SyclDestructorRegistryDeathTest, DirectRunsCallLatestFirstEveryTime) {
  EXPECT_SCENARIO([] {
    register_sycl_destructor(first);
    register_sycl_destructor(second);
    register_sycl_destructor_unlocked(third);
    qez_sycl_destructor();
    const bool once = ran == "third second first ";
    qez_sycl_destructor_local();
    return once && ran == "third second first third second first ";
  });
}

TEST(SyclDestructorRegistryDeathTest, RunningAnEmptyTableDoesNothingAndReleasesTheLock) {
  EXPECT_SCENARIO([] {
    qez_sycl_destructor();
    qez_sycl_destructor();
    register_sycl_destructor(first);  // would spin forever on a held lock
    return ran.empty() && registered_sycl_destructor_count() == 1;
  });
}

TEST(SyclDestructorRegistryDeathTest, NullAndRepeatedCallbacksAreStoredAsGiven) {
  EXPECT_SCENARIO([] {
    register_sycl_destructor(first);
    register_sycl_destructor(nullptr);
    register_sycl_destructor(first);
    qez_sycl_destructor();
    return ran == "first first " && registered_sycl_destructor_count() == 3;
  });
}

// Shutdown: the core library runs qez_sycl_destructor once, however many
// registrations were made.
TEST(SyclDestructorRegistryDeathTest, CallbacksRunOnceAtShutdownLatestFirst) {
  EXPECT_EXIT(
      {
        register_sycl_destructor(say_first);
        register_sycl_destructor(say_second);
        register_sycl_destructor(say_third);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^callback third\ncallback second\ncallback first\n$");
}

TEST(SyclDestructorRegistryDeathTest, ThirtyTwoFitAndTheThirtyThirdEndsTheProcess) {
  EXPECT_EXIT(
      {
        qez_test::route_stdout_to_stderr();
        for (int i = 0; i < 31; ++i) register_sycl_destructor(quiet);
        register_sycl_destructor(say_first);
        std::fprintf(stderr, "registered %d\n", registered_sycl_destructor_count());
        register_sycl_destructor(quiet);
        std::fputs("survived\n", stderr);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1),
      "^registered 32\nQEZ ERROR: Too many SYCL destructors registered.\ncallback first\n$");
}

}  // namespace
