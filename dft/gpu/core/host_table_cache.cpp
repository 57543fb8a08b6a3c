#include "dft/gpu/core/host_table_cache.hpp"

namespace ulmara {
namespace qez {
namespace dft {

host_table_cache& host_table_cache::process() {
  static host_table_cache cache(process_bound_bytes);
  return cache;
}

std::shared_ptr<const void> host_table_cache::find_held(const host_table_key& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(key);
  if (found == entries_.end()) return nullptr;
  recency_.splice(recency_.begin(), recency_, found->second.recency);
  ++found_;
  return found->second.table;
}

void host_table_cache::keep_held(const host_table_key& key, std::shared_ptr<const void> table, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(key);
  if (found != entries_.end()) {
    recency_.splice(recency_.begin(), recency_, found->second.recency);
    return;
  }
  recency_.push_front(key);
  entries_.emplace(key, entry{std::move(table), bytes, recency_.begin()});
  held_bytes_ += bytes;
  ++kept_;
  evict_beyond_bound();
}

// Drops the least recently used tables until the held bytes are within the
// bound.
void host_table_cache::evict_beyond_bound() {
  while (held_bytes_ > bound_bytes_ && !recency_.empty()) {
    auto oldest = entries_.find(recency_.back());
    held_bytes_ -= oldest->second.bytes;
    entries_.erase(oldest);
    recency_.pop_back();
  }
}

std::size_t host_table_cache::held_bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_bytes_;
}

std::size_t host_table_cache::held_tables() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

std::vector<host_table_key> host_table_cache::held_keys() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<host_table_key>(recency_.begin(), recency_.end());
}

std::size_t host_table_cache::found_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return found_;
}

std::size_t host_table_cache::kept_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return kept_;
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
