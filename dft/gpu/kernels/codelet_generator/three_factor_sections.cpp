#include "three_factor_sections.hpp"

#include <initializer_list>

#include "block_move_sections.hpp"
#include "program_sections.hpp"

namespace qez_codelets {

namespace {

// J * v is pmOne * swapReIm(v) in both lane forms, and the twiddle product
// v * (tr + i ti) forward, v * (tr - i ti) backward is
// TWIDL_MULT_INPLACE(tr, -pmOne * ti, v) in both: one text serves both.
// The first lines of the three passes' kernels: the work-item's sub-group,
// lane, column and component, the lane sign and the transform.
const char kernel_prologue[] = R"(    const uint lid = get_local_id(0);
    const uint sg = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const uint q = lane / 2;
    const uint comp = lane & 1;
    const ftype pmOne = T3_PM_ONE(lane);
    const long j = get_group_id(1);
)";

// The rest of the text: what stands before the first prologue, then what
// follows each prologue, up to and including the next kernel's signature.
const char kernels_head[] = R"(/* ---- Three-factor kernels ---------------------------------------------------
 * N = FACT0 x FACT1 x FACT2, M = FACT1 x FACT2. One pass per factor:
 *   pass 0: FACT0-point DFTs over stride M, caller's input -> temporary area,
 *           column m's results contiguous (temporary m*FACT0 + k0);
 *   pass 1: class-1 twiddles (scale included), FACT1-point DFTs over stride
 *           FACT0*FACT2, in place in the temporary area;
 *   pass 2: class-2 twiddles, FACT2-point DFTs over stride FACT0, temporary
 *           -> caller's output in natural order.
 * A work-group of WORK_GROUP_SIZE work-items is SUBGRPS_IN_GROUP sub-groups of
 * SUBGROUP_SIZE lanes; a lane pair holds one column, so a sub-group holds
 * SUBGROUP_SIZE/2 columns and a work-group WORK_GROUP_SIZE/2. Results go
 * through local memory so that global stores are whole rows; pass 1's
 * barrier fences global memory too, since it stores in place where other
 * work-items of the work-group have read.
 * With LANE_PAIRS the even lane holds the real and the odd lane the imaginary
 * part and global memory moves by sub-group blocks. Without it (portable
 * form) the even work-item of a pair holds the whole complex value and the
 * odd one helps only with the loads and stores: the work-group first moves
 * its FACTn x T3_COLUMNS tile of input (twiddles applied) into local memory,
 * each work-item a run of neighbouring values of a row, since a CPU runs
 * one work-item after the other and column-wise loads of rows a power of
 * two apart keep evicting each other from the cache. Geometry, arguments
 * and options are the same in both forms. Dimension 1 runs over the
 * transforms of a chunk. */
#define T3_C0 (FACT1 * FACT2)
#define T3_C1 (FACT0 * FACT2)
#define T3_C2 (FACT0 * FACT1)
#define T3_H (SUBGROUP_SIZE / 2)
#define T3_COLUMNS (WORK_GROUP_SIZE / 2)
#define T3_ROW_REALS (2 * T3_COLUMNS)

$LANE_FORMS

/* Columns of a group starting at column `first` that exist below `count`. */
static inline int t3_valid(const long count, const long first, const long width)
{
    return (int)clamp(count - first, 0L, width);
}

/* Element `first + q` of `in` for the lane's column q of its sub-group (the
 * sub-group's columns are consecutive elements): one block read when all of
 * them exist, element by element otherwise, zero past the end. */
static inline ptype t3_load(const global ftype *in, const long first, const uint q, const int valid,
                            const uint comp)
{
#ifdef LANE_PAIRS
    if (valid >= T3_H) return T3_BLOCK_READ(in + 2 * first);
    return (int)q < valid ? in[2 * (first + q) + comp] : (ftype)0;
#else
    return (int)q < valid ? vload2(first + q, in) : (ptype)(0);
#endif
}

/* Twiddle entry e as (tr, ti) applied to v; nothing past the end. */
static inline ptype t3_twiddle(const global ftype *table, const long e, const bool inside, ptype v,
                               const ftype pmOne)
{
    const ftype tr = inside ? table[2 * e] : (ftype)0;
    const ftype ti = inside ? table[2 * e + 1] : (ftype)0;
    TWIDL_MULT_INPLACE(tr, -pmOne * ti, v);
    return v;
}

#ifdef STREAMED_STORES
/* Pass 2's results, when larger than the last-level cache, go past the
 * caches to the caller's output. Passes 0 and 1 store to the temporary area,
 * which the next pass reads at once, and always keep it cached: streamed,
 * it went out to memory and came back even where the cache held the whole
 * chunk (double 2^13 to 2^15 a fifth slower on a CPU with a 480 MiB cache). */
static inline bool t3_streams(void)
{
    return STREAMS_PAST_CACHE((ulong)get_global_size(1) * (T3_C0 * FACT0) * sizeof(ptype));
}
#define t3_drain_streams() drain_streams(t3_streams())
#else
#define t3_streams() false
#define t3_drain_streams()
#endif

/* `blocks` x SUBGROUP_SIZE reals of local memory to global memory, streamed
 * past the caches when `streams` says so; only the first `valid` reals are
 * stored. With lane pairs lane L moves reals L,
 * L + SUBGROUP_SIZE, ...: whole sub-group blocks while they fit, single
 * reals after. In the portable form a CPU runs each work-item's stores back
 * to back, so lane L moves its own run of `blocks` neighbouring reals. */
static inline void t3_store_reals(const local ftype *slm, global ftype *out, const uint blocks,
                                  const int valid, const uint lane, const bool streams)
{
#ifdef LANE_PAIRS
    for (uint e = 0; e < blocks; ++e) {
        const int at = (int)(SUBGROUP_SIZE * e + lane);
        const ftype v = slm[at];
        if ((int)(SUBGROUP_SIZE * (e + 1)) <= valid) {
            T3_BLOCK_WRITE(out + SUBGROUP_SIZE * e, v);
            continue;
        }
        if (at < valid) out[at] = v;
    }
#else
    const int begin = (int)(blocks * lane);
    global ftype *run = out + begin;
#ifdef STREAMED_STORES
    if (streams && blocks % 4 == 0 && begin + (int)blocks <= valid && (ulong)run % sizeof(ftype4) == 0) {
        for (uint e = 0; e < blocks; e += 4) STREAM_STORE(vload4(0, slm + begin + e), (global ftype4 *)(run + e));
        return;
    }
#endif
    for (uint e = 0; e < blocks; ++e) {
        const int at = begin + (int)e;
        if (at < valid) out[at] = slm[at];
    }
#endif
}

#ifndef LANE_PAIRS
/* Portable form: the tile of `rows` x T3_COLUMNS complex values is shared out
 * as runs of T3_RUN(rows) neighbouring entries, row-major (row at /
 * T3_COLUMNS, column at % T3_COLUMNS); entries past the tile have no row. */
#define T3_RUN(rows) (((rows) * T3_COLUMNS + WORK_GROUP_SIZE - 1) / WORK_GROUP_SIZE)

/* Value `e` of `in`, zero for a column that does not exist. */
static inline ptype t3_tile_load(const global ftype *in, const long e, const bool inside)
{
    return inside ? vload2(e, in) : (ptype)(0);
}

/* Pass 2's column c of work-group `group`: sub-group g of the group holds
 * columns k1*FACT0 + k0 for its k1 and T3_H neighbouring k0. The column's
 * row i is temporary k1 * FACT0 * FACT2 + i * FACT0 + k0 (the result), its
 * twiddle entry k1 * FACT2 + i. */
static inline long t3_pass_2_column(const long group, const uint c, long *k1)
{
    const long g = (T3_COLUMNS / T3_H) * group + c / T3_H;
    *k1 = g / (FACT0 / T3_H);
    return *k1 * FACT0 * FACT2 + T3_H * (g % (FACT0 / T3_H)) + c % T3_H;
}

#if defined(T3_PREFETCH_NEXT_TILE) && defined(PREFETCHES)
/* Tile column c of work-group `group` in pass `pass`, and whether it exists:
 * T3_COLUMNS * group + c below `columns` in passes 0 and 1, as
 * t3_pass_2_column says in pass 2. */
static inline long t3_tile_column(const int pass, const long group, const uint c, const long columns,
                                  bool *inside)
{
    if (pass == 2) {
        long k1;
        const long column = t3_pass_2_column(group, c, &k1);
        *inside = k1 < FACT1;
        return column;
    }
    const long column = T3_COLUMNS * group + c;
    *inside = column < columns;
    return column;
}

/* The staging loads wait on memory. Before its own loads each work-item asks
 * for the cache lines of its run in the next work-group's tile, which the
 * same CPU thread most likely stages next, so that they are in the L2 cache
 * by then. Tile entry `at` is value (at / T3_COLUMNS) * row_distance plus
 * its column of `in`. */
#define T3_PREFETCHES 1
static inline void t3_prefetch_next_tile(const global ftype *in, const uint rows, const long row_distance,
                                         const long columns, const int pass, const uint lid)
{
    if (!HAS_NEXT_GROUP) return;
    const long next = (long)get_group_id(0) + 1;
    for (uint r = 0; r < T3_RUN(rows); r += PREFETCH_LINE_VALUES) {
        const uint at = T3_RUN(rows) * lid + r;
        bool inside;
        const long column = t3_tile_column(pass, next, at % T3_COLUMNS, columns, &inside);
        if (at < rows * T3_COLUMNS && inside)
            PREFETCH(in + 2 * ((long)(at / T3_COLUMNS) * row_distance + column), 2);
    }
}
#endif

/* The work-item's column of a staged tile through its butterfly: FACT values
 * at `at`, `at + step`, ... of local memory, replaced by their DFT. */
#define T3_COLUMN_DFT(FACT, FUNC, slm, at, step, pmOne)                  \
    do {                                                                 \
        ptype v_[FACT];                                                  \
        _Pragma("unroll") for (uint i_ = 0; i_ < FACT; ++i_)             \
            v_[i_] = vload2((at) + i_ * (step), (slm));                  \
        FUNC(v_, pmOne);                                                 \
        _Pragma("unroll") for (uint i_ = 0; i_ < FACT; ++i_)             \
            vstore2(v_[i_], (at) + i_ * (step), (slm));                  \
    } while (0)
#endif

kernel T3_ATTRIBUTES
void KERNEL_FUNC0(const global ftype *in, global ftype *out, local ftype *slmPtr, const int offset)
{
)";
const char pass_0_rest[] = R"(    const long t = (long)get_global_id(1) + offset;
    const long first = T3_COLUMNS * (long)get_group_id(0) + T3_H * sg;
    const int valid = t3_valid(T3_C0, first, T3_H);
    local ftype *region = slmPtr + sg * SUBGROUP_SIZE * FACT0;
#ifndef LANE_PAIRS
    {
        /* Row i of the tile is input i * T3_C0 + group_first + c, staged
         * column-major (column c's values contiguous, as stored). */
        const long group_first = T3_COLUMNS * (long)get_group_id(0);
        const int group_valid = t3_valid(T3_C0, group_first, T3_COLUMNS);
        const global ftype *src = in + 2 * (t * (long)(IDIST) + group_first);
#ifdef T3_PREFETCHES
        t3_prefetch_next_tile(in + 2 * t * (long)(IDIST), FACT0, T3_C0, T3_C0, 0, lid);
#endif
#pragma unroll
        for (uint r = 0; r < T3_RUN(FACT0); ++r) {
            const uint at = T3_RUN(FACT0) * lid + r;
            const uint i = at / T3_COLUMNS, c = at % T3_COLUMNS;
            if (i < FACT0) vstore2(t3_tile_load(src, (long)i * T3_C0 + c, (int)c < group_valid), c * FACT0 + i, slmPtr);
        }
        barrier(CLK_LOCAL_MEM_FENCE);
        if (T3_ACTIVE(lane)) T3_COLUMN_DFT(FACT0, FACT0_FUNC, slmPtr, (lid / 2) * FACT0, 1, pmOne);
    }
#else
    if (T3_ACTIVE(lane)) {
        const global ftype *src = in + 2 * t * (long)(IDIST);
        ptype v[FACT0];
#pragma unroll
        for (uint i = 0; i < FACT0; ++i) v[i] = t3_load(src, (long)i * T3_C0 + first, q, valid, comp);
        FACT0_FUNC(v, pmOne);
#pragma unroll
        for (uint i = 0; i < FACT0; ++i) T3_SLM_STORE(v[i], region, q * FACT0 + i, comp);
    }
#endif
    barrier(CLK_LOCAL_MEM_FENCE);
    t3_store_reals(region, out + 2 * (j * (long)(TDIST) + first * FACT0), FACT0, 2 * FACT0 * valid, lane, false);
}

kernel T3_ATTRIBUTES
void KERNEL_FUNC1(const global ftype *in, global ftype *out, const global ftype *twidlTable,
                  local ftype *slmPtr)
{
)";
const char pass_1_rest[] = R"(    const long group_first = T3_COLUMNS * (long)get_group_id(0);
    const long first = group_first + T3_H * sg;
    const int valid = t3_valid(T3_C1, first, T3_H);
#ifndef LANE_PAIRS
    {
        /* Row i of the tile is temporary i * T3_C1 + group_first + c, and so is
         * its twiddle entry; staged row-major, as stored. */
        const int group_valid = t3_valid(T3_C1, group_first, T3_COLUMNS);
        const global ftype *src = in + 2 * (j * (long)(TDIST) + group_first);
        const global ftype *tw = twidlTable + 2 * group_first;
#ifdef T3_PREFETCHES
        t3_prefetch_next_tile(in + 2 * j * (long)(TDIST), FACT1, T3_C1, T3_C1, 1, lid);
#endif
#pragma unroll
        for (uint r = 0; r < T3_RUN(FACT1); ++r) {
            const uint at = T3_RUN(FACT1) * lid + r;
            const uint i = at / T3_COLUMNS, c = at % T3_COLUMNS;
            const long e = (long)i * T3_C1 + c;
            const bool inside = (int)c < group_valid;
            if (i < FACT1) vstore2(t3_twiddle(tw, e, inside, t3_tile_load(src, e, inside), pmOne), at, slmPtr);
        }
        barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE);
        if (T3_ACTIVE(lane)) T3_COLUMN_DFT(FACT1, FACT1_FUNC, slmPtr, lid / 2, T3_COLUMNS, pmOne);
    }
#else
    if (T3_ACTIVE(lane)) {
        const global ftype *src = in + 2 * j * (long)(TDIST);
        ptype v[FACT1];
#pragma unroll
        for (uint i = 0; i < FACT1; ++i) {
            const long e = (long)i * T3_C1 + first;
            v[i] = t3_twiddle(twidlTable, e + q, (int)q < valid, t3_load(src, e, q, valid, comp), pmOne);
        }
        FACT1_FUNC(v, pmOne);
#pragma unroll
        for (uint i = 0; i < FACT1; ++i) T3_SLM_STORE(v[i], slmPtr, i * T3_COLUMNS + T3_H * sg + q, comp);
    }
#endif
    barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE);
    const int row_valid = 2 * t3_valid(T3_C1, group_first, T3_COLUMNS);
    global ftype *dst = out + 2 * (j * (long)(TDIST) + group_first);
    for (uint i = sg; i < FACT1; i += SUBGRPS_IN_GROUP)
        t3_store_reals(slmPtr + i * T3_ROW_REALS, dst + 2 * (long)i * T3_C1, T3_ROW_REALS / SUBGROUP_SIZE,
                       row_valid, lane, false);
}

kernel T3_ATTRIBUTES
void KERNEL_FUNC2(const global ftype *in, global ftype *out, const global ftype *twidlTable,
                  local ftype *slmPtr, const int offset)
{
)";
const char pass_2_rest[] = R"(    const long t = (long)get_global_id(1) + offset;
    const long group_first = T3_COLUMNS * (long)get_group_id(0);
    /* Sub-group g holds columns k1*FACT0 + k0 for its k1 and four k0. */
    const long g = (T3_COLUMNS / T3_H) * (long)get_group_id(0) + sg;
    const long k1 = g / (FACT0 / T3_H);
    const long k0_first = T3_H * (g % (FACT0 / T3_H));
    const int valid = k1 < FACT1 ? T3_H : 0;
#ifndef LANE_PAIRS
    {
        /* Staged row-major. */
        const global ftype *src = in + 2 * j * (long)(TDIST);
#ifdef T3_PREFETCHES
        t3_prefetch_next_tile(src, FACT2, FACT0, T3_C2, 2, lid);
#endif
#pragma unroll
        for (uint r = 0; r < T3_RUN(FACT2); ++r) {
            const uint at = T3_RUN(FACT2) * lid + r;
            const uint i = at / T3_COLUMNS, c = at % T3_COLUMNS;
            long k1c;
            const long column = t3_pass_2_column((long)get_group_id(0), c, &k1c);
            const bool inside = k1c < FACT1;
            if (i < FACT2) {
                const ptype x = t3_tile_load(src, column + (long)i * FACT0, inside);
                vstore2(t3_twiddle(twidlTable, k1c * FACT2 + i, inside, x, pmOne), at, slmPtr);
            }
        }
        barrier(CLK_LOCAL_MEM_FENCE);
        if (T3_ACTIVE(lane)) T3_COLUMN_DFT(FACT2, FACT2_FUNC, slmPtr, lid / 2, T3_COLUMNS, pmOne);
    }
#else
    if (T3_ACTIVE(lane)) {
        const global ftype *src = in + 2 * j * (long)(TDIST);
        ptype v[FACT2];
#pragma unroll
        for (uint i = 0; i < FACT2; ++i) {
            const long e = k1 * FACT0 * FACT2 + (long)i * FACT0 + k0_first;
            v[i] = t3_twiddle(twidlTable, k1 * FACT2 + i, valid > 0, t3_load(src, e, q, valid, comp), pmOne);
        }
        FACT2_FUNC(v, pmOne);
#pragma unroll
        for (uint i = 0; i < FACT2; ++i) T3_SLM_STORE(v[i], slmPtr, i * T3_COLUMNS + T3_H * sg + q, comp);
    }
#endif
    barrier(CLK_LOCAL_MEM_FENCE);
    const int row_valid = 2 * t3_valid(T3_C2, group_first, T3_COLUMNS);
    global ftype *dst = out + 2 * (t * (long)(ODIST) + group_first);
    for (uint i = sg; i < FACT2; i += SUBGRPS_IN_GROUP)
        t3_store_reals(slmPtr + i * T3_ROW_REALS, dst + 2 * (long)i * T3_C2, T3_ROW_REALS / SUBGROUP_SIZE,
                       row_valid, lane, t3_streams());
    t3_drain_streams();
}
)";

// Single precision: the portable form prefetches the next work-group's tile
// before staging its own (2^14 to 2^18 a twentieth to a third faster on
// PoCL; in double precision no faster).
const char prefetch_next_tile_text[] = "#define T3_PREFETCH_NEXT_TILE 1\n";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return kernel_lane_forms("T3", "(BWD_DIR ? (ftype)-1 : (ftype)1)",
                           {
                               lane_element_store_macro("T3_SLM_STORE", "slm"),
                           },
                           "WORK_GROUP_SIZE");
}

}  // namespace

void write_three_factor_kernels(std::ostream& out, precision p) {
  // The block moves serve the lane-pair form only.
  out << block_moves_heading("Three-factor kernels", p);
  write_block_moves(out, p, "T3");
  if (p == precision::single_precision) out << prefetch_next_tile_text;
  out << with_lane_form_macros(kernels_head, lane_forms());
  for (const char* rest : {pass_0_rest, pass_1_rest, pass_2_rest}) out << kernel_prologue << rest;
}

}  // namespace qez_codelets
