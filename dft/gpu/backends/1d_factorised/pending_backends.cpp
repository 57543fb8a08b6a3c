// Places of the factorised one-dimensional backends in the lists, with their
// first tests; each declines until its plan lands.
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace {

// Takes the children of the staged very large backend, so it does not test
// the fused twiddle length.
bool n_factor_colbatch_first_tests(const DFTI_DESCRIPTOR* r) {
  return complex_interleaved(r) && working_rank(r) == 1 && batch_rank(r) <= 2;
}

}  // namespace

QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2_facts_colbatch_gpu_bkd_table_float, n_factor_colbatch_first_tests)
QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_2_facts_colbatch_gpu_bkd_table_double, n_factor_colbatch_first_tests)

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
