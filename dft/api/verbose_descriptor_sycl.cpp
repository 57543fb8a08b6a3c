#include "dft/api/verbose_descriptor_sycl.hpp"

namespace ulmara::qez::dft {

const char* usm_kind_name(const void* pointer, const sycl::context& context) {
  switch (sycl::get_pointer_type(pointer, context)) {
    case sycl::usm::alloc::host: return "host";
    case sycl::usm::alloc::device: return "device";
    case sycl::usm::alloc::shared: return "shared";
    default: return "unknown";
  }
}

void format_verbose_descriptor(const DFTI_DESCRIPTOR* record, verbose_direction direction,
                               const sycl::queue& queue, char* text, const void* input,
                               const void* output) {
  verbose_sycl_context c;
  c.usm = true;
  const sycl::context context = queue.get_context();
  c.input_kind = usm_kind_name(input, context);
  c.output_kind = usm_kind_name(output, context);
  c.in_order_queue = queue.is_in_order();
  write_verbose_sycl_line(record, direction, c, text);
}

void format_verbose_descriptor(const DFTI_DESCRIPTOR* record, verbose_direction direction,
                               const sycl::queue& queue, char* text,
                               const sycl::buffer<char, 1>& input,
                               const sycl::buffer<char, 1>& output) {
  verbose_sycl_context c;
  c.usm = false;
  c.input_sub_buffer = input.is_sub_buffer();
  c.output_sub_buffer = output.is_sub_buffer();
  c.in_order_queue = queue.is_in_order();
  write_verbose_sycl_line(record, direction, c, text);
}

}  // namespace ulmara::qez::dft
