// The verbose descriptor line: one text describing the descriptor a
// transform ran (precision, domain, direction, placement, lengths, strides,
// distances, number of transforms, scales, storage) followed by a tail that
// depends on where it ran. The SYCL form ends with the data placement and
// the queue; the CPU form with the workspace policy, thread limit, alignment
// and the record's address.
#pragma once

#include <cstddef>

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

constexpr std::size_t verbose_text_bytes = 512;  // 511 characters and a NUL

enum class verbose_direction { forward, backward };

// What the SYCL form says about the data and the queue, gathered by the
// caller from the SYCL runtime.
struct verbose_sycl_context {
  bool usm = true;  // USM pointers; else buffer byte views
  // USM: "host", "device", "shared" or "unknown" for each pointer.
  const char* input_kind = "unknown";
  const char* output_kind = "unknown";
  // Buffers: whether each view is a sub-buffer.
  bool input_sub_buffer = false;
  bool output_sub_buffer = false;
  bool in_order_queue = false;
};

// Fills `text` (verbose_text_bytes bytes) with the SYCL form of the line.
void write_verbose_sycl_line(const DFTI_DESCRIPTOR* record, verbose_direction direction,
                             const verbose_sycl_context& context, char* text);

// Fills `text` with the CPU form. `output` is null for in-place transforms.
void write_verbose_cpu_line(const DFTI_DESCRIPTOR* record, verbose_direction direction,
                            const void* input, const void* output, char* text);

// Build the CPU form and hand it to the service library's verbose printer.
void print_verbose_cpu_descriptor_forward(const DFTI_DESCRIPTOR* record, const void* data,
                                          double seconds);
void print_verbose_cpu_descriptor_forward(const DFTI_DESCRIPTOR* record, const void* input,
                                          const void* output, double seconds);
void print_verbose_cpu_descriptor_backward(const DFTI_DESCRIPTOR* record, const void* data,
                                           double seconds);
void print_verbose_cpu_descriptor_backward(const DFTI_DESCRIPTOR* record, const void* input,
                                           const void* output, double seconds);

}  // namespace ulmara::qez::dft
