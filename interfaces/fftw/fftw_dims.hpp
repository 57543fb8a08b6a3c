// Conversion of FFTW3-style layouts (lengths, embeddings, strides,
// distances) into guru64 dimension triples. Triples come slowest dimension
// first; the helpers here take their per-dimension arrays fastest dimension
// first, the order in which nested strides grow.
#pragma once

#include <cstdint>

#include "interfaces/fftw/fftw_plan_core.hpp"

namespace ulmara::qez::dft {

// Row lengths of the fastest dimension on the input and output sides when
// no embedding is given: n for complex data; n/2+1 complex values on the
// conjugate-even side; n real values, padded to 2*(n/2)+2 when in place.
struct row_pair {
  std::int64_t input;
  std::int64_t output;
};
row_pair fastest_rows(plan_kind kind, std::int64_t n, bool in_place);

// dims[rank-1-j] = {n[j], is[j], os[j]}.
void fastest_first_dims(int rank, const std::int64_t* n, const std::int64_t* is,
                        const std::int64_t* os, iodim64* dims);

// Strides that nest rows: the fastest dimension takes `stride`, every slower
// one the stride before it times that dimension's row length. False when a
// stride leaves the 64-bit range.
bool nested_strides(int rank, std::int64_t stride, const std::int64_t* rows,
                    std::int64_t* strides);

// Triples of nested layouts on both sides; false on stride overflow.
bool nested_dims(int rank, const std::int64_t* n, std::int64_t istride,
                 const std::int64_t* in_rows, std::int64_t ostride, const std::int64_t* out_rows,
                 iodim64* dims);

// The C (row-major) rule of the basic and many planners: `n`, `inembed` and
// `onembed` slowest first; a null embedding takes the default row lengths.
// The first embedding entry is never read. Basic planners are the many rule
// with unit strides and no embeddings.
bool c_many_dims(plan_kind kind, int rank, const int* n, const int* inembed, int istride,
                 const int* onembed, int ostride, bool in_place, iodim64* dims);

// Guru triples widened field by field.
template <class Triple>
void widen_dims(int count, const Triple* from, iodim64* to) {
  for (int k = 0; k < count; ++k) to[k] = iodim64{from[k].n, from[k].is, from[k].os};
}

}  // namespace ulmara::qez::dft
