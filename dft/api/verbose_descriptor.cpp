// The verbose descriptor line. Values come through the record's getter
// slots (dimensions innermost first) and are printed outermost first; the
// line is built by bounded appends, so a text beyond 511 characters is cut.
#include "dft/api/verbose_descriptor.hpp"

#include <cinttypes>
#include <cstdint>
#include <string_view>

#include "gpu/service/safe_routines.hpp"
#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

using gpu::append_format;

constexpr int max_line_rank = 7;
constexpr std::uintptr_t alignment_of_aligned_data = 64;

// Everything the head of the line needs, read once from the record.
struct line_values {
  std::int64_t rank = 0;
  std::int64_t lengths[max_line_rank] = {};
  std::int64_t in_strides[max_line_rank + 1] = {};
  std::int64_t out_strides[max_line_rank + 1] = {};
  std::uint64_t transforms = 0;
  std::int64_t in_distance = 0;
  std::int64_t out_distance = 0;
  bool stride_labels = false;    // forward/backward strides are shown
  bool distance_labels = false;  // forward/backward distances are shown
};

bool all_zero(const std::int64_t* v, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i)
    if (v[i] != 0) return false;
  return true;
}

line_values read_values(const DFTI_DESCRIPTOR* r, verbose_direction direction) {
  const descriptor_methods& m = *r->methods;
  const bool forward = direction == verbose_direction::forward;
  line_values v;
  m.get_rank(r, &v.rank);
  if (v.rank < 0 || v.rank > max_line_rank) v.rank = 0;
  if (v.rank == 0) return v;
  m.get_lengths(r, v.lengths);
  m.get_input_strides(r, v.in_strides);
  m.get_output_strides(r, v.out_strides);
  if (all_zero(v.in_strides, v.rank + 1) && all_zero(v.out_strides, v.rank + 1)) {
    v.stride_labels = true;
    m.get_forward_strides(r, forward ? v.in_strides : v.out_strides);
    m.get_backward_strides(r, forward ? v.out_strides : v.in_strides);
  }
  m.get_number_of_transforms(r, &v.transforms);
  m.get_input_distance(r, &v.in_distance);
  m.get_output_distance(r, &v.out_distance);
  if (v.transforms >= 2 && v.in_distance == 0 && v.out_distance == 0) {
    v.distance_labels = true;
    m.get_forward_distance(r, forward ? &v.in_distance : &v.out_distance);
    m.get_backward_distance(r, forward ? &v.out_distance : &v.in_distance);
  }
  return v;
}

// Product of lengths[first .. last-1] (1 for an empty range).
std::int64_t product(const std::int64_t* lengths, std::int64_t first, std::int64_t last) {
  std::int64_t p = 1;
  for (std::int64_t k = first; k < last; ++k) p *= lengths[k];
  return p;
}

struct layout_flags {
  bool strided = false;
  bool distances_shown = false;
  bool vector_form = false;
};

layout_flags classify_real(const DFTI_DESCRIPTOR* r, verbose_direction direction,
                           const line_values& v) {
  const bool forward = direction == verbose_direction::forward;
  const std::int64_t* a = forward ? v.in_strides : v.out_strides;  // real side
  const std::int64_t* b = forward ? v.out_strides : v.in_strides;  // complex side
  const std::int64_t da = forward ? v.in_distance : v.out_distance;
  const std::int64_t db = forward ? v.out_distance : v.in_distance;
  const std::int64_t l0 = v.lengths[0];
  const std::int64_t p0 = r->placement == dfti_inplace ? (l0 & ~std::int64_t{1}) + 2 : l0;
  const std::int64_t c0 = l0 / 2 + 1;
  bool a_default = a[1] == 1, b_default = b[1] == 1;
  for (std::int64_t k = 1; k < v.rank; ++k) {
    a_default = a_default && a[k + 1] == p0 * product(v.lengths, 1, k);
    b_default = b_default && b[k + 1] == c0 * product(v.lengths, 1, k);
  }
  const std::int64_t a_distance = p0 * product(v.lengths, 1, v.rank);
  const std::int64_t b_distance = c0 * product(v.lengths, 1, v.rank);
  layout_flags f;
  f.strided = !a_default || !b_default;
  f.distances_shown =
      f.strided || (v.transforms >= 2 && (da != a_distance || db != b_distance));
  return f;
}

layout_flags classify_complex(const DFTI_DESCRIPTOR* r, const line_values& v) {
  const bool in_place = r->placement == dfti_inplace;
  const std::int64_t* is = v.in_strides;
  const std::int64_t* os = v.out_strides;
  const auto h = static_cast<std::int64_t>(v.transforms);
  layout_flags f;
  const bool candidate = v.in_distance == 1 && is[1] == h &&
                         (in_place || (v.out_distance == 1 && os[1] == is[1]));
  if (candidate) {
    bool nested = true;
    for (std::int64_t k = 0; k + 2 <= v.rank; ++k) {
      nested = nested && is[k + 2] == is[k + 1] * v.lengths[k];
      if (!in_place) nested = nested && os[k + 2] == os[k + 1] * v.lengths[k];
    }
    if (nested) {
      f.vector_form = true;
      return f;
    }
  }
  f.strided = is[1] != 1 || (!in_place && os[1] != 1);
  for (std::int64_t k = 0; k + 2 <= v.rank; ++k) {
    const std::int64_t packed = product(v.lengths, 0, k + 1);
    f.strided = f.strided || is[k + 2] != packed || (!in_place && os[k + 2] != packed);
  }
  const std::int64_t total = product(v.lengths, 0, v.rank);
  f.distances_shown = f.strided || (v.transforms >= 2 && (v.in_distance != total ||
                                                          (!in_place && v.out_distance != total)));
  return f;
}

// Appends share one count of free characters.
class line_builder {
public:
  explicit line_builder(char* text) : position_(text), free_(verbose_text_bytes - 1) {
    text[0] = '\0';
  }
  template <class... Args>
  void add(const char* format, Args... args) {
    position_ = append_format(position_, &free_, format, args...);
  }
  void text(const char* s) { add("%s", s); }

private:
  char* position_;
  std::size_t free_;
};

void add_strides(line_builder& b, const char* label, const std::int64_t* s, std::int64_t rank) {
  b.text(label);
  b.add("%" PRId64, s[0]);
  for (std::int64_t k = rank; k >= 1; --k) b.add(",%" PRId64, s[k]);
  b.text("},");
}

void write_head(const DFTI_DESCRIPTOR* r, verbose_direction direction, line_builder& b) {
  const bool forward = direction == verbose_direction::forward;
  b.text("FFT(");
  b.text(r->precision == dfti_single ? "s" : "d");
  b.text(r->domain == dfti_complex ? "c" : "r");
  b.text(forward ? "f" : "b");
  b.text(r->placement == dfti_inplace ? "i" : "o");
  if (r->domain == dfti_complex && r->complex_storage == dfti_real_real) b.text("/");

  const line_values v = read_values(r, direction);
  if (v.rank > 0) {
    const layout_flags f = r->domain == dfti_complex ? classify_complex(r, v)
                                                     : classify_real(r, direction, v);
    const std::int64_t top = v.rank - 1;
    if (f.strided) {
      b.add("%" PRIu64 ":%" PRId64 ":%" PRId64, static_cast<std::uint64_t>(v.lengths[top]),
            v.in_strides[top + 1], v.out_strides[top + 1]);
      for (std::int64_t k = top - 1; k >= 0; --k)
        b.add("x%" PRIu64 ":%" PRId64 ":%" PRId64, static_cast<std::uint64_t>(v.lengths[k]),
              v.in_strides[k + 1], v.out_strides[k + 1]);
    } else {
      b.add("%" PRIu64, static_cast<std::uint64_t>(v.lengths[top]));
      for (std::int64_t k = top - 1; k >= 0; --k)
        b.add("x%" PRIu64, static_cast<std::uint64_t>(v.lengths[k]));
    }
    if (v.transforms >= 2) {
      if (f.vector_form) {
        b.add("v%" PRIu64, v.transforms);
      } else {
        b.add("*%" PRIu64, v.transforms);
        if (f.distances_shown) b.add(":%" PRId64 ":%" PRId64, v.in_distance, v.out_distance);
      }
    }
    b.text(",");
    const char* first = v.stride_labels ? (forward ? "fwd_strides:{" : "bwd_strides:{")
                                         : "input_strides:{";
    const char* second = v.stride_labels ? (forward ? "bwd_strides:{" : "fwd_strides:{")
                                          : "output_strides:{";
    add_strides(b, first, v.in_strides, v.rank);
    add_strides(b, second, v.out_strides, v.rank);
    if (v.transforms >= 2 || v.in_distance != 0 || v.out_distance != 0) {
      const char* first_d = v.distance_labels ? (forward ? "fwd_distance:" : "bwd_distance:")
                                              : "input_distance:";
      const char* second_d = v.distance_labels ? (forward ? "bwd_distance:" : "fwd_distance:")
                                               : "output_distance:";
      b.text(first_d);
      b.add("%" PRId64 ",", v.in_distance);
      b.text(second_d);
      b.add("%" PRId64 ",", v.out_distance);
    }
  }
  // A NaN counts as a scale other than 1.
  if (!(r->fwd_scale == 1.0)) b.add("%s%lg,", "fScale:", r->fwd_scale);
  if (!(r->bwd_scale == 1.0)) b.add("%s%lg,", "bScale:", r->bwd_scale);
  if (r->domain != dfti_complex && r->conjugate_even_storage == dfti_complex_real) {
    const char* format = r->packed_format == dfti_ccs_format    ? "ccs"
                         : r->packed_format == dfti_pack_format ? "pack"
                                                                : "perm";
    b.add("%s%s,", "pack:", format);
  }
}

bool destroy_input_allowed(const DFTI_DESCRIPTOR* r) {
  return (r->options & option_destroy_input) != 0;
}

bool unaligned(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p) % alignment_of_aligned_data != 0;
}

void print_cpu_line(const DFTI_DESCRIPTOR* r, verbose_direction d, const void* input,
                    const void* output, double seconds) {
  char text[verbose_text_bytes];
  write_verbose_cpu_line(r, d, input, output, text);
  qez_serv_print_verbose_info(0, text, seconds);
}

}  // namespace

void write_verbose_sycl_line(const DFTI_DESCRIPTOR* r, verbose_direction direction,
                             const verbose_sycl_context& c, char* text) {
  line_builder b(text);
  write_head(r, direction, b);
  if (destroy_input_allowed(r)) b.add("%s,", "destroy_input:allow");
  if (r->offload_mode != 0) {
    b.add("%s:%s,", "offload", r->offload_mode == 1 ? "synchronous" : "asynchronous");
  } else if (r->workspace_internal == 0 && r->workspace_bytes[0] + r->workspace_bytes[1] != 0) {
    b.add("%s:%s %s,", "workspace", "externally-allocated",
          r->workspace_kind == container_usm ? "USM" : "buffer");
  }
  const bool in_place = r->placement == dfti_inplace;
  if (c.usm) {
    const bool same = in_place || std::string_view(c.input_kind) == c.output_kind;
    b.add("%s:", same ? "IO" : "I");
    b.add("%s", c.input_kind);
    b.add(" %s,", "USM");
    if (!same) {
      b.add("%s:", "O");
      b.add("%s", c.output_kind);
      b.add(" %s,", "USM");
    }
  } else {
    const bool same = in_place || c.input_sub_buffer == c.output_sub_buffer;
    b.add("%s:", same ? "IO" : "I");
    if (c.input_sub_buffer) b.text("sub-");
    b.add("%s,", "buffer");
    if (!same) {
      b.add("%s:", "O");
      if (c.output_sub_buffer) b.text("sub-");
      b.add("%s,", "buffer");
    }
  }
  b.add("%s:%s%s,", "queue", c.in_order_queue ? "in-order" : "out-of-order", ")");
}

void write_verbose_cpu_line(const DFTI_DESCRIPTOR* r, verbose_direction direction,
                            const void* input, const void* output, char* text) {
  line_builder b(text);
  write_head(r, direction, b);
  if (r->workspace_use != dfti_allow)
    b.add("%s%s,", "wSpace:", r->workspace_use == dfti_avoid ? "avoid" : "none");
  if (destroy_input_allowed(r)) b.add("%s,", "destroy_input:allow");
  std::int64_t threads = 0;
  r->methods->get_thread_limit(r, &threads);
  b.add("%s%" PRId64 ",", "tLim:", threads);
  if (unaligned(input)) b.add("%s,", "unaligned_input");
  if (output != nullptr && unaligned(output)) b.add("%s,", "unaligned_output");
  b.add("%s%p%s", "desc:", static_cast<const void*>(r), ")");
}

void print_verbose_cpu_descriptor_forward(const DFTI_DESCRIPTOR* r, const void* data,
                                          double seconds) {
  print_cpu_line(r, verbose_direction::forward, data, nullptr, seconds);
}
void print_verbose_cpu_descriptor_forward(const DFTI_DESCRIPTOR* r, const void* input,
                                          const void* output, double seconds) {
  print_cpu_line(r, verbose_direction::forward, input, output, seconds);
}
void print_verbose_cpu_descriptor_backward(const DFTI_DESCRIPTOR* r, const void* data,
                                           double seconds) {
  print_cpu_line(r, verbose_direction::backward, data, nullptr, seconds);
}
void print_verbose_cpu_descriptor_backward(const DFTI_DESCRIPTOR* r, const void* input,
                                           const void* output, double seconds) {
  print_cpu_line(r, verbose_direction::backward, input, output, seconds);
}

}  // namespace ulmara::qez::dft
