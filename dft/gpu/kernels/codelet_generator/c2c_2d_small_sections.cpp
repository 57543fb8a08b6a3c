#include "c2c_2d_small_sections.hpp"

#include "program_sections.hpp"

namespace qez_codelets {

namespace {

const char kernel_text[] = R"(/* ---- Square 2D transform in shared local memory --------------------------
 * Work-group g transforms the FACT0 x FACT0 array that starts 2 FACT0^2 reals
 * after `in` (rows 2 FACT0 reals apart) and writes it at the same place in
 * `out`. A worker is a pair of work-items (lid / 2) and owns one column,
 * then one row:
 *   1. it reads its column (all reads happen before the first barrier, so
 *      in place is safe) and transforms it with FACT0_FUNC;
 *   2. the columns go to local memory and come back as rows;
 *   3. it transforms its row, scales it and writes it to `out`.
 * Lane pairs: the even lane holds the real part, the odd lane the imaginary
 * part. Portable form (no sub-groups): the even work-item holds the whole
 * complex value and the odd one only joins the barriers. */
#if defined(KERNEL_FUNC) && defined(FACT0)

#if defined(LANE_PAIRS) && defined(cl_tavir_subgroups_long)
#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable
#endif

#if WORK_GROUP_SIZE != 2 * FACT0
#error "2d small kernel: WORK_GROUP_SIZE must be 2 FACT0"
#endif

#define S2D_DIR_SIGN (FWD_DIR ? (ftype)1 : (ftype)-1)
$LANE_FORMS

kernel __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
void KERNEL_FUNC(const global ftype *in, global ftype *out, local ftype *slmPtr, const ftype scale)
{
    const uint lid = get_local_id(0);
    const uint w = lid / 2;
    const ulong base = (ulong)get_group_id(0) * (2 * FACT0 * FACT0);
    const global ftype *src = in + base;
    global ftype *dst = out + base;
    const ftype pmOne = S2D_PM_ONE(lid);
    ptype x[FACT0];

    if (S2D_ACTIVE(lid)) {
        for (uint r = 0; r < FACT0; ++r) x[r] = S2D_LOAD(src, r * FACT0 + w, lid);
        FACT0_FUNC(x, pmOne);
        /* column w, frequency r -> local row r */
        for (uint r = 0; r < FACT0; ++r) S2D_STORE(slmPtr, r * FACT0 + w, lid, x[r]);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    if (S2D_ACTIVE(lid)) {
        for (uint c = 0; c < FACT0; ++c) x[c] = S2D_LOAD(slmPtr, w * FACT0 + c, lid);
        FACT0_FUNC(x, pmOne);
        for (uint c = 0; c < FACT0; ++c) S2D_STORE(dst, w * FACT0 + c, lid, x[c] * scale);
    }
}

#endif

)";

// The macros of the two lane forms.
std::vector<lane_form_macro> lane_forms() {
  return lid_kernel_lane_forms(
      "S2D", "S2D_DIR_SIGN",
      {
          {"S2D_LOAD(p, e, lid)", "((p)[2 * (e) + ((lid) & 1)])", "vload2((e), (p))"},
          {"S2D_STORE(p, e, lid, v)", "((p)[2 * (e) + ((lid) & 1)] = (v))", "vstore2((v), (e), (p))"},
      });
}

}  // namespace

void write_c2c_2d_small_kernel(std::ostream& out, precision) {
  out << with_lane_form_macros(kernel_text, lane_forms());
}

}  // namespace qez_codelets
