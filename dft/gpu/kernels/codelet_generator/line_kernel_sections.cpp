#include "line_kernel_sections.hpp"

#include <cstring>
#include <string>

#include "program_sections.hpp"

namespace qez_codelets {

namespace {

// Texts below name macros PFX_.. and helpers pfx_..; the writers put in the
// program's own prefixes.
void write_named(std::ostream& out, const char* text, const line_kernel_prefixes& names) {
  for (const char* at = text; *at != '\0';) {
    if (std::strncmp(at, "PFX_", 4) == 0) {
      out << names.macros << '_';
      at += 4;
    } else if (std::strncmp(at, "pfx_", 4) == 0) {
      out << names.functions << '_';
      at += 4;
    } else {
      out << *at++;
    }
  }
}

const char geometry_text[] = R"(#define PFX_N (FACT0 * FACT1)
#define PFX_PF1 (FACT1 + PADFACT1)
#define PFX_H (SUBGROUP_SIZE / 2)
#define PFX_PAIRS (WORK_GROUP_SIZE / 2)
#define PFX_SUBGROUPS (WORK_GROUP_SIZE / SUBGROUP_SIZE)
#define PFX_COLUMN_GROUPS (PFX_PF1 / PFX_H)
#define PFX_TABLE_BLOCK (2 * SUBGROUP_SIZE * FACT0)
)";

const char lane_forms_and_helpers_text[] = R"(#if FWD_DIR
#define PFX_DIRECTION_SIGN ((ftype)1)
#else
#define PFX_DIRECTION_SIGN ((ftype)-1)
#endif

/* In single precision the loops that move a work-item's values to and from
 * local memory (the twiddled stores of the columns, the loads of the rows)
 * are unrolled where their factor is at most this. On a CPU, transforms of
 * 64 to 256 points then took an eighth fewer instructions and ran about
 * 1.2x as fast; unrolled over factors of 32 they ran a few percent slower. */
#define PFX_UNROLL_LIMIT 16

$LANE_FORMS

/* One value of row `row` for the lane's column; the sub-group of column
 * group `sg` reads its four columns with one block read when they all
 * exist, element by element in the padded tail. */
static inline ptype pfx_read_column_value(const global ftype *in, const uint row, const uint sg,
                                         const uint column, const uint comp)
{
#ifdef LANE_PAIRS
    if (PFX_H * (sg + 1) <= FACT1) return PFX_BLOCK_READ(in + 2 * (row * FACT1 + PFX_H * sg));
#endif
    return column < FACT1 ? PFX_LOAD(in, row * FACT1 + column, comp) : (ptype)(0);
}

/* FACT0-point DFTs of the columns, twiddles, transposed store: local
 * element k*FACT1 + j holds row k of column j. With lane pairs, sub-groups
 * beyond the last column group repeat the first one and store nothing, so
 * that every work-item of the work-group reaches the shuffles of the DFT;
 * the portable form has no shuffles, and a work-item without a column
 * skips the DFT. */
static inline void pfx_columns(const global ftype *in, const global ftype *table, local ftype *slm,
                              const uint sg, const uint lane, const ftype pmOne)
{
    if (!PFX_ACTIVE(lane)) return;
    const bool columns_left = sg < PFX_COLUMN_GROUPS;
    const uint group = columns_left ? sg : 0;
    const uint comp = lane & 1;
    const uint column = PFX_H * group + lane / 2;
    const bool inside = columns_left && column < FACT1;
#ifndef LANE_PAIRS
    if (!inside) return;
#endif
    ptype v[FACT0];
    /* Unrolled in single precision, as the row stores: a CPU compiler's loop
     * vectoriser turns these strided accesses of 8-byte complex values into
     * gathers and scatters, slower than single loads and stores. */
$UNROLL_STRIDED
    for (uint i = 0; i < FACT0; ++i) v[i] = pfx_read_column_value(in, i, group, column, comp);
    FACT0_FUNC(v, pmOne);
    const uint block = group * PFX_TABLE_BLOCK + 2 * (lane / 2);
#if FACT0 <= PFX_UNROLL_LIMIT
$UNROLL_STRIDED
#endif
    for (uint k = 0; k < FACT0; ++k) {
        const uint o = block + k * 2 * SUBGROUP_SIZE;
        const ftype twr = inside ? PFX_TWIDDLE_COS(table, o, comp) : (ftype)(0);
        const ftype twi = inside ? PFX_TWIDDLE_SIN(table, o, comp) : (ftype)(0);
        TWIDL_MULT_INPLACE(twr, twi, v[k]);
        if (inside) PFX_STORE(v[k], slm, k * FACT1 + column, comp);
    }
}

#ifdef PREFETCHES
/* Each pair first asks for its run of the next work-group's first
 * transform into the L2 cache, which the same CPU thread most likely runs
 * next (single precision 128 to 1024 points and double 512 and 1024 about
 * a tenth faster; double 64 to 256 points 1.14-1.27x as fast as asking
 * for the group's own transform just before reading it, which left each
 * group waiting on memory). */
/* The cache lines of the pair's run of the transform at `in`. */
static inline void pfx_prefetch_run(const global ftype *in, const uint sg, const uint lane)
{
    if (!PFX_ACTIVE(lane)) return;
    const uint run = (PFX_N + PFX_PAIRS - 1) / PFX_PAIRS;
    const uint begin = (PFX_H * sg + lane / 2) * run;
    const uint end = min(begin + run, (uint)PFX_N);
    for (uint e = begin; e < end; e += PREFETCH_LINE_VALUES) PREFETCH(in + 2 * e, 2);
    if (begin < end) PREFETCH(in + 2 * (end - 1), 2);
}
#endif

/* Row of pass `pass` for the lane's pair; the sub-group takes part while
 * its first row exists. */
static inline uint pfx_row(const uint pass, const uint sg, const uint lane)
{
    return pass * PFX_PAIRS + PFX_H * sg + lane / 2;
}
static inline bool pfx_rows_busy(const uint pass, const uint sg, const uint lane)
{
    return PFX_ACTIVE(lane) && pass * PFX_PAIRS + PFX_H * sg < FACT0;
}

/* FACT1-point DFTs of the rows, kept in registers until every row is read.
 * With lane pairs every work-item takes every pass (a row past the last is
 * zeros), so that the whole work-group reaches the shuffles of the DFT; in
 * the portable form only the work-items that hold a row compute, the rows
 * that pfx_store_rows stores. */
static inline void pfx_rows(const local ftype *slm, ptype rows[FACT1_LOOP_BOUND][FACT1],
                           const uint sg, const uint lane, const ftype pmOne)
{
    const uint comp = lane & 1;
    for (uint pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
        const uint row = pfx_row(pass, sg, lane);
#ifndef LANE_PAIRS
        if (!PFX_ACTIVE(lane) || row >= FACT0) continue;
#endif
#if FACT1 <= PFX_UNROLL_LIMIT
$UNROLL_STRIDED
#endif
        for (uint j = 0; j < FACT1; ++j)
            rows[pass][j] = row < FACT0 ? PFX_LOAD(slm, row * FACT1 + j, comp) : (ptype)(0);
        FACT1_FUNC(rows[pass], pmOne);
    }
}

/* Row k1 holds outputs k1 + FACT0*k2: natural order in local memory. */
static inline void pfx_store_rows(local ftype *slm, ptype rows[FACT1_LOOP_BOUND][FACT1],
                                 const uint sg, const uint lane)
{
    const uint comp = lane & 1;
    for (uint pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
        if (!pfx_rows_busy(pass, sg, lane)) continue;
        const uint row = pfx_row(pass, sg, lane);
        if (row >= FACT0) continue;
$UNROLL_STRIDED
        for (uint k = 0; k < FACT1; ++k) PFX_STORE(rows[pass][k], slm, row + FACT0 * k, comp);
    }
}

#if defined(STREAMED_STORES) && $STREAMED_PRECISION
/* Double precision streams a large output past the caches (512 and 1024
 * points a sixth to a third faster); in single precision the stores cost
 * more than they save. */
#define PFX_STREAMS STREAMS_PAST_CACHE((ulong)get_num_groups(0) * BATCH_PER_GROUP * PFX_N * sizeof(ptype))
#endif

/* The finished transform from local memory to `out`, contiguous. */
static inline void pfx_write_out(const local ftype *slm, global ftype *out, const uint sg, const uint lane)
{
#ifdef LANE_PAIRS
    for (uint first = PFX_H * sg; first < PFX_N; first += PFX_H * PFX_SUBGROUPS) {
        const ftype v = first + lane / 2 < PFX_N ? slm[2 * first + lane] : (ftype)(0);
        if (first + PFX_H <= PFX_N) PFX_BLOCK_WRITE(out + 2 * first, v);
        else if (first + lane / 2 < PFX_N) out[2 * first + lane] = v;
    }
#else
    /* A CPU runs each work-item's stores back to back: each pair stores its
     * own run of neighbouring values. */
    if (!PFX_ACTIVE(lane)) return;
    const uint run = (PFX_N + PFX_PAIRS - 1) / PFX_PAIRS;
    const uint begin = (PFX_H * sg + lane / 2) * run;
    const uint end = min(begin + run, (uint)PFX_N);
#ifdef PFX_STREAMS
    /* Named as a bool: the run is a constant of the build options, and an
     * int-valued constant operand of `&&` draws a compiler warning. */
    const bool whole_vector_run = run % 2 == 0 && end == begin + run && (ulong)(out + 2 * begin) % sizeof(ftype4) == 0;
    if (PFX_STREAMS && whole_vector_run) {
        for (uint e = begin; e < end; e += 2)
            STREAM_STORE(vload4(0, slm + 2 * e), (global ftype4 *)(out + 2 * e));
        return;
    }
#endif
    for (uint e = begin; e < end; ++e) vstore2(vload2(e, slm), e, out);
#endif
}

)";

const char kernel_body_text[] = R"({
    const uint lid = get_local_id(0);
    const uint sg = lid / SUBGROUP_SIZE;
    const uint lane = lid % SUBGROUP_SIZE;
    const ftype pmOne = PFX_PM_ONE(lane);
    const ulong group = get_group_id(0);
    const uint count = group + 1 == get_num_groups(0) ? BATCH_FOR_LAST_GROUP : BATCH_PER_GROUP;
    in += 2 * group * BATCH_PER_GROUP * (ulong)(IDIST);
    out += 2 * group * BATCH_PER_GROUP * (ulong)(ODIST);
    ptype rows[FACT1_LOOP_BOUND][FACT1];
#ifdef PREFETCHES
    if (HAS_NEXT_GROUP) pfx_prefetch_run(in + 2 * BATCH_PER_GROUP * (ulong)(IDIST), sg, lane);
#endif
    for (uint b = 0; b < count; ++b) {
        if (b > 0) barrier(CLK_LOCAL_MEM_FENCE);
        pfx_columns(in, twidlTable, slmPtr, sg, lane, pmOne);
        barrier(CLK_LOCAL_MEM_FENCE);
        pfx_rows(slmPtr, rows, sg, lane, pmOne);
        barrier(CLK_LOCAL_MEM_FENCE);
        pfx_store_rows(slmPtr, rows, sg, lane);
        /* In place, the stores go where other work-items have read. */
        barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE);
        pfx_write_out(slmPtr, out, sg, lane);
        in += 2 * (ulong)(IDIST);
        out += 2 * (ulong)(ODIST);
    }
#ifdef PFX_STREAMS
    drain_streams(PFX_STREAMS);
#endif
}
)";

// Every `marker` in `text` replaced by `replacement`.
std::string with_replaced(std::string text, const std::string& marker, const std::string& replacement) {
  for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
    text.replace(at, marker.size(), replacement);
    at += replacement.size();
  }
  return text;
}

// The precision-dependent parts of the text: each "$UNROLL_STRIDED" line an
// unrolling pragma in single precision (before the strided loops, which would
// otherwise become gathers or scatters of 8-byte values, and before the
// local-memory loops of at most PFX_UNROLL_LIMIT values), nothing in double;
// "$STREAMED_PRECISION" 1 in double precision (whose output stores may
// stream past the caches), 0 in single.
std::string with_precision_parts(const std::string& text, precision p) {
  const bool single = p == precision::single_precision;
  return with_replaced(with_replaced(text, "$UNROLL_STRIDED\n", single ? "#pragma unroll\n" : ""),
                       "$STREAMED_PRECISION", single ? "0" : "1");
}

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return kernel_lane_forms(
      "PFX", "PFX_DIRECTION_SIGN",
      {
          lane_element_load_macro("PFX_LOAD", "base"),
          lane_element_store_macro("PFX_STORE", "base"),
          {"PFX_TWIDDLE_COS(t, o, comp)", "((t)[(o) + (comp)])", "((t)[(o)])",
           R"(/* Lane 2p reads (cos, s), lane 2p+1 (cos, -s) of the signed sine s in the
 * table; pmOne * sin of the multiplication macro is -(its entry) forward
 * and +(its entry) backward. */)",
           "/* (cos, -s) of the odd lane is the multiplier by (cos - i*(-s)). */"},
          {"PFX_TWIDDLE_SIN(t, o, comp)", "(-PFX_DIRECTION_SIGN * (t)[(o) + SUBGROUP_SIZE + (comp)])",
           "((t)[(o) + SUBGROUP_SIZE + 1])"},
      });
}

}  // namespace

void write_line_geometry(std::ostream& out, const line_kernel_prefixes& names) {
  write_named(out, geometry_text, names);
}

void write_line_kernel(std::ostream& out, precision p, const line_kernel_prefixes& names, const char* kernel_name) {
  const std::string helpers =
      with_precision_parts(with_lane_form_macros(lane_forms_and_helpers_text, lane_forms()), p);
  write_named(out, helpers.c_str(), names);
  write_line_kernel_head(out, "WORK_GROUP_SIZE", kernel_name);
  write_named(out, kernel_body_text, names);
}

void write_line_kernel_head(std::ostream& out, const char* work_group_size, const char* kernel_name) {
  const std::string void_and_name = std::string("void ") + kernel_name + "(";
  out << "kernel __attribute__((reqd_work_group_size(" << work_group_size << ", 1, 1)))\n"
      << "#ifdef LANE_PAIRS\n"
      << "__attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))\n"
      << "#endif\n"
      << void_and_name << "const global ftype *in, global ftype *out, const global ftype *twidlTable,\n"
      << std::string(void_and_name.size(), ' ') << "local ftype *slmPtr)\n";
}

}  // namespace qez_codelets
