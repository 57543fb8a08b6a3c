// The SYCL form of the verbose descriptor line for transforms on a GPU
// queue: what the runtime says about the data (USM kinds, sub-buffers) and
// the queue, put into the line. `text` holds verbose_text_bytes bytes.
#pragma once

#include <sycl/sycl.hpp>

#include "dft/api/verbose_descriptor.hpp"

namespace ulmara::qez::dft {

void format_verbose_descriptor(const DFTI_DESCRIPTOR* record, verbose_direction direction,
                               const sycl::queue& queue, char* text, const void* input,
                               const void* output);
void format_verbose_descriptor(const DFTI_DESCRIPTOR* record, verbose_direction direction,
                               const sycl::queue& queue, char* text,
                               const sycl::buffer<char, 1>& input,
                               const sycl::buffer<char, 1>& output);

// "host", "device", "shared" or "unknown".
const char* usm_kind_name(const void* pointer, const sycl::context& context);

}  // namespace ulmara::qez::dft
