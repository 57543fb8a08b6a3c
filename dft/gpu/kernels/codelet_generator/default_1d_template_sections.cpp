#include "default_1d_template_sections.hpp"

namespace qez_codelets {

namespace {

// The chunk offset reaches every kernel as an 8-byte value. QEZ_TWIDDLE
// multiplies by exp(-+2 pi i p / size), with p reduced to [-size/2, size/2]
// so that the angle stays small; QEZ_BATCH_OFFSET places global transform z
// in the caller's (up to) three batch dimensions.
const char prelude_text[] = R"(#define CHUNK_OFFSET_TYPE long
#define QEZ_TWIDDLE(var, product, size) do { \
    const long r_ = (long)((product) % (size)); \
    const long s_ = 2 * r_ > (long)(size) ? r_ - (long)(size) : r_; \
    const ftype a_ = (ftype)(2 * s_) / (ftype)(size); \
    TWIDL_MULT_INPLACE(cospi(a_), sinpi(a_), var); } while (0)
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

// Register template: a codelet on values held in registers.
const char registers_body[] = R"(    ptype v[fact];
    for (uint i = 0; i < fact; ++i) v[i] = vload2(i * istride, src);
    %s(v, (ftype)1.0);
    for (uint i = 0; i < fact; ++i) {
        if (do_scale) v[i] *= SCALE;
        if (do_twiddle) QEZ_TWIDDLE(v[i], (ulong)i * y, twSize);
        vstore2(v[i], i * ostride, dst);
    }
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
        for (uint i = 0; i < fact; ++i) {
            if (do_scale) v[i] *= SCALE;
            if (do_twiddle) QEZ_TWIDDLE(v[i], (ulong)i * y, twSize);
            slm[lz * twSize + ly * fact + i] = v[i];
        }
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

}  // namespace

void write_default_1d_prelude(std::ostream& out) { out << prelude_text; }

void write_default_1d_registers_template(std::ostream& out) {
  out << pass_signature << constants << addressing << pass_output << registers_body;
}

void write_default_1d_generic_template(std::ostream& out) {
  out << pass_signature << constants << addressing << pass_output << generic_body;
}

void write_default_1d_shared_memory_template(std::ostream& out) {
  out << shared_memory_signature << constants << shared_memory_constants << addressing << shared_memory_body;
}

}  // namespace qez_codelets
