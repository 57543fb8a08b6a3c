// The host table cache: one storage per key, distinct storage per key and
// element type, the byte bound kept by dropping the least recently used
// table, a table made once however many threads ask at the same time, and a
// maker that throws leaving nothing behind. Part of the concurrency test, so
// that it runs under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dft/gpu/core/host_table_cache.hpp"

namespace {

using ulmara::qez::dft::host_table_cache;
using ulmara::qez::dft::host_table_key;

// A table of `count` floats, counting the calls that made one.
std::function<std::vector<float>()> counted_maker(std::atomic<int>& calls, std::size_t count) {
  return [&calls, count]() {
    ++calls;
    return std::vector<float>(count, static_cast<float>(count));
  };
}

TEST(HostTableCache, SameKeyGivesTheSameStorageMadeOnce) {
  host_table_cache cache(1 << 20);
  std::atomic<int> calls{0};
  const host_table_key key{"test", {16, 4}};
  const auto first = cache.get_or_make<float>(key, counted_maker(calls, 16));
  const auto second = cache.get_or_make<float>(key, counted_maker(calls, 16));
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(cache.held_bytes(), 16 * sizeof(float));
}

TEST(HostTableCache, DifferentKeysAndTypesGiveDifferentStorage) {
  host_table_cache cache(1 << 20);
  std::atomic<int> calls{0};
  const auto a = cache.get_or_make<float>({"test", {16, 4}}, counted_maker(calls, 16));
  const auto b = cache.get_or_make<float>({"test", {16, 5}}, counted_maker(calls, 16));
  const auto c = cache.get_or_make<float>({"other", {16, 4}}, counted_maker(calls, 16));
  const auto d = cache.get_or_make<double>({"test", {16, 4}}, []() { return std::vector<double>(16, 1.0); });
  EXPECT_NE(a.get(), b.get());
  EXPECT_NE(a.get(), c.get());
  EXPECT_NE(static_cast<const void*>(a.get()), static_cast<const void*>(d.get()));
  EXPECT_EQ(calls.load(), 3);
  EXPECT_EQ(cache.held_tables(), 4u);
}

TEST(HostTableCache, DropsTheLeastRecentlyUsedBeyondTheBound) {
  const std::size_t table_bytes = 256 * sizeof(float);
  host_table_cache cache(3 * table_bytes);
  std::atomic<int> calls{0};
  const auto first = cache.get_or_make<float>({"test", {0}}, counted_maker(calls, 256));
  cache.get_or_make<float>({"test", {1}}, counted_maker(calls, 256));
  cache.get_or_make<float>({"test", {2}}, counted_maker(calls, 256));
  cache.get_or_make<float>({"test", {0}}, counted_maker(calls, 256));  // 1 is now the oldest
  cache.get_or_make<float>({"test", {3}}, counted_maker(calls, 256));
  EXPECT_EQ(calls.load(), 4);
  EXPECT_EQ(cache.held_tables(), 3u);
  EXPECT_LE(cache.held_bytes(), 3 * table_bytes);

  cache.get_or_make<float>({"test", {0}}, counted_maker(calls, 256));
  EXPECT_EQ(calls.load(), 4) << "the recently used table was dropped";
  cache.get_or_make<float>({"test", {1}}, counted_maker(calls, 256));
  EXPECT_EQ(calls.load(), 5) << "the least recently used table was kept";
  EXPECT_EQ(first->size(), 256u) << "a dropped table stays valid for its holders";

  const auto oversized = cache.get_or_make<float>({"test", {9}}, counted_maker(calls, 4 * 256));
  EXPECT_EQ(oversized->size(), 4u * 256);
  EXPECT_LE(cache.held_bytes(), 3 * table_bytes);
}

TEST(HostTableCache, ConcurrentCallersShareOneMaking) {
  host_table_cache cache(1 << 20);
  std::atomic<int> calls{0};
  constexpr int thread_count = 8;
  std::vector<std::shared_ptr<const std::vector<float>>> seen(thread_count);
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t)
    threads.emplace_back([&, t]() {
      for (std::uint64_t key = 0; key < 32; ++key) {
        const auto table = cache.get_or_make<float>({"test", {key}}, counted_maker(calls, 64));
        if (key == 7) seen[t] = table;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(calls.load(), 32);
  for (const auto& table : seen) EXPECT_EQ(table.get(), seen[0].get());
}

TEST(HostTableCache, AMakerThatThrowsLeavesNothing) {
  host_table_cache cache(1 << 20);
  const host_table_key key{"test", {1}};
  EXPECT_THROW(cache.get_or_make<float>(key, []() -> std::vector<float> { throw std::runtime_error("no memory"); }),
               std::runtime_error);
  EXPECT_EQ(cache.held_tables(), 0u);
  const auto table = cache.get_or_make<float>(key, []() { return std::vector<float>(3, 2.f); });
  EXPECT_EQ(*table, std::vector<float>(3, 2.f));
}

}  // namespace
