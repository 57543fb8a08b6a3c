#include "very_large_1d_sections.hpp"

namespace qez_codelets {

namespace {

// x = Z[k], y = Z[M - k] of the complex transform Z of the N / 2 points
// z[m] = x[2m] + i x[2m + 1], with (c, s) = (cos, sin)(pi k / M):
//   X[k] = (Z[k] + conj Z[M - k]) / 2 - i e^(-i pi k / M) (Z[k] - conj Z[M - k]) / 2
// and, backward, Z[k] = X[k] + conj X[M - k] + i e^(i pi k / M) (X[k] - conj X[M - k]).
// Each work-item reads both of its values before it writes, so the kernel
// runs in place; work-item M / 2 writes one value twice, alike.
const char real_kernel_text[] = R"(/* ---- Real transforms of N points from complex ones of M = N / 2 ---- */
#if !defined(FWD_DIR) || !defined(BWD_DIR) || (FWD_DIR != 1 - BWD_DIR)
#error "Combination of FWD_DIR and BWD_DIR unsupported by real_fft_pre_and_post_processing"
#endif

kernel void KERNEL_FUNC(const global ftype *in, global ftype *out)
{
    const long k = get_global_id(0);
    const long iy = get_global_id(1);
    const long halfNumPts = 2 * ((long)get_global_size(0) - 1);
    const global ftype *src = in + 2 * iy * (long)BWD_D;
    global ftype *dst = out + 2 * iy * (long)BWD_D;
    const ftype2 x = vload2(k, src);
#if FWD_DIR
    if (k == 0) {
        vstore2((ftype2)(x.x + x.y, (ftype)0), 0, dst);
        vstore2((ftype2)(x.x - x.y, (ftype)0), halfNumPts, dst);
        return;
    }
#else
    if (k == 0) {
        const ftype2 y0 = vload2(halfNumPts, src);
        vstore2((ftype2)(x.x + y0.x, x.x - y0.x), 0, dst);
        return;
    }
#endif
    const ftype2 y = vload2(halfNumPts - k, src);
    const ftype theta = (ftype)k / (ftype)halfNumPts;
    const ftype c = cospi(theta);
    const ftype s = sinpi(theta);
    const ftype a = x.x - y.x;
    const ftype b = x.y + y.y;
    const ftype a2 = y.x - x.x;
    const ftype b2 = y.y + x.y;
#if FWD_DIR
    vstore2((ftype)0.5 * (ftype2)(x.x + y.x - s * a + c * b, x.y - y.y - c * a - s * b), k, dst);
    vstore2((ftype)0.5 * (ftype2)(y.x + x.x - s * a2 - c * b2, y.y - x.y + c * a2 - s * b2), halfNumPts - k, dst);
#else
    vstore2((ftype2)(x.x + y.x - s * a - c * b, x.y - y.y + c * a - s * b), k, dst);
    vstore2((ftype2)(y.x + x.x - s * a2 + c * b2, y.y - x.y - c * a2 - s * b2), halfNumPts - k, dst);
#endif
}
)";

}  // namespace

void write_very_large_1d_real_kernels(std::ostream& out, precision) { out << real_kernel_text; }

}  // namespace qez_codelets
