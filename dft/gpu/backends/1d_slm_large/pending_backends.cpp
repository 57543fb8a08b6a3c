// Places of the large one-dimensional backends in the lists, with their
// first tests; each declines until its plan lands.
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace {

bool very_large_1d_first_tests(const DFTI_DESCRIPTOR* r) {
  const bool storage = r->domain == dfti_real
                           ? r->real_storage == dfti_real_real &&
                                 r->conjugate_even_storage == dfti_complex_complex
                           : r->complex_storage == dfti_complex_complex;
  return storage && working_rank(r) == 1 && batch_rank(r) == 1;
}

}  // namespace

QEZ_DEFINE_DECLINING_BACKEND(dft_c2c_very_large_1d_gpu_bkd_table_float, very_large_1d_first_tests)

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
