#include "default_1d_template_sections.hpp"

#include <string>
#include <utility>

#include "codelets.hpp"

namespace qez_codelets {

namespace {

// The chunk offset reaches every kernel as an 8-byte value. QEZ_TWIDDLE
// multiplies one value by exp(-+2 pi i p / size) = cospi(a) -+ i sinpi(a),
// a = qez_half_turns(p, size) = 2 p / size with p reduced to [-size/2, size/2]
// so that a lies in [-1, 1], the domain of qez_cossinpi. QEZ_TWIDDLE_ARRAY
// does the same for v[i] and p = i * j, i < n, evaluating four twiddles at a
// time: PoCL runs the shared-memory kernel one work-item at a time, so the
// vector types are what puts the twiddles in SIMD registers.
// QEZ_TWIDDLE_PARTS does the multiplication of QEZ_TWIDDLE on a value held as
// real and imaginary parts (the register template's). QEZ_BATCH_OFFSET places
// global transform z in the caller's (up to) three batch dimensions.
const char prelude_text[] = R"(#define CHUNK_OFFSET_TYPE long
#define QEZ_TWIDDLE(var, product, size) do { \
    ftype cos_, sin_; \
    qez_cossinpi(qez_half_turns((ulong)(product), (ulong)(size)), &cos_, &sin_); \
    TWIDL_MULT_INPLACE(cos_, sin_, var); } while (0)
#define QEZ_TWIDDLE_ARRAY(v, n, j, size) do { \
    for (uint i_ = 0; i_ < (uint)(n); i_ += 4) { \
        const ftype4 a_ = (ftype4)(qez_half_turns((ulong)i_ * (j), (size)), \
            qez_half_turns((ulong)(i_ + 1) * (j), (size)), qez_half_turns((ulong)(i_ + 2) * (j), (size)), \
            qez_half_turns((ulong)(i_ + 3) * (j), (size))); \
        ftype4 cos_, sin_; \
        qez_cossinpi4(a_, &cos_, &sin_); \
        TWIDL_MULT_INPLACE(cos_.s0, sin_.s0, (v)[i_]); \
        if (i_ + 1 < (uint)(n)) TWIDL_MULT_INPLACE(cos_.s1, sin_.s1, (v)[i_ + 1]); \
        if (i_ + 2 < (uint)(n)) TWIDL_MULT_INPLACE(cos_.s2, sin_.s2, (v)[i_ + 2]); \
        if (i_ + 3 < (uint)(n)) TWIDL_MULT_INPLACE(cos_.s3, sin_.s3, (v)[i_ + 3]); \
    } } while (0)
#if FWD_DIR
#define QEZ_TWIDDLE_PARTS(c, s, re, im) do { const ftype re_ = (re); \
    (re) = (c) * re_ + (s) * (im); (im) = (c) * (im) - (s) * re_; } while (0)
#else
#define QEZ_TWIDDLE_PARTS(c, s, re, im) do { const ftype re_ = (re); \
    (re) = (c) * re_ - (s) * (im); (im) = (c) * (im) + (s) * re_; } while (0)
#endif
#define QEZ_BATCH_OFFSET(z, D) (((z) % BATCH1) * D##1 + \
    (((z) % (BATCH1 * BATCH2)) / BATCH1) * D##2 + ((z) / (BATCH1 * BATCH2)) * D##3)
)";

// Template pieces, printf formats. Holes in order: kernel name; doInOffset,
// doOutOffset, do_scale, do_twiddle, twSize, fact, idist_z, odist_z, idist_y,
// odist_y, idist_x, odist_x, istride, ostride; (shared memory) fact1,
// partition, register count; routine name(s).
const char pass_signature[] =
    "kernel void %s(const global ftype *in, global ftype *out, const long offset)\n";
const char shared_memory_signature[] =
    "kernel void %s(const global ftype *in, global ftype *out, local ftype *slmPtr, const long offset)\n";
const char constants[] = R"({
    const uint doInOffset = %d, doOutOffset = %d, do_scale = %d, do_twiddle = %d;
    const ulong twSize = %lld;
    enum { fact = %lld };
    const ulong idist_z = %lld, odist_z = %lld, idist_y = %lld, odist_y = %lld;
    const ulong idist_x = %lld, odist_x = %lld, istride = %lld, ostride = %lld;
)";
const char shared_memory_constants[] = "    enum { fact1 = %lld, partition = %lld, registers = %lld };\n";
const char addressing[] = R"(    const ulong x = get_global_id(0), y = get_global_id(1), zl = get_global_id(2);
    const ulong z = zl + offset;
    const ulong in_batch = doInOffset ? QEZ_BATCH_OFFSET(z, IDIST_Z) : zl * idist_z;
    const ulong out_batch = doOutOffset ? QEZ_BATCH_OFFSET(z, ODIST_Z) : zl * odist_z;
    const global ftype *src = in + 2 * (in_batch + y * idist_y + x * idist_x);
)";
const char pass_output[] = "    global ftype *dst = out + 2 * (out_batch + y * odist_y + x * odist_x);\n";

// Register template: the split form of a codelet on values held in
// registers, real and imaginary parts apart, every loop unrolled. Scalar
// straight-line code is what lets PoCL run the work-items of a group in the
// SIMD lanes (its loop vectoriser refuses two-lane vector values). The
// imaginary part sits imag_offset = 1 element after the real one, written so that
// the compiler cannot see the two as neighbours before it forms the
// work-item loops (no local size is 0, but the local size is known only
// then): seen as neighbours, each pair would become one two-lane value
// again. The first pass (the only one with doInOffset) has a dimension 0 of
// size 1, so its lanes would run along dimension 1, where each work-item's
// outputs lie a whole factor apart: scattered stores cost more there than
// whole values stored per work-item, whose two-lane vectors keep that loop
// scalar (the choice is a constant of the kernel, so the other passes never
// see those vectors). Twiddle 0 is 1 and is skipped.
const std::string registers_compute = R"(    const ulong imag_offset = 1 + (get_local_size(0) == 0);
    ftype vr[fact], vi[fact];
#pragma unroll
    for (uint i = 0; i < fact; ++i) {
        vr[i] = src[2 * i * istride];
        vi[i] = src[2 * i * istride + imag_offset];
    }
    %s)" + std::string(split_codelet_suffix) + R"((vr, vi);
    if (do_scale) {
#pragma unroll
        for (uint i = 0; i < fact; ++i) {
            vr[i] *= SCALE;
            vi[i] *= SCALE;
        }
    }
    if (do_twiddle) {
#pragma unroll
        for (uint i = 1; i < fact; ++i) {
            ftype c, s;
            qez_twiddle_cossin((ulong)i * y, twSize, &c, &s);
            QEZ_TWIDDLE_PARTS(c, s, vr[i], vi[i]);
        }
    }
)";
const char registers_store[] = R"(    if (doInOffset) {
#pragma unroll
        for (uint i = 0; i < fact; ++i) vstore2((ftype2)(vr[i], vi[i]), i * ostride, dst);
    } else {
#pragma unroll
        for (uint i = 0; i < fact; ++i) {
            dst[2 * i * ostride] = vr[i];
            dst[2 * i * ostride + imag_offset] = vi[i];
        }
    }
}
)";

// Staged form of the register template for a first pass that writes the
// scratch area (ostride 1): a work-group of `columns` work-items along
// dimension 1 computes its codelets, puts the results in local memory and
// only then stores them, each work-item its own column's values as whole
// complex values. A CPU device runs the computing part of such a group in
// its SIMD lanes (its stores to local memory are plain scalar ones), and
// the store part one work-item at a time; in one piece, the two-lane
// stores would keep the whole kernel on scalar code.
// A launch that writes more than the device's cache holds (`cache_bytes`,
// 0 when not known) streams its stores past the caches where the program
// can (see the streamed stores of the program text): the next pass would
// find little of it cached, and ordinary stores read each destination line
// first, which took about a quarter of the pass's time.
const char staged_constants[] = "    enum { columns = %lld };\n    const ulong cache_bytes = %lluUL;\n";
const char staged_tile[] = "    local ftype tile[2 * fact * columns];\n";
const char staged_store[] = R"(    const uint ly = get_local_id(1);
#pragma unroll
    for (uint i = 0; i < fact; ++i) {
        tile[2 * (i * columns + ly)] = vr[i];
        tile[2 * (i * columns + ly) + 1] = vi[i];
    }
    barrier(CLK_LOCAL_MEM_FENCE);
#ifdef STREAMED_STORES
    const ulong launch_bytes = (ulong)get_global_size(1) * get_global_size(2) * fact * sizeof(ptype);
    const bool streams = cache_bytes != 0 && launch_bytes > cache_bytes;
    if (streams && fact %% 2 == 0 && (ulong)dst %% sizeof(ftype4) == 0) {
        for (uint i = 0; i < fact; i += 2)
            STREAM_STORE((ftype4)(vload2(i * columns + ly, tile), vload2((i + 1) * columns + ly, tile)),
                         (global ftype4 *)(dst + 2 * i));
    } else
#endif
    for (uint i = 0; i < fact; ++i) vstore2(vload2(i * columns + ly, tile), i, dst);
#ifdef STREAMED_STORES
    drain_streams(streams);
#endif
}
)";

// Generic template: a direct DFT from global to global memory.
const char generic_body[] = R"(    %s(fact, (uint)istride, (uint)ostride, src, dst);
    if (do_scale) {
        barrier(CLK_GLOBAL_MEM_FENCE);
        for (uint i = 0; i < fact; ++i) vstore2(vload2(i * ostride, dst) * SCALE, i * ostride, dst);
    }
    if (do_twiddle) {
        barrier(CLK_GLOBAL_MEM_FENCE);
        for (uint i = 0; i < fact; ++i) {
            ptype t = vload2(i * ostride, dst);
            QEZ_TWIDDLE(t, (ulong)i * y, twSize);
            vstore2(t, i * ostride, dst);
        }
    }
}
)";

// Shared-memory template: both factors of a transform in one work-group
// (local z: transforms, local y: columns of the first stage). The finished
// transform goes to the caller's output layout. Work-items past the last
// transform (the launch is rounded up to whole work-groups) only take part
// in the barrier.
const char shared_memory_body[] = R"(    local ptype *slm = (local ptype *)slmPtr;
    const ulong lz = get_local_id(2), ly = get_local_id(1);
    const bool active = z < (ulong)BATCH1 * BATCH2 * BATCH3;
    ptype v[registers];
    if (active) {
        for (uint i = 0; i < fact; ++i) v[i] = vload2(i * istride, src);
        %s(v, (ftype)1.0);
        if (do_scale)
            for (uint i = 0; i < fact; ++i) v[i] *= SCALE;
        if (do_twiddle) QEZ_TWIDDLE_ARRAY(v, fact, y, twSize);
        for (uint i = 0; i < fact; ++i) slm[lz * twSize + ly * fact + i] = v[i];
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (!active) return;
    const uint rem = fact %% fact1;
    const bool wide = rem == 0 || ly < rem;
    const uint owned = wide ? partition : 1;
    const uint first = wide ? ly * partition : rem * partition + (ly - rem);
    global ftype *dst = out + 2 * out_batch;
    for (uint k = 0; k < owned; ++k) {
        ptype *w = v + k * fact1;
        const uint c = first + k;
        for (uint r = 0; r < fact1; ++r) w[r] = slm[lz * twSize + c + r * fact];
        %s(w, (ftype)1.0);
        for (uint r = 0; r < fact1; ++r) vstore2(w[r], (c + r * fact) * ostride, dst);
    }
}
)";


// cos(pi a) and sin(pi a) of the pass twiddles, |a| <= 1, one value or a
// vector of them. The built-ins reduce any argument (PoCL's come to 1.9 ulp
// on these arguments). Here a = q/2 + t with q = rint(2a) and |t| <= 1/4
// (both exact), one Taylor polynomial each for sin(pi t) and cos(pi t)
// (truncated below a hundredth of an ulp; pi t with pi split in two), and
// q's quadrant swaps and signs the pair (swap when q is odd, cosine negated
// for q mod 4 in {1, 2}, sine for {2, 3}): within about an ulp, so no less
// accurate than the built-ins, as the device test of the program helpers
// checks over every argument of the power-of-two lengths up to 2^22 and the
// small lengths. Holes: $W the vector width ("" or "4"), $F the ftype
// vector, $L the integer vector for selections on $F.
const char cossinpi_head[] = R"(
/* qez_cossinpi$W(a, &c, &s): c = cos(pi a), s = sin(pi a) for |a| <= 1,
 * within about an ulp (see the generator). */
static inline void qez_cossinpi$W(const $F a, $F *cosine, $F *sine)
{
)";

const char cossinpi_reduction[] = R"(    const $F q = rint(2.0$S * a);
    const $F t = fma(q, ($F)(-0.5$S), a);
)";

const char cossinpi_single_polynomial[] = R"(    const $F u = t * t;
    const $F sr = fma(t, ($F)(0x1.921fb6p+1f), t * (-0x1.777a5cp-24f + u * (-0x1.4abbcep+2f +
        u * (0x1.466bc6p+1f + u * (-0x1.32d2ccp-1f + u * (0x1.507834p-4f + u * -0x1.e3075p-8f))))));
    const $F cr = 1.0f + u * (-0x1.3bd3ccp+2f + u * (0x1.03c1fp+2f + u * (-0x1.55d3c8p+0f +
        u * (0x1.e1f506p-3f + u * -0x1.a6d1f2p-6f))));
)";

const char cossinpi_double_polynomial[] = R"(    const $F u = t * t;
    const $F sr = fma(t, ($F)(0x1.921fb54442d18p+1), t * (0x1.1a62633145c07p-53 + u * (-0x1.4abbce625be53p+2 +
        u * (0x1.466bc6775aae2p+1 + u * (-0x1.32d2cce62bd86p-1 + u * (0x1.50783487ee782p-4 +
        u * (-0x1.e3074fde8871fp-8 + u * (0x1.e8f434d018d63p-12 + u * (-0x1.6fadb9f155744p-16 +
        u * 0x1.aaec32af93359p-21)))))))));
    const $F cr = 1.0 + u * (-0x1.3bd3cc9be45dep+2 + u * (0x1.03c1f081b5ac4p+2 + u * (-0x1.55d3c7e3cbffap+0 +
        u * (0x1.e1f506891babbp-3 + u * (-0x1.a6d1f2a204a8cp-6 + u * (0x1.f9d38a3763cc3p-10 +
        u * (-0x1.b6e24f44b128fp-14 + u * (0x1.20c62c2f2d7f5p-18 + u * -0x1.2a0c591af8314p-23))))))));
)";

const char cossinpi_quadrant_of_q[] = "    const $L k = convert_$L(q);\n";

// k is the quadrant (of any integer type), sr and cr the pair of the remainder.
const char cossinpi_quadrant[] = R"(    const $L odd = (k & 1) != 0;
    const $F cq = odd ? sr : cr, sq = odd ? cr : sr;
    *cosine = ((k + 1) & 2) != 0 ? -cq : cq;
    *sine = (k & 2) != 0 ? -sq : sq;
}
)";

// The twiddle exp(-+2 pi i p / size) of a pass, 0 <= p < size, from the
// integers themselves: the quadrant k = round(4 p / size) and the remainder
// t = (4 p - k size) / (2 size) half-turns, |t| <= 1/4, come out of integer
// arithmetic (t with the one rounding of its quotient), then the polynomials
// and the quadrant of qez_cossinpi. Scalar code without rint (a vector
// intrinsic on x86) leaves the pass loops to the device compiler's loop
// vectoriser.
const char twiddle_cossin_head[] = R"(
/* qez_twiddle_cossin(p, size, &c, &s): c = cos(2 pi p / size),
 * s = sin(2 pi p / size) for 0 <= p < size, within about an ulp. */
static inline void qez_twiddle_cossin(const ulong p, const ulong size, $F *cosine, $F *sine)
{
    const ulong k = (4 * p + size / 2) / size;
    const $F t = ($F)((long)(4 * p) - (long)(k * size)) / ($F)(2 * size);
)";

// The argument of a pass twiddle: 2 p / size half-turns with p reduced to
// [-size/2, size/2].
const char half_turns_text[] = R"(
static inline ftype qez_half_turns(const ulong product, const ulong size)
{
    const long r = (long)(product % size);
    const long s = 2 * r > (long)size ? r - (long)size : r;
    return (ftype)(2 * s) / (ftype)size;
}
)";

// x times the unit J of the direction (-i forward, +i backward) on split
// parts: the real and the imaginary part of the product.
const char split_unit_text[] = R"(/* ---- Codelets on split parts (the default backend's register passes) ---- */
#if FWD_DIR
#define QEZ_J_RE(re, im) (im)
#define QEZ_J_IM(re, im) (-(re))
#else
#define QEZ_J_RE(re, im) (-(im))
#define QEZ_J_IM(re, im) (re)
#endif
)";

std::string filled(std::string text, const std::string& width, precision p) {
  const bool dp = p == precision::double_precision;
  const std::pair<const char*, std::string> holes[] = {
      {"$W", width},
      {"$F", (dp ? "double" : "float") + width},
      {"$L", (dp ? "long" : "int") + width},
      {"$S", dp ? "" : "f"},
  };
  for (const auto& [hole, value] : holes)
    for (std::size_t at = text.find(hole); at != std::string::npos; at = text.find(hole, at + value.size()))
      text.replace(at, 2, value);
  return text;
}

const char* polynomial_of(precision p) {
  return p == precision::double_precision ? cossinpi_double_polynomial : cossinpi_single_polynomial;
}

std::string cossinpi_text(const std::string& width, precision p) {
  return filled(std::string(cossinpi_head) + cossinpi_reduction + polynomial_of(p) + cossinpi_quadrant_of_q +
                    cossinpi_quadrant,
                width, p);
}

std::string twiddle_cossin_text(precision p) {
  return filled(std::string(twiddle_cossin_head) + polynomial_of(p) + cossinpi_quadrant, "", p);
}

}  // namespace

void write_default_1d_cossinpi(std::ostream& out, precision p) {
  out << half_turns_text;
  for (const char* width : {"", "4"}) out << cossinpi_text(width, p);
  out << twiddle_cossin_text(p);
}

void write_default_1d_split_codelets(std::ostream& out, precision p) {
  out << split_unit_text;
  write_codelets(out, p, 1, 64, value_form::split_parts);
}

void write_default_1d_prelude(std::ostream& out) { out << prelude_text; }

void write_default_1d_registers_template(std::ostream& out) {
  out << pass_signature << constants << addressing << pass_output << registers_compute << registers_store;
}

void write_default_1d_staged_registers_template(std::ostream& out) {
  out << pass_signature << constants << staged_constants << staged_tile << addressing << pass_output
      << registers_compute << staged_store;
}

void write_default_1d_generic_template(std::ostream& out) {
  out << pass_signature << constants << addressing << pass_output << generic_body;
}

void write_default_1d_shared_memory_template(std::ostream& out) {
  out << shared_memory_signature << constants << shared_memory_constants << addressing << shared_memory_body;
}

}  // namespace qez_codelets
