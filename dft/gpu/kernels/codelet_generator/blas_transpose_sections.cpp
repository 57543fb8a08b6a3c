#include "blas_transpose_sections.hpp"

namespace qez_codelets {

namespace {

const char transpose_text[] = R"(/* ---- matrix copy and transpose ------------------------------------------------
 * b = alpha x a (NONTRANSPOSE) or b = alpha x transpose(a) (TRANSPOSE); a is
 * m x n with leading dimension lda, element (p, q) at a[p + q lda]. A
 * work-group of BLOCK_SIZE x BLOCK_SIZE work-items moves one tile through
 * local memory, so that reads and writes are both contiguous runs of
 * BLOCK_SIZE elements; dimension 2 runs over the matrices of the batch.
 * Work-items outside the matrix still reach every barrier. */
#define BLOCK_SIZE 16
#define ROW_SLM BLOCK_SIZE

typedef int xint;
typedef uint uxint;
typedef long xlong;
typedef ulong uxlong;

#if defined(_DOUBLE) || defined(COMPLEX16)
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#define FPKIND double
#else
#define FPKIND float
#endif

#if defined(COMPLEX16)
#define FPTYPE double2
#define PREFIX_PRECISION z
#define MT_COMPLEX
#elif defined(COMPLEX)
#define FPTYPE float2
#define PREFIX_PRECISION c
#define MT_COMPLEX
#elif defined(_DOUBLE)
#define FPTYPE double
#define PREFIX_PRECISION d
#else
#define FPTYPE float
#define PREFIX_PRECISION s
#endif

#if defined(MT_COMPLEX) && defined(CONJUGATE)
#ifdef TRANSPOSE
#define TRANS_SUFFIX c
#else
#define TRANS_SUFFIX r
#endif
#elif defined(TRANSPOSE)
#define TRANS_SUFFIX t
#else
#define TRANS_SUFFIX n
#endif

#ifdef OUT_OF_PLACE
#define PREFIX_PLACE o
#else
#error "blas_transpose: only the out-of-place forms are carried"
#endif

#if defined(BATCHED)
#define NAME matcopy_batch_kernel_
#define PTYPE xlong
#elif defined(BATCHED_STRIDED)
#define NAME matcopy_batch_strided_kernel_
#define PTYPE FPTYPE
#else
#define NAME matcopy_kernel_
#define PTYPE FPTYPE
#endif

#define PREFIX_DFT qez_dft_
#define MT_JOIN5_(a, b, c, d, e) a##b##c##d##e
#define MT_JOIN5(a, b, c, d, e) MT_JOIN5_(a, b, c, d, e)
#define MT_KERNEL_NAME MT_JOIN5(PREFIX_DFT, PREFIX_PRECISION, PREFIX_PLACE, NAME, TRANS_SUFFIX)

#if !defined(MT_COMPLEX)
#define MUL(e) (alpha_r * (e))
#elif defined(CONJUGATE)
#define MUL(e) ((FPTYPE)(alpha_r * (e).x + alpha_i * (e).y, -alpha_r * (e).y + alpha_i * (e).x))
#else
#define MUL(e) ((FPTYPE)(alpha_r * (e).x - alpha_i * (e).y, alpha_r * (e).y + alpha_i * (e).x))
#endif

#ifdef TRANSPOSE
#define MT_TILE_IN(i, j) ((j) + (i) * ROW_SLM)
#define MT_SYNC() barrier(CLK_LOCAL_MEM_FENCE)
#else
#define MT_TILE_IN(i, j) ((i) + (j) * ROW_SLM)
#define MT_SYNC()
#endif

kernel __attribute__((reqd_work_group_size(BLOCK_SIZE, BLOCK_SIZE, 1)))
void MT_KERNEL_NAME(xlong m, xlong n, FPKIND alpha_r, FPKIND alpha_i, global PTYPE *a, xlong offseta, xlong lda,
                    xlong stridea, global PTYPE *b, xlong offsetb, xlong ldb, xlong strideb,
                    xlong kernel_batchsize, xlong total_batchsize, xlong offset_batch)
{
    local FPTYPE temp[BLOCK_SIZE * ROW_SLM];
    const xlong idx = (xlong)(get_group_id(0) * get_local_size(0) + get_local_id(0));
    const xlong idy = (xlong)(get_group_id(1) * get_local_size(1) + get_local_id(1));
    const xint i = (xint)get_local_id(0);
    const xint j = (xint)get_local_id(1);
#ifdef TRANSPOSE
    const xlong row_out = n, col_out = m;
    const xlong idx_up = (xlong)(get_group_id(1) * get_local_size(0) + get_local_id(0));
    const xlong idy_up = (xlong)(get_group_id(0) * get_local_size(1) + get_local_id(1));
#else
    const xlong row_out = m, col_out = n;
    const xlong idx_up = idx, idy_up = idy;
#endif
    const xlong idz = (xlong)get_group_id(2) * kernel_batchsize;
    const xlong bound = min(idz + kernel_batchsize, total_batchsize);
    for (xlong t = idz; t < bound; ++t) {
#ifdef BATCHED
        const global FPTYPE *ma = (const global FPTYPE *)a[t + offset_batch] + offseta;
        global FPTYPE *mb = (global FPTYPE *)b[t + offset_batch] + offsetb;
#else
        const global FPTYPE *ma = a + offseta + t * stridea;
        global FPTYPE *mb = b + offsetb + t * strideb;
#endif
        if (idx < m && idy < n) temp[MT_TILE_IN(i, j)] = MUL(ma[idx + idy * lda]);
        MT_SYNC();
        if (idx_up < row_out && idy_up < col_out) mb[idx_up + idy_up * ldb] = temp[i + j * ROW_SLM];
        MT_SYNC();
    }
}
)";

}  // namespace

void write_blas_transpose(std::ostream& out, precision) { out << transpose_text; }

}  // namespace qez_codelets
