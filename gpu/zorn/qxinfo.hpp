// qxinfo kernel metadata: the YAML document that tells the driver how to
// launch a kernel, written from a finalised KernelInterface.
#pragma once

#include <string>

#include "gpu/zorn/kernel_interface.hpp"

namespace ulmara::qez::zorn {

// The whole qxinfo document. Throws interface_not_finalized,
// unsupported_argument_location_override, invalid_kernel_name_exception for a
// kernel name that is not UTF-8, and std::runtime_error "Unsupported walk
// order" / "Unsupported thread scheduling mode".
std::string write_qxinfo(const KernelInterface& interface);

// The kernel name as the content of a YAML double-quoted scalar: quote,
// backslash and control characters escaped. Throws
// invalid_kernel_name_exception when the name is not valid UTF-8.
std::string yaml_double_quoted_content(const std::string& text);

}  // namespace ulmara::qez::zorn
