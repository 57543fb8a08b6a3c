// Places of the multi-dimensional complex backends in the lists, with their
// first tests; each declines until its plan lands.
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace {

bool small_2d_first_tests(const DFTI_DESCRIPTOR* r) {
  return no_fused_twiddle(r) && complex_interleaved(r) && working_rank(r) == 2 &&
         r->work_lengths.records[0].length == r->work_lengths.records[1].length;
}

template <std::int32_t rank>
bool main_md_first_tests(const DFTI_DESCRIPTOR* r) {
  return no_fused_twiddle(r) && complex_interleaved(r) && working_rank(r) == rank &&
         batch_rank(r) == 1 && zero_offsets(r);
}

}  // namespace

QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2d_small_gpu_bkd_table_float, small_2d_first_tests)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2d_small_gpu_bkd_table_double, small_2d_first_tests)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2d_main_gpu_bkd_table_float, main_md_first_tests<2>)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2d_main_gpu_bkd_table_double, main_md_first_tests<2>)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_3d_padded_gpu_bkd_table_float, main_md_first_tests<3>)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_3d_padded_gpu_bkd_table_double, main_md_first_tests<3>)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_3d_main_gpu_bkd_table_float, main_md_first_tests<3>)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_3d_main_gpu_bkd_table_double, main_md_first_tests<3>)

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
