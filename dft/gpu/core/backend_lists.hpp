// The eight priority lists of GPU backends and the entries that bind a
// record to one of them.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

backend_list backend_list_r2c_md_float();
backend_list backend_list_r2c_1d_float();
backend_list backend_list_c2c_md_float();
backend_list backend_list_c2c_1d_float();
backend_list backend_list_r2c_md_double();
backend_list backend_list_r2c_1d_double();
backend_list backend_list_c2c_md_double();
backend_list backend_list_c2c_1d_double();

// Each stores its list in the record and installs the GPU method table.
void bind_backend_list_r2c_md_float(DFTI_DESCRIPTOR** record);
void bind_backend_list_r2c_1d_float(DFTI_DESCRIPTOR** record);
void bind_backend_list_c2c_md_float(DFTI_DESCRIPTOR** record);
void bind_backend_list_c2c_1d_float(DFTI_DESCRIPTOR** record);
void bind_backend_list_r2c_md_double(DFTI_DESCRIPTOR** record);
void bind_backend_list_r2c_1d_double(DFTI_DESCRIPTOR** record);
void bind_backend_list_c2c_md_double(DFTI_DESCRIPTOR** record);
void bind_backend_list_c2c_1d_double(DFTI_DESCRIPTOR** record);

// The terminator that ends every list: 6 for what the system cannot do at
// all, 100 (turned into 3) for a layout no backend took.
extern const backend_table terminator_backend_float;
extern const backend_table terminator_backend_double;

}  // namespace ulmara::qez::dft
