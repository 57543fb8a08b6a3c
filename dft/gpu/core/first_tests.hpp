// Predicates every backend's acceptance is built from. They read the record
// only; a backend that fails one declines without touching it.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

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

}  // namespace ulmara::qez::dft
