// Dependency tables: linking, the two insertion variants, conflict removal,
// token release and the conflict test.
#include "gpu/zorn/scoreboard/dependency_table.hpp"

#include <algorithm>
#include <limits>

#include "gpu/zorn/scoreboard/basic_blocks.hpp"

namespace ulmara::qez::zorn {

// ---------------------------------------------------------------------------
// Table structure.

void DependencyTable::clear() {
  records.clear();
  links.clear();
  for (auto& list : heads) list.fill(no_link);
}

std::size_t DependencyTable::live_count() const {
  return static_cast<std::size_t>(std::count_if(records.begin(), records.end(), [](const Dependency& d) { return d.is_live(); }));
}

bool has_pipe_depth(const Dependency& d, std::uint32_t& index) {
  if (!d.in_order() || !is_single_bit(d.pipe & 0xFFu)) return false;
  index = pipe_index(d.pipe);
  return index < in_order_pipe_indexes;
}

namespace {

std::uint32_t parts_of(const Dependency& d) {
  return !d.region.is_whole_file() && d.region.register_count > 0 ? d.region.register_count : 1u;
}

void push_front(DependencyTable& table, ListKind kind, std::uint32_t bucket, std::uint32_t link) {
  const std::uint32_t old_head = table.heads[kind][bucket];
  table.links[link].prev[kind] = head_marker + bucket;
  table.links[link].next[kind] = old_head;
  if (old_head != no_link) table.links[old_head].prev[kind] = link;
  table.heads[kind][bucket] = link;
}

bool in_list(const DependencyLink& link, ListKind kind) {
  return link.prev[kind] != no_link;
}

void remove_from_list(DependencyTable& table, ListKind kind, std::uint32_t link) {
  DependencyLink& l = table.links[link];
  if (!in_list(l, kind)) return;
  const std::uint32_t prev = l.prev[kind];
  const std::uint32_t next = l.next[kind];
  if (prev & head_marker) table.heads[kind][prev & ~head_marker] = next;
  else table.links[prev].next[kind] = next;
  if (next != no_link) table.links[next].prev[kind] = prev;
  l.prev[kind] = no_link;
  l.next[kind] = no_link;
}

// Keys of a record's token and pipe lists; false when the list does not apply.
bool token_key(const Dependency& d, std::uint32_t& key) {
  key = d.token;
  return d.has_token_bits();
}

enum class PipeKey { wait_pipe, own_pipe };

bool pipe_key(const Dependency& d, PipeKey which, std::uint32_t& key) {
  if (which == PipeKey::wait_pipe) {
    key = log2_floor(d.wait_pipe);
    return d.wait_pipe != 0;
  }
  key = pipe_index(d.pipe);
  return d.in_order();
}

void append_and_link(DependencyTable& table, Dependency record, PipeKey which) {
  record.flags |= dependency_flag::live;
  const auto d = static_cast<std::uint32_t>(table.records.size());
  table.records.push_back(record);
  const std::uint32_t parts = parts_of(record);
  const auto first_link = static_cast<std::uint32_t>(table.links.size());
  for (std::uint32_t p = 0; p < parts; ++p) {
    DependencyLink link;
    link.dependency = d;
    link.part = static_cast<std::uint8_t>(p);
    link.parts_after = static_cast<std::uint8_t>(parts - 1 - p);
    table.links.push_back(link);
    const std::uint32_t at = first_link + p;
    if (record.region.is_whole_file()) {
      if (p == 0) push_front(table, register_list, whole_file_bucket, at);
    } else if (record.region.register_count > 0) {
      const std::uint32_t reg = record.region.first_register + p;
      if (reg < whole_file_bucket) push_front(table, register_list, reg, at);
    }
  }
  std::uint32_t key = 0;
  if (token_key(record, key)) push_front(table, token_list, key, first_link);
  if (pipe_key(record, which, key)) push_front(table, pipe_list, key, first_link);
}

// Index of the first link of a record: links of one record are consecutive
// and records are appended in order, so a search by dependency index works.
std::uint32_t first_link_of(const DependencyTable& table, std::uint32_t index) {
  const auto it = std::lower_bound(table.links.begin(), table.links.end(), index,
                                   [](const DependencyLink& l, std::uint32_t d) { return l.dependency < d; });
  return static_cast<std::uint32_t>(it - table.links.begin());
}

}  // namespace

void dependency_table_retire(DependencyTable& table, std::uint32_t index) {
  Dependency& d = table.records[index];
  if (!d.is_live()) return;
  d.flags &= static_cast<std::uint8_t>(~dependency_flag::live);
  const std::uint32_t first = first_link_of(table, index);
  for (std::uint32_t l = first; l < table.links.size() && table.links[l].dependency == index; ++l) {
    remove_from_list(table, register_list, l);
    if (l == first) {
      remove_from_list(table, token_list, l);
      remove_from_list(table, pipe_list, l);
    }
  }
}

// ---------------------------------------------------------------------------
// Region arithmetic.

void subtract_masks(DependencyRegion& target, const DependencyRegion& by) {
  for (std::uint32_t i = 0; i < target.register_count && i < region_registers; ++i) {
    const std::int32_t j = static_cast<std::int32_t>(target.first_register + i) - by.first_register;
    if (j >= 0 && j < static_cast<std::int32_t>(by.register_count) && j < static_cast<std::int32_t>(region_registers))
      target.masks[i] &= ~by.masks[static_cast<std::size_t>(j)];
  }
}

namespace {

bool masks_overlap(const DependencyRegion& a, const DependencyRegion& b) {
  for (std::uint32_t i = 0; i < a.register_count && i < region_registers; ++i) {
    const std::int32_t j = static_cast<std::int32_t>(a.first_register + i) - b.first_register;
    if (j >= 0 && j < static_cast<std::int32_t>(b.register_count) && j < static_cast<std::int32_t>(region_registers) &&
        (a.masks[i] & b.masks[static_cast<std::size_t>(j)]) != 0)
      return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Insertion checks.

enum class Variant { insert, live };

bool token_match(const Dependency& n, const Dependency& e, Variant variant) {
  if (!e.has_token_bits()) return false;
  if (!(e.flags & dependency_flag::token_write) && (n.flags & dependency_flag::token_write)) return false;
  if (e.token != n.token) return false;
  return variant == Variant::insert || n.token != no_token || e.producer == n.producer;
}

// Same-class test: may `older` be trimmed by `newer`? (Test A with N = older,
// E = newer; test B is the same with the roles exchanged.)
bool same_class(const Dependency& trimmed, const Dependency& by, Variant variant) {
  const bool tw = trimmed.is_write(), bw = by.is_write();
  if (variant == Variant::insert) {
    if (!tw && bw) return false;
    if (trimmed.in_order() && !bw && tw) return false;
    if (by.pipe != trimmed.pipe || by.wait_pipe != trimmed.wait_pipe) return false;
  } else {
    if (tw && !bw) return false;
    if (by.pipe != trimmed.pipe) return false;
  }
  if (trimmed.has_token_bits() && !token_match(trimmed, by, variant)) return false;
  if (!trimmed.in_order()) return true;
  const std::uint32_t k = pipe_index(trimmed.pipe);
  if (variant == Variant::insert) {
    if (trimmed.counters[0] < by.counters[0]) return false;
    if ((trimmed.wait_distance == 0) != (by.wait_distance == 0)) return false;
    return trimmed.wait_distance == 0 ||
           by.wait_distance - trimmed.wait_distance + (trimmed.counters[k] - by.counters[k]) >= 0;
  }
  return by.counters[0] >= trimmed.counters[0] && by.counters[k] >= trimmed.counters[k];
}

enum class Walk { go_on, covered };

// One existing entry against the newcomer (steps A and B).
Walk check_entry(DependencyTable& table, std::uint32_t e_index, Dependency& n, bool trim_new, bool trim_old,
                 Variant variant) {
  if (trim_new && same_class(n, table.records[e_index], variant)) {
    const Dependency& e = table.records[e_index];
    if (n.region.is_whole_file() && e.region.is_whole_file()) return Walk::covered;
    if (n.region.is_arf() == e.region.is_arf() && !n.region.is_whole_file()) {
      if (e.region.is_whole_file()) {
        n.region.make_empty();
        return Walk::covered;
      }
      subtract_masks(n.region, e.region);
    }
    if (n.region.is_empty()) return Walk::covered;
  }
  if (trim_old && same_class(table.records[e_index], n, variant)) {
    Dependency& e = table.records[e_index];
    if (e.region.is_arf() == n.region.is_arf() && !e.region.is_whole_file()) {
      if (n.region.is_whole_file()) e.region.make_empty();
      else subtract_masks(e.region, n.region);
    }
    if (e.region.is_empty() || (e.region.is_whole_file() && n.region.is_whole_file()))
      dependency_table_retire(table, e_index);
  }
  return Walk::go_on;
}

Walk walk_list(DependencyTable& table, ListKind kind, std::uint32_t bucket, Dependency& n, bool trim_new,
               bool trim_old, Variant variant) {
  Walk result = Walk::go_on;
  for_each_in_list(table, kind, bucket, [&](std::uint32_t e) {
    result = check_entry(table, e, n, trim_new, trim_old, variant);
    return result == Walk::go_on;
  });
  return result;
}

Walk walk_registers(DependencyTable& table, Dependency& n, bool trim_new, bool trim_old, Variant variant) {
  const std::uint32_t first = n.region.first_register;
  const std::uint32_t count = n.region.register_count;
  for (std::uint32_t r = first; r < first + count && r < whole_file_bucket; ++r)
    if (walk_list(table, register_list, r, n, trim_new, trim_old, variant) == Walk::covered) return Walk::covered;
  return Walk::go_on;
}

}  // namespace

bool dependency_table_insert(DependencyTable& table, Dependency record, bool trim_new, bool trim_old) {
  Walk walk = Walk::go_on;
  if (record.has_token_bits())
    walk = walk_list(table, token_list, record.token, record, trim_new, trim_old, Variant::insert);
  else if (!record.region.is_whole_file())
    walk = walk_registers(table, record, trim_new, trim_old, Variant::insert);
  else if (record.wait_pipe != 0)
    walk = walk_list(table, pipe_list, log2_floor(record.wait_pipe), record, trim_new, trim_old, Variant::insert);
  if (walk == Walk::covered) return false;
  append_and_link(table, record, PipeKey::wait_pipe);
  return true;
}

bool dependency_table_insert_live(DependencyTable& table, Dependency record, bool trim_new, bool trim_old) {
  Walk walk = Walk::go_on;
  if (record.has_token_bits() && (record.token != no_token || record.region.is_whole_file()))
    walk = walk_list(table, token_list, record.token, record, trim_new, trim_old, Variant::live);
  else if (record.region.is_whole_file()) {
    if (record.in_order())
      walk = walk_list(table, pipe_list, pipe_index(record.pipe), record, trim_new, trim_old, Variant::live);
  } else {
    walk = walk_registers(table, record, trim_new, trim_old, Variant::live);
  }
  if (walk == Walk::covered) return false;
  append_and_link(table, record, PipeKey::own_pipe);
  return true;
}

// ---------------------------------------------------------------------------
// Conflicts.

bool dependencies_conflict(const Dependency& a, const Dependency& b) {
  if (b.is_wait()) {
    if (a.has_token_bits() && b.has_token_bits() && a.token == b.token &&
        ((a.flags & dependency_flag::token_read) || (b.flags & dependency_flag::token_write)))
      return true;
    if (is_out_of_order(a.pipe) || a.pipe == pipe::none) return false;
    if ((((a.pipe & 0xFFu) | 1u) & b.wait_pipe) == 0) return false;
    if ((a.pipe & 0xFFu) == 0) return b.wait_distance == 0;
    const std::uint32_t k = pipe_index(a.pipe);
    return b.counters[k] - a.counters[k] >= b.wait_distance;
  }
  const bool partial = a.region.is_partial() || b.region.is_partial();
  if (a.is_write() && b.is_write()) {
    if (!partial && a.in_order() && a.pipe == b.pipe) return false;
  } else if (!a.is_write() && !b.is_write()) {
    return false;
  } else if (!a.is_write() && b.is_write()) {
    if (a.pipe == b.pipe && a.pipe != pipe::other_out_of_order) return false;
  }
  std::uint32_t k = 0;
  if (has_pipe_depth(a, k) && b.counters[k] - a.counters[k] >= pipe_depths[k]) return false;
  if (b.region.is_arf() && (b.region.first_register < 96 || b.region.first_register > 111) &&
      (!b.is_write() || b.region.hw == hw::dorik))
    return false;
  if (a.region.is_arf() != b.region.is_arf()) return false;
  if (a.region.is_whole_file() || b.region.is_whole_file()) return true;
  return masks_overlap(a.region, b.region);
}

bool region_range_within(const DependencyRegion& outer, const DependencyRegion& inner) {
  if (outer.is_whole_file() || inner.is_whole_file() || outer.is_arf() != inner.is_arf()) return false;
  if (outer.first_register > inner.first_register) return false;
  return outer.first_register + outer.register_count >= inner.first_register + inner.register_count;
}

namespace {

void clear_list(DependencyTable& table, ListKind kind, std::uint32_t bucket, const Dependency& r,
                std::vector<Dependency>* removed, bool unlink) {
  for_each_in_list(table, kind, bucket, [&](std::uint32_t e_index) {
    const Dependency& e = table.records[e_index];
    std::uint32_t k = 0;
    if (unlink && has_pipe_depth(e, k) && r.counters[k] - e.counters[k] >= pipe_depths[k]) {
      dependency_table_retire(table, e_index);
    } else if (dependencies_conflict(e, r)) {
      if (removed) removed->push_back(e);
      if (unlink) dependency_table_retire(table, e_index);
    }
    return true;
  });
}

}  // namespace

void dependency_table_clear_overlapped(DependencyTable& table, const Dependency& r, std::vector<Dependency>* removed,
                                       bool unlink) {
  if (r.is_wait()) {
    if (r.has_token_bits() && r.token != no_token) clear_list(table, token_list, r.token, r, removed, unlink);
    if (r.wait_pipe & 1u) {
      for (std::uint32_t p = 0; p < counter_count; ++p) clear_list(table, pipe_list, p, r, removed, unlink);
    } else if (r.wait_pipe != 0) {
      clear_list(table, pipe_list, log2_floor(r.wait_pipe), r, removed, unlink);
      clear_list(table, pipe_list, 0, r, removed, unlink);
    }
    return;
  }
  if (r.region.is_empty()) return;
  const bool whole = r.region.is_whole_file();
  const std::uint32_t first = whole ? 0 : r.region.first_register;
  const std::uint32_t end = whole ? whole_file_bucket : first + r.region.register_count;
  for (std::uint32_t reg = first; reg < end && reg < whole_file_bucket; ++reg)
    clear_list(table, register_list, reg, r, removed, unlink);
  clear_list(table, register_list, whole_file_bucket, r, removed, unlink);
}

std::uint32_t dependency_table_clear_tokens(DependencyTable& table, std::uint32_t mask, bool include_writes) {
  std::uint32_t result = mask;
  for (std::uint32_t t = 0; t < 32; ++t) {
    if (!(mask & (1u << t))) continue;
    for_each_in_list(table, token_list, t, [&](std::uint32_t e) {
      const std::uint8_t f = table.records[e].flags;
      if ((f & dependency_flag::token_read) || (include_writes && (f & dependency_flag::token_write))) {
        dependency_table_retire(table, e);
        result &= ~(1u << t);
      }
      return true;
    });
  }
  return result;
}

// ---------------------------------------------------------------------------
// swsb_helper

void swsb_helper(SwsbHelperContext& context, bool emit) {
  if (context.operands.empty()) return;
  Dependency probe;
  probe.flags = dependency_flag::live;
  probe.counters = context.counters;
  context.removed.clear();
  BasicBlock& block = *context.block;
  for (const auto& [write, region] : context.operands) {
    probe.flags = static_cast<std::uint8_t>(write ? (probe.flags | dependency_flag::write)
                                                  : (probe.flags & ~dependency_flag::write));
    probe.region = *region;
    dependency_table_clear_overlapped(block.out, probe, &context.removed, true);
  }
  if (!emit) return;
  std::int32_t distance = std::numeric_limits<std::int32_t>::max();
  std::uint32_t wait_pipe = 0;
  std::uint32_t tokens = 0;
  for (const Dependency& e : context.removed) {
    if (e.in_order()) {
      const std::uint32_t k = pipe_index(e.pipe);
      distance = std::min(distance, probe.counters[k] - e.counters[k]);
      const std::uint32_t p = e.pipe & 0xFFu;
      wait_pipe = wait_pipe == 0 || wait_pipe == p ? p : 1u;
    } else if (e.token < 32 && (e.flags & dependency_flag::token_write)) {
      tokens |= 1u << e.token;
    }
  }
  if (wait_pipe != 0) {
    const auto d = static_cast<std::uint32_t>(std::clamp(distance, 0, 7));
    block.sync_requests.push_back({block.end, SwsbInfo(static_cast<std::uint16_t>((d << 8) + ((log2_floor(wait_pipe) + 1) << 12))), 0,
                                   SyncKind::setting_only, 0});
  }
  if (tokens != 0) block.sync_requests.push_back({block.end, SwsbInfo(), 0, SyncKind::wait_destinations, tokens});
}

}  // namespace ulmara::qez::zorn
