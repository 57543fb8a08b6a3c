// On a GPU whose architecture cannot be read (the "unknown" profile) the
// default backend declines and leaves the record as it found it, so the
// next backend of the list starts from a clean record.
#include <gtest/gtest.h>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/backends/support/record_runs.hpp"

namespace {

namespace dft = ulmara::qez::dft;

TEST(DefaultBackendUnknownDevice, DeclinesWithoutTouchingTheRecord) {
  for (bool double_precision : {false, true}) {
    DFTI_DESCRIPTOR* record = nullptr;
    ASSERT_TRUE(backend_test::create_listed_c2c_1d_record(&record, double_precision, 1000,
                                                          &backend_test::gpu_test_queue()));
    const dft::backend_table& table = double_precision ? dft::dft_c2c_default_gpu_bkd_table_double
                                                       : dft::dft_c2c_default_gpu_bkd_table_float;
    EXPECT_EQ(table.bkd_commit(&table, record), dft::status_not_handled);
    backend_test::expect_no_backend_state(record);
    record->free(record, record);
  }
}

}  // namespace
