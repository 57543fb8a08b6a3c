#include "four_factor_sections.hpp"

#include <initializer_list>

#include "block_move_sections.hpp"
#include "program_sections.hpp"

namespace qez_codelets {

namespace {

// One text serves both precisions and both lane forms: J * v is
// pmOne * swapReIm(v) in both, and the table products are spelled through
// TWIDL_MULT_INPLACE with the sign each form needs.
// The first lines of both passes' kernels: the work-item's sub-group, lane,
// column and component, the lane sign, the group's columns and the
// column's area of local memory.
const char kernel_prologue[] = R"(    const uint lid = get_local_id(0);
    const uint s = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const uint c = lane / 2;
    const uint comp = lane & 1;
    const ftype pmOne = F4_PM_ONE(lane);
    const long g = get_group_id(0);
    const long first = F4_H * g;
    const bool inside = first + c < F4_M;
    const bool full = first + F4_H <= F4_M;
    const long chunk_t = get_global_id(1);
    local ftype *area = slmPtr + 2 * F4_L * c;
)";

// The rest of the text: what stands before the first prologue, then what
// follows each prologue, up to and including the next kernel's signature.
const char kernels_head[] = R"(/* ---- Four-factor kernels -----------------------------------------------------
 * A pass computes FFT_LEN-point transforms (L = FACT0 x FACT1 = P x Q) of the
 * NUM_FFTS (M) columns of each transform, in two codelet stages:
 *   pass 1 (transpose): x[u*M + v] -> FACT0 over u = s + Q*i, table-A
 *     twiddle W_L^(s*k), FACT1 over s; column v's L results go to the
 *     intermediate area contiguously at v*L (N = L*M complex values per
 *     transform of the chunk);
 *   pass 2 (twiddle, FOUR_FACTS_TWIDDLE_PASS): intermediate (v, k1) at
 *     v*M + k1, times the cross table (W_N^(v*k1) and the scale), FACT0 over
 *     v = s + Q*i, table-B twiddle, FACT1 over s; output index
 *     k1 + M*(a + P*m), the natural order of the whole transform.
 * A work-group is FACT1 sub-groups of SUBGROUP_SIZE lanes; a lane pair holds
 * one column (SUBGROUP_SIZE/2 columns per work-group), sub-group s its rows
 * s + Q*i. Each column owns 2L reals of local memory. With LANE_PAIRS the
 * even lane holds the real and the odd lane the imaginary part; without it
 * (portable form) the even work-item of a pair holds the whole complex value
 * and the odd one only helps with the stores. Geometry, arguments and options
 * are the same in both forms. Dimension 1 runs over a chunk's transforms,
 * `offset` being the index of its first. The last work-group's missing
 * columns (LOAD_STORE_TAIL of them are present) are found from the sizes:
 * they read zeros and store nothing. The intermediate area always steps by
 * N per transform. */
#define F4_L FFT_LEN
#define F4_M NUM_FFTS
#define F4_P FACT0
#define F4_Q FACT1
#define F4_H (SUBGROUP_SIZE / 2)
#define F4_N ((long)FFT_LEN * NUM_FFTS)

$LANE_FORMS

/* Complex element first + c of `src` for the lane of column c; zero for a
 * column past the end. `full`: every column of the work-group exists, so a
 * sub-group moves its consecutive columns as one block. */
static inline ptype f4_load(const global ftype *src, const long first, const uint c, const bool inside,
                            const bool full, const uint comp)
{
#ifdef LANE_PAIRS
    if (full) return F4_BLOCK_READ(src + 2 * first);
    return inside ? src[2 * (first + c) + comp] : (ftype)0;
#else
    return inside ? vload2(first + c, src) : (ptype)(0);
#endif
}

static inline void f4_store(global ftype *dst, const long first, const uint c, const ptype v, const bool inside,
                            const bool full, const uint comp)
{
#ifdef LANE_PAIRS
    if (full) {
        F4_BLOCK_WRITE(dst + 2 * first, v);
        return;
    }
    if (inside) dst[2 * (first + c) + comp] = v;
#else
    if (inside) vstore2(v, first + c, dst);
#endif
}

/* `reals` reals of the work-group's local memory to `dst` in order: whole
 * sub-group blocks when the group is full, single reals otherwise. */
static inline void f4_copy_out(global ftype *dst, const local ftype *slm, const long reals, const bool full,
                               const uint s, const uint lane)
{
#ifdef LANE_PAIRS
    if (full) {
        for (long b = s; b < F4_L; b += F4_Q) F4_BLOCK_WRITE(dst + b * SUBGROUP_SIZE, slm[b * SUBGROUP_SIZE + lane]);
        return;
    }
#endif
    for (long e = s * SUBGROUP_SIZE + lane; e < reals; e += WORK_GROUP_SIZE) dst[e] = slm[e];
}

/* Sub-length twiddle: entry e = (cos, -sin) of 2 pi j k / L, applied with
 * the sign of the build direction. */
static inline ptype f4_twiddle(const global ftype *table, const long e, ptype v, const ftype pmOne)
{
    const ftype tr = table[2 * e];
    const ftype ti = table[2 * e + 1];
    TWIDL_MULT_INPLACE(tr, -pmOne * ti, v);
    return v;
}

/* Second stage of a column: FACT1-point DFTs over the first-stage index s
 * for each a = s0, s0 + Q, ... below P, in place in the column's area. */
/* Every sub-group takes every round (a past P repeats the last and stores
 * nothing), so that the whole work-group reaches the shuffles of the DFTs. */
#define F4_ROUNDS ((F4_P + F4_Q - 1) / F4_Q)
#define F4_ROUND_ROW(s0, round, a, live)        \
    const bool live = (s0) + (round) * F4_Q < F4_P; \
    const uint a = live ? (s0) + (round) * F4_Q : F4_P - 1
static inline void f4_second_stage(local ftype *area, const uint s0, const uint comp, const ftype pmOne)
{
    for (uint round = 0; round < F4_ROUNDS; ++round) {
        F4_ROUND_ROW(s0, round, a, live);
        ptype y[F4_Q];
        for (uint m = 0; m < F4_Q; ++m) y[m] = F4_SLM_LOAD(area, a + m * F4_P, comp);
        FACT1_FUNC(y, pmOne);
        if (live)
            for (uint m = 0; m < F4_Q; ++m) F4_SLM_STORE(y[m], area, a + m * F4_P, comp);
    }
}

#ifndef FOUR_FACTS_TWIDDLE_PASS
kernel F4_ATTRIBUTES
void KERNEL_FUNC(const global ftype *in, global ftype *out, const global ftype *twidl_FFT_LEN,
                 local ftype *slmPtr, const int offset)
{
)";
const char transpose_pass_rest[] = R"(    if (F4_ACTIVE(lane)) {
        const global ftype *src = in + 2 * (chunk_t + offset) * (long)(IDIST);
        ptype x[F4_P];
        for (uint i = 0; i < F4_P; ++i)
            x[i] = f4_load(src, (long)(s + F4_Q * i) * F4_M + first, c, inside, full, comp);
        FACT0_FUNC(x, pmOne);
        for (uint k = 0; k < F4_P; ++k)
            F4_SLM_STORE(f4_twiddle(twidl_FFT_LEN, s * F4_P + k, x[k], pmOne), area, s * F4_P + k, comp);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (F4_ACTIVE(lane)) f4_second_stage(area, s, comp, pmOne);
    barrier(CLK_LOCAL_MEM_FENCE);
    /* The group's columns go out whole and in order; columns past the end
     * are not written. */
    const long reals = 2 * F4_L * clamp((long)F4_M - first, 0L, (long)F4_H);
    f4_copy_out(out + 2 * (chunk_t * F4_N + first * F4_L), slmPtr, reals, full, s, lane);
}
#else
/* Cross twiddle of row r: the lane's real and imaginary slots of its block
 * (which already carry the lane sign and the scale). */
static inline ptype f4_cross(const global ftype *block, const uint r, const uint lane, ptype v)
{
    const ftype re = block[2 * r * SUBGROUP_SIZE + lane];
    const ftype im = block[(2 * r + 1) * SUBGROUP_SIZE + lane];
    TWIDL_MULT_INPLACE(re, F4_CROSS_SIGN * im, v);
    return v;
}

kernel F4_ATTRIBUTES
void KERNEL_FUNC(const global ftype *in, global ftype *out, const global ftype *twidl_N1,
                 const global ftype *twidl, local ftype *slmPtr, const int offset)
{
)";
const char twiddle_pass_rest[] = R"(    if (F4_ACTIVE(lane)) {
        const global ftype *src = in + 2 * chunk_t * F4_N;
        const global ftype *block = twidl + (g * F4_Q + s) * SUBGROUP_SIZE * F4_P * 2;
        ptype x[F4_P];
        for (uint i = 0; i < F4_P; ++i)
            x[i] = f4_cross(block, i, lane, f4_load(src, (long)(s + F4_Q * i) * F4_M + first, c, inside, full, comp));
        FACT0_FUNC(x, pmOne);
        for (uint k = 0; k < F4_P; ++k)
            F4_SLM_STORE(f4_twiddle(twidl_N1, s * F4_P + k, x[k], pmOne), area, s * F4_P + k, comp);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (F4_ACTIVE(lane)) {
        global ftype *dst = out + 2 * (chunk_t + offset) * (long)(ODIST);
        for (uint round = 0; round < F4_ROUNDS; ++round) {
            F4_ROUND_ROW(s, round, a, live);
            ptype y[F4_Q];
            for (uint m = 0; m < F4_Q; ++m) y[m] = F4_SLM_LOAD(area, a + m * F4_P, comp);
            FACT1_FUNC(y, pmOne);
            if (live)
                for (uint m = 0; m < F4_Q; ++m)
                    f4_store(dst, first + (long)F4_M * (a + F4_P * m), c, y[m], inside, full, comp);
        }
    }
}
#endif
)";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return kernel_lane_forms("F4", "(BWD_DIR ? (ftype)-1 : (ftype)1)",
                           {
                               {"F4_CROSS_SIGN", "((ftype)(FWD_DIR ? -1 : 1))", "((ftype)-1)"},
                               lane_element_store_macro("F4_SLM_STORE", "area"),
                               lane_element_load_macro("F4_SLM_LOAD", "area"),
                           },
                           "WORK_GROUP_SIZE");
}

}  // namespace

void write_four_factor_kernels(std::ostream& out, precision p) {
  // The block moves serve the lane-pair form only.
  out << block_moves_heading("Four-factor kernels", p);
  write_block_moves(out, p, "F4");
  out << with_lane_form_macros(kernels_head, lane_forms());
  for (const char* rest : {transpose_pass_rest, twiddle_pass_rest}) out << kernel_prologue << rest;
}

}  // namespace qez_codelets
