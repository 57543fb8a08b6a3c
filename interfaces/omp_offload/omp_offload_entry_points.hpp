// The OpenMP-offload C entry points: commit a DFTI descriptor for the device
// behind an OpenMP interop object, and run its forward or backward transform
// there. Each returns a DFTI status (0 success; 83 for failures of the OpenMP
// side and of the SYCL runtime) and lets no exception escape.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

extern "C" {

#ifndef QEZ_OMP_INTEROP_T_DEFINED
#define QEZ_OMP_INTEROP_T_DEFINED
// The OpenMP runtime's interop handle, passed by value.
typedef void* omp_interop_t;
#endif

// Commits `desc` on the interop's device.
std::int64_t qez_DftiCommitDescriptor_omp_offload(DFTI_DESCRIPTOR* desc, omp_interop_t interop);

// Runs the committed transform on USM data. The variable part holds the
// output array when the descriptor is out of place.
std::int64_t qez_DftiComputeForward_omp_offload(
    DFTI_DESCRIPTOR* desc, void* input, omp_interop_t interop, ...);
std::int64_t qez_DftiComputeBackward_omp_offload(
    DFTI_DESCRIPTOR* desc, void* input, omp_interop_t interop, ...);

}  // extern "C"
