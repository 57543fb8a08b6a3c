// The twiddle tables, computed on the host once per configuration (the
// process-wide host table cache keeps them) and uploaded, one per class and
// direction:
//   class 1, entry m*F0 + k0 (m < F1*F2): s * exp(-2 pi i m k0 / N), s the
//            direction's scale;
//   class 2, entry k1*F2 + m2: exp(-2 pi i k1 m2 / (F1*F2)).
// Both hold the forward-sign factors; the backward kernels conjugate them.
#include <cmath>

#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/host_table_cache.hpp"
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

  void write(T* table, std::uint64_t a, std::uint64_t b) const {
    const T angle = T(-2) * static_cast<T>(a * b) / static_cast<T>(points);
    T* entry = table + 2 * (a * width + b);
    entry[0] = cospi_of(angle) * scale;
    entry[1] = sinpi_of(angle) * scale;
  }
};

// The table of `w` over `rows` x `w.width` entries, `stored` elements of T
// (zeros past the entries), made on the host.
template <class T>
std::vector<T> make_table(const table_writer<T>& w, std::uint64_t rows, std::size_t stored) {
  std::vector<T> table(stored, T(0));
  write_host_table(w, sycl::range<2>(rows, w.width), table.data());
  return table;
}

// Uploads the table of `w` over `rows` rows into `view`, from the host table
// cache, making it there first if no earlier commit did.
template <class T>
sycl::event upload(void* view, std::uint32_t kind, const table_writer<T>& w, std::uint64_t rows, sycl::queue& q) {
  const bool into_buffer = kind == workspace_buffer;
  const std::size_t stored = host_table_size<T>(view, into_buffer, 2 * rows * w.width);
  const host_table_key key{"three_factor", {w.points, w.width, rows, key_bits_of(w.scale), stored}};
  const auto table = host_table_cache::process().get_or_make<T>(key, [&]() { return make_table(w, rows, stored); });
  return submit_table_copy<T>(q, view, into_buffer, table, {}, table_writer_location(__LINE__));
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
