// set_value and get_value of the descriptor class: one body per value type,
// shared by the four descriptor kinds.
#pragma once

#include <cstdint>
#include <vector>

#include "dft/api/descriptor_access.hpp"

namespace ulmara::qez::dft {

void set_config_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                      config_value value);
void set_int64_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                     std::int64_t value);
// `refuse_nan`: the caller's value was a float, for which NaN is no scale.
void set_scale_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                     double value, bool refuse_nan);
void set_vector_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                      const std::vector<std::int64_t>& values);

// Returns a committed record (and the CPU copy in its slot) to the
// uncommitted state, after the work still using them has finished.
void uncommit_sycl_descriptor_members(DFTI_DESCRIPTOR* record, slot_buffer_type& slot);

void get_config_value(const DFTI_DESCRIPTOR* record, config_param param, config_value* value);
void get_domain_value(const DFTI_DESCRIPTOR* record, config_param param, domain* value);
void get_precision_value(const DFTI_DESCRIPTOR* record, config_param param, precision* value);
void get_int64_value(const DFTI_DESCRIPTOR* record, config_param param, std::int64_t* value);
void get_scale_value(const DFTI_DESCRIPTOR* record, config_param param, float* value);
void get_scale_value(const DFTI_DESCRIPTOR* record, config_param param, double* value);
void get_vector_value(const DFTI_DESCRIPTOR* record, config_param param,
                      std::vector<std::int64_t>* values);

}  // namespace ulmara::qez::dft
