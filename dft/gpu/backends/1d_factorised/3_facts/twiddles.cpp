// The twiddle tables, computed on the host once per configuration (the
// host table cache keeps them) and uploaded, one per class and direction:
//   class 1, entry m*F0 + k0 (m < F1*F2): s * exp(-2 pi i m k0 / N), s the
//            direction's scale;
//   class 2, entry k1*F2 + m2: exp(-2 pi i k1 m2 / (F1*F2)).
// Both hold the forward-sign factors; the backward kernels conjugate them.
#include <cmath>

#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/table_upload.hpp"
#include "dft/gpu/core/twiddle_angles.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::three_factor {

namespace {

// Entry a * width + b is scale * exp(-2 pi i a b / points).
template <class T>
struct table_writer {
  std::uint64_t points;
  std::uint64_t width;
  T scale;

  auto key_fields() const { return std::make_tuple(points, width, scale); }
  void write(T* table, std::uint64_t a, std::uint64_t b) const {
    const T angle = T(-2) * static_cast<T>(a * b) / static_cast<T>(points);
    T* entry = table + 2 * (a * width + b);
    entry[0] = cospi_of(angle) * scale;
    entry[1] = sinpi_of(angle) * scale;
  }
};

// Uploads the table of `w` over `rows` rows into `view`.
template <class T>
sycl::event upload(void* view, std::uint32_t kind, const table_writer<T>& w, std::uint64_t rows, sycl::queue& q) {
  return upload_host_table<T>(q, view, kind == workspace_buffer, w, sycl::range<2>(rows, w.width),
                              2 * rows * w.width);
}

}  // namespace

template <class T>
sycl::event bkd_write_twiddle_table_on_device(const block<T>& b, table_class c, direction d) {
  const std::uint64_t f0 = static_cast<std::uint64_t>(b.fact[pass_0]);
  const std::uint64_t f1 = static_cast<std::uint64_t>(b.fact[pass_1]);
  const std::uint64_t f2 = static_cast<std::uint64_t>(b.fact[pass_2]);
  const std::uint32_t kind = b.workspace_kind == workspace_buffer ? workspace_buffer : workspace_usm;
  void* view = kind == workspace_buffer ? static_cast<void*>(b.table_buffers[c][d]) : b.table_pointers[c][d];
  if (c == class_1) {
    const table_writer<T> w{static_cast<std::uint64_t>(b.length), f0, b.scale[d]};
    return upload<T>(view, kind, w, f1 * f2, *b.queue);
  }
  const table_writer<T> w{f1 * f2, f2, T(1)};
  return upload<T>(view, kind, w, f1, *b.queue);
}

#define QEZ_INSTANTIATE(T) \
  template sycl::event bkd_write_twiddle_table_on_device<T>(const block<T>&, table_class, direction);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::three_factor
