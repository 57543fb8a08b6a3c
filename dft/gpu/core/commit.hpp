// GPU commit: validation and normalisation of a record's layout, then the
// trial of the bound backend list.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

int commit_backend_list(DFTI_DESCRIPTOR* record);
void merge_dimensions(DFTI_DESCRIPTOR* record);
void refresh_layout_summary(DFTI_DESCRIPTOR* record);

// Modes of check_inplace_real_layout.
enum layout_convention : int { convention_forward_backward = 1, convention_input_output = 2 };
// 0 when an in-place real layout has its real side twice its complex side.
int check_inplace_real_layout(const DFTI_DESCRIPTOR* record, int convention);

}  // namespace ulmara::qez::dft
