// Workspace bytes a GPU commit of a descriptor's present configuration would
// need, for a descriptor that is not committed to a GPU. Never negative; a
// configuration no GPU backend takes gives 0. A null record throws
// invalid_descriptor_exception.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

std::uint64_t estimate_workspace_c2c_float(const DFTI_DESCRIPTOR* record);
std::uint64_t estimate_workspace_c2c_double(const DFTI_DESCRIPTOR* record);
std::uint64_t estimate_workspace_r2c_float(const DFTI_DESCRIPTOR* record);
std::uint64_t estimate_workspace_r2c_double(const DFTI_DESCRIPTOR* record);

}  // namespace ulmara::qez::dft
