// The host table cache: a kept table found again by its key, keys that
// differ in any field (writer type, element type, range, stored size, a
// writer field, a bit of a scale) kept apart, the first table of a key kept,
// the byte bound kept by dropping the least recently used table, and many
// threads finding and keeping at once. Part of the concurrency test, so that
// it runs under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "dft/gpu/core/host_table_cache.hpp"

namespace {

using ulmara::qez::dft::host_table_cache;
using ulmara::qez::dft::host_table_key;
using ulmara::qez::dft::host_table_key_of;

// Two writer types with the same fields: tables of different families.
struct first_writer {
  std::uint64_t points;
  float scale;
  auto key_fields() const { return std::make_tuple(points, scale); }
};
struct second_writer {
  std::uint64_t points;
  float scale;
  auto key_fields() const { return std::make_tuple(points, scale); }
};
// A writer with a nested record, flattened into the key.
struct nested_writer {
  first_writer inner;
  std::int64_t width;
  auto key_fields() const { return std::make_tuple(inner, width); }
};

template <class T = float>
host_table_key key_of(std::uint64_t points, std::uint64_t rows = 4, std::uint64_t columns = 8,
                      std::uint64_t stored = 64, float scale = 1.f) {
  return host_table_key_of<T>(first_writer{points, scale}, rows, columns, stored);
}

template <class T = float>
std::shared_ptr<const std::vector<T>> table_of(std::size_t count, T value) {
  return std::make_shared<const std::vector<T>>(count, value);
}

TEST(HostTableCache, AKeptTableIsFoundByItsKey) {
  host_table_cache cache(1 << 20);
  EXPECT_EQ(cache.find<float>(key_of(16)), nullptr);
  const auto kept = table_of(16, 2.f);
  cache.keep<float>(key_of(16), kept);
  EXPECT_EQ(cache.find<float>(key_of(16)).get(), kept.get());
  EXPECT_EQ(cache.found_count(), 1u);
  EXPECT_EQ(cache.kept_count(), 1u);
  EXPECT_EQ(cache.held_bytes(), 16 * sizeof(float));
}

TEST(HostTableCache, KeysDifferingInAnyFieldAreKeptApart) {
  const std::vector<host_table_key> keys = {
      key_of(16),
      key_of<double>(16),
      key_of(17),
      key_of(16, 5),
      key_of(16, 4, 9),
      key_of(16, 4, 8, 65),
      key_of(16, 4, 8, 64, -1.f),
      key_of(16, 4, 8, 64, 1.f + 1e-7f),
      host_table_key_of<float>(second_writer{16, 1.f}, 4, 8, 64),
      host_table_key_of<float>(nested_writer{{16, 1.f}, 0}, 4, 8, 64),
      host_table_key_of<float>(nested_writer{{16, 1.f}, 1}, 4, 8, 64),
  };
  for (std::size_t a = 0; a < keys.size(); ++a)
    for (std::size_t b = 0; b < keys.size(); ++b) {
      EXPECT_EQ(keys[a] == keys[b], a == b) << a << " and " << b;
      EXPECT_FALSE(keys[a] < keys[b] && keys[b] < keys[a]) << a << " and " << b;
    }
  EXPECT_TRUE(key_of(16) == key_of(16));
  EXPECT_FALSE(key_of(16, 4, 8, 64, 0.f) == key_of(16, 4, 8, 64, -0.f)) << "scales are keyed by their bits";
}

TEST(HostTableCache, TheFirstTableOfAKeyStays) {
  host_table_cache cache(1 << 20);
  const auto first = table_of(8, 1.f);
  cache.keep<float>(key_of(8), first);
  cache.keep<float>(key_of(8), table_of(8, 1.f));
  EXPECT_EQ(cache.find<float>(key_of(8)).get(), first.get());
  EXPECT_EQ(cache.kept_count(), 1u);
  EXPECT_EQ(cache.held_tables(), 1u);
}

TEST(HostTableCache, AKeyOfAnotherElementTypeIsRefused) {
  host_table_cache cache(1 << 20);
  EXPECT_THROW(cache.find<double>(key_of<float>(8)), std::logic_error);
  EXPECT_THROW(cache.keep<double>(key_of<float>(8), table_of<double>(8, 1.0)), std::logic_error);
  EXPECT_EQ(cache.held_tables(), 0u);
}

TEST(HostTableCache, DropsTheLeastRecentlyUsedBeyondTheBound) {
  const std::size_t table_bytes = 256 * sizeof(float);
  host_table_cache cache(3 * table_bytes);
  const auto first = table_of(256, 0.f);
  cache.keep<float>(key_of(0), first);
  cache.keep<float>(key_of(1), table_of(256, 1.f));
  cache.keep<float>(key_of(2), table_of(256, 2.f));
  EXPECT_NE(cache.find<float>(key_of(0)), nullptr);  // 1 is now the oldest
  cache.keep<float>(key_of(3), table_of(256, 3.f));
  EXPECT_EQ(cache.held_tables(), 3u);
  EXPECT_LE(cache.held_bytes(), 3 * table_bytes);
  EXPECT_NE(cache.find<float>(key_of(0)), nullptr) << "the recently used table was dropped";
  EXPECT_EQ(cache.find<float>(key_of(1)), nullptr) << "the least recently used table was kept";
  EXPECT_EQ(first->size(), 256u) << "a table stays valid for its holders";

  cache.keep<float>(key_of(9), table_of(4 * 256, 9.f));
  EXPECT_LE(cache.held_bytes(), 3 * table_bytes) << "a table beyond the bound is not held";
}

TEST(HostTableCache, ConcurrentFindersAndKeepersAgree) {
  host_table_cache cache(1 << 20);
  constexpr int thread_count = 8;
  constexpr std::uint64_t key_count = 32;
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t)
    threads.emplace_back([&cache]() {
      for (std::uint64_t k = 0; k < key_count; ++k) {
        auto table = cache.find<float>(key_of(k));
        if (!table) {
          table = table_of(64, static_cast<float>(k));
          cache.keep<float>(key_of(k), table);
        }
        EXPECT_EQ((*table)[63], static_cast<float>(k));
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(cache.kept_count(), key_count);
  EXPECT_EQ(cache.held_tables(), key_count);
  for (std::uint64_t k = 0; k < key_count; ++k) {
    const auto table = cache.find<float>(key_of(k));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(*table, std::vector<float>(64, static_cast<float>(k)));
  }
}

}  // namespace
