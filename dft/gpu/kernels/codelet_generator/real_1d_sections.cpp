#include "real_1d_sections.hpp"

namespace qez_codelets {

namespace {

// Build options: FWD or BWD; IS, OS (strides of the kernel's input and
// output, in elements of their side); FWD_D (real-side distance, in reals),
// BWD_D (complex-side distance, in complex values); TD (child length, the
// temp row length in complex values); NUM_PTS (N); N_IS_EVEN; and, for an
// odd N and an odd batch, ODDBATCH_SZ (the number of transforms).
const char real_1d_kernels_text[] = R"(/* ---- Real 1D transforms through a complex child --------------------------
 * Even N: the N reals of a transform are N/2 complex points z; the child's
 * transform Z of z is untangled into the half spectrum X with the table
 * tw[k] = (cos, sin)(2 pi k / N) (r2c_kernel), and a half spectrum is
 * tangled into the Z whose backward transform is z (c2r_kernel).
 * Odd N: two transforms a, b share one N-point transform of a + i b; the
 * copy kernels pack and unpack the pairs. Temp rows are TD complex apart. */
#ifdef ODDBATCH_SZ
#define HAS_TRANSFORM(t) ((t) < ODDBATCH_SZ)
#else
#define HAS_TRANSFORM(t) 1
#endif

#ifdef FWD
kernel void KNAME(r2c_kernel)(const global ftype2 *in, global ftype2 *out, const global ftype2 *tw,
                              const long offset)
{
    const long k = get_global_id(0);
    const long j = get_global_id(1);
    const global ftype2 *z = in + j * TD;
    global ftype2 *row = out + (j + offset) * BWD_D;
    const ftype2 zk = z[k];
    if (k == 0) {
        row[0] = (ftype2)(zk.x + zk.y, (ftype)0);
        row[(NUM_PTS / 2) * OS] = (ftype2)(zk.x - zk.y, (ftype)0);
        return;
    }
    const ftype2 y = z[TD - k];
    const ftype a = zk.x - y.x;
    const ftype b = zk.y + y.y;
    const ftype2 w = tw[k];
    row[k * OS] = (ftype)0.5 * (ftype2)(zk.x + y.x - w.y * a + w.x * b, zk.y - y.y - w.x * a - w.y * b);
}

kernel void KNAME(fwd_input_copy)(const global ftype *in, global ftype *out, const long offset)
{
    const long k = get_global_id(0);
    const long j = get_global_id(1);
#if N_IS_EVEN
    out[j * 2 * TD + k] = in[(j + offset) * FWD_D + k * IS];
#else
    const long first = 2 * j + offset;
    const ftype re = in[first * FWD_D + k * IS];
    const ftype im = HAS_TRANSFORM(first + 1) ? in[(first + 1) * FWD_D + k * IS] : (ftype)0;
    vstore2((ftype2)(re, im), j * TD + k, out);
#endif
}

kernel void KNAME(fwd_output_copy)(const global ftype2 *in, global ftype2 *out, const long offset)
{
    const long k = get_global_id(0);
    const long j = get_global_id(1);
    const global ftype2 *z = in + j * TD;
    const ftype2 zk = z[k];
    const ftype2 zm = z[(NUM_PTS - k) % NUM_PTS];
    const long first = 2 * j + offset;
    out[first * BWD_D + k * OS] = (ftype)0.5 * (ftype2)(zk.x + zm.x, zk.y - zm.y);
    if (HAS_TRANSFORM(first + 1))
        out[(first + 1) * BWD_D + k * OS] = (ftype)0.5 * (ftype2)(zk.y + zm.y, zm.x - zk.x);
}
#endif

#ifdef BWD
kernel void KNAME(c2r_kernel)(const global ftype2 *in, global ftype2 *out, const global ftype2 *tw,
                              const long offset)
{
    const long k = get_global_id(0);
    const long j = get_global_id(1);
    const global ftype2 *x = in + (j + offset) * BWD_D;
    global ftype2 *row = out + j * TD;
    const ftype2 xk = x[k * IS];
    if (k == 0) {
        const ftype2 xm = x[(NUM_PTS / 2) * IS];
        row[0] = (ftype2)(xk.x + xm.x, xk.x - xm.x);
        return;
    }
    const ftype2 y = x[(TD - k) * IS];
    const ftype a = xk.x - y.x;
    const ftype b = xk.y + y.y;
    const ftype2 w = tw[k];
    row[k] = (ftype2)(xk.x + y.x - w.y * a - w.x * b, xk.y - y.y + w.x * a - w.y * b);
}

/* The imaginary part of the zero-frequency value of a real transform is 0;
 * as in c2r_kernel, whatever the input holds there is not read. */
kernel void KNAME(bwd_input_copy)(const global ftype2 *in, global ftype2 *out, const long offset)
{
    const long k = get_global_id(0);
    const long j = get_global_id(1);
    const long first = 2 * j + offset;
    ftype2 e = in[first * BWD_D + k * IS];
    ftype2 o = HAS_TRANSFORM(first + 1) ? in[(first + 1) * BWD_D + k * IS] : (ftype2)((ftype)0);
    global ftype2 *row = out + j * TD;
    if (k == 0) {
        row[0] = (ftype2)(e.x, o.x);
        return;
    }
    row[k] = (ftype2)(e.x - o.y, e.y + o.x);
    row[NUM_PTS - k] = (ftype2)(e.x + o.y, o.x - e.y);
}

kernel void KNAME(bwd_output_copy)(const global ftype *in, global ftype *out, const long offset)
{
    const long k = get_global_id(0);
    const long j = get_global_id(1);
#if N_IS_EVEN
    out[(j + offset) * FWD_D + k * OS] = in[j * 2 * TD + k];
#else
    const long first = 2 * j + offset;
    const ftype2 v = vload2(j * TD + k, in);
    out[first * FWD_D + k * OS] = v.x;
    if (HAS_TRANSFORM(first + 1))
        out[(first + 1) * FWD_D + k * OS] = v.y;
#endif
}
#endif
)";

}  // namespace

void write_real_1d_kernels(std::ostream& out, precision p) {
  out << "#define KNAME(base) base##_" << spelling_of(p).letter << "\n";
  out << real_1d_kernels_text;
}

}  // namespace qez_codelets
