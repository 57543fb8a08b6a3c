#include "two_factor_sections.hpp"

#include "block_move_sections.hpp"
#include "butterflies.hpp"
#include "line_kernel_sections.hpp"

namespace qez_codelets {

namespace {

// J * v is pmOne * swapReIm(v) in both lane forms, so one text serves both.
const char direct_dft_text[] = R"(/* ---- Generic sizes of the two-factor kernel -------------------------------
 * A generic size that splits into smaller factors (TF_SPLIT_SIZE) runs as the
 * codelet of that size: a prime-factor or Cooley-Tukey composition of small
 * butterflies with constant twiddles, O(fact * sum of its prime factors).
 * Any other size runs as the direct DFT in registers below, by symmetric pairs
 * (x_j, x_(fact-j)); an even size adds the middle term. Twiddles come from
 * cospi/sinpi of 2*(j*k mod fact)/fact: the fact distinct roots are
 * evaluated once per call and indexed by j*k mod fact, instead of two
 * transcendental calls per term of the O(fact^2) sum. */
#if defined(FACT0_DEFAULT_FUNC) || defined(FACT1_DEFAULT_FUNC)
static inline void tf_direct_dft(ptype *x, const uint fact, const ftype pmOne)
{
    ptype a[64];
    ftype root_cos[64];
    ftype root_sin[64];
    ptype total = (ptype)(0);
    for (uint j = 0; j < fact; ++j) {
        a[j] = x[j];
        total += a[j];
        const ftype angle = (ftype)(2 * j) / (ftype)fact;
        root_cos[j] = cospi(angle);
        root_sin[j] = sinpi(angle);
    }
    const uint pairs = (fact - 1) / 2;
    const uint even_size = (fact & 1) == 0;
    x[0] = total;
    for (uint k = 1; k <= pairs; ++k) {
        ptype even = a[0];
        ptype odd = (ptype)(0);
        uint r = 0; /* j*k mod fact, advanced by k per term */
        for (uint j = 1; j <= pairs; ++j) {
            r += k;
            if (r >= fact) r -= fact;
            even += root_cos[r] * (a[j] + a[fact - j]);
            odd += root_sin[r] * (a[j] - a[fact - j]);
        }
        if (even_size) even += (k & 1) ? -a[fact / 2] : a[fact / 2];
        x[k] = even + pmOne * swapReIm(odd);
        x[fact - k] = even - pmOne * swapReIm(odd);
    }
    if (even_size) {
        ptype alternating = (ptype)(0);
        for (uint j = 0; j < fact; ++j) alternating += (j & 1) ? -a[j] : a[j];
        x[fact / 2] = alternating;
    }
}
#endif
)";

// The generic functions: the split sizes' codelets, the direct DFT otherwise.
const char default_funcs_text[] = R"(/* The codelet of size S, named as the codelets above. */
#define TF_CODELET(S) TF_CODELET_NAME(S)
#define TF_CODELET_NAME(S) fft_##S##_s
#ifdef FACT0_DEFAULT_FUNC
#if TF_SPLIT_SIZE(FACT0)
static inline void FACT0_DEFAULT_FUNC(ptype *in, const ftype pmOne) { TF_CODELET(FACT0)(in, pmOne); }
#else
static inline void FACT0_DEFAULT_FUNC(ptype *in, const ftype pmOne) { tf_direct_dft(in, FACT0, pmOne); }
#endif
#endif
#ifdef FACT1_DEFAULT_FUNC
#if TF_SPLIT_SIZE(FACT1)
static inline void FACT1_DEFAULT_FUNC(ptype *in, const ftype pmOne) { TF_CODELET(FACT1)(in, pmOne); }
#else
static inline void FACT1_DEFAULT_FUNC(ptype *in, const ftype pmOne) { tf_direct_dft(in, FACT1, pmOne); }
#endif
#endif

)";

// TF_SPLIT_SIZE(S): the sizes up to 64 whose codelet is a split into smaller
// factors rather than a direct sum.
void write_split_sizes(std::ostream& out) {
  out << "#define TF_SPLIT_SIZE(S) (";
  bool first = true;
  int on_line = 0;
  for (int size = 1; size <= 64; ++size) {
    const algorithm kind = choose_plan(size).kind;
    if (kind != algorithm::prime_factor && kind != algorithm::cooley_tukey) continue;
    if (!first) out << (on_line % 8 == 0 ? " || \\\n    " : " || ");
    out << "(S) == " << size;
    first = false;
    ++on_line;
  }
  out << ")\n";
}

// The kernel's header comment and the batch defaults; the rest is the
// shared line kernel under the TF/tf names.
const char kernel_head_text[] = R"(/* ---- Two-factor kernel -----------------------------------------------------
 * Whole transforms of N = FACT0 x FACT1 points per work-group: FACT0-point
 * DFTs down the columns, twiddles (scale included) from the lane-interleaved
 * table, transpose through local memory, FACT1-point DFTs along the rows,
 * natural-order output. Element n = i*FACT1 + j sits in row i, column j;
 * output k1 + FACT0*k2 comes from row k1.
 * Work-items form lane pairs (two consecutive local ids). With LANE_PAIRS
 * the even lane holds the real and the odd lane the imaginary part of one
 * complex value, and sub-groups move four complex values per block read.
 * Without it (portable form) the even work-item of a pair holds the whole
 * complex value and the odd one only joins the barriers, so geometry,
 * arguments and options are the same in both forms. */
)";
const char batch_defaults_text[] = R"(#ifndef BATCH_PER_GROUP
#define BATCH_PER_GROUP 1
#define BATCH_FOR_LAST_GROUP 1
#endif
)";

const line_kernel_prefixes two_factor_names = {"TF", "tf"};

}  // namespace

void write_two_factor_default_funcs(std::ostream& out, precision) {
  out << direct_dft_text;
  write_split_sizes(out);
  out << default_funcs_text;
}

void write_two_factor_kernel(std::ostream& out, precision p) {
  write_block_moves(out, p, two_factor_names.macros);
  out << kernel_head_text;
  write_line_geometry(out, two_factor_names);
  out << batch_defaults_text;
  write_line_kernel(out, p, two_factor_names, "KERNEL_FUNC");
}

}  // namespace qez_codelets
