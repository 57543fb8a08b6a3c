// The trial order of the GPU backends: first acceptance wins.
#include "dft/gpu/core/backend_lists.hpp"

#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"

namespace ulmara::qez::dft {
namespace {

const backend_table* const r2c_md_float[] = {
    &dft_small_md_gpu_bkd_table_float,
    &dft_r2c_2d_main_gpu_bkd_table_float,
    &dft_r2c_3d_main_gpu_bkd_table_float,
    &terminator_backend_float,
    nullptr};

const backend_table* const r2c_1d_float[] = {
    &dft_small_md_gpu_bkd_table_float,
    &dft_c2c_very_large_1d_gpu_bkd_table_float,
    &dft_r2c_1d_main_gpu_bkd_table_float,
    &terminator_backend_float,
    nullptr};

const backend_table* const c2c_md_float[] = {
    &dft_small_md_gpu_bkd_table_float,
    &dft_c2c_2d_small_gpu_bkd_table_float,
    &dft_c2c_2d_main_gpu_bkd_table_float,
    &dft_c2c_3d_padded_gpu_bkd_table_float,
    &dft_c2c_3d_main_gpu_bkd_table_float,
    &terminator_backend_float,
    nullptr};

const backend_table* const c2c_1d_float[] = {
    &dft_c2c_8k_2_facts_gpu_bkd_table_float,
    &dft_c2c_2_facts_gpu_bkd_table_float,
    &dft_c2c_n_facts_gpu_bkd_table_float,
    &dft_small_md_gpu_bkd_table_float,
    &dft_c2c_4_facts_gpu_bkd_table_float,
    &dft_c2c_large_1d_gpu_bkd_table_float,
    &dft_c2c_2_facts_colbatch_gpu_bkd_table_float,
    &dft_c2c_4_facts_colbatch_gpu_bkd_table_float,
    &dft_c2c_3_facts_gpu_bkd_table_float,
    &dft_c2c_very_large_1d_gpu_bkd_table_float,
    &dft_c2c_default_gpu_bkd_table_float,
    &terminator_backend_float,
    nullptr};

const backend_table* const r2c_md_double[] = {
    &dft_small_md_gpu_bkd_table_double,
    &dft_r2c_2d_main_gpu_bkd_table_double,
    &dft_r2c_3d_main_gpu_bkd_table_double,
    &terminator_backend_double,
    nullptr};

const backend_table* const r2c_1d_double[] = {
    &dft_small_md_gpu_bkd_table_double,
    &dft_r2c_1d_main_gpu_bkd_table_double,
    &terminator_backend_double,
    nullptr};

const backend_table* const c2c_md_double[] = {
    &dft_small_md_gpu_bkd_table_double,
    &dft_c2c_2d_small_gpu_bkd_table_double,
    &dft_c2c_2d_main_gpu_bkd_table_double,
    &dft_c2c_3d_padded_gpu_bkd_table_double,
    &dft_c2c_3d_main_gpu_bkd_table_double,
    &terminator_backend_double,
    nullptr};

const backend_table* const c2c_1d_double[] = {
    &dft_c2c_8k_2_facts_gpu_bkd_table_double,
    &dft_c2c_2_facts_gpu_bkd_table_double,
    &dft_c2c_n_facts_gpu_bkd_table_double,
    &dft_small_md_gpu_bkd_table_double,
    &dft_c2c_4_facts_gpu_bkd_table_double,
    &dft_c2c_large_1d_gpu_bkd_table_double,
    &dft_c2c_2_facts_colbatch_gpu_bkd_table_double,
    &dft_c2c_4_facts_colbatch_gpu_bkd_table_double,
    &dft_c2c_3_facts_gpu_bkd_table_double,
    &dft_c2c_default_gpu_bkd_table_double,
    &terminator_backend_double,
    nullptr};

void bind(DFTI_DESCRIPTOR** handle, backend_list list) {
  DFTI_DESCRIPTOR* record = *handle;
  record->backend_list = list;
  install_descriptor_methods(record);
}

}  // namespace

#define QEZ_DEFINE_LIST_ENTRIES(name)                                                 \
  backend_list backend_list_##name() { return name; }                                \
  void bind_backend_list_##name(DFTI_DESCRIPTOR** record) { bind(record, name); }
QEZ_DEFINE_LIST_ENTRIES(r2c_md_float)
QEZ_DEFINE_LIST_ENTRIES(r2c_1d_float)
QEZ_DEFINE_LIST_ENTRIES(c2c_md_float)
QEZ_DEFINE_LIST_ENTRIES(c2c_1d_float)
QEZ_DEFINE_LIST_ENTRIES(r2c_md_double)
QEZ_DEFINE_LIST_ENTRIES(r2c_1d_double)
QEZ_DEFINE_LIST_ENTRIES(c2c_md_double)
QEZ_DEFINE_LIST_ENTRIES(c2c_1d_double)
#undef QEZ_DEFINE_LIST_ENTRIES

}  // namespace ulmara::qez::dft
