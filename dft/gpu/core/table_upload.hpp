// Twiddle tables are computed on the host, in long double where an entry
// needs it (device code may not use long double nor the maths of <cmath>),
// and copied to the device memory of the table: a USM address or a byte
// sub-buffer of a buffer workspace.
//
// The copy is only submitted, never waited for: later commands on the table
// are ordered after it by the returned event (USM) or by the buffer's
// accessors. The host storage is handed to a host task that depends on the
// copy, so it lives exactly until the copy has completed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara {
namespace qez {
namespace dft {

// Tables of this many entries and more are shared out among host threads by
// rows, as a device runs a writer's items in parallel; below, a thread costs
// more than it saves.
constexpr std::size_t threaded_table_entries = std::size_t(1) << 14;

// Rows [first, last) of `range`.
template <class T, class Writer>
void write_table_rows(const Writer& writer, T* table, sycl::range<2> range, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last; ++i)
    for (std::size_t j = 0; j < range[1]; ++j) writer.write(table, i, j);
}

// Joins its threads when it goes, however the scope is left.
struct joined_threads {
  std::vector<std::thread> threads;
  ~joined_threads() {
    for (std::thread& t : threads) t.join();
  }
};

// `values` elements of T, entry by entry as `writer.write(table, i, j)`
// sets them for every (i, j) of `range`; what no writer call sets stays 0.
// Each (i, j) sets entries of its own, so rows may be written at once.
template <class T, class Writer>
std::vector<T> make_host_table(const Writer& writer, sycl::range<2> range, std::size_t values) {
  std::vector<T> table(values, T(0));
  const std::size_t threads =
      range.size() < threaded_table_entries
          ? 1
          : std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), range[0]);
  const std::size_t rows_per_thread = threads == 0 ? 0 : (range[0] + threads - 1) / threads;
  {
    joined_threads workers;
    for (std::size_t first = rows_per_thread; first < range[0]; first += rows_per_thread)
      workers.threads.emplace_back(write_table_rows<T, Writer>, std::cref(writer), table.data(), range, first,
                                   std::min(range[0], first + rows_per_thread));
    write_table_rows(writer, table.data(), range, 0, std::min(range[0], rows_per_thread));
  }
  return table;
}

// Submits the copy of `table` into `target` (a byte_buffer view when
// `into_buffer`, else a USM address) and returns its event.
template <class T>
sycl::event upload_table(sycl::queue& q, void* target, bool into_buffer, std::vector<T> table,
                         const sycl::detail::code_location& where) {
  sycl::event copied;
  std::shared_ptr<std::vector<T>> storage;
  if (into_buffer) {
    byte_buffer& view = *static_cast<byte_buffer*>(target);
    // The copy fills the whole view: a table shorter than its slice is
    // padded with zeros.
    table.resize(std::max(table.size(), (view.byte_size() + sizeof(T) - 1) / sizeof(T)), T(0));
    storage = std::make_shared<std::vector<T>>(std::move(table));
    const char* bytes = reinterpret_cast<const char*>(storage->data());
    copied = q.submit(
        [&](sycl::handler& cgh) {
          sycl::accessor<char, 1, sycl::access_mode::write, sycl::target::device> slice(view, cgh);
          cgh.copy(bytes, slice);
        },
        where);
  } else {
    storage = std::make_shared<std::vector<T>>(std::move(table));
    const void* source = storage->data();
    const std::size_t bytes = storage->size() * sizeof(T);
    copied = q.submit([&](sycl::handler& cgh) { cgh.memcpy(target, source, bytes); }, where);
  }
  q.submit(
      [&](sycl::handler& cgh) {
        cgh.depends_on(copied);
        cgh.host_task([storage]() {});
      },
      where);
  return copied;
}

// The table of `writer` over `range` (`values` elements of T), made on the
// host and uploaded into `target`.
template <class T, class Writer>
sycl::event upload_host_table(sycl::queue& q, void* target, bool into_buffer, const Writer& writer,
                              sycl::range<2> range, std::size_t values,
                              const sycl::detail::code_location& where = table_writer_location(__LINE__)) {
  return upload_table<T>(q, target, into_buffer, make_host_table<T>(writer, range, values), where);
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
