// The twiddle tables, computed on the host and uploaded:
//   main, entry i*F0 + j (i < F1*F2, j < F0): s * exp(-2 pi i j / N), s the
//         direction's scale;
//   sub,  entry i*F1 + j (i < F2, j < F1):    exp(-2 pi i j / (F1*F2)).
// Both directions hold the forward-sign factors; the backward kernel
// conjugates them.

#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/reduced_unit_root.hpp"
#include "dft/gpu/core/table_upload.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::n_fact_colbatch {

namespace {

// Entry (i, j) of the range {rows, width} is entry i * width + j =
// scale * exp(-2 pi i j / points). The product is reduced modulo `points`
// first, so that large indices lose no accuracy.
template <class T>
struct table_writer {
  std::uint64_t points;
  std::uint64_t width;
  T scale;

  auto key_fields() const { return std::make_tuple(points, width, scale); }

  void write(T* table, std::uint64_t i, std::uint64_t j) const {
    long double re, im;
    reduced_unit_root(i * j, points, &re, &im);
    T* entry = table + 2 * (i * width + j);
    entry[0] = static_cast<T>(re) * scale;
    entry[1] = static_cast<T>(im) * scale;
  }
};

// The table of `range` rows of `range[1]` entries.
template <class T>
sycl::event upload(void* view, std::int64_t kind, const table_writer<T>& w, sycl::range<2> range, sycl::queue& q) {
  return upload_host_table<T>(q, view, kind == workspace_buffer, w, range, 2 * range.size());
}

}  // namespace

template <class T>
sycl::event bkd_write_twiddle_table_on_device(const block<T>& b, table_kind t, direction d) {
  const std::uint64_t f0 = static_cast<std::uint64_t>(b.factors[0]);
  const std::uint64_t f1 = static_cast<std::uint64_t>(b.factors[1]);
  const std::uint64_t f2 = static_cast<std::uint64_t>(b.factors[2]);
  const bool buffers = b.workspace_kind == workspace_buffer;
  if (t == table_main) {
    void* view = buffers ? static_cast<void*>(b.main_buffers[d]) : b.main_pointers[d];
    const table_writer<T> w{static_cast<std::uint64_t>(b.length), f0, b.scale[d]};
    return upload<T>(view, b.workspace_kind, w, sycl::range<2>(f1 * f2, f0), *b.queue);
  }
  void* view = buffers ? static_cast<void*>(b.sub_buffers[d]) : b.sub_pointers[d];
  const table_writer<T> w{f1 * f2, f1, T(1)};
  return upload<T>(view, b.workspace_kind, w, sycl::range<2>(f2, f1), *b.queue);
}

#define QEZ_INSTANTIATE(T) \
  template sycl::event bkd_write_twiddle_table_on_device<T>(const block<T>&, table_kind, direction);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::n_fact_colbatch
