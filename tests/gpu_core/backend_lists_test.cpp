#include <string>
#include <vector>

#include "core_test_support.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"

namespace {

using namespace core_test;

std::vector<const backend_table*> read_list(backend_list list) {
  std::vector<const backend_table*> tables;
  for (std::size_t i = 0; list[i] != nullptr; ++i) tables.push_back(list[i]);
  return tables;
}

using tables = std::vector<const backend_table*>;

TEST(BackendLists, SinglePrecisionOrder) {
  EXPECT_EQ(read_list(backend_list_r2c_md_float()),
            (tables{&dft_small_md_gpu_bkd_table_float, &dft_r2c_2d_main_gpu_bkd_table_float,
                    &dft_r2c_3d_main_gpu_bkd_table_float, &terminator_backend_float}));
  EXPECT_EQ(read_list(backend_list_r2c_1d_float()),
            (tables{&dft_small_md_gpu_bkd_table_float, &dft_c2c_very_large_1d_gpu_bkd_table_float,
                    &dft_r2c_1d_main_gpu_bkd_table_float, &terminator_backend_float}));
  EXPECT_EQ(read_list(backend_list_c2c_md_float()),
            (tables{&dft_small_md_gpu_bkd_table_float, &dft_c2c_2d_small_gpu_bkd_table_float,
                    &dft_c2c_2d_main_gpu_bkd_table_float, &dft_c2c_3d_padded_gpu_bkd_table_float,
                    &dft_c2c_3d_main_gpu_bkd_table_float, &terminator_backend_float}));
  EXPECT_EQ(read_list(backend_list_c2c_1d_float()),
            (tables{&dft_c2c_8k_2_facts_gpu_bkd_table_float, &dft_c2c_2_facts_gpu_bkd_table_float,
                    &dft_c2c_n_facts_gpu_bkd_table_float, &dft_small_md_gpu_bkd_table_float,
                    &dft_c2c_4_facts_gpu_bkd_table_float, &dft_c2c_large_1d_gpu_bkd_table_float,
                    &dft_c2c_2_facts_colbatch_gpu_bkd_table_float,
                    &dft_c2c_4_facts_colbatch_gpu_bkd_table_float, &dft_c2c_3_facts_gpu_bkd_table_float,
                    &dft_c2c_very_large_1d_gpu_bkd_table_float, &dft_c2c_default_gpu_bkd_table_float,
                    &terminator_backend_float}));
}

TEST(BackendLists, DoublePrecisionOrder) {
  EXPECT_EQ(read_list(backend_list_r2c_md_double()),
            (tables{&dft_small_md_gpu_bkd_table_double, &dft_r2c_2d_main_gpu_bkd_table_double,
                    &dft_r2c_3d_main_gpu_bkd_table_double, &terminator_backend_double}));
  EXPECT_EQ(read_list(backend_list_r2c_1d_double()),
            (tables{&dft_small_md_gpu_bkd_table_double, &dft_r2c_1d_main_gpu_bkd_table_double,
                    &terminator_backend_double}));
  EXPECT_EQ(read_list(backend_list_c2c_md_double()),
            (tables{&dft_small_md_gpu_bkd_table_double, &dft_c2c_2d_small_gpu_bkd_table_double,
                    &dft_c2c_2d_main_gpu_bkd_table_double, &dft_c2c_3d_padded_gpu_bkd_table_double,
                    &dft_c2c_3d_main_gpu_bkd_table_double, &terminator_backend_double}));
  EXPECT_EQ(read_list(backend_list_c2c_1d_double()),
            (tables{&dft_c2c_8k_2_facts_gpu_bkd_table_double, &dft_c2c_2_facts_gpu_bkd_table_double,
                    &dft_c2c_n_facts_gpu_bkd_table_double, &dft_small_md_gpu_bkd_table_double,
                    &dft_c2c_4_facts_gpu_bkd_table_double, &dft_c2c_large_1d_gpu_bkd_table_double,
                    &dft_c2c_2_facts_colbatch_gpu_bkd_table_double,
                    &dft_c2c_4_facts_colbatch_gpu_bkd_table_double,
                    &dft_c2c_3_facts_gpu_bkd_table_double, &dft_c2c_default_gpu_bkd_table_double,
                    &terminator_backend_double}));
}

TEST(BackendLists, EveryTableHasItsThreeOperations) {
  for (backend_list (*list)() : {backend_list_r2c_md_float, backend_list_r2c_1d_float,
                                 backend_list_c2c_md_float, backend_list_c2c_1d_float,
                                 backend_list_r2c_md_double, backend_list_r2c_1d_double,
                                 backend_list_c2c_md_double, backend_list_c2c_1d_double})
    for (const backend_table* t : read_list(list())) {
      EXPECT_NE(t->bkd_commit, nullptr);
      EXPECT_NE(t->bkd_free, nullptr);
      EXPECT_NE(t->add_workspace, nullptr);
    }
}

TEST(BackendLists, BindingStoresTheListAndTheMethods) {
  record_guard r(make_record(dfti_single, dfti_real, {8, 8}));
  DFTI_DESCRIPTOR* handle = r.get();
  bind_backend_list_c2c_1d_double(&handle);
  EXPECT_EQ(r->backend_list, backend_list_c2c_1d_double());
  bind_backend_list_r2c_md_float(&handle);  // the last binding wins
  EXPECT_EQ(r->backend_list, backend_list_r2c_md_float());
}

TEST(BackendLists, TerminatorFreesOnlyWhatIsItsOwn) {
  record_guard r(make_record(dfti_single, dfti_complex, {8}));
  r->backend = &terminator_backend_double;
  r->commit_status = dfti_committed;
  EXPECT_EQ(terminator_backend_float.bkd_free(&terminator_backend_float, r.get()), 7);
  EXPECT_EQ(r->commit_status, dfti_committed);
  EXPECT_EQ(terminator_backend_double.bkd_free(&terminator_backend_double, r.get()), 0);
  EXPECT_EQ(r->commit_status, dfti_uncommitted);
  r->backend = nullptr;
}

}  // namespace

#include "dft/gpu/core/base_address_alignment.hpp"

namespace {

// Alignment steps of 8 to 512 bytes: the result is the smallest multiple of
// both the alignment and 16 bytes that holds the count.
TEST(BaseAddressAlignment, PadsToTheLargerOfSixteenBytesAndTheAlignment) {
  for (std::uint64_t a : {8u, 16u, 32u, 64u, 128u, 256u, 512u})
    for (std::uint64_t bytes : {0u, 1u, 15u, 16u, 17u, 100u, 511u, 512u, 513u, 4096u, 1000001u}) {
      const std::uint64_t padded = ulmara::qez::dft::pad_to_alignment(bytes, a);
      const std::uint64_t step = a > 16 ? a : 16;
      EXPECT_EQ(padded % step, 0u) << a << " " << bytes;
      EXPECT_GE(padded, bytes);
      EXPECT_LT(padded - bytes, step) << a << " " << bytes;
    }
  EXPECT_EQ(ulmara::qez::dft::pad_to_alignment(24, 24), 48u);  // also a multiple of 16
}

}  // namespace

#include <sycl/sycl.hpp>

namespace {

TEST(BaseAddressAlignment, QueueFormUsesTheDevicesAlignmentInBytes) {
  sycl::queue queue{sycl::gpu_selector_v};
  const std::uint64_t a =
      queue.get_device().get_info<sycl::info::device::mem_base_addr_align>() / 8;
  for (std::uint64_t bytes : {1u, 100u, 4096u, 123457u})
    EXPECT_EQ(ulmara::qez::dft::pad_to_base_addr_align(bytes, &queue),
              ulmara::qez::dft::pad_to_alignment(bytes, a));
}

}  // namespace
