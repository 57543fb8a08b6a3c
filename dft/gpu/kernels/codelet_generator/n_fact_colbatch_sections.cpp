#include "n_fact_colbatch_sections.hpp"

#include "block_move_sections.hpp"
#include "program_sections.hpp"

namespace qez_codelets {

namespace {

const char kernel_text[] = R"(/* ---- n-factor column-batch kernel ------------------------------------------
 * INNER_BATCH transforms of P = FACT0 x FACT1 x FACT2 points stored as
 * adjacent columns (row r of column c at r * INPUT_STRIDE + c), OUTER_BATCH
 * such blocks at OUTER_BATCH_INPUT_DISTANCE. A work-group (dimension 0 the
 * column group, dimension 1 the outer batch) holds INNER_BATCH_PER_GROUP
 * columns in local memory, row-major (element (r, c) at r * W + c), and runs
 *   pass 1: FACT0-point DFTs over input rows r + k * FACT1 * FACT2, times the
 *           main twiddle (r, k), into local rows ordered for pass 2;
 *   pass 2: FACT1-point DFTs (times the sub twiddle with three factors);
 *   pass 3: FACT2-point DFTs;
 * after which local row r is output frequency r. A sub-group covers
 * SUBGROUP_SIZE / 2 columns side by side; SUBGRPS_PER_FFT such rows of
 * sub-groups share the rows of a pass.
 * With LANE_PAIRS a lane pair holds one complex value (even lane real, odd
 * lane imaginary) and every lane runs the codelets. Without it (portable
 * form) the even work-item of a pair holds the whole value and the odd one
 * only helps with the copies; geometry, arguments and options are the same. */
#ifndef POST_TWIDDLE_BATCH
#define POST_TWIDDLE_BATCH 0
#endif
#ifndef INPUT_OFFSET
#define INPUT_OFFSET 0
#endif
#ifndef OUTPUT_OFFSET
#define OUTPUT_OFFSET 0
#endif

#define CB_HALF (SUBGROUP_SIZE / 2)
#define CB_W INNER_BATCH_PER_GROUP
#define CB_COLSG ((INNER_BATCH_PER_GROUP + CB_HALF - 1) / CB_HALF)
#define CB_S SUBGRPS_PER_FFT
#define CB_P (FACT0 * FACT1 * FACT2)
#define CB_M (FACT1 * FACT2)

$LANE_FORMS

/* v times table entry e = (tr, ti): v (tr + i ti) forward, v (tr - i ti) backward. */
static inline ptype cb_twiddle(const global ftype *table, const long e, ptype v, const ftype pmOne)
{
    const ftype tr = table[2 * e];
    const ftype ti = table[2 * e + 1];
    TWIDL_MULT_INPLACE(tr, -pmOne * ti, v);
    return v;
}

#if POST_TWIDDLE_BATCH > 0
/* v times exp(-2 pi i rho b / (P * POST_TWIDDLE_BATCH)), conjugated backward;
 * the product is reduced first so that the angle keeps its accuracy. */
static inline ptype cb_post_twiddle(const long rho, const long b, ptype v, const ftype pmOne)
{
    const long period = (long)CB_P * POST_TWIDDLE_BATCH;
    const ftype theta = (ftype)(-2) * (ftype)((rho * b) % period) / (ftype)period;
    const ftype c = cospi(theta);
    const ftype s = sinpi(theta);
    TWIDL_MULT_INPLACE(c, -pmOne * s, v);
    return v;
}
#endif

#define CB_FP_OUT_PER_FFT (2 * CB_P * INNER_BATCH)
#define CB_FP_OUT_PER_GRP (2 * CB_P * INNER_BATCH_PER_GROUP)
#define CB_FP_OUT_LAST_GRP (2 * CB_P * INNER_BATCH_FOR_LAST_GROUP)
#if OUTPUT_STRIDE == 1
#if OUTPUT_OFFSET != 0
#error "Non-zero output offsets unsupported for transposing kernel"
#endif
#elif OUTPUT_STRIDE == INNER_BATCH && INNER_BATCH_PER_GROUP == INNER_BATCH
#define CB_CONTIGUOUS_EXPORT 1
#if OUTER_BATCH_OUTPUT_DISTANCE != 0 && 2 * OUTER_BATCH_OUTPUT_DISTANCE < CB_FP_OUT_PER_FFT
#error "export_slm_results requires ODIST_FP >= FP_OUT_PER_FFT"
#endif
#if INNER_BATCH_PER_GROUP < 1 || INNER_BATCH_FOR_LAST_GROUP < 1
#error "export_slm_results requires BATCH_PER_GROUP >= 1 and BATCH_FOR_LAST_GROUP >= 1"
#endif
#if INNER_BATCH_FOR_LAST_GROUP > INNER_BATCH_PER_GROUP
#error "export_slm_results requires BATCH_FOR_LAST_GROUP <= BATCH_PER_GROUP"
#endif
#if defined(SLM_BYTE_SIZE) && SLM_BYTE_SIZE / CB_FTYPE_BYTES < CB_FP_OUT_PER_GRP
#error "export_slm_results requires SLM_FP_SIZE >= FP_OUT_PER_GRP"
#endif
#if CB_FP_OUT_LAST_GRP < CB_FP_HEAD_MAX
#error "export_slm_results requires FP_OUT_LAST_GRP >= FP_HEAD_MAX"
#endif
#endif

/* Rounds of a loop over rows rowid, rowid + CB_S, ... below `bound`: every
 * sub-group takes every round (a row past the bound names the last, reads
 * zeros instead of local memory another work-item is writing, and stores
 * nothing), so that the whole work-group reaches the shuffles. */
#define CB_ROUNDS(bound) (((bound) + CB_S - 1) / CB_S)
#define CB_ROUND_ROW(round, bound, r, live)             \
    const bool live = rowid + (round) * CB_S < (bound); \
    const uint r = live ? rowid + (round) * CB_S : (bound) - 1

/* ---- export: sub-group block writes ----
 * A block write of one register stores SUBGROUP_SIZE consecutive words, the
 * word of lane l at p + l; with lane pairs it is the sub-group's block write,
 * in the portable form every work-item of the SUBGROUP_SIZE-wide group
 * stores its own word, which puts the same words at the same places. */
static inline void cb_block_write(global ftype *p, const ftype v, const uint lane)
{
#ifdef LANE_PAIRS
    CB_BLOCK_WRITE(p, v);
#else
    p[lane] = v;
#endif
}

/* Word e of the run `run` the export writes: column `run` of the block
 * transposed into one transform, the whole block, or row `run`. */
static inline ftype cb_export_word(const local ftype *slm, const long run, const long e)
{
#if OUTPUT_STRIDE == 1
    return slm[2 * ((e / 2) * CB_W + run) + (e & 1)];
#elif defined(CB_CONTIGUOUS_EXPORT)
    return slm[e];
#else
    return slm[2 * run * CB_W + e];
#endif
}

/* Writes `words` words of run `run` to dst with a team of `team` sub-groups
 * (this one is member m): first, lane by lane, the words before the next
 * 16-byte boundary; then pieces of 8, 4, 2 and 1 registers per member, the
 * members' registers one after another; the rest lane by lane. Every
 * condition is the same on all lanes of a sub-group. */
static inline void cb_write_run(global ftype *dst, const long words, const local ftype *slm, const long run,
                                const uint team, const uint m, const uint lane)
{
    const long misalign = (long)(((ulong)dst) % 16) / CB_FTYPE_BYTES;
    const long head = min(words, misalign == 0 ? 0L : 16 / CB_FTYPE_BYTES - misalign);
    if (m == 0 && lane < head) dst[lane] = cb_export_word(slm, run, lane);
    long done = head;
    for (uint regs = 8; regs >= 1; regs /= 2) {
        const long piece = (long)regs * SUBGROUP_SIZE * team;
        for (; done + piece <= words; done += piece) {
            const long first = done + (long)m * regs * SUBGROUP_SIZE;
            for (uint k = 0; k < regs; ++k)
                cb_block_write(dst + first + k * SUBGROUP_SIZE,
                               cb_export_word(slm, run, first + k * SUBGROUP_SIZE + lane), lane);
        }
    }
    for (long e = done + (long)m * SUBGROUP_SIZE + lane; e < words; e += (long)team * SUBGROUP_SIZE)
        dst[e] = cb_export_word(slm, run, e);
}

kernel CB_ATTRIBUTES
void KERNEL_FUNC(const global ftype *in, global ftype *out, const global ftype *mainTwidl,
#if FACT2 > 1
                 const global ftype *subTwidl,
#endif
                 local ftype *slmPtr)
{
    const uint lid = get_local_id(0);
    const uint sg = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const uint comp = lane & 1;
    const ftype pmOne = CB_PM_ONE(lane);
    const long ob = get_group_id(1);
    const long cg = get_group_id(0);
    const uint rowid = sg / CB_COLSG;
    const long j = (long)(sg % CB_COLSG) * CB_HALF + lane / 2;  /* column of the block */
    const long column = cg * CB_W + j;                          /* column of the batch */
    const bool in_block = j < CB_W;
    /* Only real columns are read, in every outer batch. */
    const bool real_column = in_block && column < INNER_BATCH;
    const long group_columns = min((long)CB_W, (long)INNER_BATCH - cg * CB_W);

    if (CB_ACTIVE(lane)) {
        const global ftype *src = in + 2 * (INPUT_OFFSET + ob * (long)(OUTER_BATCH_INPUT_DISTANCE) + column);
        for (uint round = 0; round < CB_ROUNDS(CB_M); ++round) {
            CB_ROUND_ROW(round, CB_M, r, live);
            ptype v[FACT0];
            for (uint k = 0; k < FACT0; ++k)
                v[k] = real_column ? CB_LOAD(src, (long)(r + k * CB_M) * INPUT_STRIDE, comp) : (ptype)(0);
            FACT0_FUNC(v, pmOne);
#if FACT2 > 1
            const uint first = ((r % FACT2) * FACT1 + r / FACT2) * FACT0;
#else
            const uint first = r * FACT0;
#endif
            for (uint k = 0; k < FACT0; ++k) {
                v[k] = cb_twiddle(mainTwidl, (long)r * FACT0 + k, v[k], pmOne);
                if (in_block && live) CB_STORE(v[k], slmPtr, (long)(first + k) * CB_W + j, comp);
            }
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);

#if FACT1 > 1
    if (CB_ACTIVE(lane)) {
        for (uint round = 0; round < CB_ROUNDS(FACT0 * FACT2); ++round) {
            CB_ROUND_ROW(round, FACT0 * FACT2, t, live);
#if FACT2 > 1
            const uint jj = t / FACT0;
            const uint base = t % FACT0 + jj * FACT0 * FACT1;
#else
            const uint base = t;
#endif
            ptype v[FACT1];
            for (uint k = 0; k < FACT1; ++k)
                v[k] = in_block && live ? CB_LOAD(slmPtr, (long)(base + k * FACT0) * CB_W + j, comp) : (ptype)(0);
            FACT1_FUNC(v, pmOne);
            for (uint k = 0; k < FACT1; ++k) {
#if FACT2 > 1
                v[k] = cb_twiddle(subTwidl, (long)jj * FACT1 + k, v[k], pmOne);
#endif
                if (in_block && live) CB_STORE(v[k], slmPtr, (long)(base + k * FACT0) * CB_W + j, comp);
            }
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
#endif

#if FACT2 > 1
    if (CB_ACTIVE(lane)) {
        for (uint round = 0; round < CB_ROUNDS(FACT0 * FACT1); ++round) {
            CB_ROUND_ROW(round, FACT0 * FACT1, t, live);
            ptype v[FACT2];
            for (uint k = 0; k < FACT2; ++k)
                v[k] = in_block && live ? CB_LOAD(slmPtr, (long)(t + k * FACT0 * FACT1) * CB_W + j, comp) : (ptype)(0);
            FACT2_FUNC(v, pmOne);
            for (uint k = 0; k < FACT2; ++k)
                if (in_block && live) CB_STORE(v[k], slmPtr, (long)(t + k * FACT0 * FACT1) * CB_W + j, comp);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
#endif

#if POST_TWIDDLE_BATCH > 0
    if (CB_ACTIVE(lane)) {
        const long b = (ob * INNER_BATCH + column) / (((long)OUTER_BATCH * INNER_BATCH) / POST_TWIDDLE_BATCH);
        for (uint round = 0; round < CB_ROUNDS(CB_P); ++round) {
            CB_ROUND_ROW(round, CB_P, rho, live);
            ptype v = in_block && live ? CB_LOAD(slmPtr, (long)rho * CB_W + j, comp) : (ptype)(0);
            v = cb_post_twiddle(rho, b, v, pmOne);
            if (in_block && live) CB_STORE(v, slmPtr, (long)rho * CB_W + j, comp);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
#endif

    /* Export, in block writes (cb_write_run). */
    const uint subgroups = WORKGROUP_SIZE / SUBGROUP_SIZE;
#if OUTPUT_STRIDE == 1
    /* Transposed: column c of the block is transform c, contiguous at
     * c * INNER_BATCH_OUTPUT_DISTANCE; min(sub-groups, W) columns at a time,
     * each by a team of the sub-groups shared out evenly. */
    global ftype *dst = out + 2 * (ob * (long)(OUTER_BATCH_OUTPUT_DISTANCE) +
                                   cg * CB_W * (long)(INNER_BATCH_OUTPUT_DISTANCE));
    const uint abreast = min(subgroups, (uint)CB_W);
    const uint team = subgroups / abreast;
    if (sg < abreast * team)
        for (long c = sg / team; c < group_columns; c += abreast)
            cb_write_run(dst + c * 2 * (long)(INNER_BATCH_OUTPUT_DISTANCE), 2 * CB_P, slmPtr, c, team, sg % team, lane);
#elif defined(CB_CONTIGUOUS_EXPORT)
    /* The block is the whole output of the outer batch: one run for the
     * whole work-group. */
    global ftype *dst = out + 2 * (OUTPUT_OFFSET + ob * (long)(OUTER_BATCH_OUTPUT_DISTANCE));
    cb_write_run(dst, CB_FP_OUT_PER_FFT, slmPtr, 0, subgroups, sg, lane);
#else
    /* Rows of the block's columns at OUTPUT_STRIDE: sub-group g writes rows
     * g * (P / sub-groups) + k, then the P mod sub-groups rows left over go
     * one to each of the first sub-groups. */
    global ftype *dst = out + 2 * (OUTPUT_OFFSET + ob * (long)(OUTER_BATCH_OUTPUT_DISTANCE) + cg * CB_W);
    const long row_reals = 2 * group_columns;
    const uint rows_each = CB_P / subgroups;
    for (uint k = 0; k < rows_each; ++k) {
        const long rho = (long)sg * rows_each + k;
        cb_write_run(dst + rho * 2 * (long)(OUTPUT_STRIDE), row_reals, slmPtr, rho, 1, 0, lane);
    }
    if (sg < CB_P % subgroups) {
        const long rho = (long)subgroups * rows_each + sg;
        cb_write_run(dst + rho * 2 * (long)(OUTPUT_STRIDE), row_reals, slmPtr, rho, 1, 0, lane);
    }
#endif
}
)";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return kernel_lane_forms("CB", "(BWD_DIR ? (ftype)-1 : (ftype)1)",
                           {
                               lane_element_load_macro("CB_LOAD", "p"),
                               lane_element_store_macro("CB_STORE", "p"),
                           },
                           "WORKGROUP_SIZE");
}

}  // namespace

void write_n_fact_colbatch_kernel(std::ostream& out, precision p) {
  // Bytes of one real and the most words written one by one before the
  // first 16-byte boundary of a contiguous export.
  if (p == precision::double_precision)
    out << "#define CB_FTYPE_BYTES 8\n#define CB_FP_HEAD_MAX 1\n";
  else
    out << "#define CB_FTYPE_BYTES 4\n#define CB_FP_HEAD_MAX 3\n";
  out << block_moves_heading("n-factor column-batch kernel", p);
  write_block_moves(out, p, "CB");
  out << with_lane_form_macros(kernel_text, lane_forms());
}

}  // namespace qez_codelets
