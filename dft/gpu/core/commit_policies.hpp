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
