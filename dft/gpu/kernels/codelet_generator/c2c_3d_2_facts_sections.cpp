#include "c2c_3d_2_facts_sections.hpp"

#include "block_move_sections.hpp"
#include "line_kernel_sections.hpp"

namespace qez_codelets {

namespace {

const char fused_moves_heading[] = "/* ---- Fused two-factor line kernels: block moves ---- */\n";

const char kernels_head_text[] = R"(/* ---- Fused two-factor line kernels ------------------------------------------
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
 * written after the last, which fences global memory too, so in-place
 * passes are safe. */
#if defined(KERNEL_FUNC0) && defined(FACT0) && defined(FACT1)

)";

// After the shared geometry: the column kernels' table block and the
// defaults of the row kernel's options.
const char defaults_text[] = R"(#define F2_BLOCK (2 * SUBGROUP_SIZE)
#ifndef BATCH_PER_GROUP
#define BATCH_PER_GROUP 1
#endif
#ifndef BATCH_FOR_LAST_GROUP
#define BATCH_FOR_LAST_GROUP BATCH_PER_GROUP
#endif
#ifndef FACT1_LOOP_BOUND
#define FACT1_LOOP_BOUND 1
#endif
)";

const char columns_text[] = R"(
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

static inline void f2_strided_columns(const global ftype *in, global ftype *out,
                                      const global ftype *table, local ftype *slm,
                                      const ulong first, const ulong stride, const uint x_block)
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
    /* Sub-groups beyond the last row of a stage repeat the last one and
     * store nothing, so that every work-item of the work-group reaches the
     * shuffles of the DFTs. */
    if (works) {
        const bool live = sg < FACT1;
        const uint r = live ? sg : FACT1 - 1;
        ptype v[FACT0];
        for (uint i = 0; i < FACT0; ++i)
            v[i] = f2_column_value(in, base + (ulong)(r + i * FACT1) * stride, tail, lane);
        FACT0_FUNC(v, pmOne);
        for (uint k = 0; k < FACT0; ++k) {
            const uint o = F2_BLOCK * (FACT0 * r + k) + 2 * pair;
            TWIDL_MULT_INPLACE(F2_TWIDDLE_COS(table, o, comp), F2_TWIDDLE_SIN(table, o, comp), v[k]);
            if (live) F2_STORE(v[k], slm, 4 * (k * FACT1 + r) + pair, comp);
        }
    }
    /* In place other work-items store where this one read: the barrier
     * orders global memory too. */
    barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE);
    if (works) {
        const bool live = sg < FACT0;
        const uint r = live ? sg : FACT0 - 1;
        ptype w[FACT1];
        for (uint j = 0; j < FACT1; ++j) w[j] = F2_LOAD(slm, 4 * (r * FACT1 + j) + pair, comp);
        FACT1_FUNC(w, pmOne);
        if (live)
            for (uint j = 0; j < FACT1; ++j)
                f2_column_store(out, base + (ulong)(r + j * FACT0) * stride, tail, lane, w[j]);
    }
}

#endif

#ifdef KERNEL_FUNC1
)";
const char y_kernel_body_text[] = R"({
    const ulong g = get_group_id(0);
    const uint x_block = g % WORK_GROUPS_IN_X_DIR;
    const ulong plane = g / WORK_GROUPS_IN_X_DIR;
    f2_strided_columns(in, out, twidlTable, slmPtr, plane * (ulong)(DIST_IN_XY_PLANE),
                       (ulong)(DIST_IN_Y_DIR), x_block);
}
#endif

#ifdef KERNEL_FUNC2
)";
const char z_kernel_body_text[] = R"({
    const ulong g = get_group_id(0);
    const ulong transform = g / WORK_GROUPS_IN_A_3D_BATCH;
    const uint in_batch = g % WORK_GROUPS_IN_A_3D_BATCH;
    const uint y = in_batch / WORK_GROUPS_IN_X_DIR;
    const uint x_block = in_batch % WORK_GROUPS_IN_X_DIR;
    f2_strided_columns(in, out, twidlTable, slmPtr,
                       transform * (ulong)(BATCH_DIST) + (ulong)y * DIST_IN_Y_DIR,
                       (ulong)(DIST_IN_Z_DIR), x_block);
}
#endif

#endif
)";

const line_kernel_prefixes fused_names = {"F2", "f2"};

}  // namespace

void write_c2c_3d_2_facts_kernels(std::ostream& out, precision p) {
  out << fused_moves_heading;
  write_block_moves(out, p, fused_names.macros);
  out << kernels_head_text;
  write_line_geometry(out, fused_names);
  out << defaults_text;
  write_line_kernel(out, p, fused_names, "KERNEL_FUNC0");
  out << columns_text;
  write_line_kernel_head(out, "WORK_GROUP_SIZE_Y", "KERNEL_FUNC1");
  out << y_kernel_body_text;
  write_line_kernel_head(out, "WORK_GROUP_SIZE_Y", "KERNEL_FUNC2");
  out << z_kernel_body_text;
}

}  // namespace qez_codelets
