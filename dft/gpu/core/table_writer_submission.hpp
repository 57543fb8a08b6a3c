// The submission of a twiddle-table writer shared by the 1D backends: one
// kernel over a 2-D range whose work-item (i, j) calls
// `writer.write(table, i, j)`, the table being a USM address or a byte
// sub-buffer of a buffer workspace.
#pragma once

#include <sycl/sycl.hpp>

#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara {
namespace qez {
namespace dft {

// Submits `writer` over `range` into `target`: a byte_buffer view when
// `into_buffer`, else a USM table of T. UsmName and BufferName name the
// kernel of each container form.
template <class UsmName, class BufferName, class T, class Writer>
sycl::event submit_table_writer(sycl::queue& q, void* target, bool into_buffer, const Writer& writer,
                                sycl::range<2> range) {
  if (into_buffer) {
    auto* bytes_buffer = static_cast<byte_buffer*>(target);
    return q.submit(
        [&](sycl::handler& cgh) {
          sycl::accessor<char, 1, sycl::access_mode::write, sycl::target::device> bytes(*bytes_buffer, cgh);
          cgh.parallel_for<BufferName>(
              range, [=](sycl::id<2> i) { writer.write(reinterpret_cast<T*>(&bytes[0]), i[0], i[1]); });
        },
        table_writer_location(__LINE__));
  }
  T* table = static_cast<T*>(target);
  return q.submit(
      [&](sycl::handler& cgh) {
        cgh.parallel_for<UsmName>(range, [=](sycl::id<2> i) { writer.write(table, i[0], i[1]); });
      },
      table_writer_location(__LINE__));
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
