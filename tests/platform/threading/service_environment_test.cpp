#include "qez_service.h"

#include <gtest/gtest.h>

#include <string>

// The CTest entry sets QEZ_VERBOSE=2 and QEZ_VERBOSE_OUTPUT_FILE.
TEST(ServiceEnvironment, VerboseModeComesFromTheEnvironment) {
  ASSERT_NE(qez_serv_verbose_mode(), nullptr);
  EXPECT_EQ(*qez_serv_verbose_mode(), 2);
  const std::string file = qez_serv_verbose_output_file_mode();
  EXPECT_EQ(file.substr(file.find_last_of('/') + 1), "verbose_environment_test.log");
  // The mode word is one process-wide word: the address is stable.
  EXPECT_EQ(qez_serv_verbose_mode(), qez_serv_verbose_mode());
}
