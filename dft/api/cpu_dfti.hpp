// The CPU DFTI front end: plain DFTI operations (create, set a value,
// commit, compute, free, error class) over records of the CPU DFT engine.
// Every operation but the error-class test returns a DFTI status widened to
// 64 bits: 0 success, 2 invalid configuration (length, rank or domain out of
// range, or no compute entry for the direction), 3 missing or inconsistent
// argument, 5 bad descriptor, 6 not implemented, 7 no commit operation;
// statuses of the engine's operations pass through unchanged.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_node.hpp"
#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

// Parameter numbers of the DFTI interface.
enum dfti_parameter : int {
  dfti_param_forward_domain = 0,
  dfti_param_dimension = 1,
  dfti_param_lengths = 2,
  dfti_param_precision = 3,
  dfti_param_forward_scale = 4,
  dfti_param_backward_scale = 5,
  dfti_param_number_of_transforms = 7,
  dfti_param_complex_storage = 8,
  dfti_param_real_storage = 9,
  dfti_param_conjugate_even_storage = 10,
  dfti_param_placement = 11,
  dfti_param_input_strides = 12,
  dfti_param_output_strides = 13,
  dfti_param_input_distance = 14,
  dfti_param_output_distance = 15,
  dfti_param_workspace = 17,
  dfti_param_ordering = 18,
  dfti_param_transpose = 19,
  dfti_param_descriptor_name = 20,
  dfti_param_packed_format = 21,
  dfti_param_commit_status = 22,
  dfti_param_number_of_user_threads = 26,
  dfti_param_thread_limit = 27,
  dfti_param_destroy_input = 28,
  dfti_param_fwd_distance = 58,
  dfti_param_bwd_distance = 59,
  dfti_param_fwd_strides = 60,
  dfti_param_bwd_strides = 61,
  dfti_param_last = 61
};

std::int64_t dfti_cpu_create_single_1d(DFTI_DESCRIPTOR** handle, int domain, std::int64_t length);
std::int64_t dfti_cpu_create_double_1d(DFTI_DESCRIPTOR** handle, int domain, std::int64_t length);
// `lengths` holds `rank` (1..7) lengths, slowest dimension first.
std::int64_t dfti_cpu_create_single_md(DFTI_DESCRIPTOR** handle, int domain, std::int64_t rank,
                                       const std::int64_t* lengths);
std::int64_t dfti_cpu_create_double_md(DFTI_DESCRIPTOR** handle, int domain, std::int64_t rank,
                                       const std::int64_t* lengths);

// One value whose type depends on the parameter: double for the scales, a
// pointer to int64 {offset, strides slowest first} for the strides, a text
// for the name, int or int64 for the others.
std::int64_t dfti_cpu_set_value(DFTI_DESCRIPTOR* record, int parameter, ...);
// Uncommits the record, then stores an integer-valued parameter.
std::int64_t dfti_cpu_set_value_core(DFTI_DESCRIPTOR** handle, const std::int64_t* parameter,
                                     const std::int64_t* value);

std::int64_t dfti_cpu_commit(DFTI_DESCRIPTOR* record);

std::int64_t dfti_cpu_compute_forward_inplace(DFTI_DESCRIPTOR* record, void* data);
std::int64_t dfti_cpu_compute_forward_outofplace(DFTI_DESCRIPTOR* record, void* input,
                                                 void* output);
std::int64_t dfti_cpu_compute_backward_inplace(DFTI_DESCRIPTOR* record, void* data);
std::int64_t dfti_cpu_compute_backward_outofplace(DFTI_DESCRIPTOR* record, void* input,
                                                  void* output);

// 1 when `status` belongs to `error_class` (they are equal), else 0.
std::int64_t dfti_cpu_error_class(std::int64_t status, std::int64_t error_class);

}  // namespace ulmara::qez::dft
