// Uploads a table held in the host table cache into the device memory of a
// table: a USM address or a byte sub-buffer of a buffer workspace.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara {
namespace qez {
namespace dft {

// Elements of T the host copy of a table of `values` holds: a copy into a
// sub-buffer fills the whole view, the part past the table with zeros.
template <class T>
std::size_t uploaded_table_size(void* target, bool into_buffer, std::size_t values) {
  if (!into_buffer) return values;
  const std::size_t view_bytes = static_cast<byte_buffer*>(target)->byte_size();
  return std::max(values, (view_bytes + sizeof(T) - 1) / sizeof(T));
}

// Submits the copy of `table` (uploaded_table_size elements) into `target`
// and returns its event. The table stays alive until the copy has run.
template <class T>
sycl::event upload_shared_table(sycl::queue& q, void* target, bool into_buffer,
                                const std::shared_ptr<const std::vector<T>>& table,
                                const sycl::detail::code_location& where) {
  sycl::event copied;
  if (into_buffer) {
    byte_buffer& view = *static_cast<byte_buffer*>(target);
    const char* bytes = reinterpret_cast<const char*>(table->data());
    copied = q.submit(
        [&](sycl::handler& cgh) {
          sycl::accessor<char, 1, sycl::access_mode::write, sycl::target::device> slice(view, cgh);
          cgh.copy(bytes, slice);
        },
        where);
  } else {
    copied = q.memcpy(target, table->data(), table->size() * sizeof(T), std::vector<sycl::event>{}, where);
  }
  q.submit(
      [&](sycl::handler& cgh) {
        cgh.depends_on(copied);
        cgh.host_task([table]() {});
      },
      where);
  return copied;
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
