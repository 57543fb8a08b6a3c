// A process-wide cache of tables computed on the host (twiddle factors and
// kin), so that committing a configuration whose tables were made before
// only uploads them again. A table is keyed by everything that decides its
// contents; once kept it never changes, and every user shares the one copy.
// The cache holds at most a bound of bytes, dropping the tables used least
// recently; a dropped table lives on with those still holding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

namespace ulmara {
namespace qez {
namespace dft {

// What decides a table's contents. A table is what its writer (a value type
// whose write(table, i, j) sets the entries of item (i, j)) leaves in
// `stored` zeroed elements after running over rows x columns items, so it
// is a function of the writer's type, the writer's fields, the range and
// the stored size, and nothing else. The writer's type names the family and
// the kind of table (every family has writer types of its own) and its
// element type, so keys of two families or two precisions never meet.
struct host_table_key {
  std::type_index writer;   // the writer's type
  std::type_index element;  // the stored element type
  std::uint64_t rows;       // the writer's range
  std::uint64_t columns;
  std::uint64_t stored;  // elements stored, zeros past those the writer sets
  // The writer's fields in the order its key_fields() lists them, nested
  // records flattened, floating-point values as bit patterns (tables made
  // with scales that differ in any bit differ).
  std::vector<std::uint64_t> writer_fields;

  bool operator<(const host_table_key& other) const { return fields() < other.fields(); }
  bool operator==(const host_table_key& other) const { return fields() == other.fields(); }

 private:
  using tied_fields = std::tuple<const std::type_index&, const std::type_index&, const std::uint64_t&,
                                 const std::uint64_t&, const std::uint64_t&, const std::vector<std::uint64_t>&>;
  tied_fields fields() const { return std::tie(writer, element, rows, columns, stored, writer_fields); }
};

// The bit pattern of a floating-point value, for keys.
template <class T>
std::uint64_t key_bits_of(T value) {
  static_assert(sizeof(T) <= sizeof(std::uint64_t), "a key value holds at most 64 bits");
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof(T));
  return bits;
}

// Appends `field` to a key: integers, enumerations and floating-point values
// as themselves, a record through the fields its key_fields() lists. A record
// whose listed fields take fewer bytes than the record holds has left a field
// out, and two of its tables could then share a key: that does not compile.
template <class Field>
void append_key_fields(std::vector<std::uint64_t>& out, const Field& field) {
  if constexpr (std::is_floating_point<Field>::value) {
    out.push_back(key_bits_of(field));
  } else if constexpr (std::is_integral<Field>::value || std::is_enum<Field>::value) {
    out.push_back(static_cast<std::uint64_t>(field));
  } else {
    using listed = decltype(field.key_fields());
    static_assert(sizeof(listed) == sizeof(Field), "key_fields() must list every field of the record");
    std::apply([&out](const auto&... f) { (append_key_fields(out, f), ...); }, field.key_fields());
  }
}

// The key of the table of `writer` over rows x columns items, `stored`
// elements of T.
template <class T, class Writer>
host_table_key host_table_key_of(const Writer& writer, std::uint64_t rows, std::uint64_t columns,
                                 std::uint64_t stored) {
  host_table_key key{typeid(Writer), typeid(T), rows, columns, stored, {}};
  append_key_fields(key.writer_fields, writer);
  return key;
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

  // The table of `key` if it is held (it becomes the most recently used),
  // else null.
  template <class T>
  std::shared_ptr<const std::vector<T>> find(const host_table_key& key) {
    expect_element<T>(key);
    return std::static_pointer_cast<const std::vector<T>>(find_held(key));
  }

  // Holds `table`, complete, as the table of `key`, unless one is held for
  // the key already (the same contents: that one stays).
  template <class T>
  void keep(const host_table_key& key, std::shared_ptr<const std::vector<T>> table) {
    expect_element<T>(key);
    const std::size_t bytes = table->size() * sizeof(T);
    keep_held(key, std::move(table), bytes);
  }

  // Bytes of the tables held now, and their number.
  std::size_t held_bytes() const;
  std::size_t held_tables() const;
  // Since the cache was made: finds that gave a held table, and tables kept.
  std::size_t found_count() const;
  std::size_t kept_count() const;
  // The keys of the tables held now, most recently used first.
  std::vector<host_table_key> held_keys() const;

 private:
  struct entry {
    std::shared_ptr<const void> table;
    std::size_t bytes;
    std::list<host_table_key>::iterator recency;
  };

  template <class T>
  static void expect_element(const host_table_key& key) {
    if (key.element != std::type_index(typeid(T)))
      throw std::logic_error("host_table_cache: a key of another element type");
  }
  std::shared_ptr<const void> find_held(const host_table_key& key);
  void keep_held(const host_table_key& key, std::shared_ptr<const void> table, std::size_t bytes);
  void evict_beyond_bound();

  const std::size_t bound_bytes_;
  mutable std::mutex mutex_;
  std::map<host_table_key, entry> entries_;
  std::list<host_table_key> recency_;  // most recently used first
  std::size_t held_bytes_ = 0;
  std::size_t found_ = 0;
  std::size_t kept_ = 0;
};

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
