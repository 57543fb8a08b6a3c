// The method table of records bound to the GPU backend lists: configuration
// reads and writes, commit, copy, workspace hand-over and destruction, by
// slot index.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

extern const descriptor_methods descriptor_method_table;

int descriptor_commit(DFTI_DESCRIPTOR* record);
int descriptor_recommit(DFTI_DESCRIPTOR* record);
int copy_descriptor(const DFTI_DESCRIPTOR* source, DFTI_DESCRIPTOR** copy);
void free_descriptor(DFTI_DESCRIPTOR* record, DFTI_DESCRIPTOR* same_record);

// Bits 0x20 to 0x4000 of set_flags taken from the source one by one.
void copy_layout_flags(DFTI_DESCRIPTOR* target, const DFTI_DESCRIPTOR* source);

}  // namespace ulmara::qez::dft
