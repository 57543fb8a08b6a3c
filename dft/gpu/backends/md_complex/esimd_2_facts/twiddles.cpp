// Twiddle tables of the ESIMD plan. Entry (i, j) of the table of a pass of
// N = fact0 x fact1 points is s x (cospi(2ij/N), sinpi(2ij/N)): fact0 rows of
// padded fact1 entries (padding columns written with the same formula), or,
// for a column-batch pass, each of the fact0 x fact1 entries 8 times in a row.
// s is the direction's scale in pass 0 and 1 elsewhere. Tables are written
// by SYCL kernels on the device, except single-precision tables of 4096
// points, which are computed on the host in double precision once per
// table (the host table cache keeps them) and uploaded; the upload's event
// orders the computes after it as a device write's would.
#include <tuple>

#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_internal.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/table_upload.hpp"

namespace ulmara::qez::dft::esimd_2_facts {
namespace {

// The angle 2ij/N in double precision, rounded to T (cospi and sinpi then
// run in T).
template <class T>
T half_turns(std::uint64_t i, std::uint64_t j, std::uint64_t points) {
  return static_cast<T>(2.0 * static_cast<double>(i * j) / static_cast<double>(points));
}
template <class T>
void write_entry(T* entry, T turns, T scale) {
  entry[0] = scale * sycl::cospi(turns);
  entry[1] = scale * sycl::sinpi(turns);
}
// Entry (i x fact1 + j) x columns + k, k < columns: one copy per column.
template <class T>
void write_column_copies(T* target, std::uint64_t i, std::uint64_t j, std::uint64_t fact0, std::uint64_t fact1,
                         std::uint64_t columns, T scale) {
  T value[2];
  write_entry(value, half_turns<T>(i, j, fact0 * fact1), scale);
  for (std::uint64_t k = 0; k < columns; ++k) {
    T* entry = target + 2 * ((i * fact1 + j) * columns + k);
    entry[0] = value[0];
    entry[1] = value[1];
  }
}

// The host-made tables: item (i, j) sets entry (i, j) of `width` entries a
// row, `copies` times in a row (8 for a column-batch table, else 1), each
// s x (cospi, sinpi)(2ij/N) evaluated in double and stored as T.
template <class T>
struct host_table_writer {
  std::uint64_t points;  // N = fact0 x fact1
  std::uint64_t width;   // padded fact1 (plain) or fact1 (column batch)
  std::uint64_t copies;
  T scale;

  auto key_fields() const { return std::make_tuple(points, width, copies, scale); }
  void write(T* table, std::uint64_t i, std::uint64_t j) const {
    const double turns = 2.0 * static_cast<double>(i * j) / static_cast<double>(points);
    const T re = static_cast<T>(static_cast<double>(scale) * sycl::cospi(turns));
    const T im = static_cast<T>(static_cast<double>(scale) * sycl::sinpi(turns));
    for (std::uint64_t k = 0; k < copies; ++k) {
      T* entry = table + 2 * ((i * width + j) * copies + k);
      entry[0] = re;
      entry[1] = im;
    }
  }
};

}  // namespace
}  // namespace ulmara::qez::dft::esimd_2_facts

// ---- Table writers (SYCL kernels; their types name them) ------------------------------

namespace e2f = ulmara::qez::dft::esimd_2_facts;

template <class T>
struct twidlTableGenC2CeSIMDUsm {
  T* target;
  std::uint64_t fact0, fact1, padded_fact1;
  T scale;
  void operator()(sycl::item<2> it) const {
    e2f::write_entry(target + 2 * (it[0] * padded_fact1 + it[1]), e2f::half_turns<T>(it[0], it[1], fact0 * fact1),
                     scale);
  }
};
template <class T>
struct twidlTableGenC2CeSIMDBuf {
  sycl::accessor<T, 1, sycl::access_mode::write, sycl::target::device> target;
  std::uint64_t fact0, fact1, padded_fact1;
  T scale;
  void operator()(sycl::item<2> it) const {
    e2f::write_entry(target.get_pointer() + 2 * (it[0] * padded_fact1 + it[1]),
                     e2f::half_turns<T>(it[0], it[1], fact0 * fact1), scale);
  }
};

template <class T>
struct twidlTableGenC2CeSIMDcolBatchUsm {
  std::uint64_t fact1, fact0;
  T* target;
  std::uint64_t columns;
  T scale;
  void operator()(sycl::item<2> it) const { e2f::write_column_copies(target, it[0], it[1], fact0, fact1, columns, scale); }
};
template <class T>
struct twidlTableGenC2CeSIMDcolBatchBuf {
  std::uint64_t fact1, fact0;
  sycl::accessor<T, 1, sycl::access_mode::write, sycl::target::device> target;
  std::uint64_t columns;
  T scale;
  void operator()(sycl::item<2> it) const {
    e2f::write_column_copies(target.get_pointer(), it[0], it[1], fact0, fact1, columns, scale);
  }
};

namespace ulmara::qez::dft {

using namespace esimd_2_facts;

namespace {

sycl::detail::code_location location(const char* function, unsigned long line) {
  return sycl::detail::code_location(__FILE__, function, line, 0);
}

struct table_shape {
  std::uint64_t fact0, fact1, padded_fact1;
  bool column_batch;
};

template <class T>
table_shape shape_of(const esimd_2_facts_plan<T>& p, std::uint64_t pass) {
  return table_shape{p.fact0[pass], p.fact1[pass], padded_factor(p.fact1[pass]), p.column_batch[pass] != 0};
}

template <class T>
sycl::event submit_usm_table(sycl::queue& q, T* target, const table_shape& t, T scale) {
  if (t.column_batch)
    return q.submit(
        [&](sycl::handler& cgh) {
          cgh.parallel_for(sycl::range<2>(t.fact0, t.fact1),
                           twidlTableGenC2CeSIMDcolBatchUsm<T>{t.fact1, t.fact0, target, lanes, scale});
        },
        location("init_colbatch_twiddles_on_device", __LINE__));
  return q.submit(
      [&](sycl::handler& cgh) {
        cgh.parallel_for(sycl::range<2>(t.fact0, t.padded_fact1),
                         twidlTableGenC2CeSIMDUsm<T>{target, t.fact0, t.fact1, t.padded_fact1, scale});
      },
      location("init_twiddles_on_device", __LINE__));
}

template <class T>
sycl::event submit_buffer_table(sycl::queue& q, sycl::buffer<T, 1>& target, const table_shape& t, T scale) {
  using write_accessor = sycl::accessor<T, 1, sycl::access_mode::write, sycl::target::device>;
  if (t.column_batch)
    return q.submit(
        [&](sycl::handler& cgh) {
          write_accessor out(target, cgh);
          cgh.parallel_for(sycl::range<2>(t.fact0, t.fact1),
                           twidlTableGenC2CeSIMDcolBatchBuf<T>{t.fact1, t.fact0, out, lanes, scale});
        },
        location("init_colbatch_twiddles_on_device", __LINE__));
  return q.submit(
      [&](sycl::handler& cgh) {
        write_accessor out(target, cgh);
        cgh.parallel_for(sycl::range<2>(t.fact0, t.padded_fact1),
                         twidlTableGenC2CeSIMDBuf<T>{out, t.fact0, t.fact1, t.padded_fact1, scale});
      },
      location("init_twiddles_on_device", __LINE__));
}

template <class T>
std::uint64_t table_reals(const table_shape& t) {
  return 2 * t.fact0 * (t.column_batch ? lanes * t.fact1 : t.padded_fact1);
}

// The table of `t` made on the host (or found in the host table cache) and
// uploaded into a USM slice (`into_buffer` false) or a byte view of a
// buffer slice.
template <class T>
sycl::event upload_host_made_table(sycl::queue& q, void* target, bool into_buffer, const table_shape& t, T scale) {
  const std::uint64_t width = t.column_batch ? t.fact1 : t.padded_fact1;
  const host_table_writer<T> writer{t.fact0 * t.fact1, width, t.column_batch ? lanes : 1, scale};
  return upload_host_table<T>(q, target, into_buffer, writer, sycl::range<2>(t.fact0, width), table_reals<T>(t),
                              location("copy", __LINE__));
}

template <class T>
sycl::event upload_usm_table_from_host(sycl::queue& q, T* target, const table_shape& t, T scale) {
  return upload_host_made_table(q, target, false, t, scale);
}

template <class T>
sycl::event upload_buffer_table_from_host(sycl::queue& q, sycl::buffer<T, 1>& target, const table_shape& t,
                                          T scale) {
  byte_buffer bytes = target.template reinterpret<char>();
  return upload_host_made_table(q, &bytes, true, t, scale);
}

}  // namespace

template <class T>
void esimd_2_facts_plan<T>::create_twiddle_table(std::uint32_t mode) {
  if (queue == nullptr) return;  // not committed: no slices to write
  for (std::uint64_t d = 0; d < rank; ++d) {
    const table_shape shape = shape_of(*this, d);
    const bool on_host = std::is_same<T, float>::value && lengths[d] == 4096;
    for (int direction = 0; direction < 2; ++direction) {
      const int slice = slice_of(d, direction);
      const T scale = d > 0 ? T(1) : direction == 0 ? forward_scale : backward_scale;
      sycl::event& done = events[event_of(rank, d, direction)];
      if (mode == 0 && table_pointers[slice]) {
        done = on_host ? upload_usm_table_from_host(*queue, table_pointers[slice], shape, scale)
                       : submit_usm_table(*queue, table_pointers[slice], shape, scale);
      } else if (mode == 1 && table_buffers[slice]) {
        done = on_host ? upload_buffer_table_from_host(*queue, *table_buffers[slice], shape, scale)
                       : submit_buffer_table(*queue, *table_buffers[slice], shape, scale);
      }
    }
  }
}

template void esimd_2_facts_plan<float>::create_twiddle_table(std::uint32_t);
template void esimd_2_facts_plan<double>::create_twiddle_table(std::uint32_t);

}  // namespace ulmara::qez::dft
