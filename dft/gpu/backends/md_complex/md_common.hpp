// What the complex multi-dimensional backends share: the four strides of a
// dimension by role, read from its working-layout record, which batch
// distances are in use, the architectures of the ESIMD engine, and the
// policy struct through which the frame's bkd_commit and bkd_free reach a
// backend (with the compute entries' declarations from compute_dispatch.hpp).
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "gpu/service/qez_gpu_types.h"

namespace ulmara {
namespace qez {
namespace dft {
namespace md_complex {

// Index of a dimension's stride by role.
enum stride_role : int { forward_input = 0, backward_input = 1, forward_output = 2, backward_output = 3 };
constexpr int stride_role_count = 4;

// The four strides of one dimension by role from its length record: the
// input/output strides where given, else the domain strides.
inline void take_strides(std::int64_t (&s)[stride_role_count], const dim_record& rec) {
  if (rec.input != 0 && rec.output != 0) {
    s[forward_input] = s[backward_input] = rec.input;
    s[forward_output] = s[backward_output] = rec.output;
  } else if (rec.input != 0) {
    s[forward_input] = s[backward_input] = rec.input;
    s[forward_output] = rec.backward;
    s[backward_output] = rec.forward;
  } else {
    s[forward_input] = rec.forward;
    s[backward_input] = rec.backward;
    s[forward_output] = rec.output != 0 ? rec.output : rec.backward;
    s[backward_output] = rec.output != 0 ? rec.output : rec.forward;
  }
}

// The batch record gives input/output distances (and no domain distances),
// which are then the ones in use.
inline bool io_distances_given(const dim_record& batch) {
  return batch.forward == 0 && batch.backward == 0 && batch.input != 0 && batch.output != 0;
}

// The device's architecture runs the ESIMD engine (Harix and Nopra).
inline bool runs_esimd_engine(std::uint32_t arch) {
  return arch == QEZ_GPU_ARCH_HARIX || arch == QEZ_GPU_ARCH_NOPRA;
}

}  // namespace md_complex
}  // namespace dft
}  // namespace qez
}  // namespace ulmara

// Defines backend_policy<T> in the current namespace: table() (specialised
// where the tables are defined), `accept`, `init`, `destroy` and the compute
// entries `fwd` and `bwd` (each may name T, e.g. `compute_2d_fwd<T>`).
#define QEZ_DEFINE_MD_BACKEND_POLICY(accept, init_step, destroy_step, fwd, bwd)    \
  template <class T>                                                               \
  struct backend_policy {                                                          \
    static const backend_table& table();                                           \
    static int acceptance(const DFTI_DESCRIPTOR* record) { return accept(record); } \
    static int init(DFTI_DESCRIPTOR* record) { return init_step(record); }         \
    static void destroy(DFTI_DESCRIPTOR* record) { destroy_step(record); }         \
    static compute_entry forward_entry() { return fwd; }                           \
    static compute_entry backward_entry() { return bwd; }                          \
  };
