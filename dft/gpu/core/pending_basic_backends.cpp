// The basic one-dimensional complex backends' places in the lists; each
// declines until its plan lands.
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace {

bool basic_1d_complex(const DFTI_DESCRIPTOR* r) {
  return no_fused_twiddle(r) && complex_interleaved(r) && working_rank(r) == 1;
}

}  // namespace

QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_default_gpu_bkd_table_float, basic_1d_complex)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_default_gpu_bkd_table_double, basic_1d_complex)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2_facts_gpu_bkd_table_float, basic_1d_complex)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2_facts_gpu_bkd_table_double, basic_1d_complex)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_8k_2_facts_gpu_bkd_table_float, basic_1d_complex)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_8k_2_facts_gpu_bkd_table_double, basic_1d_complex)

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
