#include "c2c_3d_2_facts_sections.hpp"

namespace qez_codelets {

namespace {

// Block moves of one component per lane: 64-bit forms for double, 32-bit
// forms for float.
const char block_moves_double[] = R"(/* ---- Fused two-factor line kernels: block moves ---- */
#if defined(LANE_PAIRS) && defined(cl_tavir_subgroups_long)
#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable
#endif
#define F2_BLOCK_READ(p) as_double(tavir_sub_group_block_read_ul((const global ulong *)(p)))
#define F2_BLOCK_WRITE(p, v) tavir_sub_group_block_write_ul((global ulong *)(p), as_ulong(v))
)";
const char block_moves_single[] = R"(/* ---- Fused two-factor line kernels: block moves ---- */
#define F2_BLOCK_READ(p) as_float(tavir_sub_group_block_read((const global uint *)(p)))
#define F2_BLOCK_WRITE(p, v) tavir_sub_group_block_write((global uint *)(p), as_uint(v))
)";

const char kernels_text[] = R"(/* ---- Fused two-factor line kernels ------------------------------------------
 * Lines of N = FACT0 x FACT1 complex points, each transformed whole by one
 * work-group: FACT0-point codelets down the columns of the FACT1 x FACT0
 * view of the line (element n = i*FACT1 + j is row i, column j), twiddles,
 * a transpose through local memory, FACT1-point codelets, natural order
 * (output k0 + FACT0*k1 comes from row k0, column k1).
 *   KERNEL_FUNC0  rows (unit stride), `in` to `out`, BATCH_PER_GROUP rows a
 *                 work-group; table blocks of 2 SUBGROUP_SIZE reals per
 *                 (column group of four, FACT0 index), scale included.
 *   KERNEL_FUNC1  four adjacent columns of one xy plane along y, in place.
 *   KERNEL_FUNC2  four adjacent columns of one xz plane along z, in place.
 *                 Table blocks of 2 SUBGROUP_SIZE reals per (column, FACT0
 *                 index), the same twiddle in every lane pair, no scale.
 * In a table block lane L finds the cosine at L and the signed sine at
 * SUBGROUP_SIZE + L: -sin for the even and +sin for the odd lane of a pair.
 * The direction's sign is applied here (FWD_DIR: multiply by cos - i sin).
 * Work-items form lane pairs (local ids 2p, 2p+1). With LANE_PAIRS the even
 * lane holds the real and the odd lane the imaginary part of one complex
 * value, and sub-groups move four complex values per block read or write.
 * Without it (portable form) the even work-item holds the whole value and
 * the odd one only joins the barriers: geometry, arguments and options are
 * the same in both forms. Every line is read before the first barrier and
 * written after the last, so in-place passes are safe. */
#if defined(KERNEL_FUNC0) && defined(FACT0) && defined(FACT1)

#define F2_N (FACT0 * FACT1)
#define F2_PF1 (FACT1 + PADFACT1)
#define F2_H (SUBGROUP_SIZE / 2)
#define F2_BLOCK (2 * SUBGROUP_SIZE)
#define F2_PAIRS (WORK_GROUP_SIZE / 2)
#define F2_SUBGROUPS (WORK_GROUP_SIZE / SUBGROUP_SIZE)
#define F2_COLUMN_GROUPS (F2_PF1 / F2_H)
#ifndef BATCH_PER_GROUP
#define BATCH_PER_GROUP 1
#endif
#ifndef BATCH_FOR_LAST_GROUP
#define BATCH_FOR_LAST_GROUP BATCH_PER_GROUP
#endif
#ifndef FACT1_LOOP_BOUND
#define FACT1_LOOP_BOUND 1
#endif
#if FWD_DIR
#define F2_DIRECTION_SIGN ((ftype)1)
#else
#define F2_DIRECTION_SIGN ((ftype)-1)
#endif

#ifdef LANE_PAIRS
#define F2_ACTIVE(lane) 1
#define F2_PM_ONE(lane) ((((lane) & 1) ? (ftype)-1 : (ftype)1) * F2_DIRECTION_SIGN)
#define F2_LOAD(base, e, comp) ((base)[2 * (size_t)(e) + (comp)])
#define F2_STORE(v, base, e, comp) ((base)[2 * (size_t)(e) + (comp)] = (v))
/* var = cos * var + coefficient * swapReIm(var): the coefficient is minus
 * the lane's signed sine forward and plus it backward. */
#define F2_TWIDDLE_COS(t, o, comp) ((t)[(o) + (comp)])
#define F2_TWIDDLE_SIN(t, o, comp) (-F2_DIRECTION_SIGN * (t)[(o) + SUBGROUP_SIZE + (comp)])
#else
#define F2_ACTIVE(lane) (((lane) & 1) == 0)
#define F2_PM_ONE(lane) ((ftype)1)
#define F2_LOAD(base, e, comp) vload2((size_t)(e), (base))
#define F2_STORE(v, base, e, comp) vstore2((v), (size_t)(e), (base))
/* The odd lane's +sin: TWIDL_MULT_INPLACE multiplies by cos -/+ i sin. */
#define F2_TWIDDLE_COS(t, o, comp) ((t)[(o)])
#define F2_TWIDDLE_SIN(t, o, comp) ((t)[(o) + SUBGROUP_SIZE + 1])
#endif

/* ---- Rows ------------------------------------------------------------------ */

/* Row i of the lane's column; a sub-group whose four columns all exist reads
 * them with one block read, the padded tail element by element. */
static inline ptype f2_row_value(const global ftype *in, const uint i, const uint sg,
                                 const uint column, const uint comp)
{
#ifdef LANE_PAIRS
    if (F2_H * (sg + 1) <= FACT1) return F2_BLOCK_READ(in + 2 * (i * FACT1 + F2_H * sg));
#endif
    return column < FACT1 ? F2_LOAD(in, i * FACT1 + column, comp) : (ptype)(0);
}

/* FACT0-point DFTs of the columns, twiddles, transposed store: local
 * element k*FACT1 + j holds row k of column j. */
static inline void f2_row_columns(const global ftype *in, const global ftype *table,
                                  local ftype *slm, const uint sg, const uint lane,
                                  const ftype pmOne)
{
    if (sg >= F2_COLUMN_GROUPS || !F2_ACTIVE(lane)) return;
    const uint comp = lane & 1;
    const uint column = F2_H * sg + lane / 2;
    const bool inside = column < FACT1;
    ptype v[FACT0];
    for (uint i = 0; i < FACT0; ++i) v[i] = f2_row_value(in, i, sg, column, comp);
    FACT0_FUNC(v, pmOne);
    const uint block = sg * F2_BLOCK * FACT0 + 2 * (lane / 2);
    for (uint k = 0; k < FACT0; ++k) {
        const uint o = block + k * F2_BLOCK;
        const ftype twr = inside ? F2_TWIDDLE_COS(table, o, comp) : (ftype)(0);
        const ftype twi = inside ? F2_TWIDDLE_SIN(table, o, comp) : (ftype)(0);
        TWIDL_MULT_INPLACE(twr, twi, v[k]);
        if (inside) F2_STORE(v[k], slm, k * FACT1 + column, comp);
    }
}

/* Row of round `pass` for the lane's pair; a sub-group takes part while
 * its first row exists. */
static inline uint f2_row(const uint pass, const uint sg, const uint lane)
{
    return pass * F2_PAIRS + F2_H * sg + lane / 2;
}
static inline bool f2_rows_busy(const uint pass, const uint sg, const uint lane)
{
    return F2_ACTIVE(lane) && pass * F2_PAIRS + F2_H * sg < FACT0;
}

/* FACT1-point DFTs of the rows, kept in registers until every row is read. */
static inline void f2_row_rows(const local ftype *slm, ptype rows[FACT1_LOOP_BOUND][FACT1],
                               const uint sg, const uint lane, const ftype pmOne)
{
    const uint comp = lane & 1;
    for (uint pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
        if (!f2_rows_busy(pass, sg, lane)) continue;
        const uint row = f2_row(pass, sg, lane);
        for (uint j = 0; j < FACT1; ++j)
            rows[pass][j] = row < FACT0 ? F2_LOAD(slm, row * FACT1 + j, comp) : (ptype)(0);
        FACT1_FUNC(rows[pass], pmOne);
    }
}

/* Row k0 holds outputs k0 + FACT0*k1: natural order in local memory. */
static inline void f2_row_store(local ftype *slm, ptype rows[FACT1_LOOP_BOUND][FACT1],
                                const uint sg, const uint lane)
{
    const uint comp = lane & 1;
    for (uint pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
        if (!f2_rows_busy(pass, sg, lane)) continue;
        const uint row = f2_row(pass, sg, lane);
        if (row >= FACT0) continue;
        for (uint k = 0; k < FACT1; ++k) F2_STORE(rows[pass][k], slm, row + FACT0 * k, comp);
    }
}

/* The finished line from local memory to `out`, contiguous. */
static inline void f2_row_write(const local ftype *slm, global ftype *out, const uint sg,
                                const uint lane)
{
#ifdef LANE_PAIRS
    for (uint first = F2_H * sg; first < F2_N; first += F2_H * F2_SUBGROUPS) {
        const ftype v = first + lane / 2 < F2_N ? slm[2 * first + lane] : (ftype)(0);
        if (first + F2_H <= F2_N) F2_BLOCK_WRITE(out + 2 * first, v);
        else if (first + lane / 2 < F2_N) out[2 * first + lane] = v;
    }
#else
    if (!F2_ACTIVE(lane)) return;
    for (uint e = F2_H * sg + lane / 2; e < F2_N; e += F2_PAIRS) vstore2(vload2(e, slm), e, out);
#endif
}

kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void KERNEL_FUNC0(const global ftype *in, global ftype *out, const global ftype *twidlTable,
                  local ftype *slmPtr)
{
    const uint lid = get_local_id(0);
    const uint sg = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const ftype pmOne = F2_PM_ONE(lane);
    const ulong group = get_group_id(0);
    const uint count = group + 1 == get_num_groups(0) ? BATCH_FOR_LAST_GROUP : BATCH_PER_GROUP;
    in += 2 * group * BATCH_PER_GROUP * (ulong)(IDIST);
    out += 2 * group * BATCH_PER_GROUP * (ulong)(ODIST);
    ptype rows[FACT1_LOOP_BOUND][FACT1];
    for (uint b = 0; b < count; ++b) {
        if (b > 0) barrier(CLK_LOCAL_MEM_FENCE);
        f2_row_columns(in, twidlTable, slmPtr, sg, lane, pmOne);
        barrier(CLK_LOCAL_MEM_FENCE);
        f2_row_rows(slmPtr, rows, sg, lane, pmOne);
        barrier(CLK_LOCAL_MEM_FENCE);
        f2_row_store(slmPtr, rows, sg, lane);
        barrier(CLK_LOCAL_MEM_FENCE);
        f2_row_write(slmPtr, out, sg, lane);
        in += 2 * (ulong)(IDIST);
        out += 2 * (ulong)(ODIST);
    }
}

/* ---- Columns along a strided dimension -------------------------------------
 * Work-group: SUBGROUP_SIZE x FACT0 work-items; lane pair p of every
 * sub-group serves column x = 4 x_block + p (unit stride in x), points
 * `first` + x + y * `stride`, y < N. Local memory: 4 complex values per y.
 * The last x block of a row holds fewer than four columns: there only the
 * lanes below TAIL_READS_WRITES read and write. */
#if defined(KERNEL_FUNC1) || defined(KERNEL_FUNC2)

static inline bool f2_tail_block(const uint x_block)
{
    return 4 * (x_block + 1) > BATCH_SIZE_IN_X_DIR;
}

static inline ptype f2_column_value(const global ftype *in, const ulong at, const uint tail,
                                    const uint lane)
{
#ifdef LANE_PAIRS
    if (!tail) return F2_BLOCK_READ(in + 2 * at);
    return lane < TAIL_READS_WRITES ? in[2 * at + lane] : (ftype)(0);
#else
    return vload2(at + lane / 2, in);
#endif
}

static inline void f2_column_store(global ftype *out, const ulong at, const uint tail,
                                   const uint lane, const ptype v)
{
#ifdef LANE_PAIRS
    if (!tail) F2_BLOCK_WRITE(out + 2 * at, v);
    else if (lane < TAIL_READS_WRITES) out[2 * at + lane] = v;
#else
    vstore2(v, at + lane / 2, out);
#endif
}

static inline void f2_columns(const global ftype *in, global ftype *out,
                              const global ftype *table, local ftype *slm, const ulong first,
                              const ulong stride, const uint x_block)
{
    const uint lid = get_local_id(0);
    const uint sg = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const uint comp = lane & 1;
    const uint pair = lane / 2;
    const ftype pmOne = F2_PM_ONE(lane);
    const uint tail = f2_tail_block(x_block);
    /* Portable form: only even work-items of existing columns work. */
    const bool works = F2_ACTIVE(lane)
#ifndef LANE_PAIRS
                       && 4 * x_block + pair < BATCH_SIZE_IN_X_DIR
#endif
        ;
    const ulong base = first + 4 * (ulong)x_block * DIST_IN_X_DIR;
    if (sg < FACT1 && works) {
        ptype v[FACT0];
        for (uint i = 0; i < FACT0; ++i)
            v[i] = f2_column_value(in, base + (ulong)(sg + i * FACT1) * stride, tail, lane);
        FACT0_FUNC(v, pmOne);
        for (uint k = 0; k < FACT0; ++k) {
            const uint o = F2_BLOCK * (FACT0 * sg + k) + 2 * pair;
            TWIDL_MULT_INPLACE(F2_TWIDDLE_COS(table, o, comp), F2_TWIDDLE_SIN(table, o, comp), v[k]);
            F2_STORE(v[k], slm, 4 * (k * FACT1 + sg) + pair, comp);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (sg < FACT0 && works) {
        ptype w[FACT1];
        for (uint j = 0; j < FACT1; ++j) w[j] = F2_LOAD(slm, 4 * (sg * FACT1 + j) + pair, comp);
        FACT1_FUNC(w, pmOne);
        for (uint j = 0; j < FACT1; ++j)
            f2_column_store(out, base + (ulong)(sg + j * FACT0) * stride, tail, lane, w[j]);
    }
}

#endif

#ifdef KERNEL_FUNC1
kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE_Y, 1, 1)))
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void KERNEL_FUNC1(const global ftype *in, global ftype *out, const global ftype *twidlTable,
                  local ftype *slmPtr)
{
    const ulong g = get_group_id(0);
    const uint x_block = g % WORK_GROUPS_IN_X_DIR;
    const ulong plane = g / WORK_GROUPS_IN_X_DIR;
    f2_columns(in, out, twidlTable, slmPtr, plane * (ulong)(DIST_IN_XY_PLANE),
               (ulong)(DIST_IN_Y_DIR), x_block);
}
#endif

#ifdef KERNEL_FUNC2
kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE_Y, 1, 1)))
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void KERNEL_FUNC2(const global ftype *in, global ftype *out, const global ftype *twidlTable,
                  local ftype *slmPtr)
{
    const ulong g = get_group_id(0);
    const ulong transform = g / WORK_GROUPS_IN_A_3D_BATCH;
    const uint in_batch = g % WORK_GROUPS_IN_A_3D_BATCH;
    const uint y = in_batch / WORK_GROUPS_IN_X_DIR;
    const uint x_block = in_batch % WORK_GROUPS_IN_X_DIR;
    f2_columns(in, out, twidlTable, slmPtr,
               transform * (ulong)(BATCH_DIST) + (ulong)y * DIST_IN_Y_DIR,
               (ulong)(DIST_IN_Z_DIR), x_block);
}
#endif

#endif
)";

}  // namespace

void write_c2c_3d_2_facts_kernels(std::ostream& out, precision p) {
  out << (p == precision::double_precision ? block_moves_double : block_moves_single);
  out << kernels_text;
}

}  // namespace qez_codelets
