// Outstanding register dependencies of one basic block: the Dependency
// record, the indexed DependencyTable with its register, token and pipe
// lists, and the table operations of the scoreboard analysis.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "gpu/zorn/scoreboard/instruction_model.hpp"
#include "gpu/zorn/swsb.hpp"

namespace ulmara::qez::zorn {

// Counters in order: in-order, float, integer, long, math, scalar, all.
inline constexpr std::size_t counter_count = 7;
inline constexpr std::size_t all_instructions_counter = 6;
using Counters = std::array<std::int32_t, counter_count>;

namespace dependency_flag {
inline constexpr std::uint8_t token_read = 1;   // the token covers a source read
inline constexpr std::uint8_t token_write = 2;  // the token covers a destination write
inline constexpr std::uint8_t write = 4;        // the access is a write
inline constexpr std::uint8_t wait = 8;         // describes what an instruction waits for
inline constexpr std::uint8_t live = 16;
inline constexpr std::uint8_t token_bits = token_read | token_write;
}  // namespace dependency_flag

inline constexpr std::uint8_t no_token = 255;

// Pipe depths by in-order pipe index (single, float, integer, long, math,
// scalar): a dependency that many instructions old is resolved.
inline constexpr std::array<std::int32_t, in_order_pipe_indexes> pipe_depths{11, 11, 11, 15, 19, 11};

struct Dependency {
  std::uint32_t iteration_stamp = 0;
  PipeCode pipe = 0;
  std::uint16_t latency_estimate = 0;
  Counters counters{};
  std::uint32_t producer = 0;
  std::uint8_t token = 0;
  std::uint8_t flags = 0;
  std::uint8_t wait_pipe = 0;
  std::uint8_t wait_distance = 0;
  DependencyRegion region;

  bool is_live() const { return (flags & dependency_flag::live) != 0; }
  bool is_write() const { return (flags & dependency_flag::write) != 0; }
  bool is_wait() const { return (flags & dependency_flag::wait) != 0; }
  bool has_token_bits() const { return (flags & dependency_flag::token_bits) != 0; }
  bool in_order() const { return is_in_order(pipe); }
};

// Pipe depth of an in-order record whose pipe is one pipe of index <= 5;
// false for any other record.
bool has_pipe_depth(const Dependency& d, std::uint32_t& index);

inline constexpr std::uint32_t no_link = 0xFFFFFFFFu;
inline constexpr std::uint32_t head_marker = 0x80000000u;
inline constexpr std::size_t bucket_count = 513;
inline constexpr std::uint32_t whole_file_bucket = 512;

enum ListKind : std::size_t { register_list = 0, token_list = 1, pipe_list = 2, list_kinds = 3 };

struct DependencyLink {
  std::uint32_t dependency = 0;
  std::uint8_t part = 0;
  std::uint8_t parts_after = 0;
  std::array<std::uint32_t, list_kinds> prev{no_link, no_link, no_link};
  std::array<std::uint32_t, list_kinds> next{no_link, no_link, no_link};
};

struct DependencyTable {
  std::vector<Dependency> records;
  std::vector<DependencyLink> links;
  std::array<std::array<std::uint32_t, bucket_count>, list_kinds> heads;

  DependencyTable() { clear(); }
  // Empties the table: vectors cleared, every head 0xFFFFFFFF.
  void clear();
  std::size_t live_count() const;
};

// One instruction's added synchronisation.
enum class SyncKind : std::uint32_t { setting_only = 0, wait_sources = 2, wait_destinations = 3 };

struct SyncRequest {
  std::uint32_t instruction = 0;
  SwsbInfo swsb;
  std::uint16_t carried = 0;
  SyncKind kind = SyncKind::setting_only;
  std::uint32_t token_mask = 0;
};

namespace dummy_move_type {
inline constexpr std::uint8_t integer = 160;
inline constexpr std::uint8_t float_pipe = 167;
inline constexpr std::uint8_t long_pipe = 198;
}  // namespace dummy_move_type

struct DummyMoveRequest {
  std::uint32_t instruction = 0;
  SwsbInfo swsb;
  std::uint16_t carried = 0;
  std::uint16_t source_register = 0;
  std::uint8_t first_of_series = 0;
  std::uint8_t type = dummy_move_type::integer;
};

// Insertion keyed by the record's wait pipe; false when the record was
// covered by existing entries and not inserted.
bool dependency_table_insert(DependencyTable& table, Dependency record, bool trim_new, bool trim_old);
// Insertion keyed by the record's own pipe, for live-out and live-in sets.
bool dependency_table_insert_live(DependencyTable& table, Dependency record, bool trim_new, bool trim_old);
// Finds the live entries that conflict with `record`, reports them into
// `removed` and retires them when `unlink` is set.
void dependency_table_clear_overlapped(DependencyTable& table, const Dependency& record,
                                       std::vector<Dependency>* removed, bool unlink);
// Retires entries whose token is in `mask`; returns the tokens not found.
std::uint32_t dependency_table_clear_tokens(DependencyTable& table, std::uint32_t mask, bool include_writes);
bool dependencies_conflict(const Dependency& a, const Dependency& b);
bool region_range_within(const DependencyRegion& outer, const DependencyRegion& inner);
// Removes from `target` every bit that `by` covers, register by register.
void subtract_masks(DependencyRegion& target, const DependencyRegion& by);
// Retires one record (clears its live bit and unlinks it).
void dependency_table_retire(DependencyTable& table, std::uint32_t index);

// Visits the live entries of one list in order; the visitor may retire the
// entry it is given. Returns false when the visitor asked to stop.
template <class Visit>
bool for_each_in_list(DependencyTable& table, ListKind kind, std::uint32_t bucket, Visit&& visit) {
  std::uint32_t link = table.heads[kind][bucket];
  while (link != no_link) {
    const std::uint32_t next = table.links[link].next[kind];
    const std::uint32_t d = table.links[link].dependency;
    if (table.records[d].is_live() && !visit(d)) return false;
    link = next;
  }
  return true;
}

struct BasicBlock;

// Operands of one access set: {write flag, region}.
using OperandList = std::vector<std::pair<std::uint32_t, const DependencyRegion*>>;

struct SwsbHelperContext {
  OperandList operands;
  Counters counters{};
  std::vector<Dependency> removed;
  BasicBlock* block = nullptr;
};

// Clears the block's live-out table of what the operands conflict with and,
// with `emit`, turns the removed records into sync requests at the block's
// end.
void swsb_helper(SwsbHelperContext& context, bool emit);

}  // namespace ulmara::qez::zorn
