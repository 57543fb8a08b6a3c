// The plan object behind every FFTW3-interface plan: twelve 64-bit words in
// a fixed order, shared with code outside the library that destroys plans
// through the record's own destroy operation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dft/api/descriptor_record.hpp"
#include "qez_fftw3.h"

namespace ulmara::qez::dft {

struct fftw_plan_record;

// The operations of words 8, 9 and 11 are called by code outside the
// library through the public view of the record (qez_fftw3.h), so they have
// exactly the public function types: a call through a pointer of another
// function type is undefined.
using fftw_plan_execute_cpu = int (*)(qez_fftw_plan_record* plan, void* input, void* output);
using fftw_plan_execute_offload = int (*)(qez_fftw_plan_record* plan, void* interop);
using fftw_plan_destroy = void (*)(qez_fftw_plan_record* plan);

struct fftw_plan_record {
  DFTI_DESCRIPTOR* descriptor;        // word 0: the plan's CPU DFTI descriptor
  void* input;                        // word 1
  void* output;                       // word 2: 0 for in-place plans
  std::uint64_t reserved_3;           // word 3
  std::uint64_t reserved_4;           // word 4
  void* buffers[3];                   // words 5-7: owned by the plan, freed by destroy
  fftw_plan_execute_cpu execute_cpu;  // word 8
  fftw_plan_destroy destroy;          // word 9
  std::uint64_t reserved_10;          // word 10
  fftw_plan_execute_offload execute_offload;  // word 11
};
static_assert(sizeof(fftw_plan_record) == 96, "twelve 64-bit words");
static_assert(offsetof(fftw_plan_record, descriptor) == 0, "");
static_assert(offsetof(fftw_plan_record, input) == 8, "");
static_assert(offsetof(fftw_plan_record, output) == 16, "");
static_assert(offsetof(fftw_plan_record, buffers) == 40, "");
static_assert(offsetof(fftw_plan_record, execute_cpu) == 64, "");
static_assert(offsetof(fftw_plan_record, destroy) == 72, "");
static_assert(offsetof(fftw_plan_record, reserved_10) == 80, "");
static_assert(offsetof(fftw_plan_record, execute_offload) == 88, "");

// The same record in the public view and in the library's own.
inline qez_fftw_plan public_plan(fftw_plan_record* plan) {
  return reinterpret_cast<qez_fftw_plan>(plan);
}
inline fftw_plan_record* library_plan(qez_fftw_plan_record* plan) {
  return reinterpret_cast<fftw_plan_record*>(plan);
}
inline const fftw_plan_record* library_plan(const qez_fftw_plan_record* plan) {
  return reinterpret_cast<const fftw_plan_record*>(plan);
}

// Process-wide, initialised at load: the operation every planner gets new
// records from (initially fftw_plan_record_alloc), and the alignment of
// dfti_cpu_malloc.
extern fftw_plan_record* (*fftw_plan_record_alloc_hook)();
extern std::int32_t dfti_cpu_alignment;

// A zeroed record whose destroy operation is set; null when memory runs out.
fftw_plan_record* fftw_plan_record_alloc();
// Frees the owned buffers, the descriptor and the record; ignores null.
void fftw_plan_record_destroy(qez_fftw_plan_record* plan);

void* dfti_cpu_malloc(std::size_t size);
void dfti_cpu_mfree(void* block);

}  // namespace ulmara::qez::dft
