// Conversion of FFTW3-style layouts into guru64 triples.
#include "interfaces/fftw/fftw_dims.hpp"

namespace ulmara::qez::dft {

row_pair fastest_rows(plan_kind kind, std::int64_t n, bool in_place) {
  const std::int64_t complex_row = n / 2 + 1;
  const std::int64_t real_row = in_place ? 2 * (n / 2) + 2 : n;
  switch (kind) {
    case plan_kind::r2c: return {real_row, complex_row};
    case plan_kind::c2r: return {complex_row, real_row};
    default: return {n, n};
  }
}

void fastest_first_dims(int rank, const std::int64_t* n, const std::int64_t* is,
                        const std::int64_t* os, iodim64* dims) {
  for (int j = 0; j < rank; ++j) dims[rank - 1 - j] = iodim64{n[j], is[j], os[j]};
}

bool nested_strides(int rank, std::int64_t stride, const std::int64_t* rows,
                    std::int64_t* strides) {
  if (rank < 1) return true;
  strides[0] = stride;
  for (int j = 1; j < rank; ++j)
    if (__builtin_mul_overflow(strides[j - 1], rows[j - 1], &strides[j])) return false;
  return true;
}

bool nested_dims(int rank, const std::int64_t* n, std::int64_t istride,
                 const std::int64_t* in_rows, std::int64_t ostride, const std::int64_t* out_rows,
                 iodim64* dims) {
  std::int64_t is[max_plan_rank] = {};
  std::int64_t os[max_plan_rank] = {};
  if (!nested_strides(rank, istride, in_rows, is)) return false;
  if (!nested_strides(rank, ostride, out_rows, os)) return false;
  fastest_first_dims(rank, n, is, os, dims);
  return true;
}

bool c_many_dims(plan_kind kind, int rank, const int* n, const int* inembed, int istride,
                 const int* onembed, int ostride, bool in_place, iodim64* dims) {
  if (rank < 1 || rank > max_plan_rank) return rank == 0;
  const row_pair fastest = fastest_rows(kind, n[rank - 1], in_place);
  std::int64_t lengths[max_plan_rank] = {};
  std::int64_t in_rows[max_plan_rank] = {};
  std::int64_t out_rows[max_plan_rank] = {};
  for (int j = 0; j < rank; ++j) {
    const int k = rank - 1 - j;  // the same dimension, counted slowest first
    lengths[j] = n[k];
    // The slowest row length is never needed.
    if (k == 0) continue;
    in_rows[j] = inembed != nullptr ? inembed[k] : (j == 0 ? fastest.input : n[k]);
    out_rows[j] = onembed != nullptr ? onembed[k] : (j == 0 ? fastest.output : n[k]);
  }
  return nested_dims(rank, lengths, istride, in_rows, ostride, out_rows, dims);
}

}  // namespace ulmara::qez::dft
