#include "platform/threading/engine/plan_cache.hpp"

#include <algorithm>
#include <utility>

namespace ulmara {
namespace qez {
namespace cpu_engine {

namespace {

void append_side(std::vector<std::int64_t>& w, const side_layout& s, const direction_layout& l) {
  w.push_back(s.offset);
  w.insert(w.end(), s.strides, s.strides + l.rank);
  w.insert(w.end(), s.distances, s.distances + l.batch_rank);
}

}  // namespace

plan_key key_of(const direction_layout& l, bool double_precision, bool destroy_input_allowed,
                int threads, planning_effort effort) {
  plan_key key;
  std::vector<std::int64_t>& w = key.words;
  w = {static_cast<std::int64_t>(l.kind), l.sign, l.rank, l.batch_rank, l.in_place ? 1 : 0,
       double_precision ? 1 : 0, destroy_input_allowed ? 1 : 0, threads,
       static_cast<std::int64_t>(effort)};
  std::int64_t scale_bits;
  static_assert(sizeof(scale_bits) == sizeof(l.scale), "the scale is kept as its bits");
  std::copy_n(reinterpret_cast<const char*>(&l.scale), sizeof(l.scale),
              reinterpret_cast<char*>(&scale_bits));
  w.push_back(scale_bits);
  w.insert(w.end(), l.lengths, l.lengths + l.rank);
  w.insert(w.end(), l.counts, l.counts + l.batch_rank);
  append_side(w, l.input, l);
  append_side(w, l.output, l);
  return key;
}

std::shared_ptr<const direction_plan> plan_cache::find(const plan_key& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const entry& e) { return e.key == key; });
  if (it == entries_.end()) return nullptr;
  // Move the entry to the most recently used end.
  std::rotate(it, it + 1, entries_.end());
  return entries_.back().plan;
}

void plan_cache::keep(plan_key key, std::shared_ptr<const direction_plan> plan) {
  // An evicted plan is destroyed after the lock is released: destroying a
  // plan takes FFTW's planner lock.
  std::shared_ptr<const direction_plan> evicted;
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() == capacity) {
    evicted = std::move(entries_.front().plan);
    entries_.erase(entries_.begin());
  }
  entries_.push_back({std::move(key), std::move(plan)});
}

plan_cache& shared_plan_cache() {
  static plan_cache* cache = new plan_cache;  // lives to the process's end
  return *cache;
}

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
