#include "block_move_sections.hpp"

namespace qez_codelets {

std::string block_moves_heading(const std::string& title, precision p) {
  const char* width = p == precision::double_precision ? "64-bit" : "32-bit";
  return "/* ---- " + title + ": block moves (" + width + ") ---- */\n";
}

void write_block_moves(std::ostream& out, precision p, const char* prefix) {
  if (p == precision::double_precision) {
    out << "#if defined(LANE_PAIRS) && defined(cl_tavir_subgroups_long)\n"
        << "#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable\n"
        << "#endif\n"
        << "#define " << prefix
        << "_BLOCK_READ(p) as_double(tavir_sub_group_block_read_ul((const global ulong *)(p)))\n"
        << "#define " << prefix
        << "_BLOCK_WRITE(p, v) tavir_sub_group_block_write_ul((global ulong *)(p), as_ulong(v))\n";
  } else {
    out << "#define " << prefix << "_BLOCK_READ(p) as_float(tavir_sub_group_block_read((const global uint *)(p)))\n"
        << "#define " << prefix
        << "_BLOCK_WRITE(p, v) tavir_sub_group_block_write((global uint *)(p), as_uint(v))\n";
  }
}

}  // namespace qez_codelets
