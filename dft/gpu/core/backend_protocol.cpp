#include "dft/gpu/core/backend_protocol.hpp"

#include <sycl/sycl.hpp>

#include "dft/gpu/core/first_tests.hpp"

namespace ulmara::qez::dft {

int init_with_exceptions_as_status(int (*init)(DFTI_DESCRIPTOR*), DFTI_DESCRIPTOR* record) {
  try {
    return init(record);
  } catch (const std::bad_alloc&) {
    return status_allocation_failed;
  } catch (const sycl::exception&) {
    return status_internal_error;
  }
}

std::uint32_t data_arrays_of_storage(const DFTI_DESCRIPTOR* r) {
  const bool complex_in_real_real = r->domain == dfti_complex && r->complex_storage == dfti_real_real;
  return complex_in_real_real ? 2 * data_arrays_of_placement(r) : data_arrays_of_placement(r);
}

bool common_acceptance(const DFTI_DESCRIPTOR* r) {
  return no_fused_twiddle(r) && batch_rank(r) == 1 && zero_offsets(r);
}

}  // namespace ulmara::qez::dft
