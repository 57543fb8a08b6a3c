// Predicates every backend's acceptance is built from. They read the record
// only; a backend that fails one declines without touching it.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend.hpp"

namespace ulmara {
namespace qez {
namespace dft {

inline bool no_fused_twiddle(const DFTI_DESCRIPTOR* r) { return r->fused_twiddle_length <= 0; }
inline bool complex_interleaved(const DFTI_DESCRIPTOR* r) {
  return r->domain == dfti_complex && r->complex_storage == dfti_complex_complex;
}
inline bool real_conjugate_even_packed(const DFTI_DESCRIPTOR* r) {
  return r->domain == dfti_real && r->real_storage == dfti_real_real &&
         r->conjugate_even_storage == dfti_complex_complex && r->packed_format == dfti_cce_format;
}
inline bool zero_offsets(const DFTI_DESCRIPTOR* r) {
  return r->in_offset == 0 && r->out_offset == 0 && r->fwd_offset == 0 && r->bwd_offset == 0;
}
// Innermost dimension contiguous on both sides of the transform.
inline bool unit_innermost_stride(const DFTI_DESCRIPTOR* r) {
  return r->first_in_stride == 1 && r->first_out_stride == 1;
}

// A backend whose plan is not built yet: it applies its first tests, then
// declines like any backend that does not take the record.
template <bool (*applies)(const DFTI_DESCRIPTOR*)>
int declining_commit(const backend_table*, DFTI_DESCRIPTOR* r) {
  if (!applies(r)) return status_not_handled;
  return status_not_handled;
}

template <const backend_table* self>
int owner_free(const backend_table*, DFTI_DESCRIPTOR* r) {
  return release_if_owner(self, r);
}

#define QEZ_DEFINE_DECLINING_BACKEND(table_name, applies)                                 \
  const backend_table table_name = {declining_commit<applies>, owner_free<&table_name>,  \
                                    shared_no_op_add_workspace};

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
