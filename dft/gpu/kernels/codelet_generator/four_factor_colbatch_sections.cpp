#include "four_factor_colbatch_sections.hpp"

#include "block_move_sections.hpp"
#include "program_sections.hpp"

namespace qez_codelets {

namespace {

// The pass-table product v * (tr + i ti) forward, v * (tr - i ti) backward is
// TWIDL_MULT_INPLACE(tr, -pmOne * ti, v) in both lane forms.
const char kernel_text[] = R"(/* ---- Four-factor column-batch kernel -------------------------------------
 * Batches whose transforms lie side by side (batch distance 1): element n of
 * transform t of outer index o sits at complex offset
 * o * OUTER_DIST + t + n * STRIDE. A chunk is SUBGROUP_SIZE/2 neighbouring
 * transforms and a lane pair holds one of them, so a sub-group moves one row
 * of a chunk at a time.
 * A pass computes FFT_LEN = FACT0 x FACT1 points: a work-group of FACT1
 * sub-groups does one FFT_LEN-point transform for every transform of its
 * chunk. Sub-group j loads elements j + FACT1 * i (i < FACT0), runs
 * FACT0_FUNC, multiplies by the pass table twidl_N1 (entry j * FACT0 + k0)
 * and stores to local memory; after the barrier it runs FACT1_FUNC on rows
 * k0 = j, j + FACT1, ... and writes outputs k0 + FACT0 * m.
 *   pass 1 (TRANSPOSE_KERNEL): len1-point transforms over n1 for
 *     n2 = work-group, caller's input -> temporary area, value (k1, n2) of a
 *     chunk at row k1 * len2 + n2;
 *   pass 2 (MULTIFACTOR_TWIDDLE): cross twiddles (scale included),
 *     len2-point transforms over n2 for k1 = work-group, temporary area ->
 *     caller's output at k1 + len1 * k2.
 * Launch dimension 1 runs over the chunks of the launch (the first one is
 * inner_offset), dimension 2 over its outer indices (first outer_offset).
 * Without LANE_PAIRS (portable form) the even work-item of a pair holds the
 * whole complex value and the odd one idles; geometry, arguments and options
 * are the same in both forms. */
#ifdef FOUR_FACT_COLBATCH
#define CB_H (SUBGROUP_SIZE / 2)

$LANE_FORMS

/* Transforms of chunk c that exist: the tail chunk has INNER_TAIL. */
#ifdef INNER_TAIL
#define CB_LIVE(c) ((c) == TAIL_CHUNK_IDX ? INNER_TAIL : CB_H)
#else
#define CB_LIVE(c) CB_H
#endif

/* Value at complex index e of the lane's transform (q its place in the
 * chunk): one sub-group block when the whole chunk moves, else lane by lane,
 * zero past the batch. */
static inline ptype cb_load(const global ftype *p, const long e, const uint q, const bool whole,
                            const bool live, const uint comp)
{
#ifdef LANE_PAIRS
    if (whole) return CB_BLOCK_READ(p + 2 * (e - q));
    return live ? p[2 * e + comp] : (ftype)0;
#else
    return live ? vload2(e, p) : (ptype)(0);
#endif
}

static inline void cb_store(global ftype *p, const long e, const ptype v, const uint q, const bool whole,
                            const bool live, const uint comp)
{
#ifdef LANE_PAIRS
    if (whole) {
        CB_BLOCK_WRITE(p + 2 * (e - q), v);
        return;
    }
    if (live) p[2 * e + comp] = v;
#else
    if (live) vstore2(v, e, p);
#endif
}

static inline void cb_slm_put(local ftype *slm, const uint e, const ptype v, const uint comp)
{
#ifdef LANE_PAIRS
    slm[2 * e + comp] = v;
#else
    vstore2(v, e, slm);
#endif
}

static inline ptype cb_slm_get(const local ftype *slm, const uint e, const uint comp)
{
#ifdef LANE_PAIRS
    return slm[2 * e + comp];
#else
    return vload2(e, slm);
#endif
}

#ifdef MULTIFACTOR_TWIDDLE
/* Cross twiddle of row i of a (k1, j) block: SUBGROUP_SIZE cosines, then
 * SUBGROUP_SIZE sines whose sign follows the lane (the table carries it;
 * the even lane's entry is the sine of the forward angle). */
static inline ptype cb_cross(const global ftype *block, const uint i, const uint lane, ptype v)
{
    const ftype re = block[(2 * i) * SUBGROUP_SIZE + lane];
    const ftype im = block[(2 * i + 1) * SUBGROUP_SIZE + lane];
#ifdef LANE_PAIRS
    TWIDL_MULT_INPLACE(re, (BWD_DIR ? (ftype)1 : (ftype)-1) * im, v);
#else
    TWIDL_MULT_INPLACE(re, -im, v);
#endif
    return v;
}
#endif

kernel CB_ATTRIBUTES
void KERNEL_FUNC(const global ftype *in, global ftype *out, const global ftype *twidl_N1,
#ifdef MULTIFACTOR_TWIDDLE
                 const global ftype *twidl,
#endif
                 local ftype *slmPtr, const int inner_offset, const int outer_offset)
{
    const uint lid = get_local_id(0);
    const uint j = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const uint q = lane / 2;
    const uint comp = lane & 1;
    const ftype pmOne = CB_PM_ONE(lane);
    const long g = (long)get_group_id(0);
    const long c = (long)get_global_id(1) + inner_offset;
    const long o = (long)get_global_id(2);
    const uint live_count = CB_LIVE(c);
    const bool whole = live_count == CB_H;
    const bool live = q < live_count;

    /* The temporary area holds this launch's chunks one after another; the
     * rows of a chunk packed to its INNER_TAIL transforms are that narrow. */
#if defined(INNER_TAIL) && !defined(PADDED_TEMP)
    const long temp_row = c == TAIL_CHUNK_IDX ? INNER_TAIL : CB_H;
#else
    const long temp_row = CB_H;
#endif
    const bool temp_whole = temp_row == CB_H;
    const bool temp_live = temp_whole || live;
    const long temp_first =
        o * (long)(TEMP_OUTER_DIST) + (c - inner_offset) * CB_H * (long)(NUM_WORKGROUPS) * FFT_LEN + q;

#ifdef TRANSPOSE_KERNEL
    const long in_first = (o + outer_offset) * (long)(OUTER_IDIST) + c * CB_H + q;
#else
    const global ftype *cross = twidl + (g * FACT1 + j) * (2 * SUBGROUP_SIZE * FACT0);
    const long out_first = (o + outer_offset) * (long)(OUTER_ODIST) + c * CB_H + q;
#ifdef WRITE_FINAL_NON_SUBGROUP
    const bool out_whole = false;
#else
    const bool out_whole = whole;
#endif
#endif

    ptype col[FACT0];
    if (CB_ACTIVE(lane)) {
        for (uint i = 0; i < FACT0; ++i) {
#ifdef TRANSPOSE_KERNEL
            const long e = in_first + (g + (long)(NUM_WORKGROUPS) * (j + FACT1 * i)) * (long)(ISTRIDE);
            col[i] = cb_load(in, e, q, whole, live, comp);
#else
            const long e = temp_first + (g * FFT_LEN + j + FACT1 * i) * temp_row;
            col[i] = cb_cross(cross, i, lane, cb_load(in, e, q, temp_whole, temp_live, comp));
#endif
        }
        FACT0_FUNC(col, pmOne);
        for (uint k0 = 0; k0 < FACT0; ++k0) {
            const uint t = j * FACT0 + k0;
            TWIDL_MULT_INPLACE(twidl_N1[2 * t], -pmOne * twidl_N1[2 * t + 1], col[k0]);
            cb_slm_put(slmPtr, t * CB_H + q, col[k0], comp);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (CB_ACTIVE(lane)) {
        /* Every sub-group takes every round (k0 past FACT0 repeats the last
         * and stores nothing), so the whole work-group reaches the shuffles. */
        for (uint round = 0; round < (FACT0 + FACT1 - 1) / FACT1; ++round) {
            const bool k0_live = j + round * FACT1 < FACT0;
            const uint k0 = k0_live ? j + round * FACT1 : FACT0 - 1;
            for (uint m = 0; m < FACT1; ++m) col[m] = cb_slm_get(slmPtr, (m * FACT0 + k0) * CB_H + q, comp);
            FACT1_FUNC(col, pmOne);
            for (uint m = 0; m < FACT1 && k0_live; ++m) {
                const long k = k0 + FACT0 * m;
#ifdef TRANSPOSE_KERNEL
                cb_store(out, temp_first + (k * (long)(NUM_WORKGROUPS) + g) * temp_row, col[m], q, temp_whole,
                         temp_live, comp);
#else
                cb_store(out, out_first + (g + (long)(NUM_WORKGROUPS) * k) * (long)(OSTRIDE), col[m], q, out_whole,
                         live, comp);
#endif
            }
        }
    }
}
#endif
)";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return kernel_lane_forms("CB", "(BWD_DIR ? (ftype)-1 : (ftype)1)", {}, "WORK_GROUP_SIZE");
}

}  // namespace

void write_four_factor_colbatch_kernel(std::ostream& out, precision p) {
  // The block moves serve the lane-pair form only.
  out << block_moves_heading("Four-factor column-batch kernel", p) << "#ifdef FOUR_FACT_COLBATCH\n";
  write_block_moves(out, p, "CB");
  out << "#endif\n";
  out << with_lane_form_macros(kernel_text, lane_forms());
}

}  // namespace qez_codelets
