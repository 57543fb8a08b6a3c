// The OpenMP-offload C entry points: commit a DFTI descriptor for the device
// behind an OpenMP interop object, and run its forward or backward transform
// there. Each returns a DFTI status (0 success; 83 for failures of the OpenMP
// side and of the SYCL runtime) and lets no exception escape.
//
// Callers inside the library that are built before the entry points
// themselves (the FFTW-interface plans) see weak references: they test the
// address of an entry point and refuse their work while it is null. The
// source file that defines the entry points defines
// QEZ_OMP_OFFLOAD_DEFINES_ENTRY_POINTS before including this header, so that
// its definitions stay strong.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

extern "C" {

#ifndef QEZ_OMP_INTEROP_T_DEFINED
#define QEZ_OMP_INTEROP_T_DEFINED
// The OpenMP runtime's interop handle, passed by value.
typedef void* omp_interop_t;
#endif

#ifdef QEZ_OMP_OFFLOAD_DEFINES_ENTRY_POINTS
#define QEZ_OMP_OFFLOAD_ENTRY_REFERENCE
#else
#define QEZ_OMP_OFFLOAD_ENTRY_REFERENCE __attribute__((weak))
#endif

// Commits `desc` on the interop's device.
QEZ_OMP_OFFLOAD_ENTRY_REFERENCE std::int64_t qez_DftiCommitDescriptor_omp_offload(
    DFTI_DESCRIPTOR* desc, omp_interop_t interop);

// Runs the committed transform on USM data. The variable part holds the
// output array when the descriptor is out of place.
QEZ_OMP_OFFLOAD_ENTRY_REFERENCE std::int64_t qez_DftiComputeForward_omp_offload(
    DFTI_DESCRIPTOR* desc, void* input, omp_interop_t interop, ...);
QEZ_OMP_OFFLOAD_ENTRY_REFERENCE std::int64_t qez_DftiComputeBackward_omp_offload(
    DFTI_DESCRIPTOR* desc, void* input, omp_interop_t interop, ...);

#undef QEZ_OMP_OFFLOAD_ENTRY_REFERENCE

}  // extern "C"
