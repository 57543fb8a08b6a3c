// Places of the real and small multi-dimensional backends in the lists, with
// their first tests; each declines until its plan lands.
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace {

bool small_md_first_tests(const DFTI_DESCRIPTOR* r) {
  if (!no_fused_twiddle(r)) return false;
  if (r->domain == dfti_complex) return r->complex_storage == dfti_complex_complex;
  return real_conjugate_even_packed(r) && r->work_lengths.records[0].length % 2 == 0;
}

template <std::int32_t rank>
bool real_main_first_tests(const DFTI_DESCRIPTOR* r) {
  return no_fused_twiddle(r) && real_conjugate_even_packed(r) && working_rank(r) == rank &&
         batch_rank(r) == 1 && zero_offsets(r);
}

}  // namespace

QEZ_DEFINE_DECLINING_BACKEND(dft_small_md_gpu_bkd_table_float, small_md_first_tests)
QEZ_DEFINE_DECLINING_BACKEND(dft_small_md_gpu_bkd_table_double, small_md_first_tests)
QEZ_DEFINE_DECLINING_BACKEND(dft_r2c_2d_main_gpu_bkd_table_float, real_main_first_tests<2>)
QEZ_DEFINE_DECLINING_BACKEND(dft_r2c_2d_main_gpu_bkd_table_double, real_main_first_tests<2>)
QEZ_DEFINE_DECLINING_BACKEND(dft_r2c_3d_main_gpu_bkd_table_float, real_main_first_tests<3>)
QEZ_DEFINE_DECLINING_BACKEND(dft_r2c_3d_main_gpu_bkd_table_double, real_main_first_tests<3>)

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
