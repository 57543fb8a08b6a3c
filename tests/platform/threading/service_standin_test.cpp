#include "qez_service.h"
#include "qez_service_control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string captured() {
  std::vector<char> text(qez_standin_captured_output(nullptr, 0) + 1);
  qez_standin_captured_output(text.data(), text.size());
  return std::string(text.data());
}

class CapturedOutput : public ::testing::Test {
protected:
  void SetUp() override {
    qez_standin_clear_captured_output();
    qez_standin_capture_output(1);
  }
  void TearDown() override {
    qez_standin_capture_output(0);
    qez_standin_clear_captured_output();
    qez_standin_set_verbose_mode(0);
    qez_standin_set_verbose_output_file("");
  }
};

// --- memory ------------------------------------------------------------------

class Alignment : public ::testing::TestWithParam<int> {};

TEST_P(Alignment, BlocksAreAlignedAndUsable) {
  const int alignment = GetParam();
  std::vector<void*> blocks;
  for (std::size_t size : {1u, 7u, 64u, 1000u, 65536u}) {
    void* block = qez_serv_malloc(size, alignment);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u) << size;
    std::memset(block, 0xab, size);
    blocks.push_back(block);
  }
  for (void* block : blocks) qez_serv_free(block);
}

INSTANTIATE_TEST_SUITE_P(ServiceMalloc, Alignment, ::testing::Values(16, 64, 128, 4096));

TEST(ServiceMemory, CallocZeroesAndChecksOverflow) {
  auto* block = static_cast<unsigned char*>(qez_serv_calloc(1021, 8, 128));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 128, 0u);
  for (int i = 0; i < 1021 * 8; ++i) ASSERT_EQ(block[i], 0) << i;
  qez_serv_free(block);
  EXPECT_EQ(qez_serv_calloc(SIZE_MAX / 2, 4, 64), nullptr);
}

TEST(ServiceMemory, ReallocKeepsContentsAndAlignment) {
  auto* block = static_cast<unsigned char*>(qez_serv_malloc(100, 128));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; ++i) block[i] = static_cast<unsigned char>(i);
  auto* grown = static_cast<unsigned char*>(qez_serv_realloc(block, 100000));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(grown) % 128, 0u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(grown[i], i);
  auto* shrunk = static_cast<unsigned char*>(qez_serv_realloc(grown, 10));
  ASSERT_NE(shrunk, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(shrunk) % 128, 0u);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(shrunk[i], i);
  qez_serv_free(shrunk);
  qez_serv_free(nullptr);  // harmless
}

TEST(ServiceMemory, InjectedFailuresHitExactlyTheChosenAllocations) {
  const long live = qez_standin_live_allocations();
  qez_standin_fail_allocations(2, 1);
  void* a = qez_serv_malloc(8, 64);
  void* b = qez_serv_calloc(1, 8, 64);
  void* c = qez_serv_malloc(8, 64);
  void* d = qez_serv_allocate(8, 64, nullptr);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(qez_standin_live_allocations(), live + 3);
  // A failed realloc leaves the old block valid.
  qez_standin_fail_allocations(0, 1);
  EXPECT_EQ(qez_serv_realloc(a, 4096), nullptr);
  static_cast<char*>(a)[0] = 1;
  qez_serv_free(a);
  qez_serv_free(b);
  qez_serv_deallocate(d);
  EXPECT_EQ(qez_standin_live_allocations(), live);
  qez_standin_fail_allocations(0, 0);
}

TEST(ServiceMemory, CacheSizesAreNonNegative) {
  EXPECT_GE(qez_serv_get_cache_size(1), 0);
  EXPECT_GE(qez_serv_get_cache_size(2), 0);
  EXPECT_EQ(qez_serv_get_cache_size(99), 0);
}

// --- lock ------------------------------------------------------------------

TEST(ServiceLock, MutualExclusionUnderContention) {
  static volatile std::uint32_t lock_word = 0;
  // A non-atomic read-modify-write that loses updates unless the lock holds.
  static volatile long counter = 0;
  constexpr int threads = 8, rounds = 20000;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([] {
      for (int i = 0; i < rounds; ++i) {
        qez_serv_lock(&lock_word);
        long value = counter;
        if ((i & 63) == 0) std::this_thread::yield();
        counter = value + 1;
        qez_serv_unlock(&lock_word);
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(counter, static_cast<long>(threads) * rounds);
  EXPECT_EQ(lock_word, 0u);
}

// --- printing --------------------------------------------------------------

TEST_F(CapturedOutput, MissingEntryPointMessageQuotesTheName) {
  qez_serv_print(0, QEZ_SERV_MSG_MISSING_ENTRY_POINT, 1, "'clBuildProgram'");
  EXPECT_NE(captured().find("'clBuildProgram'"), std::string::npos) << captured();
}

TEST_F(CapturedOutput, DestructorTableFullMessage) {
  qez_serv_print(0, QEZ_SERV_MSG_DESTRUCTOR_TABLE_FULL, 0);
  EXPECT_FALSE(captured().empty());
}

TEST_F(CapturedOutput, FormatPrintTakesStringArguments) {
  qez_serv_format_print(0, "QEZ_VERBOSE %s %s\n", 2, "FFT(dcfi64)", "host:1.00us");
  EXPECT_EQ(captured(), "QEZ_VERBOSE FFT(dcfi64) host:1.00us\n");
}

TEST_F(CapturedOutput, VerboseInfoOnlyWhenVerboseIsOn) {
  qez_standin_set_verbose_mode(0);
  qez_serv_print_verbose_info(0, "FFT(scfi8)", 0.0015);
  EXPECT_EQ(captured(), "");
  qez_standin_set_verbose_mode(1);
  qez_serv_print_verbose_info(0, "FFT(scfi8)", 0.0015);
  const std::string text = captured();
  EXPECT_NE(text.find("QEZ_VERBOSE FFT(scfi8) 1.50ms\n"), std::string::npos) << text;
}

TEST_F(CapturedOutput, VerboseInfoGoesToTheVerboseFile) {
  char name[] = "/tmp/qez_verbose_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  qez_standin_set_verbose_mode(1);
  qez_standin_set_verbose_output_file(name);
  EXPECT_STREQ(qez_serv_verbose_output_file_mode(), name);
  qez_serv_print_verbose_info(0, "FFT(dcfo5)", 2.5);
  std::ifstream in(name);
  std::stringstream file_text;
  file_text << in.rdbuf();
  std::remove(name);
  EXPECT_NE(file_text.str().find("QEZ_VERBOSE FFT(dcfo5) 2.50s\n"), std::string::npos);
  EXPECT_EQ(captured().find("FFT(dcfo5)"), std::string::npos);
}

TEST_F(CapturedOutput, UnwritableVerboseFileFallsBackToStandardOutputWithAWarning) {
  qez_standin_set_verbose_mode(1);
  qez_standin_set_verbose_output_file("/nonexistent-dir/verbose.log");
  qez_serv_print_verbose_info(0, "FFT(dcfo5)", 3e-7);
  const std::string text = captured();
  EXPECT_NE(text.find("unable to open output file. Print to STDOUT"), std::string::npos);
  EXPECT_NE(text.find("QEZ_VERBOSE FFT(dcfo5) 300ns\n"), std::string::npos) << text;
}

TEST(ServiceTiming, SecondsAdvance) {
  const double start = qez_serv_dsecnd();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double elapsed = qez_serv_dsecnd() - start;
  EXPECT_GE(elapsed, 0.019);
  EXPECT_LT(elapsed, 5.0);
}

}  // namespace
