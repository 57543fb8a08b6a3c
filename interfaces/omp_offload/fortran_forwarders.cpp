// Fortran-callable forwarders of the OpenMP-offload entry points: each loads
// the descriptor handle and the array addresses from their references, puts
// them in the C entry point's order (descriptor, first array, interop,
// further arrays) and returns the entry point's status.
#include "qez_dfti_omp_offload.h"

#include <cstdint>

namespace {

// A null reference passes on as a null value, which the entry points refuse.
template <class T>
T* load(T** reference) {
  return reference != nullptr ? *reference : nullptr;
}

using compute_function = std::int64_t (*)(DFTI_DESCRIPTOR*, void*, omp_interop_t, ...);
constexpr compute_function compute_forward = qez_DftiComputeForward_omp_offload;
constexpr compute_function compute_backward = qez_DftiComputeBackward_omp_offload;

// One array: the output slot is passed as null, so an out-of-place
// descriptor is refused (status 3) instead of reading an argument that was
// never given.
std::int64_t forward_one_array(compute_function entry, DFTI_DESCRIPTOR** desc, void** data,
                               omp_interop_t interop) {
  return entry(load(desc), load(data), interop, static_cast<void*>(nullptr));
}

std::int64_t forward_two_arrays(compute_function entry, DFTI_DESCRIPTOR** desc, void** in, void** out,
                                omp_interop_t interop) {
  return entry(load(desc), load(in), interop, load(out));
}

std::int64_t forward_four_arrays(compute_function entry, DFTI_DESCRIPTOR** desc, void** a, void** b,
                                 void** c, void** d, omp_interop_t interop) {
  return entry(load(desc), load(a), interop, load(b), load(c), load(d));
}

}  // namespace

#define QEZ_FORWARD_ARGS_one_array desc, data, interop
#define QEZ_FORWARD_ARGS_two_arrays desc, in, out, interop
#define QEZ_FORWARD_ARGS_four_arrays desc, a, b, c, d, interop
#define QEZ_DEFINE_FORWARDER(direction, letters, shape)                                   \
  extern "C" std::int64_t qez_dfti_compute_##direction##_##letters##_omp_offload          \
      QEZ_DFTI_OMP_OFFLOAD_PARAMS_##shape {                                               \
    return forward_##shape(compute_##direction, QEZ_FORWARD_ARGS_##shape);                \
  }
QEZ_DFTI_OMP_OFFLOAD_FORTRAN_COMPUTES(QEZ_DEFINE_FORWARDER)
#undef QEZ_DEFINE_FORWARDER
#undef QEZ_FORWARD_ARGS_one_array
#undef QEZ_FORWARD_ARGS_two_arrays
#undef QEZ_FORWARD_ARGS_four_arrays

extern "C" std::int64_t qez_dfti_commit_descriptor_external_omp_offload(DFTI_DESCRIPTOR** desc,
                                                                        omp_interop_t interop) {
  return qez_DftiCommitDescriptor_omp_offload(load(desc), interop);
}
