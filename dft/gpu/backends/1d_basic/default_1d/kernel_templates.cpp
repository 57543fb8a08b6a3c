#include "dft/gpu/backends/1d_basic/default_1d/kernel_templates.hpp"

#include <cstdio>

namespace ulmara {
namespace qez {
namespace dft {
namespace default_1d {

// ---------------------------------------------------------------------------
// Program prelude. The chunk offset reaches every kernel as an 8-byte value.
// QEZ_TWIDDLE multiplies by exp(-+2 pi i p / size), with p reduced to
// [-size/2, size/2] so that the angle stays small; QEZ_BATCH_OFFSET places
// global transform z in the caller's (up to) three batch dimensions.

const char* const program_prelude =
    "#define CHUNK_OFFSET_TYPE long\n"
    "#define QEZ_TWIDDLE(var, product, size) do { \\\n"
    "    const long r_ = (long)((product) % (size)); \\\n"
    "    const long s_ = 2 * r_ > (long)(size) ? r_ - (long)(size) : r_; \\\n"
    "    const ftype a_ = (ftype)(2 * s_) / (ftype)(size); \\\n"
    "    TWIDL_MULT_INPLACE(cospi(a_), sinpi(a_), var); } while (0)\n"
    "#define QEZ_BATCH_OFFSET(z, D) (((z) % BATCH1) * D##1 + \\\n"
    "    (((z) % (BATCH1 * BATCH2)) / BATCH1) * D##2 + ((z) / (BATCH1 * BATCH2)) * D##3)\n";

// ---------------------------------------------------------------------------
// Template pieces. Arguments in order: kernel name; doInOffset, doOutOffset,
// do_scale, do_twiddle, twSize, fact, idist_z, odist_z, idist_y, odist_y,
// idist_x, odist_x, istride, ostride; (shared memory) fact1, partition,
// register count; routine name(s).

#define QEZ_PASS_SIGNATURE \
  "kernel void %s(const global ftype *in, global ftype *out, const long offset)\n"
#define QEZ_SLM_SIGNATURE \
  "kernel void %s(const global ftype *in, global ftype *out, local ftype *slmPtr, const long offset)\n"
#define QEZ_CONSTANTS                                                                          \
  "{\n"                                                                                        \
  "    const uint doInOffset = %d, doOutOffset = %d, do_scale = %d, do_twiddle = %d;\n"        \
  "    const ulong twSize = %lld;\n"                                                           \
  "    enum { fact = %lld };\n"                                                                \
  "    const ulong idist_z = %lld, odist_z = %lld, idist_y = %lld, odist_y = %lld;\n"          \
  "    const ulong idist_x = %lld, odist_x = %lld, istride = %lld, ostride = %lld;\n"
#define QEZ_SLM_CONSTANTS "    enum { fact1 = %lld, partition = %lld, registers = %lld };\n"
#define QEZ_ADDRESSING                                                                         \
  "    const ulong x = get_global_id(0), y = get_global_id(1), zl = get_global_id(2);\n"      \
  "    const ulong z = zl + offset;\n"                                                         \
  "    const ulong in_batch = doInOffset ? QEZ_BATCH_OFFSET(z, IDIST_Z) : zl * idist_z;\n"    \
  "    const ulong out_batch = doOutOffset ? QEZ_BATCH_OFFSET(z, ODIST_Z) : zl * odist_z;\n"  \
  "    const global ftype *src = in + 2 * (in_batch + y * idist_y + x * idist_x);\n"
#define QEZ_PASS_OUTPUT "    global ftype *dst = out + 2 * (out_batch + y * odist_y + x * odist_x);\n"

// Register template: a codelet on values held in registers.
const char register_template[] =
    QEZ_PASS_SIGNATURE QEZ_CONSTANTS QEZ_ADDRESSING QEZ_PASS_OUTPUT
    "    ptype v[fact];\n"
    "    for (uint i = 0; i < fact; ++i) v[i] = vload2(i * istride, src);\n"
    "    %s(v, (ftype)1.0);\n"
    "    for (uint i = 0; i < fact; ++i) {\n"
    "        if (do_scale) v[i] *= SCALE;\n"
    "        if (do_twiddle) QEZ_TWIDDLE(v[i], (ulong)i * y, twSize);\n"
    "        vstore2(v[i], i * ostride, dst);\n"
    "    }\n"
    "}\n";

// Generic template: a direct DFT from global to global memory.
const char generic_template[] =
    QEZ_PASS_SIGNATURE QEZ_CONSTANTS QEZ_ADDRESSING QEZ_PASS_OUTPUT
    "    %s(fact, (uint)istride, (uint)ostride, src, dst);\n"
    "    if (do_scale) {\n"
    "        barrier(CLK_GLOBAL_MEM_FENCE);\n"
    "        for (uint i = 0; i < fact; ++i) vstore2(vload2(i * ostride, dst) * SCALE, i * ostride, dst);\n"
    "    }\n"
    "    if (do_twiddle) {\n"
    "        barrier(CLK_GLOBAL_MEM_FENCE);\n"
    "        for (uint i = 0; i < fact; ++i) {\n"
    "            ptype t = vload2(i * ostride, dst);\n"
    "            QEZ_TWIDDLE(t, (ulong)i * y, twSize);\n"
    "            vstore2(t, i * ostride, dst);\n"
    "        }\n"
    "    }\n"
    "}\n";

// Shared-memory template: both factors of a transform in one work-group
// (local z: transforms, local y: columns of the first stage). The finished
// transform goes to the caller's output layout. Work-items past the last
// transform (the launch is rounded up to whole work-groups) only take part
// in the barrier.
const char shared_memory_template[] =
    QEZ_SLM_SIGNATURE QEZ_CONSTANTS QEZ_SLM_CONSTANTS QEZ_ADDRESSING
    "    local ptype *slm = (local ptype *)slmPtr;\n"
    "    const ulong lz = get_local_id(2), ly = get_local_id(1);\n"
    "    const bool active = z < (ulong)BATCH1 * BATCH2 * BATCH3;\n"
    "    ptype v[registers];\n"
    "    if (active) {\n"
    "        for (uint i = 0; i < fact; ++i) v[i] = vload2(i * istride, src);\n"
    "        %s(v, (ftype)1.0);\n"
    "        for (uint i = 0; i < fact; ++i) {\n"
    "            if (do_scale) v[i] *= SCALE;\n"
    "            if (do_twiddle) QEZ_TWIDDLE(v[i], (ulong)i * y, twSize);\n"
    "            slm[lz * twSize + ly * fact + i] = v[i];\n"
    "        }\n"
    "    }\n"
    "    barrier(CLK_LOCAL_MEM_FENCE);\n"
    "    if (!active) return;\n"
    "    const uint rem = fact %% fact1;\n"
    "    const bool wide = rem == 0 || ly < rem;\n"
    "    const uint owned = wide ? partition : 1;\n"
    "    const uint first = wide ? ly * partition : rem * partition + (ly - rem);\n"
    "    global ftype *dst = out + 2 * out_batch;\n"
    "    for (uint k = 0; k < owned; ++k) {\n"
    "        ptype *w = v + k * fact1;\n"
    "        const uint c = first + k;\n"
    "        for (uint r = 0; r < fact1; ++r) w[r] = slm[lz * twSize + c + r * fact];\n"
    "        %s(w, (ftype)1.0);\n"
    "        for (uint r = 0; r < fact1; ++r) vstore2(w[r], (c + r * fact) * ostride, dst);\n"
    "    }\n"
    "}\n";

#undef QEZ_PASS_SIGNATURE
#undef QEZ_SLM_SIGNATURE
#undef QEZ_CONSTANTS
#undef QEZ_SLM_CONSTANTS
#undef QEZ_ADDRESSING
#undef QEZ_PASS_OUTPUT

namespace {

bool fitted(int written, std::size_t size) { return written >= 0 && static_cast<std::size_t>(written) < size; }

}  // namespace

bool print_pass_kernel(kernel_template which, const pass_arguments& a, char* text, std::size_t size) {
  int written = -1;
#define QEZ_COMMON_ARGUMENTS                                                                         \
  a.kernel_name, a.do_in_offset, a.do_out_offset, a.do_scale, a.do_twiddle, a.tw_size, a.fact,      \
      a.idist_z, a.odist_z, a.idist_y, a.odist_y, a.idist_x, a.odist_x, a.istride, a.ostride
  switch (which) {
    case kernel_template::registers:
      written = std::snprintf(text, size, register_template, QEZ_COMMON_ARGUMENTS, a.routine);
      break;
    case kernel_template::generic:
      written = std::snprintf(text, size, generic_template, QEZ_COMMON_ARGUMENTS, a.routine);
      break;
    case kernel_template::shared_memory:
      written = std::snprintf(text, size, shared_memory_template, QEZ_COMMON_ARGUMENTS, a.fact1,
                              a.partition, a.register_count, a.routine, a.second_routine);
      break;
  }
#undef QEZ_COMMON_ARGUMENTS
  return fitted(written, size);
}

}  // namespace default_1d
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
