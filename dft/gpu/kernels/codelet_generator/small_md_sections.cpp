#include "small_md_sections.hpp"

#include "program_sections.hpp"

namespace qez_codelets {

namespace {

const char kernel_text[] = R"(/* ---- Small multi-dimensional SLM kernel ------------------------------------
 * One work-group takes BATCH_PER_GROUP transforms of SMD_N1 rows of C2C_LEN
 * complex points (real data: 2 C2C_LEN reals, computed as C2C_LEN complex
 * points and a post-processing or pre-processing step). Row r of the group
 * lives in local memory at r x SMD_ROW_FP reals. The dimension-0 stages and
 * the dimension-1 stages are decimation in frequency, in place, so results
 * sit in digit-reversed positions that the real step and the export read
 * through smd_rev0 and smd_rev1. All input is read before the first barrier
 * and all output written after the last: in place is safe.
 * Work: a "worker" is a pair of work-items (lid / 2). Lane pairs: the even
 * lane holds the real and the odd lane the imaginary part. Portable form
 * (no sub-groups): the even work-item holds the whole complex value and the
 * odd one only joins the barriers. Every work-item reaches every barrier. */
#if defined(KERNEL_FUNC) && defined(DIM0FACT0)

#if defined(LANE_PAIRS) && defined(cl_tavir_subgroups_long)
#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable
#endif

#ifndef DIM0FACT1
#define DIM0FACT1 1
#endif
#ifndef DIM0FACT2
#define DIM0FACT2 1
#endif
#ifndef DIM0FACT3
#define DIM0FACT3 1
#endif
#ifndef DIM1FACT0
#define DIM1FACT0 1
#endif
#ifndef DIM1FACT1
#define DIM1FACT1 1
#endif
#ifndef DIM1ISTRIDE
#define DIM1ISTRIDE 0
#endif
#ifndef DIM1OSTRIDE
#define DIM1OSTRIDE 0
#endif
#ifndef SCALE
#define SCALE 1.0
#endif
#ifndef LOAD_ROW_BY_ROW
#define LOAD_ROW_BY_ROW 0
#endif
#ifndef OUTPUT_OFFSET_FP
#define OUTPUT_OFFSET_FP 0
#endif

#define C2C_LEN (DIM0FACT0 * DIM0FACT1 * DIM0FACT2 * DIM0FACT3)
#define SMD_N1 (DIM1FACT0 * DIM1FACT1)
#define SMD_ROWS (BATCH_PER_GROUP * SMD_N1)
#define SMD_EIN ((REAL_FFT && FWD_DIR) ? 1 : 2)
#define SMD_EOUT ((REAL_FFT && BWD_DIR) ? 1 : 2)
#define SMD_IN_CPLX (C2C_LEN + REAL_FFT * BWD_DIR)
#define SMD_OUT_CPLX (C2C_LEN + REAL_FFT * FWD_DIR)
#define SMD_COLS (C2C_LEN + REAL_FFT)
#if REAL_FFT && BWD_DIR
#define SMD_ROW_FP ROW_IDIST_FP
#else
#define SMD_ROW_FP ROW_ODIST_SLM_FP
#endif
#define SMD_SUBGROUPS (WORKGROUP_SIZE / SUBGROUP_SIZE)
#define SMD_WORKERS (WORKGROUP_SIZE / 2)
#define SMD_H (SUBGROUP_SIZE / 2)

/* ---- compile-time checks ---- */
#if LOAD_ROW_BY_ROW != 0 && LOAD_ROW_BY_ROW != 1
#error "small md kernel, load stage: LOAD_ROW_BY_ROW must be 0 or 1"
#endif
#if LOAD_ROW_BY_ROW && ROW_IDIST_FP < INPUT_FP_PER_ROW_MIN
#error "small md kernel, load stage: ROW_IDIST_FP below INPUT_FP_PER_ROW_MIN"
#endif
#if BATCH_FOR_LAST_GROUP < 1 || BATCH_FOR_LAST_GROUP > BATCH_PER_GROUP
#error "small md kernel, batch: BATCH_FOR_LAST_GROUP out of range"
#endif
#if ROW_IDIST_FP < 2 * (C2C_LEN + REAL_FFT * BWD_DIR) || ROW_ODIST_SLM_FP < 2 * (C2C_LEN + REAL_FFT * FWD_DIR)
#error "small md kernel, row stage: SLM rows shorter than a transform row"
#endif
#if DIM0FACT0 < DIM0FACT1 || DIM0FACT1 < DIM0FACT2 || DIM0FACT2 < DIM0FACT3 || DIM1FACT0 < DIM1FACT1
#error "small md kernel, factors: not in descending order"
#endif
#if SLM_BYTE_SIZE / SMD_FP_BYTES < (SMD_ROWS - 1) * SMD_ROW_FP + 2 * (C2C_LEN + REAL_FFT)
#error "small md kernel, row stage: SLM_BYTE_SIZE below the row-batch area"
#endif
#if SLM_BYTE_SIZE / SMD_FP_BYTES < BATCH_PER_GROUP * FP_OUT_PER_FFT
#error "small md kernel, export stage: SLM_BYTE_SIZE below the export footprint"
#endif
#if DIM0FACT1 == 1 && SMD_SUBGROUPS * SMD_H < SMD_ROWS
#error "small md kernel, row stage: too few sub-groups for the rows"
#endif
#if DIM0FACT1 > 1 && SMD_SUBGROUPS < SMD_ROWS
#error "small md kernel, row stage: too few sub-groups for the rows"
#endif
#if DIM0FACT0 == 1 && !REAL_FFT
#error "small md kernel: complex transforms of one point are not built"
#endif
#if ODIST != 0 && ODIST * SMD_EOUT < FP_OUT_PER_FFT
#error "small md kernel, export stage: output distance below FP_OUT_PER_FFT"
#endif
#ifdef COPY_INPUT_IN_SLM
#if LOAD_ROW_BY_ROW
#define SMD_LOAD_FP ((SMD_ROWS - 1) * ROW_IDIST_FP + INPUT_FP_PER_ROW_MIN)
#if ROW_IDIST_FP != SMD_ROW_FP
#error "small md kernel, load stage: rows loaded one by one must lie where the row stages read them"
#endif
#elif SMD_ROWS > 1
#define SMD_LOAD_FP (SMD_ROWS * INPUT_FP_PER_ROW)
#else
#define SMD_LOAD_FP INPUT_FP_PER_ROW_MIN
#endif
#if SLM_BYTE_SIZE / SMD_FP_BYTES < SMD_LOAD_FP
#error "small md kernel, load stage: SLM_BYTE_SIZE below the load footprint"
#endif
#elif DIM0FACT1 == 1 || (REAL_FFT && BWD_DIR)
#error "small md kernel, load stage: one dimension-0 factor and real backward transforms need COPY_INPUT_IN_SLM"
#endif

/* ---- lane forms of one complex value ---- */
#define SMD_DIR_SIGN (FWD_DIR ? (ftype)1 : (ftype)-1)
$LANE_FORMS
/* With lane pairs every lane of a sub-group runs the butterflies (they
 * shuffle), on zeros where it has no unit; without them a work-item computes
 * only for a unit it stores. */
#ifdef LANE_PAIRS
#define SMD_COMPUTES(lid, live) 1
#else
#define SMD_COMPUTES(lid, live) (SMD_ACTIVE(lid) && (live))
#endif
/* The real step works on whole complex values in the even work-item of a
 * pair in both forms. */
#define SMD_PAIR_HEAD(lid) (((lid) & 1) == 0)

/* v times exp(-i theta) forward, exp(+i theta) backward (c = cos, s = sin). */
#define SMD_ROTATE(c, s, v, pmOne) ((v) = (c) * (v) + ((s) * (pmOne)) * swapReIm(v))

static inline ftype2 smd_mul(const ftype2 a, const ftype2 b)
{
    return (ftype2)(a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x);
}
static inline ftype2 smd_conj(const ftype2 a) { return (ftype2)(a.x, -a.y); }
static inline ftype2 smd_times_i(const ftype2 a) { return (ftype2)(-a.y, a.x); }

/* Position of frequency k of dimension 0 after the row stages. */
static inline uint smd_rev0(uint k)
{
    const uint d0 = k % DIM0FACT0;
    k /= DIM0FACT0;
    const uint d1 = k % DIM0FACT1;
    k /= DIM0FACT1;
    const uint d2 = k % DIM0FACT2;
    k /= DIM0FACT2;
    return d0 * (DIM0FACT1 * DIM0FACT2 * DIM0FACT3) + d1 * (DIM0FACT2 * DIM0FACT3) + d2 * DIM0FACT3 + k;
}
/* Row of frequency f of dimension 1 after the column stages. */
static inline uint smd_rev1(const uint f) { return (f % DIM1FACT0) * DIM1FACT1 + f / DIM1FACT0; }

/* ---- twiddles between stages ---- */
/* Main row: scale x exp(-2 pi i k rest / C2C_LEN) in column blocks of SMD_H. */
static inline void smd_twiddle_main(ptype *x, const uint rest, const ftype pmOne, const global ftype *tw)
{
    const global ftype *b = tw + (rest / SMD_H) * 4 * SMD_H * DIM0FACT0 + 2 * (rest % SMD_H);
#pragma unroll
    for (uint k = 0; k < DIM0FACT0; ++k) {
        const ftype wr = b[k * 4 * SMD_H];
        const ftype wi = b[k * 4 * SMD_H + 2 * SMD_H];
        SMD_ROTATE(wr, -wi, x[k], pmOne);
    }
}
/* Factor rows and the dimension-1 table: exp(+2 pi i k rest / M) at rest x fact + k. */
static inline void smd_twiddle_factor(ptype *x, const uint fact, const uint rest, const ftype pmOne,
                                      const global ftype *tw)
{
#pragma unroll
    for (uint k = 1; k < fact; ++k) {
        const global ftype *w = tw + 2 * (rest * fact + k);
        SMD_ROTATE(w[0], w[1], x[k], pmOne);
    }
}
#define SMD_TW_NONE(x, rest, pmOne, tw)
#define SMD_TW_MAIN(x, rest, pmOne, tw) smd_twiddle_main((x), (rest), (pmOne), (tw))
#define SMD_TW_F1(x, rest, pmOne, tw) smd_twiddle_factor((x), DIM0FACT1, (rest), (pmOne), (tw))
#define SMD_TW_F2(x, rest, pmOne, tw) smd_twiddle_factor((x), DIM0FACT2, (rest), (pmOne), (tw))
#define SMD_TW_D1(x, rest, pmOne, tw) smd_twiddle_factor((x), DIM1FACT0, (rest), (pmOne), (tw))

/* ---- one decimation-in-frequency stage over `lines` lines of LINE_LEN
 * values, STEP reals apart: FACT-point butterflies STRIDE values apart,
 * then the twiddles of the next stage ---- */
#define SMD_ROW_BASE(slm, line) ((slm) + (line) * SMD_ROW_FP)
#define SMD_COL_BASE(slm, line) ((slm) + ((line) / SMD_COLS) * SMD_N1 * SMD_ROW_FP + 2 * ((line) % SMD_COLS))
#define SMD_STAGE(NAME, FACT, FUNC, LINE_LEN, STRIDE, STEP, LINE_BASE, TWIDDLE)                         \
    static inline void NAME(local ftype *slm, const uint lines, const uint lid, const global ftype *tw) \
    {                                                                                                   \
        const ftype pmOne = SMD_PM_ONE(lid);                                                            \
        const uint per_line = (LINE_LEN) / (FACT);                                                      \
        const uint units = lines * per_line;                                                            \
        for (uint first = 0; first < units; first += SMD_WORKERS) {                                     \
            /* With lane pairs FUNC and TWIDDLE shuffle among the lanes of a */                         \
            /* sub-group, so every lane takes part in each round; lanes past the */                     \
            /* last unit work on zeros (not on local memory a live lane is */                           \
            /* rewriting) and store nothing (SMD_COMPUTES). */                                          \
            const uint u = first + lid / 2;                                                             \
            if (SMD_COMPUTES(lid, u < units)) {                                                         \
                const bool live = u < units;                                                            \
                const uint unit = live ? u : units - 1;                                                 \
                const uint e = unit % per_line;                                                         \
                const uint line = unit / per_line;                                                      \
                const uint rest = e % (STRIDE);                                                         \
                local ftype *p = LINE_BASE(slm, line) + ((e / (STRIDE)) * (FACT) * (STRIDE) + rest) * (STEP); \
                ptype x[FACT];                                                                          \
                _Pragma("unroll")                                                                       \
                for (uint n = 0; n < (FACT); ++n)                                                       \
                    x[n] = live ? SMD_LDC(p + n * (STRIDE) * (STEP), lid) : (ptype)(0);                 \
                FUNC(x, pmOne);                                                                         \
                TWIDDLE(x, rest, pmOne, tw);                                                            \
                if (live)                                                                               \
                    _Pragma("unroll")                                                                   \
                    for (uint n = 0; n < (FACT); ++n) SMD_STC(p + n * (STRIDE) * (STEP), lid, x[n]);    \
            }                                                                                           \
        }                                                                                               \
    }

#if DIM0FACT1 > 1
#define SMD_TW_ROW0 SMD_TW_MAIN
#else
#define SMD_TW_ROW0 SMD_TW_NONE
#endif
SMD_STAGE(smd_row_stage0, DIM0FACT0, DIM0FACT0_FUNC, C2C_LEN, (DIM0FACT1 * DIM0FACT2 * DIM0FACT3), 2,
          SMD_ROW_BASE, SMD_TW_ROW0)
#if DIM0FACT1 > 1
#if DIM0FACT2 > 1
#define SMD_TW_ROW1 SMD_TW_F1
#else
#define SMD_TW_ROW1 SMD_TW_NONE
#endif
SMD_STAGE(smd_row_stage1, DIM0FACT1, DIM0FACT1_FUNC, C2C_LEN, (DIM0FACT2 * DIM0FACT3), 2, SMD_ROW_BASE,
          SMD_TW_ROW1)
#endif
#if DIM0FACT2 > 1
#if DIM0FACT3 > 1
#define SMD_TW_ROW2 SMD_TW_F2
#else
#define SMD_TW_ROW2 SMD_TW_NONE
#endif
SMD_STAGE(smd_row_stage2, DIM0FACT2, DIM0FACT2_FUNC, C2C_LEN, DIM0FACT3, 2, SMD_ROW_BASE, SMD_TW_ROW2)
#endif
#if DIM0FACT3 > 1
SMD_STAGE(smd_row_stage3, DIM0FACT3, DIM0FACT3_FUNC, C2C_LEN, 1, 2, SMD_ROW_BASE, SMD_TW_NONE)
#endif
#if RANK == 2
#if DIM1FACT1 > 1
#define SMD_TW_COL0 SMD_TW_D1
#else
#define SMD_TW_COL0 SMD_TW_NONE
#endif
SMD_STAGE(smd_col_stage0, DIM1FACT0, DIM1FACT0_FUNC, SMD_N1, DIM1FACT1, SMD_ROW_FP, SMD_COL_BASE, SMD_TW_COL0)
#if DIM1FACT1 > 1
SMD_STAGE(smd_col_stage1, DIM1FACT1, DIM1FACT1_FUNC, SMD_N1, 1, SMD_ROW_FP, SMD_COL_BASE, SMD_TW_NONE)
#endif
#endif

/* All row stages, a barrier after each. */
static inline void rowbatch_fft_in_slm(local ftype *slm, const uint rows, const uint lid,
                                       const global ftype *main_row, const global ftype *second,
                                       const global ftype *third)
{
#ifdef COPY_INPUT_IN_SLM
    smd_row_stage0(slm, rows, lid, main_row);
    barrier(CLK_LOCAL_MEM_FENCE);
#endif
#if DIM0FACT1 > 1
    smd_row_stage1(slm, rows, lid, second);
    barrier(CLK_LOCAL_MEM_FENCE);
#endif
#if DIM0FACT2 > 1
    smd_row_stage2(slm, rows, lid, third);
    barrier(CLK_LOCAL_MEM_FENCE);
#endif
#if DIM0FACT3 > 1
    smd_row_stage3(slm, rows, lid, 0);
    barrier(CLK_LOCAL_MEM_FENCE);
#endif
}

/* All column stages, a barrier after each. */
static inline void colbatch_fft_in_slm(local ftype *slm, const uint batch, const uint lid,
                                       const global ftype *dim1)
{
#if RANK == 2
    smd_col_stage0(slm, batch * SMD_COLS, lid, dim1);
    barrier(CLK_LOCAL_MEM_FENCE);
#if DIM1FACT1 > 1
    smd_col_stage1(slm, batch * SMD_COLS, lid, 0);
    barrier(CLK_LOCAL_MEM_FENCE);
#endif
#endif
}

/* ---- real step: exp(-i pi m / C2C_LEN) ---- */
#define SMD_RSHARE (SMD_SUBGROUPS / SMD_ROWS)
#define SMD_RQ ((((C2C_LEN + 1) / 2) + SMD_RSHARE * SMD_H - 1) / (SMD_RSHARE * SMD_H) * SMD_H)
static inline ftype2 smd_real_factor(const uint m, const global ftype *rf)
{
#if DIM0FACT1 > 1
    const uint blk = m / (SMD_H * SMD_RSHARE);
    const uint within = m % (SMD_H * SMD_RSHARE);
    const global ftype *p = rf + 4 * (within / SMD_H) * SMD_RQ + 4 * SMD_H * blk + 2 * (within % SMD_H);
    return (ftype2)(p[0], p[2 * SMD_H]);
#else
    const ftype x = -(ftype)m / (ftype)C2C_LEN;
    return (ftype2)(cospi(x), sinpi(x));
#endif
}

/* Forward: Z (positions smd_rev0) to X[0 .. C2C_LEN], X[C2C_LEN] after the row.
 * Backward: X in natural positions to Z. Pairs k, C2C_LEN - k per worker. */
static inline void processing_even_real_in_slm(local ftype *slm, const uint rows, const uint lid,
                                               const global ftype *rf)
{
#if REAL_FFT
    const uint per_row = C2C_LEN / 2 + 1;
    const uint units = rows * per_row;
    for (uint first = 0; first < units; first += SMD_WORKERS) {
        const uint u = first + lid / 2;
        if (u >= units || !SMD_PAIR_HEAD(lid)) continue;
        local ftype *row = slm + (u / per_row) * SMD_ROW_FP;
        const uint k = u % per_row;
        const uint j = C2C_LEN - k;
#if FWD_DIR
        const uint pk = smd_rev0(k % C2C_LEN), pj = smd_rev0(j % C2C_LEN);
#else
        const uint pk = k, pj = j;
#endif
        if (k == 0) {
            const ftype2 a = vload2(0, row);
#if FWD_DIR
            vstore2((ftype2)(a.x + a.y, 0), 0, row);
            vstore2((ftype2)(a.x - a.y, 0), 0, row + 2 * C2C_LEN);
#else
            const ftype2 b = vload2(0, row + 2 * C2C_LEN);
            vstore2((ftype2)(a.x + b.x, a.x - b.x), 0, row);
#endif
        } else if (k == j) {
            const ftype2 a = vload2(0, row + 2 * pk);
#if FWD_DIR
            vstore2(smd_conj(a), 0, row + 2 * pk);
#else
            vstore2((ftype)2 * smd_conj(a), 0, row + 2 * pk);
#endif
        } else if (k < j) {
            const ftype2 a = vload2(0, row + 2 * pk);
            const ftype2 b = vload2(0, row + 2 * pj);
            const ftype2 w = smd_real_factor(k, rf);
#if FWD_DIR
            const ftype2 s = (ftype)0.5 * (a + smd_conj(b));
            const ftype2 v = smd_mul(w, (ftype)0.5 * (a - smd_conj(b)));
            vstore2(s - smd_times_i(v), 0, row + 2 * pk);
            vstore2(smd_conj(s) - smd_times_i(smd_conj(v)), 0, row + 2 * pj);
#else
            const ftype2 s = a + smd_conj(b);
            const ftype2 v = smd_mul(smd_conj(w), a - smd_conj(b));
            vstore2(s + smd_times_i(v), 0, row + 2 * pk);
            vstore2(smd_conj(s) + smd_times_i(smd_conj(v)), 0, row + 2 * pj);
#endif
        }
    }
#endif
}

/* ---- global memory ---- */
/* Reals from the start of row `row` of the group (transform first_transform
 * + row / SMD_N1) in the input. */
static inline const global ftype *smd_input_row(const global ftype *in, const ulong first_transform, const uint row)
{
    const ulong t = first_transform + row / SMD_N1;
    return in + (t * IDIST + (ulong)(row % SMD_N1) * DIM1ISTRIDE) * SMD_EIN;
}

#ifdef COPY_INPUT_IN_SLM
/* The input rows into local memory, SMD_ROW_FP reals apart, before the row
 * stages. Row by row (LOAD_ROW_BY_ROW): the INPUT_FP_PER_ROW_MIN reals of
 * each row, each row from its own address, to ROW_IDIST_FP x row. In one
 * piece: the group's rows lie INPUT_FP_PER_ROW reals apart from its first
 * row on, and the work-items sweep that span as one run (the gaps between
 * rows included, the last row only up to its end), keeping the reals of each
 * row. */
static inline void load_input_in_slm(const global ftype *in, local ftype *slm, const ulong first_transform,
                                     const uint batch, const uint lid, const global ftype *main_row)
{
    const uint rows = batch * SMD_N1;
#if LOAD_ROW_BY_ROW
    const uint reals = rows * INPUT_FP_PER_ROW_MIN;
    for (uint x = lid; x < reals; x += WORKGROUP_SIZE) {
        const uint row = x / INPUT_FP_PER_ROW_MIN, col = x % INPUT_FP_PER_ROW_MIN;
        slm[row * ROW_IDIST_FP + col] = smd_input_row(in, first_transform, row)[col];
    }
#else
    const global ftype *src = smd_input_row(in, first_transform, 0);
    const ulong span = (ulong)(rows - 1) * INPUT_FP_PER_ROW + INPUT_FP_PER_ROW_MIN;
    for (ulong x = lid; x < span; x += WORKGROUP_SIZE) {
        const uint row = x / INPUT_FP_PER_ROW, col = x % INPUT_FP_PER_ROW;
        if (col < INPUT_FP_PER_ROW_MIN) slm[row * SMD_ROW_FP + col] = src[x];
    }
#endif
}
#else
/* The input stays in global memory: the first row stage reads it there and
 * leaves its results in local memory, SMD_ROW_FP reals a row. */
#ifndef LANE_PAIRS
/* Portable form: a work-item reads its unit's values a whole stride apart,
 * each from its own cache line, and neighbouring work-items read the same
 * lines; on a CPU one work-item runs after the other, so each takes two
 * neighbouring units and uses each line it fetches twice. */
static inline void load_input_in_slm(const global ftype *in, local ftype *slm, const ulong first_transform,
                                     const uint batch, const uint lid, const global ftype *main_row)
{
    if (!SMD_ACTIVE(lid)) return;
    const ftype pmOne = SMD_PM_ONE(lid);
    const uint stride = DIM0FACT1 * DIM0FACT2 * DIM0FACT3;
    const uint units = batch * SMD_N1 * stride;
    for (uint u = lid / 2 * 2; u < units; u += 2 * SMD_WORKERS) {
        /* The last unit of an odd count is computed twice and stored twice. */
        const uint v = min(u + 1, units - 1);
        const uint rest_u = u % stride, rest_v = v % stride;
        const global ftype *src_u = smd_input_row(in, first_transform, u / stride) + 2 * rest_u;
        const global ftype *src_v = smd_input_row(in, first_transform, v / stride) + 2 * rest_v;
        ptype x[DIM0FACT0], y[DIM0FACT0];
#pragma unroll
        for (uint n = 0; n < DIM0FACT0; ++n) {
            x[n] = vload2(0, src_u + 2 * n * stride);
            y[n] = vload2(0, src_v + 2 * n * stride);
        }
        DIM0FACT0_FUNC(x, pmOne);
        SMD_TW_ROW0(x, rest_u, pmOne, main_row);
        DIM0FACT0_FUNC(y, pmOne);
        SMD_TW_ROW0(y, rest_v, pmOne, main_row);
        local ftype *dst_u = SMD_ROW_BASE(slm, u / stride) + 2 * rest_u;
        local ftype *dst_v = SMD_ROW_BASE(slm, v / stride) + 2 * rest_v;
#pragma unroll
        for (uint n = 0; n < DIM0FACT0; ++n) {
            vstore2(x[n], 0, dst_u + 2 * n * stride);
            vstore2(y[n], 0, dst_v + 2 * n * stride);
        }
    }
}
#else
/* Every lane of a sub-group runs the butterflies; only loads and stores of
 * real units are kept. */
static inline void load_input_in_slm(const global ftype *in, local ftype *slm, const ulong first_transform,
                                     const uint batch, const uint lid, const global ftype *main_row)
{
    const ftype pmOne = SMD_PM_ONE(lid);
    const uint stride = DIM0FACT1 * DIM0FACT2 * DIM0FACT3;
    const uint per_line = C2C_LEN / DIM0FACT0;
    const uint units = batch * SMD_N1 * per_line;
    for (uint first = 0; first < units; first += SMD_WORKERS) {
        const bool live = first + lid / 2 < units;
        const uint u = min(first + lid / 2, units - 1);
        const uint e = u % per_line;
        const uint rest = e % stride;
        const uint at = (e / stride) * DIM0FACT0 * stride + rest;
        const global ftype *src = smd_input_row(in, first_transform, u / per_line) + 2 * at;
        local ftype *dst = SMD_ROW_BASE(slm, u / per_line) + 2 * at;
        ptype x[DIM0FACT0];
#pragma unroll
        for (uint n = 0; n < DIM0FACT0; ++n) x[n] = SMD_LDC(src + 2 * n * stride, lid);
        DIM0FACT0_FUNC(x, pmOne);
        SMD_TW_ROW0(x, rest, pmOne, main_row);
        if (live)
#pragma unroll
            for (uint n = 0; n < DIM0FACT0; ++n) SMD_STC(dst + 2 * n * stride, lid, x[n]);
    }
}
#endif
#endif

/* One output value: unit u counts the group's output values in order. */
static inline void smd_export_unit(const local ftype *slm, global ftype *out, const ulong first_transform,
                                   const uint u, const uint lid)
{
    const uint k = u % SMD_OUT_CPLX;
    const uint row = u / SMD_OUT_CPLX;
    const uint b = row / SMD_N1, f1 = row % SMD_N1;
    const uint pos = k < C2C_LEN ? smd_rev0(k) : C2C_LEN;
    const local ftype *src = slm + (b * SMD_N1 + smd_rev1(f1)) * SMD_ROW_FP + 2 * pos;
    global ftype *dst = out + OUTPUT_OFFSET_FP +
                        ((first_transform + b) * ODIST + (ulong)f1 * DIM1OSTRIDE) * SMD_EOUT + 2 * k;
    SMD_STC(dst, lid, (ftype)(SCALE) * SMD_LDC(src, lid));
}

/* With lane pairs the lanes of a sub-group store neighbouring values. In the
 * portable form a CPU runs each work-item's rounds back to back, so the
 * values one work-item stores lie a whole round apart; past eight of them
 * they compete for one set of the CPU's first-level cache, so each
 * work-item then stores runs of SMD_EXPORT_RUN neighbouring values. */
#define SMD_EXPORT_ROUNDS ((SMD_ROWS * SMD_OUT_CPLX + SMD_WORKERS - 1) / SMD_WORKERS)
#define SMD_EXPORT_RUN ((SMD_EXPORT_ROUNDS + 7) / 8)
static inline void export_slm_results(const local ftype *slm, global ftype *out, const ulong first_transform,
                                      const uint batch, const uint lid)
{
    const uint units = batch * SMD_N1 * SMD_OUT_CPLX;
#ifdef LANE_PAIRS
    for (uint first = 0; first < units; first += SMD_WORKERS) {
        const uint u = first + lid / 2;
        if (u < units) smd_export_unit(slm, out, first_transform, u, lid);
    }
#else
    if (!SMD_ACTIVE(lid)) return;
    for (uint first = lid / 2 * SMD_EXPORT_RUN; first < units; first += SMD_WORKERS * SMD_EXPORT_RUN)
        for (uint u = first; u < min(first + SMD_EXPORT_RUN, units); ++u)
            smd_export_unit(slm, out, first_transform, u, lid);
#endif
}

#if DIM0FACT1 > 1
#define SMD_MAIN_PARAM , const global ftype *mainTwidlRow
#define SMD_MAIN_ARG mainTwidlRow
#else
#define SMD_MAIN_PARAM
#define SMD_MAIN_ARG 0
#endif
#if DIM0FACT2 > 1
#define SMD_SECOND_PARAM , const global ftype *secondFactTwidlRow
#define SMD_SECOND_ARG secondFactTwidlRow
#else
#define SMD_SECOND_PARAM
#define SMD_SECOND_ARG 0
#endif
#if DIM0FACT3 > 1
#define SMD_THIRD_PARAM , const global ftype *thirdFactTwidlRow
#define SMD_THIRD_ARG thirdFactTwidlRow
#else
#define SMD_THIRD_PARAM
#define SMD_THIRD_ARG 0
#endif
#if REAL_FFT && DIM0FACT1 > 1
#define SMD_REAL_PARAM , const global ftype *realFactors
#define SMD_REAL_ARG realFactors
#else
#define SMD_REAL_PARAM
#define SMD_REAL_ARG 0
#endif
#if RANK == 2 && DIM1FACT1 > 1
#define SMD_DIM1_PARAM , const global ftype *twidlTableDim1
#define SMD_DIM1_ARG twidlTableDim1
#else
#define SMD_DIM1_PARAM
#define SMD_DIM1_ARG 0
#endif

/* The launch is (groups, WORKGROUP_SIZE) with local (1, WORKGROUP_SIZE); the
 * sums below read it in either dimension order. */
kernel
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void KERNEL_FUNC(const global ftype *in, global ftype *out, local ftype *slmPtr
                 SMD_MAIN_PARAM SMD_SECOND_PARAM SMD_THIRD_PARAM SMD_REAL_PARAM SMD_DIM1_PARAM)
{
    const uint lid = get_local_id(0) + get_local_id(1);
    const ulong group = get_group_id(0) + get_group_id(1);
    const ulong groups = get_num_groups(0) * get_num_groups(1);
    const uint batch = group + 1 == groups ? BATCH_FOR_LAST_GROUP : BATCH_PER_GROUP;
    const ulong first_transform = group * BATCH_PER_GROUP;

    load_input_in_slm(in, slmPtr, first_transform, batch, lid, SMD_MAIN_ARG);
    /* In place, the export stores where other work-items have read. */
    barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE);
#if REAL_FFT && BWD_DIR
    colbatch_fft_in_slm(slmPtr, batch, lid, SMD_DIM1_ARG);
    processing_even_real_in_slm(slmPtr, batch * SMD_N1, lid, SMD_REAL_ARG);
    barrier(CLK_LOCAL_MEM_FENCE);
    rowbatch_fft_in_slm(slmPtr, batch * SMD_N1, lid, SMD_MAIN_ARG, SMD_SECOND_ARG, SMD_THIRD_ARG);
#else
    rowbatch_fft_in_slm(slmPtr, batch * SMD_N1, lid, SMD_MAIN_ARG, SMD_SECOND_ARG, SMD_THIRD_ARG);
#if REAL_FFT
    processing_even_real_in_slm(slmPtr, batch * SMD_N1, lid, SMD_REAL_ARG);
    barrier(CLK_LOCAL_MEM_FENCE);
#endif
    colbatch_fft_in_slm(slmPtr, batch, lid, SMD_DIM1_ARG);
#endif
    export_slm_results(slmPtr, out, first_transform, batch, lid);
}

#endif
)";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return lid_kernel_lane_forms("SMD", "SMD_DIR_SIGN",
                               {
                                   {"SMD_LDC(p, lid)", "((p)[(lid) & 1])", "vload2(0, (p))"},
                                   {"SMD_STC(p, lid, v)", "((p)[(lid) & 1] = (v))", "vstore2((v), 0, (p))"},
                               });
}

}  // namespace

void write_small_md_kernel(std::ostream& out, precision p) {
  out << "#ifdef cl_tavir_subgroups\n#pragma OPENCL EXTENSION "
         "cl_tavir_subgroups : enable\n#endif\n";
  out << "#define SMD_FP_BYTES " << (p == precision::double_precision ? 8 : 4) << "\n";
  out << with_lane_form_macros(kernel_text, lane_forms());
}

}  // namespace qez_codelets
