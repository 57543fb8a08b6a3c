#include "qez_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

TEST(CoreExit, EndsTheProcessWithTheGivenCode) {
  EXPECT_EXIT(qez_serv_exit(2), ::testing::ExitedWithCode(2), "");
  EXPECT_EXIT(qez_serv_exit(1), ::testing::ExitedWithCode(1), "");
}

void shutdown_marker() { std::fputs("shutdown callback ran\n", stderr); }

TEST(CoreShutdown, RegisteredDestructorRunsAtExit) {
  EXPECT_EXIT(
      {
        qez_serv_core_register_sycl_destructor(shutdown_marker);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "shutdown callback ran");
}

TEST(CoreFilePrint, AppendsFormattedStrings) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(qez_serv_file_format_print(f, "QEZ_VERBOSE %s %s\n", 2, "a", "b"), 16);
  std::rewind(f);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "QEZ_VERBOSE a b\n");
  std::fclose(f);
  EXPECT_EQ(qez_serv_file_format_print(nullptr, "%s", 1, "x"), -1);
}

TEST(CoreSincospi, ExactAtQuarterTurnsAndAccurateElsewhere) {
  struct point { float x, s, c; };
  for (point p : {point{0.f, 0.f, 1.f}, point{0.5f, 1.f, 0.f}, point{1.f, 0.f, -1.f},
                  point{1.5f, -1.f, 0.f}, point{-0.5f, -1.f, 0.f}, point{2.f, 0.f, 1.f},
                  point{1e7f, 0.f, 1.f}, point{-3.f, 0.f, -1.f}}) {
    float s = 9, c = 9;
    qez_serv_libm_sincospif(p.x, &s, &c);
    EXPECT_EQ(s, p.s) << p.x;
    EXPECT_EQ(c, p.c) << p.x;
  }
  for (float x = -4.f; x <= 4.f; x += 0.01f) {
    float s, c;
    qez_serv_libm_sincospif(x, &s, &c);
    const long double pi = 3.141592653589793238462643383279502884L;
    EXPECT_NEAR(s, static_cast<float>(sinl(pi * x)), 2e-7f) << x;
    EXPECT_NEAR(c, static_cast<float>(cosl(pi * x)), 2e-7f) << x;
  }
}

}  // namespace
