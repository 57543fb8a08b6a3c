// Pieces of the kernels that transform whole lines of N = FACT0 x FACT1
// points in one work-group, in lane pairs or in the portable form: the
// two-factor 1D kernel and the row kernel of the fused two-factor family
// write them with their own macro and helper prefixes, so each program keeps
// its names while the code is written once.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// Prefixes of one program's line-kernel names: macros (e.g. "TF" gives
// TF_N, TF_LOAD, ..) and helper functions (e.g. "tf" gives tf_columns, ..).
// The kernels use PREFIX_BLOCK_READ / PREFIX_BLOCK_WRITE, which
// write_block_moves defines.
struct line_kernel_prefixes {
  const char* macros;
  const char* functions;
};

// The line geometry: PREFIX_N, PREFIX_PF1, PREFIX_H, PREFIX_PAIRS,
// PREFIX_SUBGROUPS, PREFIX_COLUMN_GROUPS and PREFIX_TABLE_BLOCK.
void write_line_geometry(std::ostream& out, const line_kernel_prefixes& names);

// The direction's sign and the macros of the two lane forms, then the
// helpers of one line pass and the kernel `kernel_name` that runs
// BATCH_PER_GROUP lines a work-group (BATCH_FOR_LAST_GROUP in the last),
// for precision p.
void write_line_kernel(std::ostream& out, precision p, const line_kernel_prefixes& names, const char* kernel_name);

// `kernel` with the required work-group size `work_group_size` (a macro
// name), the required sub-group size under LANE_PAIRS, and the parameters
// (in, out, twidlTable, slmPtr) of the line kernels.
void write_line_kernel_head(std::ostream& out, const char* work_group_size, const char* kernel_name);

}  // namespace qez_codelets
