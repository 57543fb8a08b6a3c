// A process-wide cache of tables computed on the host (twiddle factors and
// kin), so that committing a configuration whose tables were made before
// only uploads them again. A table is keyed by everything that decides its
// contents; once made it never changes, and every user shares the one copy.
// The cache holds at most a bound of bytes, dropping the tables used least
// recently; a dropped table lives on with those still holding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

namespace ulmara {
namespace qez {
namespace dft {

// What decides a table's contents: the kind of table (the writer that makes
// it) and the integers it depends on (lengths, widths, padded size, bit
// patterns of scale factors). The element type is added by get_or_make.
struct host_table_key {
  std::string kind;
  std::vector<std::uint64_t> values;

  bool operator<(const host_table_key& other) const {
    return kind != other.kind ? kind < other.kind : values < other.values;
  }
  bool operator==(const host_table_key& other) const { return kind == other.kind && values == other.values; }
};

// The bit pattern of a floating-point value, for keys: tables made with
// scales that differ in any bit differ.
template <class T>
std::uint64_t key_bits_of(T value) {
  static_assert(sizeof(T) <= sizeof(std::uint64_t), "a key value holds at most 64 bits");
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof(T));
  return bits;
}

class host_table_cache {
 public:
  // The bound of the process-wide cache: 64 MiB, room for the tables of a
  // few 2^18-point double configurations.
  static constexpr std::size_t process_bound_bytes = std::size_t(64) << 20;

  explicit host_table_cache(std::size_t bound_bytes) : bound_bytes_(bound_bytes) {}
  host_table_cache(const host_table_cache&) = delete;
  host_table_cache& operator=(const host_table_cache&) = delete;

  // The cache every backend shares.
  static host_table_cache& process();

  // The table of `key`: the cached one, or the one `maker` returns, made
  // once however many threads ask at the same time. A maker that throws
  // leaves nothing behind; the next caller makes the table again.
  template <class T>
  std::shared_ptr<const std::vector<T>> get_or_make(const host_table_key& key,
                                                    const std::function<std::vector<T>()>& maker) {
    host_table_key typed = key;
    typed.kind += '/';
    typed.kind += typeid(T).name();
    std::shared_ptr<const void> table = find_or_make(typed, [&maker]() {
      auto made = std::make_shared<const std::vector<T>>(maker());
      return made_table{made, made->size() * sizeof(T)};
    });
    return std::static_pointer_cast<const std::vector<T>>(table);
  }

  // Bytes of the tables held now, and their number.
  std::size_t held_bytes() const;
  std::size_t held_tables() const;

 private:
  struct made_table {
    std::shared_ptr<const void> table;
    std::size_t bytes;
  };
  // One key's table, made under a lock of its own so that other keys are
  // not held up while it is computed.
  struct slot {
    std::mutex making;
    bool ready = false;
    made_table value;
  };
  struct entry {
    std::shared_ptr<slot> table_slot;
    std::list<host_table_key>::iterator recency;
    bool counted = false;  // its bytes are in held_bytes_
  };

  std::shared_ptr<const void> find_or_make(const host_table_key& key, const std::function<made_table()>& maker);
  std::shared_ptr<slot> slot_of(const host_table_key& key);
  void count_made(const host_table_key& key, const std::shared_ptr<slot>& made);
  void evict_beyond_bound();

  const std::size_t bound_bytes_;
  mutable std::mutex mutex_;
  std::map<host_table_key, entry> entries_;
  std::list<host_table_key> recency_;  // most recently used first
  std::size_t held_bytes_ = 0;
};

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
