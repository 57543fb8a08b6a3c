// The four-factor twiddle tables, computed on the host and uploaded. Angles
// are reduced exactly in integers and evaluated in long double, so every
// entry is the exact value rounded once to the table's precision.
#include <cmath>

#include "dft/gpu/backends/1d_factorised/4_facts/twiddles.hpp"
#include "dft/gpu/core/table_upload.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::four_factor {

namespace {

constexpr long double pi_ld = 3.141592653589793238462643383279502884L;

// exp(-2 pi i p / q) for 0 <= p, as (cos, -sin) in long double.
struct unit_root {
  long double re;
  long double im;
};
unit_root root_of(std::uint64_t p, std::uint64_t q) {
  const long double a = 2 * pi_ld * static_cast<long double>(p % q) / static_cast<long double>(q);
  return {std::cos(a), -std::sin(a)};
}

// Item (j, k) of the writer's range writes entry j * fact0 + k.
template <class T>
struct sub_length_writer {
  std::uint64_t fact0;
  std::uint64_t length;

  auto key_fields() const { return std::make_tuple(fact0, length); }

  void write(T* table, std::uint64_t j, std::uint64_t k) const {
    const unit_root w = root_of(j * k, length);
    T* entry = table + 2 * (j * fact0 + k);
    entry[0] = static_cast<T>(w.re);
    entry[1] = static_cast<T>(w.im);
  }
};

// Item (g, s) writes the F0' rows of its block, a lane pair per column.
template <class T>
struct cross_writer {
  cross_table_shape shape;
  T scale;

  auto key_fields() const { return std::make_tuple(shape, scale); }

  void write(T* table, std::uint64_t g, std::uint64_t s) const {
    const std::int64_t lanes = shape.sub_group_size;
    for (std::int64_t r = 0; r < shape.fact0; ++r) {
      const std::uint64_t v = s + static_cast<std::uint64_t>(shape.fact1 * r);
      for (std::int64_t c = 0; c < lanes / 2; ++c) {
        const std::uint64_t column = g * static_cast<std::uint64_t>(lanes / 2) + static_cast<std::uint64_t>(c);
        const unit_root w = root_of(v * column, static_cast<std::uint64_t>(shape.length));
        const T re = static_cast<T>(scale * w.re);
        const T im = static_cast<T>(scale * w.im);
        T* real_slots = table + cross_slot(shape, static_cast<std::int64_t>(g), static_cast<std::int64_t>(s), r, 2 * c);
        T* imaginary_slots = real_slots + lanes;
        real_slots[0] = re;
        real_slots[1] = re;
        imaginary_slots[0] = im;
        imaginary_slots[1] = -im;
      }
    }
  }
};

template <class T, class Writer>
sycl::event upload(sycl::queue& q, const table_view& view, const Writer& w, sycl::range<2> range, std::size_t values) {
  const bool into_buffer = view.kind == workspace_buffer;
  void* target = into_buffer ? static_cast<void*>(view.buffer) : view.pointer;
  return upload_host_table<T>(q, target, into_buffer, w, range, values);
}

}  // namespace

cross_table_shape cross_shape_of(const pass_plan& pass2, std::int64_t length) {
  return {pass2.work_groups(), pass2.sub_group_size, pass2.fact0, pass2.fact1, length};
}

template <class T>
sycl::event write_sub_length_table(sycl::queue& queue, const table_view& view, std::int64_t fact0,
                                   std::int64_t fact1) {
  const sub_length_writer<T> w{static_cast<std::uint64_t>(fact0), static_cast<std::uint64_t>(fact0 * fact1)};
  return upload<T>(queue, view, w, sycl::range<2>(static_cast<size_t>(fact1), static_cast<size_t>(fact0)),
                   static_cast<std::size_t>(2 * fact0 * fact1));
}

template <class T>
sycl::event write_cross_table(sycl::queue& queue, const table_view& view, const cross_table_shape& shape, T scale) {
  const cross_writer<T> w{shape, scale};
  return upload<T>(queue, view, w,
                   sycl::range<2>(static_cast<size_t>(shape.work_groups), static_cast<size_t>(shape.fact1)),
                   static_cast<std::size_t>(cross_slot(shape, shape.work_groups, 0, 0, 0)));
}

#define QEZ_INSTANTIATE(T)                                                                                  \
  template sycl::event write_sub_length_table<T>(sycl::queue&, const table_view&, std::int64_t, std::int64_t); \
  template sycl::event write_cross_table<T>(sycl::queue&, const table_view&, const cross_table_shape&, T);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::four_factor
