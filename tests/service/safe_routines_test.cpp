#include "gpu/service/safe_routines.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ulmara::qez::gpu;

namespace {

// Records the violations the routines report to their handlers.
std::vector<std::string> violations;
void record_violation(const char* message, void*, int) { violations.emplace_back(message); }

class SafeRoutines : public ::testing::Test {
protected:
  void SetUp() override {
    violations.clear();
    old_memory_ = set_memory_constraint_handler(record_violation);
    old_string_ = set_string_constraint_handler(record_violation);
  }
  void TearDown() override {
    set_memory_constraint_handler(old_memory_);
    set_string_constraint_handler(old_string_);
  }
  std::string last_violation() const { return violations.empty() ? "" : violations.back(); }

private:
  constraint_handler old_memory_ = nullptr;
  constraint_handler old_string_ = nullptr;
};

// --- memcpy ----------------------------------------------------------------

TEST_F(SafeRoutines, MemcpyCopiesAndZeroLengthTouchesNothing) {
  char dest[8] = "abcdefg";
  EXPECT_EQ(safe_memcpy(nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(safe_memcpy(dest, sizeof dest, "XYZ", 3), 0);
  EXPECT_STREQ(dest, "XYZdefg");
  EXPECT_TRUE(violations.empty());
}

TEST_F(SafeRoutines, MemcpyRefusalsInOrder) {
  char dest[4] = {1, 2, 3, 4};
  char src[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(safe_memcpy(nullptr, 4, src, 1), 400);
  EXPECT_EQ(last_violation(), "memcpy_s: dest is null");
  EXPECT_EQ(safe_memcpy(dest, 0, src, 1), 401);
  EXPECT_EQ(last_violation(), "memcpy_s: dmax is 0");
  EXPECT_EQ(safe_memcpy(dest, safe_memory_limit + 1, src, 1), 403);
  EXPECT_EQ(last_violation(), "memcpy_s: dmax exceeds max");
  EXPECT_EQ(dest[0], 1);  // untouched so far
  EXPECT_EQ(safe_memcpy(dest, 4, nullptr, 1), 400);
  EXPECT_EQ(last_violation(), "memcpy_s: src is null");
  EXPECT_EQ(std::vector<char>(dest, dest + 4), std::vector<char>(4, 0));
}

TEST_F(SafeRoutines, MemcpySourceLargerThanDestinationClearsIt) {
  char dest[4] = {1, 2, 3, 4};
  char src[8] = {};
  EXPECT_EQ(safe_memcpy(dest, 4, src, 8), 406);
  EXPECT_EQ(last_violation(), "memcpy_s: slen exceeds max");
  EXPECT_EQ(std::vector<char>(dest, dest + 4), std::vector<char>(4, 0));
}

TEST_F(SafeRoutines, MemcpyAtAndBeyondTheMemoryLimit) {
  std::vector<char> big(safe_memory_limit, 'a');
  std::vector<char> src(safe_memory_limit, 'b');
  EXPECT_EQ(safe_memcpy(big.data(), big.size(), src.data(), src.size()), 0);
  EXPECT_EQ(big.back(), 'b');
  big[0] = 'q';
  // A length over the limit is reported as such, not merely as too long.
  EXPECT_EQ(safe_memcpy(big.data(), big.size(), src.data(), safe_memory_limit + 1), 403);
  EXPECT_EQ(big[0], 0);
}

TEST_F(SafeRoutines, MemcpyRefusesOverlapButNotEqualPointers) {
  char buffer[16] = "0123456789abcde";
  EXPECT_EQ(safe_memcpy(buffer, 16, buffer, 8), 0);
  EXPECT_EQ(safe_memcpy(buffer, 8, buffer + 4, 4), 404);
  EXPECT_EQ(last_violation(), "memcpy_s: overlap undefined");
  EXPECT_EQ(buffer[0], 0);
  std::strcpy(buffer, "0123456789abcde");
  EXPECT_EQ(safe_memcpy(buffer + 4, 8, buffer, 8), 404);
  // Adjacent objects do not overlap.
  std::strcpy(buffer, "0123456789abcde");
  EXPECT_EQ(safe_memcpy(buffer + 8, 8, buffer, 8), 0);
  EXPECT_EQ(std::string(buffer, 16), std::string("0123456701234567", 16));
}

// --- memmove ---------------------------------------------------------------

TEST_F(SafeRoutines, MemmoveHandlesOverlapBothWays) {
  char up[] = "abcdefgh";
  EXPECT_EQ(safe_memmove(up + 2, 6, up, 6), 0);
  EXPECT_STREQ(up, "ababcdef");
  char down[] = "abcdefgh";
  EXPECT_EQ(safe_memmove(down, 8, down + 2, 6), 0);
  EXPECT_STREQ(down, "cdefghgh");
  EXPECT_TRUE(violations.empty());
}

TEST_F(SafeRoutines, MemmoveRefusals) {
  char dest[4] = {1, 1, 1, 1};
  EXPECT_EQ(safe_memmove(dest, 4, "12345678", 8), 406);
  EXPECT_EQ(last_violation(), "memmove_s: slen exceeds max");
  EXPECT_EQ(dest[3], 0);
  EXPECT_EQ(safe_memmove(nullptr, 4, dest, 2), 400);
  EXPECT_EQ(last_violation(), "memmove_s: dest is null");
  EXPECT_EQ(safe_memmove(dest, 0, dest, 2), 401);
  EXPECT_EQ(safe_memmove(nullptr, 0, nullptr, 0), 0);
}

// --- memcmp ----------------------------------------------------------------

TEST_F(SafeRoutines, MemcmpOrdersAsUnsignedBytes) {
  int diff = 7;
  const unsigned char a[] = {1, 2, 0x80};
  const unsigned char b[] = {1, 2, 0x7f};
  EXPECT_EQ(safe_memcmp(a, 3, b, 3, &diff), 0);
  EXPECT_EQ(diff, 1);
  EXPECT_EQ(safe_memcmp(b, 3, a, 3, &diff), 0);
  EXPECT_EQ(diff, -1);
  EXPECT_EQ(safe_memcmp(a, 3, a, 2, &diff), 0);
  EXPECT_EQ(diff, 0);
  EXPECT_EQ(safe_memcmp(a, 3, b, 2, &diff), 0);
  EXPECT_EQ(diff, 0);
}

TEST_F(SafeRoutines, MemcmpRefusalsLeaveDiffAtMinusOne) {
  int diff = 5;
  const char a[4] = {};
  EXPECT_EQ(safe_memcmp(a, 4, a, 4, nullptr), 400);
  EXPECT_EQ(last_violation(), "memcmp_s: diff is null");
  EXPECT_EQ(safe_memcmp(a, 2, a + 1, 3, &diff), 406);
  EXPECT_EQ(last_violation(), "memcmp_s: slen exceeds dmax");
  EXPECT_EQ(diff, -1);
  diff = 5;
  EXPECT_EQ(safe_memcmp(a, 4, a, 0, &diff), 401);
  EXPECT_EQ(last_violation(), "memcmp_s: slen is 0");
  EXPECT_EQ(diff, -1);
  EXPECT_EQ(safe_memcmp(nullptr, 4, a, 1, &diff), 400);
  EXPECT_EQ(last_violation(), "memcmp_s: dest is null");
  EXPECT_EQ(safe_memcmp(a, 4, nullptr, 1, &diff), 400);
  EXPECT_EQ(last_violation(), "memcmp_s: src is null");
  EXPECT_EQ(safe_memcmp(a, safe_memory_limit + 1, a, 1, &diff), 403);
  EXPECT_EQ(last_violation(), "memcmp_s: dmax exceeds max");
}

// --- strcpy and strnlen ----------------------------------------------------

TEST_F(SafeRoutines, StrcpyFitsExactlyOrIsRefused) {
  char dest[16];
  std::memset(dest, 'z', sizeof dest);
  EXPECT_EQ(safe_strcpy(dest, 10, "123456789"), 0);
  EXPECT_STREQ(dest, "123456789");
  EXPECT_EQ(dest[10], 'z');  // nothing written after the NUL
  EXPECT_EQ(safe_strcpy(dest, 9, "123456789"), 406);
  EXPECT_EQ(last_violation(), "strcpy_s: not enough space for src");
  EXPECT_EQ(dest[0], '\0');
}

TEST_F(SafeRoutines, StrcpyRefusals) {
  char dest[8] = "abc";
  EXPECT_EQ(safe_strcpy(nullptr, 8, "x"), 400);
  EXPECT_EQ(safe_strcpy(dest, 0, "x"), 401);
  EXPECT_EQ(safe_strcpy(dest, safe_string_limit + 1, "x"), 403);
  EXPECT_STREQ(dest, "abc");  // untouched by the size refusals
  EXPECT_EQ(safe_strcpy(dest, 8, nullptr), 400);
  EXPECT_EQ(dest[0], '\0');
  std::strcpy(dest, "abc");
  EXPECT_EQ(safe_strcpy(dest, 8, dest), 0);
  EXPECT_STREQ(dest, "abc");
}

TEST_F(SafeRoutines, StrcpyRefusesOverlappingObjects) {
  char text[16] = "abcdef";
  // Writing forward into a source that starts inside the destination.
  EXPECT_EQ(safe_strcpy(text, 16, text + 2), 404);
  EXPECT_EQ(last_violation(), "strcpy_s: overlapping objects");
  EXPECT_EQ(text[0], '\0');
  std::strcpy(text, "abcdef");
  EXPECT_EQ(safe_strcpy(text + 2, 14, text), 404);
  EXPECT_EQ(text[2], '\0');
}

TEST_F(SafeRoutines, StrnlenAtTheStringLimit) {
  std::string long_text(5000, 'x');
  EXPECT_EQ(safe_strnlen(long_text.c_str(), 4096), 4096u);
  EXPECT_EQ(safe_strnlen(long_text.c_str(), 4097), 0u);
  EXPECT_EQ(last_violation(), "strnlen_s: smax exceeds max");
  EXPECT_EQ(safe_strnlen("hello", 4096), 5u);
  EXPECT_EQ(safe_strnlen("hello", 3), 3u);
  EXPECT_EQ(safe_strnlen(nullptr, 10), 0u);
  EXPECT_EQ(safe_strnlen("hello", 0), 0u);
}

// --- append_format ---------------------------------------------------------

TEST_F(SafeRoutines, AppendFormatBuildsAndCutsLines) {
  char buffer[12];
  std::size_t free = sizeof buffer - 1;
  char* p = append_format(buffer, &free, "%s:%d", "ab", 42);
  EXPECT_EQ(p, buffer + 5);
  EXPECT_EQ(free, 6u);
  p = append_format(p, &free, " %s", "123456789");  // 10 characters, 6 free
  EXPECT_EQ(p, buffer + 11);
  EXPECT_EQ(free, 0u);
  EXPECT_STREQ(buffer, "ab:42 12345");
  // After a cut nothing more is added.
  p = append_format(p, &free, "%s", "more");
  EXPECT_EQ(p, buffer + 11);
  EXPECT_EQ(free, 0u);
  EXPECT_STREQ(buffer, "ab:42 12345");
}

TEST_F(SafeRoutines, AppendFormatWithNoRoomWritesOnlyTheTerminator) {
  char buffer[1] = {'q'};
  std::size_t free = 0;
  EXPECT_EQ(append_format(buffer, &free, "%s", "x"), buffer);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(free, 0u);
}

TEST(FatalExit, EndsTheProcessWithTheCode) {
  EXPECT_EXIT(fatal_exit(2), ::testing::ExitedWithCode(2), "");
}

TEST(VerboseFile, OpensForAppendAndRefusesBadPaths) {
  EXPECT_EQ(open_file("/nonexistent-dir/x.log", "a"), nullptr);
  EXPECT_EQ(open_file(nullptr, "a"), nullptr);
  char name[] = "/tmp/qez_safe_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  std::FILE* f = open_file(name, "a");
  ASSERT_NE(f, nullptr);
  std::fputs("line\n", f);
  EXPECT_EQ(close_file(f), 0);
  std::remove(name);
}

}  // namespace
