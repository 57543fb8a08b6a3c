// The commit policy of the one-dimensional backends: a failed commit keeps
// the record's backend (as every backend's does), and an init that throws
// has the block destroyed before the exception goes on.
#pragma once

#include "dft/gpu/core/backend_protocol.hpp"

namespace ulmara {
namespace qez {
namespace dft {

constexpr commit_policy keep_backend_destroy_when_thrown = {/*destroy_when_init_throws=*/true,
                                                            /*exceptions_become_status=*/false};

}  // namespace dft
}  // namespace qez
}  // namespace ulmara

// Defines, in the current namespace, backend_policy<T> of a one-dimensional
// backend: the commit policy above, `accept` and `destroy_step` its
// acceptance and destroy, bkd_init<T> its init, compute_1d_fwd<T> and
// compute_1d_bwd<T> its compute entries, one data address in place and two
// otherwise. An `accept` with commas goes in parentheses.
#define QEZ_DEFINE_1D_BACKEND_POLICY(accept, destroy_step)                                                   \
  QEZ_DEFINE_BACKEND_POLICY(keep_backend_destroy_when_thrown, accept, bkd_init<T>, destroy_step, compute_1d_fwd<T>, \
                            compute_1d_bwd<T>, data_arrays_of_placement)
