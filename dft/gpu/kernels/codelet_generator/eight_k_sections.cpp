#include "eight_k_sections.hpp"

#include "codelets.hpp"
#include "program_sections.hpp"

namespace qez_codelets {

namespace {

// Block moves of one component per lane: 64-bit forms for double, 32-bit
// forms for float. Only the lane-pair form uses them.
const char block_moves_double[] = R"(/* ---- 8192-point kernels: block moves ---- */
#if defined(LANE_PAIRS) && defined(cl_tavir_subgroups_long)
#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable
#endif
#ifdef LANE_PAIRS
#define EK_BLOCK_READ(p) as_double(tavir_sub_group_block_read_ul((const global ulong *)(p)))
#define EK_BLOCK_WRITE(p, v) tavir_sub_group_block_write_ul((global ulong *)(p), as_ulong(v))
#endif
)";
const char block_moves_single[] = R"(/* ---- 8192-point kernels: block moves ---- */
#ifdef LANE_PAIRS
#define EK_BLOCK_READ(p) as_float(tavir_sub_group_block_read((const global uint *)(p)))
#define EK_BLOCK_WRITE(p, v) tavir_sub_group_block_write((global uint *)(p), as_uint(v))
#endif
)";

const char kernels_text[] = R"(/* ---- 8192-point kernels ----------------------------------------------------
 * 8192 = N0 x N1 (four-step scheme). Pass 1 (TRANSPOSE_OUTPUT_FUNC): for each
 * column n1 the N0-point DFT over n0 of x[n1 + N1*n0], times the inter-pass
 * twiddle (which carries the scale); the scratch area holds column n1 at
 * complex positions n1*N0 + k0. Pass 2 (SAME_ORIENTATION_OUTPUT_FUNC): for
 * each k0 the N1-point DFT over the columns, X[k0 + N0*k1] in natural order.
 * A work-group takes COLS_PER_WG columns (pass 1) or frequencies (pass 2) of
 * one transform; two sub-groups share each of them. Inside a pass the
 * M = F0 x F1 points of a column are split once more: F0-point DFTs of the
 * F1 sub-sequences u (one per lane pair), twiddles of the pass's table,
 * transpose through local memory, F1-point DFTs.
 * Work-items form lane pairs (two consecutive local ids). With LANE_PAIRS the
 * even lane holds the real and the odd lane the imaginary part of one complex
 * value, and global memory moves by sub-group block reads and writes. In the
 * portable form the even work-item of a pair holds the whole complex value and
 * the odd one only moves data and joins the barriers, so geometry, arguments
 * and options are the same in both forms. Global memory moves as whole rows
 * or runs per work-item in the portable form (a CPU runs one work-item
 * after the other). */
#if defined(TRANSPOSE_OUTPUT_FUNC) && defined(SAME_ORIENTATION_OUTPUT_FUNC)

#define EK_H (SUBGROUP_SIZE / 2)
#define EK_SUBGROUPS (WORK_GROUP_SIZE / SUBGROUP_SIZE)
#define EK_SG_PER_COLUMN (EK_SUBGROUPS / COLS_PER_WG)
#define EK_PAIRS_PER_COLUMN (EK_SG_PER_COLUMN * EK_H)
#define EK_RUN (2 * SUBGROUP_SIZE)

#if N0 != N0_FACT0 * N0_FACT1 || N1 != N1_FACT0 * N1_FACT1
#error "8192-point kernels: N0 and N1 must be the products of their factors"
#endif
#if 2 * COLS_PER_WG != SUBGROUP_SIZE || EK_SUBGROUPS % COLS_PER_WG != 0
#error "8192-point kernels: one block of a sub-group must span the work-group's columns"
#endif
#if N0_FACT1 != EK_PAIRS_PER_COLUMN || N1_FACT1 != EK_PAIRS_PER_COLUMN || \
    N0_FACT0 % N0_FACT1 != 0 || N1_FACT0 % N1_FACT1 != 0 || N0 % EK_SUBGROUPS != 0 || N1 % EK_SUBGROUPS != 0
#error "8192-point kernels: the lane pairs of a column must match the second factors"
#endif
#if (2 * COLS_PER_WG * N0) % WORK_GROUP_SIZE != 0
#error "8192-point kernels: the first pass's results must share out evenly over the work-items"
#endif

#if FWD_DIR
#define EK_DIRECTION_SIGN ((ftype)1)
#else
#define EK_DIRECTION_SIGN ((ftype)-1)
#endif

$LANE_FORMS

/* v times the twiddle whose lane-ordered entry starts the run at `run`:
 * Re at run[lane], Im at run[SUBGROUP_SIZE + lane]. */
static inline ptype ek_twiddled(const global ftype *run, const uint lane, ptype v)
{
    const ftype re = EK_LANE_READ(run, lane);
    const ftype im = EK_LANE_READ(run + SUBGROUP_SIZE, lane);
    TWIDL_MULT_INPLACE(re, EK_TWIDDLE_SIN(im), v);
    return v;
}

/* The work-group's `len` rows (2*COLS_PER_WG elements each, `stride`
 * elements apart) into the split local columns of `len` points: element e of
 * a row is component e%2 of column e/2. With lane pairs each sub-group moves
 * its share of the rows and lane l element l of each. In the portable form a
 * CPU runs one work-item after the other, and column-wise reads would touch
 * each row's cache line once per work-item: each work-item reads whole rows,
 * having first asked for the same rows of the next work-group, which the same
 * thread most likely runs next (2^13 in single precision about a tenth
 * faster). */
static inline void ek_rows_to_columns(const global ftype *in, const uint stride, const uint len, local ftype *slm,
                                      const uint sg, const uint lane)
{
#ifdef LANE_PAIRS
    local ftype *col = slm + (lane / 2) * 2 * len + (lane & 1) * len;
    const uint rows = len / EK_SUBGROUPS;
    for (uint r = sg * rows; r < (sg + 1) * rows; ++r) col[r] = EK_LANE_READ(in + r * stride, lane);
#else
#ifdef PREFETCHES
    if (HAS_NEXT_GROUP)
        for (uint r = get_local_id(0); r < len; r += WORK_GROUP_SIZE) PREFETCH(in + r * stride + 2 * COLS_PER_WG, 2);
#endif
    for (uint r = get_local_id(0); r < len; r += WORK_GROUP_SIZE) {
#pragma unroll
        for (uint c = 0; c < COLS_PER_WG; ++c) {
            const ptype v = vload2(c, in + r * stride);
            slm[c * 2 * len + r] = v.s0;
            slm[c * 2 * len + len + r] = v.s1;
        }
    }
#endif
}

/* `count` values first, first + step, ... of a split local column. */
static inline void ek_load_strided(const local ftype *col, const uint len, const uint first, const uint step,
                                   const uint count, const uint comp, ptype *x)
{
    for (uint r = 0; r < count; ++r) x[r] = EK_SPLIT_LOAD(col, len, first + step * r, comp);
}

/* Register k_a of sub-sequence u to position u*f0 + k_a of its column. */
static inline void ek_store_transposed(local ftype *col, const uint len, const uint u, const uint f0,
                                       const uint comp, const ptype *x)
{
    for (uint ka = 0; ka < f0; ++ka) EK_SPLIT_STORE(x[ka], col, len, u * f0 + ka, comp);
}

/* The work-group's `count` local elements, linearly to `out`: with lane
 * pairs by sub-group blocks, in the portable form each work-item its own run
 * of neighbouring elements. */
static inline void ek_linear_out(const local ftype *slm, global ftype *out, const uint count, const uint sg,
                                 const uint lane)
{
#ifdef LANE_PAIRS
    for (uint e = sg * SUBGROUP_SIZE; e < count; e += WORK_GROUP_SIZE) EK_LANE_WRITE(out + e, lane, slm[e + lane]);
#else
    const uint run = count / WORK_GROUP_SIZE, first = run * get_local_id(0);
    for (uint e = first; e + 4 <= first + run; e += 4) vstore4(vload4(0, slm + e), 0, out + e);
    for (uint e = first + run / 4 * 4; e < first + run; ++e) out[e] = slm[e];
#endif
}

/* The work-group's `len` local rows of 2*COLS_PER_WG elements to rows of
 * `out`, `stride` elements apart: with lane pairs each sub-group its share
 * of the rows, lane l element l of each; in the portable form each
 * work-item whole rows. */
static inline void ek_rows_out(const local ftype *slm, global ftype *out, const uint stride, const uint len,
                               const uint sg, const uint lane)
{
#ifdef LANE_PAIRS
    const uint rows = len / EK_SUBGROUPS;
    for (uint r = sg * rows; r < (sg + 1) * rows; ++r)
        EK_LANE_WRITE(out + r * stride, lane, slm[r * 2 * COLS_PER_WG + lane]);
#else
    for (uint r = get_local_id(0); r < len; r += WORK_GROUP_SIZE)
#pragma unroll
        for (uint c = 0; c < COLS_PER_WG; ++c)
            vstore2(vload2(c, slm + r * 2 * COLS_PER_WG), c, out + r * stride);
#endif
}

/* Where a work-item sits: its sub-group and lane, the work-group column (or
 * frequency) its sub-group works on, which of the column's two sub-groups it
 * is, and its lane pair within the column. */
typedef struct {
    uint sg, lane, comp, column, share, pair;
} ek_item;

static inline ek_item ek_this_item(void)
{
    ek_item it;
    const uint lid = get_local_id(0);
    it.sg = lid / SUBGROUP_SIZE;
    it.lane = lid % SUBGROUP_SIZE;
    it.comp = it.lane & 1;
    it.column = it.sg / EK_SG_PER_COLUMN;
    it.share = it.sg % EK_SG_PER_COLUMN;
    it.pair = it.share * EK_H + it.lane / 2;
    return it;
}

kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void TRANSPOSE_OUTPUT_FUNC(const global ftype *in, global ftype *out, const global ftype *twidl_N0,
                           const global ftype *twidl, local ftype *slmPtr)
{
    const ek_item it = ek_this_item();
    const uint sg = it.sg, lane = it.lane, comp = it.comp, column = it.column, share = it.share, pair = it.pair;
    const ftype pmOne = EK_PM_ONE(lane);
    const ulong g = get_group_id(0);
    const ulong t = get_global_id(1);
    const ulong n1 = COLS_PER_WG * g + column;
    local ftype *col = slmPtr + column * 2 * N0;
    ptype x[N0_FACT0];

    ek_rows_to_columns(in + 2 * (t * IDIST + COLS_PER_WG * g), 2 * N1, N0, slmPtr, sg, lane);
    barrier(CLK_LOCAL_MEM_FENCE);
    if (EK_ACTIVE(lane)) {
        ek_load_strided(col, N0, pair, N0_FACT1, N0_FACT0, comp, x);
        N0_FACT0_FUNC(x, pmOne);
        const global ftype *runs = twidl_N0 + share * EK_RUN * N0_FACT0;
        for (uint ka = 0; ka < N0_FACT0; ++ka) x[ka] = ek_twiddled(runs + EK_RUN * ka, lane, x[ka]);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (EK_ACTIVE(lane)) ek_store_transposed(col, N0, pair, N0_FACT0, comp, x);
    barrier(CLK_LOCAL_MEM_FENCE);
    if (EK_ACTIVE(lane)) {
        for (uint h = 0; h < N0_FACT0 / N0_FACT1; ++h) {
            ek_load_strided(col, N0, N0_FACT1 * h + pair, N0_FACT0, N0_FACT1, comp, x + N0_FACT1 * h);
            N0_FACT1_FUNC(x + N0_FACT1 * h, pmOne);
        }
        /* Register r = N0_FACT1*h + k_b is frequency N0_FACT1*h + pair + N0_FACT0*k_b. */
        const global ftype *runs = twidl + 4 * N0 * n1 + 2 * N0 * share;
        for (uint r = 0; r < N0_FACT0; ++r) x[r] = ek_twiddled(runs + EK_RUN * r, lane, x[r]);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (EK_ACTIVE(lane))
        for (uint h = 0; h < N0_FACT0 / N0_FACT1; ++h)
            for (uint kb = 0; kb < N0_FACT1; ++kb)
                EK_PAIR_STORE(x[N0_FACT1 * h + kb], col, N0_FACT1 * h + pair + N0_FACT0 * kb, comp);
    barrier(CLK_LOCAL_MEM_FENCE);
    ek_linear_out(slmPtr, out + 2 * (t * ODIST + COLS_PER_WG * N0 * g), 2 * COLS_PER_WG * N0, sg, lane);
}

kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void SAME_ORIENTATION_OUTPUT_FUNC(const global ftype *in, global ftype *out, const global ftype *twidl_N1,
                                  local ftype *slmPtr)
{
    const ek_item it = ek_this_item();
    const uint sg = it.sg, lane = it.lane, comp = it.comp, column = it.column, share = it.share, pair = it.pair;
    const ftype pmOne = EK_PM_ONE(lane);
    const ulong g = get_group_id(0);
    const ulong t = get_global_id(1);
    local ftype *col = slmPtr + column * 2 * N1;
    ptype x[N1_FACT0];

    /* The scratch area is laid out with the output distance. */
    ek_rows_to_columns(in + 2 * (t * ODIST + COLS_PER_WG * g), 2 * N0, N1, slmPtr, sg, lane);
    barrier(CLK_LOCAL_MEM_FENCE);
    if (EK_ACTIVE(lane)) {
        ek_load_strided(col, N1, pair, N1_FACT1, N1_FACT0, comp, x);
        N1_FACT0_FUNC(x, pmOne);
        const global ftype *runs = twidl_N1 + share * EK_RUN * N1_FACT0;
        for (uint ka = 0; ka < N1_FACT0; ++ka) x[ka] = ek_twiddled(runs + EK_RUN * ka, lane, x[ka]);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (EK_ACTIVE(lane)) ek_store_transposed(col, N1, pair, N1_FACT0, comp, x);
    barrier(CLK_LOCAL_MEM_FENCE);
    if (EK_ACTIVE(lane))
        for (uint h = 0; h < N1_FACT0 / N1_FACT1; ++h) {
            ek_load_strided(col, N1, N1_FACT1 * h + pair, N1_FACT0, N1_FACT1, comp, x + N1_FACT1 * h);
            N1_FACT1_FUNC(x + N1_FACT1 * h, pmOne);
        }
    barrier(CLK_LOCAL_MEM_FENCE);
    /* Register N1_FACT1*h + k_b is k1 = N1_FACT1*h + pair + N1_FACT0*k_b:
     * local row k1 holds the work-group's frequencies k0 interleaved. */
    if (EK_ACTIVE(lane))
        for (uint h = 0; h < N1_FACT0 / N1_FACT1; ++h)
            for (uint kb = 0; kb < N1_FACT1; ++kb)
                EK_PAIR_STORE(x[N1_FACT1 * h + kb], slmPtr + (N1_FACT1 * h + pair + N1_FACT0 * kb) * 2 * COLS_PER_WG,
                              column, comp);
    barrier(CLK_LOCAL_MEM_FENCE);
    ek_rows_out(slmPtr, out + 2 * (t * ODIST + COLS_PER_WG * g), 2 * N0, N1, sg, lane);
}

#endif
)";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return kernel_lane_forms("EK", "EK_DIRECTION_SIGN",
                           {
                               {"EK_LANE_READ(p, lane)", "EK_BLOCK_READ(p)", "((p)[(lane)])"},
                               {"EK_LANE_WRITE(p, lane, v)", "EK_BLOCK_WRITE((p), (v))", "((p)[(lane)] = (v))"},
                               {"EK_SPLIT_LOAD(col, len, e, comp)", "((col)[(comp) * (len) + (e)])",
                                "((ptype)((col)[(e)], (col)[(len) + (e)]))",
                                "/* Split local columns: real parts first, then imaginary parts. */", ""},
                               {"EK_SPLIT_STORE(v, col, len, e, comp)", "((col)[(comp) * (len) + (e)] = (v))",
                                "((col)[(e)] = (v).s0, (col)[(len) + (e)] = (v).s1)"},
                               lane_element_store_macro("EK_PAIR_STORE", "base"),
                               {"EK_TWIDDLE_SIN(im)", "(-EK_DIRECTION_SIGN * (im))", "(-(im))",
                                R"(/* Lane 2p reads (c, v) and lane 2p+1 (c, -v) of a table entry; the
 * multiplication macro wants pmOne * sin: -(entry) forward, +(entry) backward. */)",
                                R"(/* The even lane reads (c, v): multiplying by c + i*v forward and c - i*v
 * backward is (twr, twi) = (c, -v) for the macro in both directions. */)"},
                           });
}

}  // namespace

void write_eight_k_codelets(std::ostream& out, precision p) {
  out << "/* ---- Codelets of the 8192-point factors ---- */\n";
  write_codelet(out, p, 8);
  write_codelet(out, p, 16);
}

void write_eight_k_kernels(std::ostream& out, precision p) {
  out << (p == precision::double_precision ? block_moves_double : block_moves_single);
  out << with_lane_form_macros(kernels_text, lane_forms());
}

}  // namespace qez_codelets
