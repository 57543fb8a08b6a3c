#include "n_facts_slm_sections.hpp"

#include "program_sections.hpp"

namespace qez_codelets {

namespace {

// Block moves of one component per lane: 64-bit forms for double, 32-bit
// forms for float. Only the lane-pair form uses them.
const char block_moves_double[] = R"(/* ---- n-factor SLM kernel: block moves ---- */
#if defined(LANE_PAIRS) && defined(cl_tavir_subgroups_long)
#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable
#endif
#ifdef LANE_PAIRS
#define NF_BLOCK_READ(p) as_double(tavir_sub_group_block_read_ul((const global ulong *)(p)))
#define NF_BLOCK_READ8(p) as_double8(tavir_sub_group_block_read_ul8((const global ulong *)(p)))
#define NF_BLOCK_WRITE(p, v) tavir_sub_group_block_write_ul((global ulong *)(p), as_ulong(v))
#endif
)";
const char block_moves_single[] = R"(/* ---- n-factor SLM kernel: block moves ---- */
#ifdef LANE_PAIRS
#define NF_BLOCK_READ(p) as_float(tavir_sub_group_block_read((const global uint *)(p)))
#define NF_BLOCK_READ8(p) as_float8(tavir_sub_group_block_read8((const global uint *)(p)))
#define NF_BLOCK_WRITE(p, v) tavir_sub_group_block_write((global uint *)(p), as_uint(v))
#endif
)";

const char kernel_text[] = R"(/* ---- n-factor SLM kernel ------------------------------------------------------
 * FFT_LEN = FACT3 x M, M = FACT2 x FACT1 x FACT0, one work-group per
 * transform (get_global_id(1)). Pass FACT3: the input read as a FACT3 x M
 * matrix, FACT3-point DFTs down its M columns, times the main-table twiddle
 * exp(-+2 pi i r c / N) (which carries the scale), stored to local memory as
 * the M x FACT3 transpose. Passes FACT2, FACT1 and FACT0: the M-point DFTs of
 * the FACT3 columns of local memory, decimated in time, with the twiddles of
 * the area 2 and area 1 tables between them. The last pass writes row
 * new_row = k0 F1 F2 + k1 F2 + k2 of the output, so frequency new_row x FACT3
 * + r lands in natural order. All input is read before the first barrier
 * and all output written after the last, which fences global memory too,
 * so in place is safe.
 * Lane pairs: a sub-group of SUBGROUP_SIZE lanes holds SUBGROUP_SIZE/2
 * complex columns, the even lane the real and the odd lane the imaginary
 * part; global memory moves by block reads and writes. Portable form: the
 * even work-item of each pair holds the whole complex value and the odd one
 * only joins the barriers. Every work-item reaches every barrier. */
#if defined(KERNEL_FUNC) && defined(FACT3_FUNC)

#define SUBGRPS_IN_GROUP (WORK_GROUP_SIZE / SUBGROUP_SIZE)
#define NF_M (FACT2 * FACT1 * FACT0)
#define NF_ROW (2 * FACT3)
#define NF_CHUNKS (NF_ROW / SUBGROUP_SIZE)

#if MAX_FACT != FACT3 || FACT3 * NF_M != FFT_LEN
#error "n-factor SLM kernel: FFT_LEN must be FACT3 x FACT2 x FACT1 x FACT0 with FACT3 the largest"
#endif
#if NF_ROW % SUBGROUP_SIZE != 0 || WORK_GROUP_SIZE % SUBGROUP_SIZE != 0 || MAX_FACT % 4 != 0
#error "n-factor SLM kernel: a row of local memory must be whole sub-group chunks"
#endif

#if FWD_DIR
#define NF_DIRECTION_SIGN ((ftype)1)
#else
#define NF_DIRECTION_SIGN ((ftype)-1)
#endif

$LANE_FORMS
/* The multiplier of swapReIm for a twiddle (re, im) = exp(i theta): times
 * exp(i theta) forward, exp(-i theta) backward, in both forms (pmOne is 1
 * in the portable form). */
#define NF_TWI(im, pmOne) (-(pmOne) * (im))

/* ---- pre-twiddle of the large 1D row pass (empty without its options) ---- */
#ifdef USE_PRECOMPUTED_PRE_TWIDDLE
#define NF_PRE_TWIDDLE_PARAM , const global ftype *preTwiddle
#define NF_PRE_TWIDDLE_ARG , preTwiddle
#else
#define NF_PRE_TWIDDLE_PARAM
#define NF_PRE_TWIDDLE_ARG
#endif

#if defined(USE_RUNTIME_PRE_TWIDDLE)
#define APPLY_LARGE_1D_TWIDDLE(v, new_row, chunk, lane)                                                    \
    {                                                                                                      \
        const uint e_ = (new_row) * FACT3 + (chunk) * (SUBGROUP_SIZE / 2) + (lane) / 2;                    \
        const uint bk_ = ((uint)t * e_) % (uint)PRE_TW_NUM_PTS;                                            \
        const ftype th_ = (ftype)(-2) * (ftype)bk_ / (ftype)PRE_TW_NUM_PTS;                                \
        TWIDL_MULT_INPLACE(cospi(th_), NF_TWI(sinpi(th_), pmOne), v);                                      \
    }
#elif defined(USE_PRECOMPUTED_PRE_TWIDDLE)
#ifdef LANE_PAIRS
#define NF_PRE_TWIDDLE_PAIR(run, lane, re, im)                                                             \
    {                                                                                                      \
        const ftype own_ = NF_BLOCK_READ(run);                                                             \
        const ftype other_ = swapReIm(own_);                                                               \
        re = ((lane) & 1) ? other_ : own_;                                                                 \
        im = ((lane) & 1) ? own_ : other_;                                                                 \
    }
#else
#define NF_PRE_TWIDDLE_PAIR(run, lane, re, im) { re = (run)[(lane)]; im = (run)[(lane) + 1]; }
#endif
#define APPLY_LARGE_1D_TWIDDLE(v, new_row, chunk, lane)                                                    \
    {                                                                                                      \
        ftype re_, im_;                                                                                    \
        NF_PRE_TWIDDLE_PAIR(preTwiddle + t * 2 * FFT_LEN + (new_row) * NF_ROW + (chunk) * SUBGROUP_SIZE,   \
                            lane, re_, im_);                                                               \
        TWIDL_MULT_INPLACE(re_, NF_TWI(im_, pmOne), v);                                                    \
    }
#else
#define APPLY_LARGE_1D_TWIDDLE(v, new_row, chunk, lane)
#endif

/* ---- memory helpers: `run` is the start of a sub-group's run ---- */
static inline void block_read1_strided(ptype *inCol, const global ftype *in, const uint nElts, const uint stride,
                                       const uint lane)
{
    for (uint i = 0; i < nElts; ++i) inCol[i] = NF_GLOBAL_LOAD(in + i * stride, lane);
}

static inline void block_write1_strided(const ptype *x, global ftype *out, const uint nElts, const uint stride,
                                        const uint lane)
{
    for (uint i = 0; i < nElts; ++i) NF_GLOBAL_STORE(out + i * stride, lane, x[i]);
}

static inline void load_slm_strided(ptype *x, const local ftype *slm, const uint nElts, const uint stride,
                                    const uint lane)
{
    for (uint i = 0; i < nElts; ++i) x[i] = NF_SLM_LOAD(slm + i * stride, lane);
}

static inline void store_slm_strided(const ptype *x, local ftype *slm, const uint nElts, const uint stride,
                                     const uint lane)
{
    for (uint i = 0; i < nElts; ++i) NF_SLM_STORE(slm + i * stride, lane, x[i]);
}

/* inCol[r] times the main-table twiddle of block (g, r); `ptr` is block (g, 0). */
static inline void apply_subgroup_twiddles(ptype *inCol, const global ftype *ptr, const uint lane)
{
#ifdef LANE_PAIRS
    for (uint i = 0; i < MAX_FACT / 4; ++i) {
        const ftype8 tw = NF_BLOCK_READ8(ptr);
        TWIDL_MULT_INPLACE(tw.s0, NF_MAIN_TWI(tw.s1), inCol[4 * i]);
        TWIDL_MULT_INPLACE(tw.s2, NF_MAIN_TWI(tw.s3), inCol[4 * i + 1]);
        TWIDL_MULT_INPLACE(tw.s4, NF_MAIN_TWI(tw.s5), inCol[4 * i + 2]);
        TWIDL_MULT_INPLACE(tw.s6, NF_MAIN_TWI(tw.s7), inCol[4 * i + 3]);
        ptr += 8 * SUBGROUP_SIZE;
    }
#else
    for (uint r = 0; r < MAX_FACT; ++r) {
        const global ftype *block = ptr + 2 * SUBGROUP_SIZE * r;
        TWIDL_MULT_INPLACE(block[lane], NF_MAIN_TWI(block[SUBGROUP_SIZE + lane]), inCol[r]);
    }
#endif
}

/* ---- the four passes ---- */

/* Columns g S/2 .. g S/2 + S/2 - 1 of the FACT3 x M input matrix. */
static inline void nf_pass_fact3(const global ftype *in, const global ftype *twidl_max_fact, local ftype *slmPtr,
                                 const uint g, const uint lane, const ftype pmOne, ptype *inCol)
{
    if (!NF_ACTIVE(lane)) return;
    block_read1_strided(inCol, in + g * SUBGROUP_SIZE, FACT3, 2 * NF_M, lane);
    FACT3_FUNC(inCol, pmOne);
    apply_subgroup_twiddles(inCol, twidl_max_fact + g * SUBGROUP_SIZE * MAX_FACT * 2, lane);
    local ftype *row = slmPtr + g * SUBGROUP_SIZE * MAX_FACT + (lane / 2) * NF_ROW;
    for (uint r = 0; r < FACT3; ++r) NF_PAIR_STORE(row + 2 * r, lane & 1, inCol[r]);
}

#define NF_ROUNDS(units) (((units) + SUBGRPS_IN_GROUP - 1) / SUBGRPS_IN_GROUP)
/* Unit `u` of sub-group `sg` in round `i`. In the last round, sub-groups
 * past the last unit repeat it and store nothing (`live` false): every
 * work-item of the work-group takes every round of shuffles. */
#define NF_UNIT_OF_ROUND(i, sg, units, u, live)          \
    const uint u##_round = (sg) + (i) * SUBGRPS_IN_GROUP; \
    const bool live = u##_round < (units);               \
    const uint u = live ? u##_round : (units) - 1

/* Rows a + j F1 F0 (a < F1 F0): FACT2-point DFTs, twiddles of area 2. */
static inline void nf_pass_fact2(local ftype *slmPtr, const global ftype *twidl_fact2, const uint sg,
                                 const uint lane, const ftype pmOne, ptype *x)
{
    const uint units = NF_CHUNKS * FACT1 * FACT0;
    for (uint i = 0; i < NF_ROUNDS(units); ++i) {
        if (!NF_ACTIVE(lane)) continue;
        NF_UNIT_OF_ROUND(i, sg, units, u, live);
        const uint a = u / NF_CHUNKS;
        local ftype *base = slmPtr + a * NF_ROW + (u % NF_CHUNKS) * SUBGROUP_SIZE;
        load_slm_strided(x, base, FACT2, FACT1 * FACT0 * NF_ROW, lane);
        FACT2_FUNC(x, pmOne);
        for (uint j = 0; j < FACT2; ++j) {
            const global ftype *w = twidl_fact2 + 2 * (a * FACT2 + j);
            TWIDL_MULT_INPLACE(w[0], NF_TWI(w[1], pmOne), x[j]);
        }
        if (live) store_slm_strided(x, base, FACT2, FACT1 * FACT0 * NF_ROW, lane);
    }
}

/* Within block b of F1 F0 rows, rows a + j F0 (a < F0): FACT1-point DFTs,
 * twiddles of area 1. */
static inline void nf_pass_fact1(local ftype *slmPtr, const global ftype *twidl_fact1, const uint sg,
                                 const uint lane, const ftype pmOne, ptype *x)
{
    const uint units = NF_CHUNKS * FACT0 * FACT2;
    for (uint i = 0; i < NF_ROUNDS(units); ++i) {
        if (!NF_ACTIVE(lane)) continue;
        NF_UNIT_OF_ROUND(i, sg, units, u, live);
        const uint b = u / (NF_CHUNKS * FACT0);
        const uint a = (u % (NF_CHUNKS * FACT0)) / NF_CHUNKS;
        local ftype *base = slmPtr + (b * FACT0 * FACT1 + a) * NF_ROW + (u % NF_CHUNKS) * SUBGROUP_SIZE;
        load_slm_strided(x, base, FACT1, FACT0 * NF_ROW, lane);
        FACT1_FUNC(x, pmOne);
        for (uint j = 0; j < FACT1; ++j) {
            const global ftype *w = twidl_fact1 + 2 * (a * FACT1 + j);
            TWIDL_MULT_INPLACE(w[0], NF_TWI(w[1], pmOne), x[j]);
        }
        if (live) store_slm_strided(x, base, FACT1, FACT0 * NF_ROW, lane);
    }
}

/* Rows b F0 + j: FACT0-point DFTs, then the rows in natural order to `out`. */
static inline void nf_pass_fact0(local ftype *slmPtr, global ftype *out, const ulong t, const uint sg,
                                 const uint lane, const ftype pmOne, ptype *x NF_PRE_TWIDDLE_PARAM)
{
    const uint units = NF_CHUNKS * FACT2 * FACT1;
    for (uint i = 0; i < NF_ROUNDS(units); ++i) {
        if (!NF_ACTIVE(lane)) continue;
        NF_UNIT_OF_ROUND(i, sg, units, u, live);
        const uint b = u / NF_CHUNKS;
        const uint chunk = u % NF_CHUNKS;
        load_slm_strided(x, slmPtr + b * FACT0 * NF_ROW + chunk * SUBGROUP_SIZE, FACT0, NF_ROW, lane);
        FACT0_FUNC(x, pmOne);
        for (uint j = 0; j < FACT0; ++j) {
            const uint row = b * FACT0 + j;
            const uint alpha = row / (FACT1 * FACT0);
            const uint beta = (row % (FACT1 * FACT0)) / FACT0;
            const uint gamma = row % FACT0;
            const uint new_row = (gamma * FACT1 + beta) * FACT2 + alpha;
            APPLY_LARGE_1D_TWIDDLE(x[j], new_row, chunk, lane)
            if (live) NF_GLOBAL_STORE(out + new_row * NF_ROW + chunk * SUBGROUP_SIZE, lane, x[j]);
        }
    }
}

kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
#ifdef LANE_PAIRS
__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))
#endif
void KERNEL_FUNC(const global ftype *in, global ftype *out, const global ftype *twidl_max_fact,
                 const global ftype *twidl_fact2, const global ftype *twidl_fact1, local ftype *slmPtr
                 NF_PRE_TWIDDLE_PARAM)
{
    const uint lid = get_local_id(0);
    const uint sg = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const ftype pmOne = NF_PM_ONE(lane);
    const ulong t = get_global_id(1);
    const global ftype *src = in + 2 * (ulong)IDIST * t;
    global ftype *dst = out + 2 * (ulong)ODIST * t;
    ptype inCol[MAX_FACT];

#ifdef LOAD_LOOP_BOUND
    for (uint i = 0; i < LOAD_LOOP_BOUND; ++i)
        nf_pass_fact3(src, twidl_max_fact, slmPtr, i * SUBGRPS_IN_GROUP + sg, lane, pmOne, inCol);
#define NF_WHOLE_ROUNDS LOAD_LOOP_BOUND
#else
    nf_pass_fact3(src, twidl_max_fact, slmPtr, sg, lane, pmOne, inCol);
#define NF_WHOLE_ROUNDS 1
#endif
#ifdef LOAD_LOOP_TAIL
    /* A device limit that does not divide the columns leaves a partial round. */
    if (sg < LOAD_LOOP_TAIL)
        nf_pass_fact3(src, twidl_max_fact, slmPtr, NF_WHOLE_ROUNDS * SUBGRPS_IN_GROUP + sg, lane, pmOne, inCol);
#endif
    barrier(CLK_LOCAL_MEM_FENCE);
    nf_pass_fact2(slmPtr, twidl_fact2, sg, lane, pmOne, inCol);
    barrier(CLK_LOCAL_MEM_FENCE);
    nf_pass_fact1(slmPtr, twidl_fact1, sg, lane, pmOne, inCol);
    /* In place other work-items store where this one read: the barrier
     * orders global memory too. */
    barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE);
    nf_pass_fact0(slmPtr, dst, t, sg, lane, pmOne, inCol NF_PRE_TWIDDLE_ARG);
}

#endif
)";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return {
      lane_active_macro("NF", "lane"),
      {"NF_LANE_SIGN(lane)", "(((lane) & 1) ? (ftype)-1 : (ftype)1)", ""},
      {"NF_PM_ONE(lane)", "(NF_LANE_SIGN(lane) * NF_DIRECTION_SIGN)", "((ftype)1)"},
      {"NF_GLOBAL_LOAD(run, lane)", "NF_BLOCK_READ(run)", "vload2(0, (run) + (lane))"},
      {"NF_GLOBAL_STORE(run, lane, v)", "NF_BLOCK_WRITE((run), (v))", "vstore2((v), 0, (run) + (lane))"},
      {"NF_SLM_LOAD(run, lane)", "((run)[(lane)])", "vload2(0, (run) + (lane))"},
      {"NF_SLM_STORE(run, lane, v)", "((run)[(lane)] = (v))", "vstore2((v), 0, (run) + (lane))"},
      {"NF_PAIR_STORE(pair, comp, v)", "((pair)[(comp)] = (v))", "vstore2((v), 0, (pair))"},
      {"NF_MAIN_TWI(im)", "(-NF_DIRECTION_SIGN * (im))", "(-(im))",
       "/* A main-table value is already signed for its lane. */", ""},
  };
}

}  // namespace

void write_n_facts_slm_kernel(std::ostream& out, precision p) {
  out << (p == precision::double_precision ? block_moves_double : block_moves_single);
  out << with_lane_form_macros(kernel_text, lane_forms());
}

}  // namespace qez_codelets
