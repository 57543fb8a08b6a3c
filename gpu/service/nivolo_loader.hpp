// Run-time loader of the Nivolo driver interface ("qx_loader.dll"). The
// exported forwarders qez_qx* (declared in nivolo_api.h) load on first use.
#pragma once

#include <cstdint>

#include "gpu/service/nivolo_api.h"

namespace ulmara::qez::gpu {

enum nivolo_load_state : std::int32_t {
  nivolo_not_loaded = 0,
  nivolo_loaded = 1,
  nivolo_load_failed = -1,
};

// 0 when the driver interface is (or becomes) loaded, -1 otherwise. The first
// call decides; a failed load is never retried.
int load_qx_loader();

nivolo_load_state qx_loader_load_state();

}  // namespace ulmara::qez::gpu
