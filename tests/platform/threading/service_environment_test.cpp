#include "qez_service.h"

#include <gtest/gtest.h>

// The CTest entry sets QEZ_VERBOSE=2 and leaves QEZ_VERBOSE_OUTPUT_FILE unset.
TEST(ServiceEnvironment, VerboseModeComesFromTheEnvironment) {
  ASSERT_NE(qez_serv_verbose_mode(), nullptr);
  EXPECT_EQ(*qez_serv_verbose_mode(), 2);
  EXPECT_STREQ(qez_serv_verbose_output_file_mode(), "");
  // The mode word is one process-wide word: the address is stable.
  EXPECT_EQ(qez_serv_verbose_mode(), qez_serv_verbose_mode());
}
