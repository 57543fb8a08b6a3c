// Every GPU backend's table, one per precision. Each family declares its
// own; the priority lists name them in trial order.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

#define QEZ_DECLARE_BACKEND_TABLES(name)          \
  extern const backend_table name##_table_float;  \
  extern const backend_table name##_table_double;

// Basic one-dimensional complex backends.
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_default_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_2_facts_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_8k_2_facts_gpu_bkd)
// One-dimensional factorised backends.
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_3_facts_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_4_facts_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_2_facts_colbatch_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_4_facts_colbatch_gpu_bkd)
// Shared-memory and large one-dimensional backends (the very large one has
// a single-precision instance only).
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_n_facts_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_large_1d_gpu_bkd)
extern const backend_table dft_c2c_very_large_1d_gpu_bkd_table_float;
// Multi-dimensional complex backends.
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_2d_small_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_2d_main_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_3d_padded_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_c2c_3d_main_gpu_bkd)
// Real and small multi-dimensional backends.
QEZ_DECLARE_BACKEND_TABLES(dft_small_md_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_r2c_1d_main_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_r2c_2d_main_gpu_bkd)
QEZ_DECLARE_BACKEND_TABLES(dft_r2c_3d_main_gpu_bkd)

#undef QEZ_DECLARE_BACKEND_TABLES

}  // namespace ulmara::qez::dft
