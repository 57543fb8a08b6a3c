#include "program_sections.hpp"

#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "codelets.hpp"

namespace qez_codelets {

namespace {

// Factor macros of every program family that may ask for a codelet; names a
// build leaves undefined count as 0 in #if.
const char* const factor_macros[] = {
    "FACT0",     "FACT1",     "FACT2",     "FACT3",     "N0_FACT0",  "N0_FACT1",  "N1_FACT0",
    "N1_FACT1",  "DIM0FACT0", "DIM0FACT1", "DIM0FACT2", "DIM0FACT3", "DIM1FACT0", "DIM1FACT1",
};

// Replaces every "$P" by the precision letter ("d" or "s").
std::string with_precision_letter(const char* text, precision p) {
  std::string s(text);
  const std::string letter = spelling_of(p).letter;
  for (std::size_t at = s.find("$P"); at != std::string::npos; at = s.find("$P", at))
    s.replace(at, 2, letter);
  return s;
}

const char lane_forms_text[] = R"(/* ---- Lane forms ----------------------------------------------------------
 * Complex per work-item (NONSUBGRP, or no sub-group extension): ptype is a
 * complex value (.s0 real, .s1 imaginary), pmOne is 1 and swapReIm(v) is
 * v times -i (FWD_DIR 1) or +i (FWD_DIR 0).
 * Lane pairs (LANE_PAIRS): ptype is one component, the even lane holds the
 * real part and the odd lane the imaginary part; swapReIm exchanges them and
 * pmOne carries the lane sign (negated for the backward direction).
 * In both forms pmOne * swapReIm(v) is v times -i forward and +i backward,
 * which is all the codelets use. Kernels written for lane pairs test
 * LANE_PAIRS and take their portable path when it is undefined. */
#if !defined(NONSUBGRP) && defined(cl_tavir_subgroups)
#pragma OPENCL EXTENSION cl_tavir_subgroups : enable
#define LANE_PAIRS 1
#endif

#ifdef LANE_PAIRS
typedef ftype ptype;
#define swapReIm(v) tavir_sub_group_shuffle_xor((v), 1)
/* var = twr * var + pmOne_twi * swapReIm(var) */
#define TWIDL_MULT_INPLACE(twr, pmOne_twi, var) \
    (var) = (twr) * (var) + (pmOne_twi) * swapReIm(var)
#else
typedef ftype2 ptype;
#if FWD_DIR
#define swapReIm(v) ((ptype)((v).s1, -(v).s0))
#else
#define swapReIm(v) ((ptype)(-(v).s1, (v).s0))
#endif
/* var * (twr - i*twi) forward, var * (twr + i*twi) backward */
#define TWIDL_MULT_INPLACE(twr, twi, var) \
    (var) = (twr) * (var) + (twi) * swapReIm(var)
#endif

)";

// Stores past the caches, shared by the kernels that stream large results.
const char cache_hints_text[] = R"(/* ---- Streamed stores -----------------------------------------------------
 * In the portable form on an x86 CPU, a launch whose results are larger than
 * the last-level cache (tens of MiB) can store them past the caches, without
 * reading each destination line first. STREAMS_PAST_CACHE(bytes) says
 * whether a launch storing `bytes` streams; STREAM_STORE(v, p) stores the
 * vector v at p; drain_streams(streams) makes a work-group's streamed
 * stores visible before it ends. Streamed stores are weakly ordered, and
 * whatever runs next, on any thread, reads them: a CPU runs the work-items
 * of a group on one thread, so after the barrier one work-item's fence
 * covers the whole group. Elsewhere STREAMED_STORES is undefined and the
 * kernels store as usual. */
#if !defined(LANE_PAIRS) && defined(__clang__) && defined(__x86_64__)
#define STREAMED_STORES 1
#define STREAMS_PAST_CACHE(bytes) ((ulong)(bytes) > (40UL << 20))
#define STREAM_STORE(v, p) __builtin_nontemporal_store((v), (p))
static inline void drain_streams(const bool streams)
{
    barrier(CLK_GLOBAL_MEM_FENCE);
    if (streams && get_local_id(0) == 0 && get_local_id(1) == 0 && get_local_id(2) == 0)
        __builtin_ia32_sfence();
}
#endif

/* ---- Prefetches -----------------------------------------------------------
 * In the portable form on a CPU that takes prefetch hints (x86-64, AArch64),
 * a kernel whose loads wait on memory can ask for cache lines ahead of them.
 * A CPU runs neighbouring work-groups one after the other on the same thread,
 * so the lines a kernel asks for are most often its own or the next work-
 * group's: HAS_NEXT_GROUP says whether there is a next group;
 * PREFETCH_LINE_VALUES is the number of ptype values in a 64-byte cache line;
 * PREFETCH(p, locality) asks for the line at p (locality 3: into L1, 2: into
 * L2). Elsewhere PREFETCHES is undefined and the kernels only load. */
#if !defined(LANE_PAIRS) && (defined(__x86_64__) || defined(__aarch64__))
#define PREFETCHES 1
#define HAS_NEXT_GROUP (get_group_id(0) + 1 < get_num_groups(0))
#define PREFETCH_LINE_VALUES (64 / (uint)sizeof(ptype))
#define PREFETCH(p, locality) __builtin_prefetch((p), 0, (locality))
#endif

)";

// Direct DFTs: J * v is swapReIm(v) in this (complex per work-item) form.
const char generic_default_text[] = R"(/* ---- Generic sizes --------------------------------------------------------
 * Direct DFTs of any size `fact` between global arrays (complex strides `is`
 * and `os`), twiddles from cospi/sinpi of 2*(i*j mod fact)/fact. */
#if !defined(LANE_PAIRS)
static inline ptype generic_load(const global ftype *in, const uint is, const uint j)
{
    return vload2((size_t)j * is, in);
}

/* The pairs (cospi, sinpi) of 2m/fact for m <= fact/2, made once per call
 * for sizes up to GENERIC_ROOTS_FACT: every output of a direct DFT runs
 * through the same residues, and evaluating the pair afresh for each of its
 * fact^2/4 terms took nearly all of the time (4099 points 8 to 13 times as
 * long on a CPU). Larger sizes evaluate each term's pair. The table is
 * private memory, 32 KiB a work-item in double precision: a CPU runs one
 * work-item at a time, while a GPU would give that much to every work-item
 * in flight, and its SIMD lanes evaluate the pairs together anyway. There
 * the size is 0 and every size evaluates each term's pair. */
#if defined(__x86_64__) || defined(__aarch64__)
#define GENERIC_ROOTS_FACT 4099
#else
#define GENERIC_ROOTS_FACT 0
#endif
static inline bool generic_fill_roots(const uint fact, ptype *roots)
{
    if (fact > GENERIC_ROOTS_FACT) return false;
    for (uint m = 0; m <= fact / 2; ++m) {
        const ftype angle = (ftype)(2 * m) / (ftype)fact;
        roots[m] = (ptype)(cospi(angle), sinpi(angle));
    }
    return true;
}

/* Term j of output i, with r = i*j mod fact: the caller steps r by i with
 * each j instead of dividing (a 64-bit remainder per term otherwise). The
 * pair of r past fact/2 is that of fact - r with the sine negated. */
static inline ptype generic_twiddled_pair(const uint fact, const uint r, const ptype sum, const ptype diff,
                                          ptype *jpart, const ptype *roots, const bool tabled)
{
    if (tabled) {
        const bool upper = 2 * r > fact;
        const ptype w = roots[upper ? fact - r : r];
        *jpart += (upper ? -w.s1 : w.s1) * diff;
        return w.s0 * sum;
    }
    const ftype angle = (ftype)(2 * r) / (ftype)fact;
    *jpart += sinpi(angle) * diff;
    return cospi(angle) * sum;
}

static inline uint generic_next_residue(const uint fact, const uint i, const uint r)
{
    const uint next = r + i;
    return next >= fact ? next - fact : next;
}
#endif

#if !defined(LANE_PAIRS) && defined(NEED_ODD_DEFAULT)
static inline void ODD_DEFAULT_FUNC(const uint fact, const uint is, const uint os,
                                    const global ftype *in, global ftype *out)
{
    const uint pairs = fact / 2;
    ptype roots[GENERIC_ROOTS_FACT / 2 + 1];
    const bool tabled = generic_fill_roots(fact, roots);
    const ptype x0 = generic_load(in, is, 0);
    ptype total = x0;
    for (uint j = 1; j <= pairs; ++j)
        total += generic_load(in, is, j) + generic_load(in, is, fact - j);
    vstore2(total, 0, out);
    for (uint i = 1; i <= pairs; ++i) {
        ptype even = x0;
        ptype odd = (ptype)(0);
        uint r = i;
        for (uint j = 1; j <= pairs; ++j) {
            const ptype a = generic_load(in, is, j);
            const ptype b = generic_load(in, is, fact - j);
            even += generic_twiddled_pair(fact, r, a + b, a - b, &odd, roots, tabled);
            r = generic_next_residue(fact, i, r);
        }
        vstore2(even + swapReIm(odd), (size_t)i * os, out);
        vstore2(even - swapReIm(odd), (size_t)(fact - i) * os, out);
    }
}
#endif

#if !defined(LANE_PAIRS) && defined(NEED_EVEN_DEFAULT)
static inline void EVEN_DEFAULT_FUNC(const uint fact, const uint is, const uint os,
                                     const global ftype *in, global ftype *out)
{
    const uint mid = fact / 2;
    ptype roots[GENERIC_ROOTS_FACT / 2 + 1];
    const bool tabled = generic_fill_roots(fact, roots);
    const ptype x0 = generic_load(in, is, 0);
    const ptype middle = generic_load(in, is, mid);
    ptype total = x0 + middle;
    ptype alternating = x0 + ((mid & 1) ? -middle : middle);
    for (uint j = 1; j < mid; ++j) {
        const ptype s = generic_load(in, is, j) + generic_load(in, is, fact - j);
        total += s;
        alternating += (j & 1) ? -s : s;
    }
    vstore2(total, 0, out);
    vstore2(alternating, (size_t)mid * os, out);
    for (uint i = 1; i < mid; ++i) {
        ptype even = x0 + ((i & 1) ? -middle : middle);
        ptype odd = (ptype)(0);
        uint r = i;
        for (uint j = 1; j < mid; ++j) {
            const ptype a = generic_load(in, is, j);
            const ptype b = generic_load(in, is, fact - j);
            even += generic_twiddled_pair(fact, r, a + b, a - b, &odd, roots, tabled);
            r = generic_next_residue(fact, i, r);
        }
        vstore2(even + swapReIm(odd), (size_t)i * os, out);
        vstore2(even - swapReIm(odd), (size_t)(fact - i) * os, out);
    }
}
#endif

)";

const char copy_output_text[] = R"(/* ---- Copy of a finished transform into the caller's layout ---------------- */
#ifndef CHUNK_OFFSET_TYPE
#define CHUNK_OFFSET_TYPE int
#endif
#ifdef NEED_COPY_OUTPUT
kernel void copy_output_$P(const global ftype *in, global ftype *out, const CHUNK_OFFSET_TYPE offset)
{
    const long e = get_global_id(0);
    const long t = get_global_id(1);
    const long o = t + offset;
    const long source = t * IDIST + e * ISTRIDE;
    const long target = (o % BATCH1) * ODIST_Z1 + ((o % (BATCH1 * BATCH2)) / BATCH1) * ODIST_Z2
                      + (o / (BATCH1 * BATCH2)) * ODIST_Z3 + e * OSTRIDE;
    vstore2(vload2(source, in), target, out);
}
#endif
)";

}  // namespace

void write_real_types(std::ostream& out, precision p) {
  if (p == precision::double_precision)
    out << "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n";
  const std::string f = spelling_of(p).real_type;
  out << "typedef " << f << " ftype;\n";
  for (const char* width : {"2", "3", "4", "8"})
    out << "typedef " << f << width << " ftype" << width << ";\n";
  out << '\n';
}

void write_lane_forms(std::ostream& out, precision) { out << lane_forms_text; }

void write_cache_hints(std::ostream& out, precision) { out << cache_hints_text; }

lane_form_macro lane_active_macro(const std::string& prefix, const std::string& lane) {
  return {prefix + "_ACTIVE(" + lane + ")", "1", "(((" + lane + ") & 1) == 0)"};
}

lane_form_macro lane_pm_one_macro(const std::string& prefix, const std::string& lane,
                                  const std::string& direction_sign) {
  return {prefix + "_PM_ONE(" + lane + ")", "((((" + lane + ") & 1) ? (ftype)-1 : (ftype)1) * " + direction_sign + ")",
          "((ftype)1)"};
}

lane_form_macro lane_element_store_macro(const std::string& name, const std::string& pointer) {
  return {name + "(v, " + pointer + ", e, comp)", "((" + pointer + ")[2 * (e) + (comp)] = (v))",
          "vstore2((v), (e), (" + pointer + "))"};
}

lane_form_macro lane_element_load_macro(const std::string& name, const std::string& pointer) {
  return {name + "(" + pointer + ", e, comp)", "((" + pointer + ")[2 * (e) + (comp)])",
          "vload2((e), (" + pointer + "))"};
}

lane_form_macro lane_attributes_macro(const std::string& prefix, const std::string& work_group_size) {
  const std::string work_group = "__attribute__((reqd_work_group_size(" + work_group_size + ", 1, 1)))";
  return {prefix + "_ATTRIBUTES",
          work_group + " \\\n                      __attribute__((tavir_reqd_sub_group_size(SUBGROUP_SIZE)))",
          work_group};
}

std::vector<lane_form_macro> kernel_lane_forms(const std::string& prefix, const std::string& direction_sign,
                                               std::vector<lane_form_macro> own, const std::string& work_group_size) {
  std::vector<lane_form_macro> macros{lane_active_macro(prefix, "lane"),
                                      lane_pm_one_macro(prefix, "lane", direction_sign)};
  for (lane_form_macro& m : own) macros.push_back(std::move(m));
  if (!work_group_size.empty()) macros.push_back(lane_attributes_macro(prefix, work_group_size));
  return macros;
}

std::vector<lane_form_macro> lid_kernel_lane_forms(const std::string& prefix, const std::string& direction_sign,
                                                   std::vector<lane_form_macro> component_access) {
  std::vector<lane_form_macro> macros{lane_active_macro(prefix, "lid")};
  for (lane_form_macro& m : component_access) macros.push_back(std::move(m));
  macros.push_back(lane_pm_one_macro(prefix, "lid", direction_sign));
  return macros;
}

namespace {

void write_lane_form(std::ostream& out, const std::vector<lane_form_macro>& macros, bool lane_pairs) {
  for (const lane_form_macro& m : macros) {
    const std::string& definition = lane_pairs ? m.lane_pairs : m.portable;
    if (definition.empty()) continue;
    const std::string& note = lane_pairs ? m.lane_pairs_note : m.portable_note;
    if (!note.empty()) out << note << '\n';
    out << "#define " << m.name << ' ' << definition << '\n';
  }
}

}  // namespace

std::string with_lane_form_macros(const std::string& text, const std::vector<lane_form_macro>& macros) {
  const std::string placeholder = "$LANE_FORMS\n";
  const std::size_t at = text.find(placeholder);
  if (at == std::string::npos) throw std::logic_error("program text without a $LANE_FORMS line");
  std::ostringstream block;
  block << "#ifdef LANE_PAIRS\n";
  write_lane_form(block, macros, true);
  block << "#else\n";
  write_lane_form(block, macros, false);
  block << "#endif\n";
  return text.substr(0, at) + block.str() + text.substr(at + placeholder.size());
}

void write_need_fft_func(std::ostream& out, precision) {
  out << "/* ---- Codelets a build needs: any factor macro equal to S ---- */\n";
  out << "#ifndef NEED_FFT_FUNC\n#define NEED_FFT_FUNC(S) (";
  bool first = true;
  for (const char* macro : factor_macros) {
    out << (first ? "" : " || \\\n    ") << "(S) == " << macro;
    first = false;
  }
  out << ")\n#endif\n\n";
}

void write_codelets_1_to_64(std::ostream& out, precision p) {
  out << "/* ---- Codelets: in-place DFTs in registers, natural order ---- */\n";
  write_codelets(out, p, 1, 64);
}

void write_generic_default_funcs(std::ostream& out, precision) { out << generic_default_text; }

void write_copy_output(std::ostream& out, precision p) {
  out << with_precision_letter(copy_output_text, p);
}

}  // namespace qez_codelets
