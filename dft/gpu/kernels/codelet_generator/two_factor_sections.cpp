#include "two_factor_sections.hpp"

namespace qez_codelets {

namespace {

// J * v is pmOne * swapReIm(v) in both lane forms, so one text serves both.
const char default_funcs_text[] = R"(/* ---- Generic sizes of the two-factor kernel -------------------------------
 * Direct DFT in registers of any size up to 64, by symmetric pairs
 * (x_j, x_(fact-j)); an even size adds the middle term. Twiddles come from
 * cospi/sinpi of 2*(j*k mod fact)/fact. */
#if defined(FACT0_DEFAULT_FUNC) || defined(FACT1_DEFAULT_FUNC)
static inline void tf_direct_dft(ptype *x, const uint fact, const ftype pmOne)
{
    ptype a[64];
    ptype total = (ptype)(0);
    for (uint j = 0; j < fact; ++j) {
        a[j] = x[j];
        total += a[j];
    }
    const uint pairs = (fact - 1) / 2;
    const uint even_size = (fact & 1) == 0;
    x[0] = total;
    for (uint k = 1; k <= pairs; ++k) {
        ptype even = a[0];
        ptype odd = (ptype)(0);
        for (uint j = 1; j <= pairs; ++j) {
            const ftype angle = (ftype)(2 * ((j * k) % fact)) / (ftype)fact;
            even += cospi(angle) * (a[j] + a[fact - j]);
            odd += sinpi(angle) * (a[j] - a[fact - j]);
        }
        if (even_size) even += (k & 1) ? -a[fact / 2] : a[fact / 2];
        x[k] = even + pmOne * swapReIm(odd);
        x[fact - k] = even - pmOne * swapReIm(odd);
    }
    if (even_size) {
        ptype alternating = (ptype)(0);
        for (uint j = 0; j < fact; ++j) alternating += (j & 1) ? -a[j] : a[j];
        x[fact / 2] = alternating;
    }
}
#endif
#ifdef FACT0_DEFAULT_FUNC
static inline void FACT0_DEFAULT_FUNC(ptype *in, const ftype pmOne) { tf_direct_dft(in, FACT0, pmOne); }
#endif
#ifdef FACT1_DEFAULT_FUNC
static inline void FACT1_DEFAULT_FUNC(ptype *in, const ftype pmOne) { tf_direct_dft(in, FACT1, pmOne); }
#endif

)";

// Block moves of one component per lane: 64-bit forms for double, 32-bit
// forms for float.
const char block_moves_double[] = R"(#if defined(LANE_PAIRS) && defined(cl_tavir_subgroups_long)
#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable
#endif
#define TF_BLOCK_READ(p) as_double(tavir_sub_group_block_read_ul((const global ulong *)(p)))
#define TF_BLOCK_WRITE(p, v) tavir_sub_group_block_write_ul((global ulong *)(p), as_ulong(v))
)";
const char block_moves_single[] = R"(#define TF_BLOCK_READ(p) as_float(tavir_sub_group_block_read((const global uint *)(p)))
#define TF_BLOCK_WRITE(p, v) tavir_sub_group_block_write((global uint *)(p), as_uint(v))
)";

const char kernel_text[] = R"(/* ---- Two-factor kernel -----------------------------------------------------
 * Whole transforms of N = FACT0 x FACT1 points per work-group: FACT0-point
 * DFTs down the columns, twiddles (scale included) from the lane-interleaved
 * table, transpose through local memory, FACT1-point DFTs along the rows,
 * natural-order output. Element n = i*FACT1 + j sits in row i, column j;
 * output k1 + FACT0*k2 comes from row k1.
 * Work-items form lane pairs (two consecutive local ids). With LANE_PAIRS
 * the even lane holds the real and the odd lane the imaginary part of one
 * complex value, and sub-groups move four complex values per block read.
 * Without it (portable form) the even work-item of a pair holds the whole
 * complex value and the odd one only joins the barriers, so geometry,
 * arguments and options are the same in both forms. */
#define TF_N (FACT0 * FACT1)
#define TF_PF1 (FACT1 + PADFACT1)
#define TF_H (SUBGROUP_SIZE / 2)
#define TF_PAIRS (WORK_GROUP_SIZE / 2)
#define TF_SUBGROUPS (WORK_GROUP_SIZE / SUBGROUP_SIZE)
#define TF_COLUMN_GROUPS (TF_PF1 / TF_H)
#define TF_TABLE_BLOCK (2 * SUBGROUP_SIZE * FACT0)
#ifndef BATCH_PER_GROUP
#define BATCH_PER_GROUP 1
#define BATCH_FOR_LAST_GROUP 1
#endif
#if FWD_DIR
#define TF_DIRECTION_SIGN ((ftype)1)
#else
#define TF_DIRECTION_SIGN ((ftype)-1)
#endif

#ifdef LANE_PAIRS
#define TF_ACTIVE(lane) 1
#define TF_PM_ONE(lane) ((((lane) & 1) ? (ftype)-1 : (ftype)1) * TF_DIRECTION_SIGN)
#define TF_LOAD(base, e, comp) ((base)[2 * (e) + (comp)])
#define TF_STORE(v, base, e, comp) ((base)[2 * (e) + (comp)] = (v))
/* Lane 2p reads (cos, sin), lane 2p+1 (cos, -sin); pmOne * sin of the
 * multiplication macro is -(its entry) forward and +(its entry) backward. */
#define TF_TWIDDLE_COS(t, o, comp) ((t)[(o) + (comp)])
#define TF_TWIDDLE_SIN(t, o, comp) (-TF_DIRECTION_SIGN * (t)[(o) + SUBGROUP_SIZE + (comp)])
#else
#define TF_ACTIVE(lane) (((lane) & 1) == 0)
#define TF_PM_ONE(lane) ((ftype)1)
#define TF_LOAD(base, e, comp) vload2((e), (base))
#define TF_STORE(v, base, e, comp) vstore2((v), (e), (base))
/* (cos, -sin) of the odd lane is the multiplier by (cos - i*(-sin)). */
#define TF_TWIDDLE_COS(t, o, comp) ((t)[(o)])
#define TF_TWIDDLE_SIN(t, o, comp) ((t)[(o) + SUBGROUP_SIZE + 1])
#endif

/* One value of row `row` for the lane's column; the sub-group of column
 * group `sg` reads its four columns with one block read when they all
 * exist, element by element in the padded tail. */
static inline ptype tf_read_column_value(const global ftype *in, const uint row, const uint sg,
                                         const uint column, const uint comp)
{
#ifdef LANE_PAIRS
    if (TF_H * (sg + 1) <= FACT1) return TF_BLOCK_READ(in + 2 * (row * FACT1 + TF_H * sg));
#endif
    return column < FACT1 ? TF_LOAD(in, row * FACT1 + column, comp) : (ptype)(0);
}

/* FACT0-point DFTs of the columns, twiddles, transposed store: local
 * element k*FACT1 + j holds row k of column j. */
static inline void tf_columns(const global ftype *in, const global ftype *table, local ftype *slm,
                              const uint sg, const uint lane, const ftype pmOne)
{
    if (sg >= TF_COLUMN_GROUPS || !TF_ACTIVE(lane)) return;
    const uint comp = lane & 1;
    const uint column = TF_H * sg + lane / 2;
    const bool inside = column < FACT1;
    ptype v[FACT0];
    for (uint i = 0; i < FACT0; ++i) v[i] = tf_read_column_value(in, i, sg, column, comp);
    FACT0_FUNC(v, pmOne);
    const uint block = sg * TF_TABLE_BLOCK + 2 * (lane / 2);
    for (uint k = 0; k < FACT0; ++k) {
        const uint o = block + k * 2 * SUBGROUP_SIZE;
        const ftype twr = inside ? TF_TWIDDLE_COS(table, o, comp) : (ftype)(0);
        const ftype twi = inside ? TF_TWIDDLE_SIN(table, o, comp) : (ftype)(0);
        TWIDL_MULT_INPLACE(twr, twi, v[k]);
        if (inside) TF_STORE(v[k], slm, k * FACT1 + column, comp);
    }
}

/* Row of pass `pass` for the lane's pair; the sub-group takes part while
 * its first row exists. */
static inline uint tf_row(const uint pass, const uint sg, const uint lane)
{
    return pass * TF_PAIRS + TF_H * sg + lane / 2;
}
static inline bool tf_rows_busy(const uint pass, const uint sg, const uint lane)
{
    return TF_ACTIVE(lane) && pass * TF_PAIRS + TF_H * sg < FACT0;
}

/* FACT1-point DFTs of the rows, kept in registers until every row is read. */
static inline void tf_rows(const local ftype *slm, ptype rows[FACT1_LOOP_BOUND][FACT1],
                           const uint sg, const uint lane, const ftype pmOne)
{
    const uint comp = lane & 1;
    for (uint pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
        if (!tf_rows_busy(pass, sg, lane)) continue;
        const uint row = tf_row(pass, sg, lane);
        for (uint j = 0; j < FACT1; ++j)
            rows[pass][j] = row < FACT0 ? TF_LOAD(slm, row * FACT1 + j, comp) : (ptype)(0);
        FACT1_FUNC(rows[pass], pmOne);
    }
}

/* Row k1 holds outputs k1 + FACT0*k2: natural order in local memory. */
static inline void tf_store_rows(local ftype *slm, ptype rows[FACT1_LOOP_BOUND][FACT1],
                                 const uint sg, const uint lane)
{
    const uint comp = lane & 1;
    for (uint pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
        if (!tf_rows_busy(pass, sg, lane)) continue;
        const uint row = tf_row(pass, sg, lane);
        if (row >= FACT0) continue;
        for (uint k = 0; k < FACT1; ++k) TF_STORE(rows[pass][k], slm, row + FACT0 * k, comp);
    }
}

/* The finished transform from local memory to `out`, contiguous. */
static inline void tf_write_out(const local ftype *slm, global ftype *out, const uint sg, const uint lane)
{
#ifdef LANE_PAIRS
    for (uint first = TF_H * sg; first < TF_N; first += TF_H * TF_SUBGROUPS) {
        const ftype v = first + lane / 2 < TF_N ? slm[2 * first + lane] : (ftype)(0);
        if (first + TF_H <= TF_N) TF_BLOCK_WRITE(out + 2 * first, v);
        else if (first + lane / 2 < TF_N) out[2 * first + lane] = v;
    }
#else
    if (!TF_ACTIVE(lane)) return;
    for (uint e = TF_H * sg + lane / 2; e < TF_N; e += TF_PAIRS) vstore2(vload2(e, slm), e, out);
#endif
}

kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void KERNEL_FUNC(const global ftype *in, global ftype *out, const global ftype *twidlTable,
                 local ftype *slmPtr)
{
    const uint lid = get_local_id(0);
    const uint sg = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const ftype pmOne = TF_PM_ONE(lane);
    const ulong group = get_group_id(0);
    const uint count = group + 1 == get_num_groups(0) ? BATCH_FOR_LAST_GROUP : BATCH_PER_GROUP;
    in += 2 * group * BATCH_PER_GROUP * (ulong)(IDIST);
    out += 2 * group * BATCH_PER_GROUP * (ulong)(ODIST);
    ptype rows[FACT1_LOOP_BOUND][FACT1];
    for (uint b = 0; b < count; ++b) {
        if (b > 0) barrier(CLK_LOCAL_MEM_FENCE);
        tf_columns(in, twidlTable, slmPtr, sg, lane, pmOne);
        barrier(CLK_LOCAL_MEM_FENCE);
        tf_rows(slmPtr, rows, sg, lane, pmOne);
        barrier(CLK_LOCAL_MEM_FENCE);
        tf_store_rows(slmPtr, rows, sg, lane);
        barrier(CLK_LOCAL_MEM_FENCE);
        tf_write_out(slmPtr, out, sg, lane);
        in += 2 * (ulong)(IDIST);
        out += 2 * (ulong)(ODIST);
    }
}
)";

}  // namespace

void write_two_factor_default_funcs(std::ostream& out, precision) { out << default_funcs_text; }

void write_two_factor_kernel(std::ostream& out, precision p) {
  out << (p == precision::double_precision ? block_moves_double : block_moves_single);
  out << kernel_text;
}

}  // namespace qez_codelets
