// The commit policies the one-dimensional backends choose from: whether a
// failed commit also leaves the record without a backend; in both, an init
// that throws has the block destroyed before the exception goes on.
#pragma once

#include "dft/gpu/core/backend_protocol.hpp"

namespace ulmara {
namespace qez {
namespace dft {

// A failed commit keeps the record's backend.
constexpr commit_policy keep_backend_destroy_when_thrown = {/*clear_backend_on_failure=*/false,
                                                            /*destroy_when_init_throws=*/true,
                                                            /*exceptions_become_status=*/false};

// A failed commit leaves the record without a backend.
constexpr commit_policy clear_backend_destroy_when_thrown = {/*clear_backend_on_failure=*/true,
                                                             /*destroy_when_init_throws=*/true,
                                                             /*exceptions_become_status=*/false};

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
