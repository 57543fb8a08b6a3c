// The extension chain of Nivolo device properties, as the driver doubles read it.
#pragma once

#include "gpu/service/nivolo_api.h"

// The IP-version extension in a property chain, or null.
inline qx_device_ip_version_ext_t* qez_qx_ip_version_extension(void* next) {
  while (next != nullptr) {
    auto* extension = static_cast<qx_device_ip_version_ext_t*>(next);
    if (extension->stype == QX_STRUCTURE_TYPE_DEVICE_IP_VERSION_EXT) return extension;
    next = const_cast<void*>(extension->pNext);
  }
  return nullptr;
}
