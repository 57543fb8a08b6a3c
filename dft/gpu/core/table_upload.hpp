// Twiddle tables are computed on the host, in long double where an entry
// needs it (device code may not use long double nor the maths of <cmath>),
// and copied to the device memory of the table: a USM address or a byte
// sub-buffer of a buffer workspace. Every table goes through the
// process-wide host table cache: a configuration committed before finds its
// tables there and only uploads them.
//
// Nothing here waits: a table not in the cache is made by a host task, which
// then keeps it in the cache, and the copy depends on it, so commit returns
// as soon as both are submitted. Later commands on the table are ordered
// after the copy by the returned event (USM) or by the buffer's accessors.
// The host storage is shared by the cache, the task that makes it and the
// copies that read it: each copy holds it (upload_sources) until the copy
// has completed, without a command of its own, so a second commit's copies
// follow each other on the device with no host step between them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/core/host_table_cache.hpp"
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

// Fills `table` entry by entry as `writer.write(table, i, j)` sets them for
// every (i, j) of `range`. Each (i, j) sets entries of its own, so rows may
// be written at once.
template <class T, class Writer>
void write_host_table(const Writer& writer, sycl::range<2> range, T* table) {
  const std::size_t threads =
      range.size() < threaded_table_entries
          ? 1
          : std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), range[0]);
  const std::size_t rows_per_thread = threads == 0 ? 0 : (range[0] + threads - 1) / threads;
  joined_threads workers;
  for (std::size_t first = rows_per_thread; first < range[0]; first += rows_per_thread)
    workers.threads.emplace_back(write_table_rows<T, Writer>, std::cref(writer), table, range, first,
                                 std::min(range[0], first + rows_per_thread));
  write_table_rows(writer, table, range, 0, std::min(range[0], rows_per_thread));
}

// Host storage that submitted copies read, held until each copy has
// completed: the host table cache may drop a table at any time. Held
// storage of completed copies is let go whenever another copy is held, so
// at most the storage of the copies still in flight (and of those that
// completed since the last upload) stays held.
class upload_sources {
 public:
  // The sources of every queue's table copies; lives until exit.
  static upload_sources& process();

  // Holds `storage` until `copied` has completed.
  void hold(const sycl::event& copied, std::shared_ptr<const void> storage);

 private:
  struct held_source {
    sycl::event copied;
    std::shared_ptr<const void> storage;
  };
  void let_go_of_completed();

  std::mutex mutex_;
  std::vector<held_source> held_;
};

// Elements of T the host storage of a table of `values` needs: a copy into
// a sub-buffer fills the whole view, the part past the table with zeros.
template <class T>
std::size_t host_table_size(void* target, bool into_buffer, std::size_t values) {
  if (!into_buffer) return values;
  const std::size_t view_bytes = static_cast<byte_buffer*>(target)->byte_size();
  return std::max(values, (view_bytes + sizeof(T) - 1) / sizeof(T));
}

// Submits the copy of `storage` into `target` (a byte_buffer view when
// `into_buffer`, else a USM address) after `ready`, and holds the storage
// until the copy has completed; returns the copy's event.
template <class T>
sycl::event submit_table_copy(sycl::queue& q, void* target, bool into_buffer,
                              const std::shared_ptr<const std::vector<T>>& storage,
                              const std::vector<sycl::event>& ready,
                              const sycl::detail::code_location& where) {
  sycl::event copied;
  if (into_buffer) {
    byte_buffer& view = *static_cast<byte_buffer*>(target);
    const char* bytes = reinterpret_cast<const char*>(storage->data());
    copied = q.submit(
        [&](sycl::handler& cgh) {
          cgh.depends_on(ready);
          sycl::accessor<char, 1, sycl::access_mode::write, sycl::target::device> slice(view, cgh);
          cgh.copy(bytes, slice);
        },
        where);
  } else {
    const void* source = storage->data();
    const std::size_t bytes = storage->size() * sizeof(T);
    copied = q.submit(
        [&](sycl::handler& cgh) {
          cgh.depends_on(ready);
          cgh.memcpy(target, source, bytes);
        },
        where);
  }
  upload_sources::process().hold(copied, storage);
  return copied;
}

// The table of `writer` over `range` (`values` elements of T; what no
// writer call sets is 0) uploaded into `target`: the cached one, or one made
// on the host by a host task, which keeps it in the cache for later commits.
// The writer lists its fields in key_fields() (std::make_tuple of them all),
// which with its type, the range and the stored size make the cache key.
template <class T, class Writer>
sycl::event upload_host_table(sycl::queue& q, void* target, bool into_buffer, const Writer& writer,
                              sycl::range<2> range, std::size_t values,
                              const sycl::detail::code_location& where = table_writer_location(__LINE__)) {
  const std::size_t stored = host_table_size<T>(target, into_buffer, values);
  const host_table_key key = host_table_key_of<T>(writer, range[0], range[1], stored);
  if (auto held = host_table_cache::process().find<T>(key))
    return submit_table_copy<T>(q, target, into_buffer, held, {}, where);
  auto storage = std::make_shared<std::vector<T>>(stored, T(0));
  const sycl::event made = q.submit(
      [&](sycl::handler& cgh) {
        cgh.host_task([storage, writer, range, key]() {
          write_host_table(writer, range, storage->data());
          host_table_cache::process().keep<T>(key, storage);
        });
      },
      where);
  return submit_table_copy<T>(q, target, into_buffer, storage, {made}, where);
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
