// Plans shared between commits of the same direction layout. An FFTW plan
// run through the new-array execute functions never changes, so descriptors
// of one configuration can share it, and a commit of a configuration made
// before in the process costs a lookup instead of a planning.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/threading/engine/fftw_plans.hpp"
#include "platform/threading/engine/layout.hpp"

namespace ulmara {
namespace qez {
namespace cpu_engine {

// Everything a plan depends on, as one list of words.
struct plan_key {
  std::vector<std::int64_t> words;
  bool operator==(const plan_key& other) const { return words == other.words; }
};

plan_key key_of(const direction_layout& layout, bool double_precision,
                bool destroy_input_allowed, int threads, planning_effort effort);

// The most recently used plans, at most `capacity`; a plan leaves the cache
// when it is the least recently used, and lives on while a commit holds it.
// Safe to call from any thread.
class plan_cache {
public:
  static constexpr std::size_t capacity = 32;

  std::shared_ptr<const direction_plan> find(const plan_key& key);
  void keep(plan_key key, std::shared_ptr<const direction_plan> plan);

private:
  struct entry {
    plan_key key;
    std::shared_ptr<const direction_plan> plan;
  };
  std::mutex mutex_;
  std::vector<entry> entries_;  // most recently used last
};

plan_cache& shared_plan_cache();

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
