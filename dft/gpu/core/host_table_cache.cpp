#include "dft/gpu/core/host_table_cache.hpp"

namespace ulmara {
namespace qez {
namespace dft {

host_table_cache& host_table_cache::process() {
  static host_table_cache cache(process_bound_bytes);
  return cache;
}

std::shared_ptr<const void> host_table_cache::find_or_make(const host_table_key& key,
                                                           const std::function<made_table()>& maker) {
  const std::shared_ptr<slot> table_slot = slot_of(key);
  {
    std::lock_guard<std::mutex> making(table_slot->making);
    if (table_slot->ready) return table_slot->value.table;
    table_slot->value = maker();
    table_slot->ready = true;
  }
  count_made(key, table_slot);
  return table_slot->value.table;
}

// The slot of `key`, a new one if the key is not held; the key becomes the
// most recently used.
std::shared_ptr<host_table_cache::slot> host_table_cache::slot_of(const host_table_key& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(key);
  if (found != entries_.end()) {
    recency_.splice(recency_.begin(), recency_, found->second.recency);
    return found->second.table_slot;
  }
  recency_.push_front(key);
  entry fresh{std::make_shared<slot>(), recency_.begin()};
  return entries_.emplace(key, fresh).first->second.table_slot;
}

// Counts the bytes of the table just made in `made`, unless its key was
// dropped meanwhile, and drops what goes beyond the bound.
void host_table_cache::count_made(const host_table_key& key, const std::shared_ptr<slot>& made) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(key);
  if (found == entries_.end() || found->second.table_slot != made || found->second.counted) return;
  found->second.counted = true;
  held_bytes_ += made->value.bytes;
  evict_beyond_bound();
}

// Drops the least recently used tables until the held bytes are within the
// bound. A table still being made counts nothing and stays.
void host_table_cache::evict_beyond_bound() {
  auto oldest = recency_.end();
  while (held_bytes_ > bound_bytes_ && oldest != recency_.begin()) {
    --oldest;
    auto found = entries_.find(*oldest);
    if (!found->second.counted) continue;
    held_bytes_ -= found->second.table_slot->value.bytes;
    entries_.erase(found);
    oldest = recency_.erase(oldest);
  }
}

std::size_t host_table_cache::held_bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_bytes_;
}

std::size_t host_table_cache::held_tables() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t tables = 0;
  for (const auto& held : entries_) tables += held.second.counted ? 1 : 0;
  return tables;
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
