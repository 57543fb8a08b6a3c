// The per-block scoreboard analysis. One BlockAnalysis walks one block in one
// pass; the two field widths share the procedure and differ only where the
// rules name the 10-bit variant.
#include "gpu/zorn/scoreboard/analysis.hpp"

#include <algorithm>
#include <climits>
#include <optional>

#include "gpu/zorn/scoreboard/annotations.hpp"

namespace ulmara::qez::zorn {
namespace {

// ---------------------------------------------------------------------------
// Small helpers.

constexpr std::uint32_t marker_mask = 0x80u;
constexpr std::uint32_t group_bit = 32;
constexpr std::uint32_t mask_in_dword3_bit = 46;  // sync / directive 17 / branch flush control
constexpr std::uint32_t settled_dword0_mask = 0x8F000000u;
constexpr std::uint32_t settled_dword0_value = 0x80000000u;
constexpr std::uint32_t long_type_code = 11;
constexpr std::uint32_t matrix_columns = 8;

constexpr std::uint32_t bit(std::uint32_t t) { return t < 32 ? 1u << t : 0u; }
constexpr std::uint32_t lowest(std::uint32_t mask) {
  std::uint32_t t = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++t;
  }
  return t;
}
constexpr std::uint32_t highest(std::uint32_t mask) { return log2_floor(mask); }
constexpr std::uint32_t pipe_number(std::uint32_t mask) { return mask == 0 ? 0 : log2_floor(mask) + 1; }
constexpr std::uint32_t token_mask(std::int32_t tokens) {
  return tokens >= 32 ? 0xFFFFFFFFu : (1u << tokens) - 1u;
}

bool is_send_pipe(PipeCode p) { return (p & pipe::out_of_order_bits) == pipe::send_base; }

// SFID class of a send, for the Harix workaround; 0 for anything else.
std::uint32_t sfid_class(PipeCode p) {
  if (!is_send_pipe(p)) return 0;
  const std::uint32_t sfid = p & 0xFFu;
  if (sfid == 9 || sfid == 10 || sfid == 12 || sfid == 14 || sfid == 15) return 1;
  return 2;
}

// Distance wait value: Dorik 0x0100, newer 0x1100 (distance 1, all pipes).
SwsbInfo distance_one_all_pipes(HW hw) { return SwsbInfo(hw == hw::dorik ? 0x0100 : 0x1100); }

// Opcodes whose instructions are out-of-order and so need a token.
bool needs_token(HW hw, const InstructionWords& w) {
  const std::uint32_t o = opcode_of(w);
  if (is_matrix(o) || is_send_family(o)) return true;
  if (o == opcode::math && hw <= hw::gulon) return true;
  return hw == hw::gulon && (instruction_operand_field(w, 0) == static_cast<int>(long_type_code) ||
                             dword_bits(w, 1, 4, 7) == long_type_code);
}

// The in-order wait of an instruction: distance and pipe mask (0 = none).
struct DistanceWait {
  std::int32_t distance = 0;
  std::uint32_t pipe = 0;

  void merge(std::int32_t d, std::uint32_t p) {
    if (distance == 0) {
      distance = d;
      pipe = p;
      return;
    }
    distance = std::min(distance, d);
    if (pipe != p) pipe = 1;
  }
  void clear() { *this = {}; }
};

// Everything an instruction waits for; a group carries it from one member to
// the next.
struct WaitState {
  std::uint32_t src = 0;
  std::uint32_t dst = 0;
  DistanceWait in_order;
  SwsbInfo field_wait;
  SwsbInfo pending;
};

// What the analysis knows of the instruction being processed.
struct Current {
  std::uint32_t index = 0;
  InstructionWords words{};
  std::uint32_t opcode = 0;
  PipeCode own_pipe = 0;
  Dependency templ;
  SwsbInfo field;
  Dependency wait_record;
  bool automatic = false;
  bool sets_token = false;
  std::uint32_t own_token = no_token;
  bool token_in_use = false;
  bool group_member = false;  // bit 32 counts for this instruction
  bool settled = true;
  std::vector<Dependency> destination_conflicts;
  std::uint32_t candidates = 0;  // live-in destination tokens for allocation
  DistanceWait raw_wait;         // before it moves into the pending value

  std::uint32_t own_mask() const { return is_in_order(own_pipe) ? own_pipe & 0xFFu : 0u; }
  bool is_send() const { return is_send_family(opcode); }
};

// ---------------------------------------------------------------------------
// One pass over one block.

class BlockAnalysis {
 public:
  BlockAnalysis(HW hw, std::int32_t tokens, Program& program, BasicBlock& block, AnalysisPass pass)
      : hw_(hw), tokens_(tokens), width_(field_width(hw)), program_(program), block_(block), pass_(pass) {
    for (auto& row : matrix_) row.fill(INT_MIN);
    workaround_ = hw == hw::harix && block.workaround != 0;
    helper_.block = &block;
  }

  void run() {
    for (std::uint32_t i = block_.first; i < block_.end; ++i) process(i);
    finish_block();
  }

 private:
  HW hw_;
  std::int32_t tokens_;
  FieldWidth width_;
  Program& program_;
  BasicBlock& block_;
  AnalysisPass pass_;
  bool workaround_ = false;

  Counters counters_{};
  std::uint32_t waited_src_ = 0;
  std::uint32_t waited_dst_ = 0;
  std::array<std::array<std::int32_t, matrix_columns>, counter_count> matrix_{};
  std::int64_t group_first_ = -1;
  std::optional<WaitState> saved_;
  std::vector<Dependency> kept_;
  std::vector<DependencyRegion> queued_;      // directive 16
  std::uint32_t directive_tokens_ = 0;        // directive 17
  bool directive_unsettles_ = false;
  bool previous_arf_destination_ = false;
  SwsbHelperContext helper_;

  bool wide() const { return width_ == FieldWidth::field10; }
  bool pass_is(AnalysisPass p) const { return pass_ == p; }
  InstructionWords words(std::uint32_t i) const { return instruction_at(program_, i); }
  const InstructionRegions& regions(std::uint32_t i) const { return block_.regions_of(i); }

  // ----- walking -------------------------------------------------------------

  void process(std::uint32_t i) {
    const InstructionWords w = words(i);
    const std::uint32_t o = opcode_of(w);
    if (o == opcode::empty) return;
    if (o == opcode::directive) {
      directive(i, w);
      return;
    }
    Current c = begin_instruction(i, w);
    WaitState ws = open_group(c);
    own_token(c);
    explicit_sync(c);
    if (!c.automatic) {
      explicit_instruction(c);
    } else {
      automatic_instruction(c, ws);
      if (c.group_member) saved_ = ws;
    }
    record_effects(c);
    count_pipes_of(c);
    if (!c.group_member) {
      group_first_ = -1;
      saved_.reset();
    }
    queued_.clear();
    directive_tokens_ = 0;
    directive_unsettles_ = false;
    std::uint32_t kind = 0;
    previous_arf_destination_ = instruction_operand_arf_kind(w, kind, destination_number, hw_) &&
                                (kind == 4 || kind == 7 || kind == 8);
  }

  Current begin_instruction(std::uint32_t i, const InstructionWords& w) {
    Current c;
    c.index = i;
    c.words = w;
    c.opcode = opcode_of(w);
    c.own_pipe = pipe_of(hw_, w, true);
    c.templ.pipe = c.own_pipe;
    c.templ.counters = counters_;
    c.templ.producer = i;
    c.templ.token = no_token;
    c.field = read_swsb_field(width_, w);
    Dependency token_record;
    c.wait_record.counters = counters_;
    c.automatic = swsb_records(hw_, w, c.field, token_record, c.wait_record);
    c.group_member = instruction_bit(w, group_bit) && !(wide() && is_split_send(c.opcode));
    return c;
  }

  WaitState open_group(const Current& c) {
    if (group_first_ < 0 && c.group_member) group_first_ = c.index;
    if (group_first_ >= 0 && saved_) return *saved_;
    return WaitState{};
  }

  bool in_group() const { return group_first_ >= 0; }
  std::uint32_t insertion_index(const Current& c) const {
    return in_group() ? static_cast<std::uint32_t>(group_first_) : c.index;
  }

  void own_token(Current& c) {
    if (sets_token(c.field)) {
      const std::uint32_t t = c.field.token();
      c.own_token = t;
      c.sets_token = true;
      c.token_in_use = dependency_table_clear_tokens(block_.out, bit(t), true) != bit(t);
      waited_src_ |= bit(t);
      waited_dst_ |= bit(t);
    } else if (needs_token(hw_, c.words)) {
      c.own_token = no_token;
      c.sets_token = true;
    }
    if (c.sets_token) c.templ.latency_estimate = token_latency_estimate(hw_, c.words);
  }

  // Tokens that a sync (or a replayed request) of function 2 or 3 waits for.
  void sync_on_tokens(std::uint32_t mask, bool destinations) {
    const std::uint32_t not_issued = dependency_table_clear_tokens(block_.out, mask, destinations);
    waited_src_ |= not_issued;
    if (destinations) waited_dst_ |= not_issued;
  }

  void explicit_sync(const Current& c) {
    if (c.opcode != opcode::sync) return;
    const std::uint32_t function = dword_bits(c.words, 2, 28, 31);
    if (function != 2 && function != 3) return;
    const std::uint32_t mask = instruction_bit(c.words, mask_in_dword3_bit) ? c.words[3] : 0xFFFFFFFFu;
    sync_on_tokens(mask, function == 3);
  }

  // ----- explicit fields -------------------------------------------------------

  // An explicit or replayed setting: what it waits for leaves the live-out
  // table and its tokens count as waited.
  void apply_setting(const Dependency& wait, bool count_tokens) {
    dependency_table_clear_overlapped(block_.out, wait, nullptr, true);
    if (!count_tokens) return;
    if (wait.flags & dependency_flag::token_read) waited_src_ |= bit(wait.token);
    if (wait.flags & dependency_flag::token_write) waited_dst_ |= bit(wait.token);
  }

  void explicit_instruction(Current& c) {
    apply_setting(c.wait_record, !pass_is(AnalysisPass::two));
    const DependencyRegion& dst = regions(c.index).destination;
    if (!dst.is_empty()) dependency_table_clear_overlapped(block_.out, access(c, dst, true), nullptr, true);
    if (pass_is(AnalysisPass::two)) {
      clear_marker(c.index);
      replay_requests(c);
    } else {
      run_helper(c, pass_is(AnalysisPass::one));
    }
    c.raw_wait = {c.wait_record.wait_distance, c.wait_record.wait_pipe};
    if (c.raw_wait.distance != 0 && pass_is(AnalysisPass::one)) bookkeep(c);
  }

  void run_helper(const Current& c, bool emit) {
    helper_.operands.clear();
    const InstructionRegions& r = regions(c.index);
    if (!r.destination.is_empty()) helper_.operands.push_back({1u, &r.destination});
    for (const DependencyRegion& s : r.sources)
      if (!s.is_empty()) helper_.operands.push_back({0u, &s});
    helper_.counters = counters_;
    swsb_helper(helper_, emit);
  }

  void replay_requests(const Current& c) {
    for (const SyncRequest& r : block_.sync_requests) {
      if (r.instruction != c.index) continue;
      if (r.kind == SyncKind::wait_sources || r.kind == SyncKind::wait_destinations)
        sync_on_tokens(r.token_mask, r.kind == SyncKind::wait_destinations);
      if (r.swsb.bits == 0) continue;
      Dependency token_record, wait = c.wait_record;
      wait.counters = counters_;
      swsb_records(hw_, c.words, r.swsb, token_record, wait);
      apply_setting(wait, true);
    }
  }

  // ----- automatic fields ------------------------------------------------------

  void automatic_instruction(Current& c, WaitState& ws) {
    block_end_flush(c, ws);
    ws.dst |= directive_tokens_;
    if (directive_unsettles_) c.settled = false;
    conflicts(c, ws);
    if (pass_is(AnalysisPass::one)) allocate_token(c, ws);
    if (pass_is(AnalysisPass::zero)) return;
    if (is_out_of_order(c.own_pipe) && (c.words[0] & settled_dword0_mask) != settled_dword0_value) c.settled = false;
    if (in_group()) c.settled = false;
    const bool written = pass_is(AnalysisPass::two) || c.settled;
    fit_waits(c, ws, written);
    if (pass_is(AnalysisPass::one) && c.raw_wait.distance != 0) bookkeep(c);
  }

  void block_end_flush(const Current& c, WaitState& ws) {
    const bool last = c.index + 1 == block_.end;
    if (!last || !is_branch(c.opcode) || c.opcode == opcode::no_flush_branch ||
        instruction_bit(c.words, mask_in_dword3_bit))
      return;
    block_.out.clear();
    block_.resolved.clear();
    ws.pending = distance_one_all_pipes(hw_);
    ws.dst |= token_mask(tokens_);
    waited_dst_ |= token_mask(tokens_);
  }

  Dependency access(const Current& c, const DependencyRegion& region, bool write) const {
    Dependency a = c.templ;
    a.region = region;
    a.flags = write ? dependency_flag::write : 0;
    return a;
  }

  // The part of an access that none of its conflicting records covers.
  static DependencyRegion uncovered(DependencyRegion region, const std::vector<Dependency>& conflicts) {
    for (const Dependency& e : conflicts) {
      if (e.region.is_arf() != region.is_arf()) continue;
      if (e.region.is_whole_file()) {
        region.make_empty();
        return region;
      }
      subtract_masks(region, e.region);
    }
    return region;
  }

  bool arf_source_needs_wait(const Current& c, int source) const {
    std::uint32_t kind = 0;
    return instruction_operand_arf_kind(c.words, kind, source, hw_) && (kind == 4 || kind == 7 || kind == 8);
  }

  bool allocates(const Current& c) const {
    return c.sets_token && c.own_token == no_token &&
           (!instruction_bit(c.words, group_bit) || (wide() && is_split_send(c.opcode)));
  }

  void conflicts(Current& c, WaitState& ws) {
    const InstructionRegions& r = regions(c.index);
    std::vector<std::pair<const DependencyRegion*, bool>> accesses;
    for (const DependencyRegion& q : queued_) accesses.push_back({&q, false});
    for (int s = 2; s >= 0; --s) accesses.push_back({&r.sources[static_cast<std::size_t>(s)], false});
    accesses.push_back({&r.destination, true});

    for (int s = 0; s <= 1; ++s)
      if (r.sources[static_cast<std::size_t>(s)].is_empty() && arf_source_needs_wait(c, s)) ws.in_order.merge(1, 1);

    const bool match_in = pass_is(AnalysisPass::one) && allocates(c);
    for (const auto& [region, write] : accesses) {
      if (region->is_empty()) continue;
      const Dependency a = access(c, *region, write);
      std::vector<Dependency> found;
      dependency_table_clear_overlapped(block_.out, a, &found, true);
      if (!pass_is(AnalysisPass::two)) resolve_uncovered(c, a, found);
      if (!pass_is(AnalysisPass::zero)) count_waits(ws, found);
      if (write) c.destination_conflicts = found;
      if (match_in) collect_candidates(c, a);
    }
    c.raw_wait = ws.in_order;
  }

  void resolve_uncovered(Current& c, const Dependency& a, const std::vector<Dependency>& found) {
    Dependency rest = a;
    rest.region = uncovered(a.region, found);
    if (rest.region.is_empty()) return;
    if (dependency_table_insert(block_.resolved, rest, true, true)) c.settled = false;
  }

  void count_waits(WaitState& ws, const std::vector<Dependency>& found) const {
    for (const Dependency& e : found) {
      if (e.in_order()) {
        const std::uint32_t k = pipe_index(e.pipe);
        ws.in_order.merge(counters_[k] - e.counters[k], e.pipe & 0xFFu);
      } else if (is_out_of_order(e.pipe) && e.token != no_token) {
        if (e.flags & dependency_flag::token_read) ws.src |= bit(e.token);
        if (e.flags & dependency_flag::token_write) ws.dst |= bit(e.token);
      }
    }
  }

  void collect_candidates(Current& c, const Dependency& a) {
    std::vector<Dependency> found;
    dependency_table_clear_overlapped(block_.in, a, &found, false);
    for (const Dependency& e : found) {
      if (!(e.flags & dependency_flag::token_write)) continue;
      if (e.token != no_token) {
        c.candidates |= bit(e.token);
        continue;
      }
      const SwsbInfo producer = read_swsb_field(width_, words(e.producer));
      if (sets_token(producer)) c.candidates |= bit(producer.token());
    }
  }

  // ----- token allocation -------------------------------------------------------

  template <class Visit>
  void for_each_token_holder(Visit&& visit) const {
    for (const DependencyTable* table : {&block_.out, &block_.in})
      for (const Dependency& d : table->records)
        if (d.is_live() && d.has_token_bits() && d.token < 32) visit(d);
  }

  std::int64_t score(std::uint32_t t) const {
    std::int64_t best = INT_MAX;
    for_each_token_holder([&](const Dependency& d) {
      if (d.token != t) return;
      const std::int64_t s = std::int64_t{counters_[all_instructions_counter]} -
                             (std::int64_t{d.counters[all_instructions_counter]} + d.latency_estimate);
      best = std::min(best, s);
    });
    return best;
  }

  std::uint32_t register_token(const Current& c, bool& found) const {
    const InstructionRegions& r = regions(c.index);
    for (const DependencyRegion* region : {&r.destination, &r.sources[1], &r.sources[0]}) {
      if (region->is_empty()) continue;
      found = true;
      const std::uint32_t reg = region->first_register;
      return tokens_ < 32 ? (reg / 8) % 16 : (reg / 4) % 32;
    }
    found = false;
    return 0;
  }

  std::uint32_t choose_token(const Current& c, const WaitState& ws) const {
    const std::uint32_t waited = (ws.dst | c.candidates) & token_mask(tokens_);
    if (waited) return lowest(waited);
    bool has_register = false;
    const std::uint32_t from_register = register_token(c, has_register);
    if (has_register && score(from_register) >= 0) return from_register;
    std::uint32_t held = 0;
    for_each_token_holder([&](const Dependency& d) { held |= bit(d.token); });
    const std::uint32_t free = token_mask(tokens_) & ~held;
    if (free) return highest(free);
    std::uint32_t best = 0;
    std::int64_t best_score = score(0);
    for (std::uint32_t t = 1; t < static_cast<std::uint32_t>(tokens_); ++t)
      if (score(t) > best_score) {
        best = t;
        best_score = score(t);
      }
    return best;
  }

  void allocate_token(Current& c, WaitState& ws) {
    if (!allocates(c)) return;
    const std::uint32_t t = choose_token(c, ws);
    c.own_token = t;
    InstructionWords w = words(c.index);
    write_swsb_field(width_, w, token_set(t));
    store_instruction(program_, c.index, w);
    c.words = w;
    ws.src &= ~bit(t);
    ws.dst &= ~bit(t);
    waited_src_ |= bit(t);
    waited_dst_ |= bit(t);
  }

  // ----- fitting the waits ------------------------------------------------------

  bool pipe_omitted(const Current& c, std::uint32_t p) const {
    if (hw_ == hw::dorik) return true;
    if (p != c.own_mask()) return false;
    const bool mov_changes_kind = c.opcode == opcode::mov && instruction_bit(c.words, 39) != instruction_bit(c.words, 43);
    const bool long_destination = hw_ >= hw::harix && dword_bits(c.words, 1, 4, 7) == long_type_code;
    return !mov_changes_kind && !long_destination;
  }

  SwsbInfo distance_value(const Current& c, const DistanceWait& d) const {
    const auto distance = static_cast<std::uint32_t>(std::min(d.distance, 7));
    return distance_wait(distance, pipe_omitted(c, d.pipe) ? 0 : pipe_number(d.pipe));
  }

  void retire_token_reads(std::uint32_t mask) {
    for (std::uint32_t t = 0; t < 32; ++t) {
      if (!(mask & bit(t))) continue;
      for_each_in_list(block_.out, token_list, t, [&](std::uint32_t e) {
        if (block_.out.records[e].flags & dependency_flag::token_read) dependency_table_retire(block_.out, e);
        return true;
      });
    }
  }

  Dependency own_wait_record(const DistanceWait& d) const {
    Dependency w;
    w.flags = dependency_flag::wait | dependency_flag::live;
    w.wait_pipe = static_cast<std::uint8_t>(d.pipe);
    w.wait_distance = static_cast<std::uint8_t>(std::min(d.distance, 255));
    w.counters = counters_;
    return w;
  }

  void fit_waits(Current& c, WaitState& ws, bool written) {
    arf_rule(c, ws, written);
    const bool carries_token = c.sets_token || ws.field_wait.has_token_mode();
    if (carries_token && ws.in_order.distance != 0) {
      if (!c.is_send()) {
        ws.pending = distance_value(c, ws.in_order);
        ws.in_order.clear();
      } else if (!(wide() && (ws.in_order.pipe == pipe::float_pipe || ws.in_order.pipe == pipe::integer))) {
        ws.in_order.pipe = 1;
      }
    }
    if (c.sets_token && !in_group()) ws.dst &= ~bit(c.own_token);
    if (c.token_in_use && (in_group() || (c.words[0] & settled_dword0_mask) != settled_dword0_value))
      ws.dst |= bit(c.own_token);
    ws.src &= ~ws.dst;
    retire_token_reads(ws.src);
    if (ws.dst) dependency_table_clear_tokens(block_.out, ws.dst, true);
    dependency_table_clear_overlapped(block_.out, own_wait_record(ws.in_order), nullptr, true);
    if (workaround_) harix_workaround(c, ws);
    choose_field_wait(c, ws);
    const bool last_of_group = !c.group_member;
    if (written && last_of_group) {
      add_sync_requests(c, ws);
      write_field(c, ws);
    } else if (written) {
      clear_marker(c.index);
    }
  }

  void arf_rule(const Current& c, WaitState& ws, bool written) {
    if (!previous_arf_destination_ || (ws.src == 0 && ws.dst == 0)) return;
    dependency_table_clear_overlapped(block_.out, own_wait_record({1, 1}), nullptr, true);
    if (written) block_.sync_requests.push_back({c.index, distance_one_all_pipes(hw_), 0, SyncKind::setting_only, 0});
  }

  void choose_field_wait(const Current& c, WaitState& ws) const {
    // A wait chosen by an earlier member of the group goes back to its set.
    if (ws.field_wait.has_token_mode()) {
      (ws.field_wait.dst() ? ws.dst : ws.src) |= bit(ws.field_wait.token());
      ws.field_wait = SwsbInfo();
    }
    if (c.sets_token && (is_out_of_order(c.own_pipe) || c.own_pipe == pipe::none)) return;
    const std::uint32_t p = ws.in_order.pipe;
    const bool compatible = p == 0 || pipe_omitted(c, p);
    if (ws.dst && (compatible || (wide() && p == 1))) {
      const std::uint32_t t = highest(ws.dst);
      ws.field_wait = dst_wait(t);
      ws.dst &= ~bit(t);
    } else if (ws.src && (wide() ? compatible : p == 0)) {
      const std::uint32_t t = highest(ws.src);
      ws.field_wait = src_wait(t);
      ws.src &= ~bit(t);
    }
  }

  void add_sync_requests(const Current& c, WaitState& ws) {
    const std::uint32_t at = insertion_index(c);
    auto request = [&](SyncKind kind, std::uint32_t mask, SwsbInfo value) {
      block_.sync_requests.push_back({at, value, 0, kind, mask});
    };
    SwsbInfo v = ws.pending;
    const bool single_src = is_single_bit(ws.src);
    if (v.bits == 0 && single_src) {
      v = src_wait(highest(ws.src));
      if (ws.dst) request(SyncKind::wait_destinations, ws.dst, v);
      else request(SyncKind::setting_only, 0, v);
    } else if (v.bits == 0 && is_single_bit(ws.dst)) {
      v = dst_wait(highest(ws.dst));
      if (ws.src) request(SyncKind::wait_sources, ws.src, v);
      else request(SyncKind::setting_only, 0, v);
    } else {
      if (ws.src) {
        request(SyncKind::wait_sources, ws.src, v);
        v = SwsbInfo();
      }
      if (ws.dst) request(SyncKind::wait_destinations, ws.dst, v);
      if (!ws.src && !ws.dst && v.bits != 0) request(SyncKind::setting_only, 0, v);
    }
  }

  void write_field(const Current& c, const WaitState& ws) {
    SwsbInfo value = c.sets_token && c.own_token != no_token ? token_set(c.own_token) : ws.field_wait;
    if (ws.in_order.distance != 0) value.bits |= distance_value(c, ws.in_order).bits;
    if (in_group() && static_cast<std::uint32_t>(group_first_) != c.index) {
      SwsbInfo waits = ws.field_wait;
      if (ws.in_order.distance != 0) waits.bits |= distance_value(c, ws.in_order).bits;
      store_field(static_cast<std::uint32_t>(group_first_), waits);
      value = c.sets_token && c.own_token != no_token ? token_set(c.own_token) : SwsbInfo();
    }
    store_field(c.index, value);
  }

  void store_field(std::uint32_t index, SwsbInfo value) {
    InstructionWords w = words(index);
    write_swsb_field(width_, w, value);
    w[0] &= ~marker_mask;
    store_instruction(program_, index, w);
  }

  void clear_marker(std::uint32_t index) {
    InstructionWords w = words(index);
    w[0] &= ~marker_mask;
    store_instruction(program_, index, w);
  }

  // ----- the Harix workaround --------------------------------------------------

  struct Covering {
    int source = -1;
    const DependencyRegion* region = nullptr;
  };

  Covering covering_source(const Current& c) const {
    const InstructionRegions& r = regions(c.index);
    const DependencyRegion& d = r.destination;
    for (int s = 0; s <= 1; ++s) {
      const DependencyRegion& src = r.sources[static_cast<std::size_t>(s)];
      if (src.is_whole_file() || src.is_arf() != d.is_arf() || src.is_empty()) continue;
      if (src.first_register <= d.first_register &&
          src.first_register + src.register_count >= d.first_register + d.register_count)
        return {s, &src};
    }
    return {};
  }

  std::uint32_t walk_start(std::uint32_t b) const { return std::max(b + 1, block_.first); }

  bool inside_block(std::uint32_t b, const Current& c) const { return b >= block_.first && b < c.index; }

  bool flag_f(const Current& c, const Covering& cover, std::uint32_t b) const {
    if (!cover.region || !is_in_order(c.own_pipe)) return false;
    for (std::uint32_t j = c.index; j-- > walk_start(b) && j >= block_.first;) {
      if (pipe_of(hw_, words(j), true) != c.own_pipe) continue;
      return region_range_within(*cover.region, regions(j).sources[static_cast<std::size_t>(cover.source)]);
    }
    return true;
  }

  void harix_workaround(Current& c, WaitState& ws) {
    const DependencyRegion& dest = regions(c.index).destination;
    if (dest.is_empty()) return;
    const Dependency* b = nullptr;
    for (const Dependency& e : c.destination_conflicts)
      if (!e.is_write() && is_send_pipe(e.pipe) && (!b || e.producer > b->producer)) b = &e;
    if (!b) return;
    const Covering cover = covering_source(c);
    const bool f = flag_f(c, cover, b->producer);
    std::int32_t k = 0;
    if (inside_block(b->producer, c) && !is_matrix(c.opcode) && cover.region) {
      const std::int32_t gap = static_cast<std::int32_t>(dest.first_register) -
                               static_cast<std::int32_t>(b->region.first_register + b->region.register_count);
      const bool long_or_ooo = is_out_of_order(c.own_pipe) || dword_bits(c.words, 1, 4, 7) == long_type_code;
      k = std::min(gap, -1) + (long_or_ooo ? 3 : 2);
      if (k <= 0) return;
    }
    c.settled = false;
    if (!pass_is(AnalysisPass::two) || b->token >= 32 || (ws.dst & bit(b->token))) return;
    apply_workaround(c, ws, *b, k, f);
  }

  void apply_workaround(const Current& c, WaitState& ws, const Dependency& b, std::int32_t k, bool f) {
    const bool b_inside = inside_block(b.producer, c);
    if (!b_inside || regions(b.producer).destination.is_empty()) return treatment_w(ws, b);
    const std::uint32_t cls = sfid_class(b.pipe);
    if (k > 0) {
      for (std::uint32_t j = b.producer + 1; j < c.index; ++j) {
        if (sfid_class(pipe_of(hw_, words(j), true)) != cls) continue;
        k -= regions(j).sources[0].register_count + regions(j).sources[1].register_count;
        if (k < 1) return treatment_m(c, ws, j, f);
      }
    }
    std::vector<std::uint32_t> registers;
    for (std::uint32_t j = b.producer + 1; j-- > block_.first && registers.size() < 2;) {
      if (sfid_class(pipe_of(hw_, words(j), true)) != cls) continue;
      for (int s = 0; s <= 1 && registers.size() < 2; ++s) {
        const DependencyRegion& r = regions(j).sources[static_cast<std::size_t>(s)];
        if (r.is_empty() || r.is_whole_file()) continue;
        for (std::uint32_t reg = r.first_register; reg < r.first_register + r.register_count && registers.size() < 2; ++reg)
          registers.push_back(reg);
      }
    }
    if (registers.size() < 2) return treatment_w(ws, b);
    treatment_t(c, ws, b, registers[0], registers[1]);
  }

  static void treatment_w(WaitState& ws, const Dependency& b) {
    ws.dst |= bit(b.token);
    ws.src &= ~bit(b.token);
  }

  void treatment_m(const Current& c, WaitState& ws, std::uint32_t x, bool f) {
    const SwsbInfo xf = read_swsb_field(width_, words(x));
    if (f) {
      const std::uint8_t type = c.own_pipe == pipe::long_pipe    ? dummy_move_type::long_pipe
                                : c.own_pipe == pipe::float_pipe ? dummy_move_type::float_pipe
                                                                 : dummy_move_type::integer;
      block_.dummy_moves.push_back({insertion_index(c), SwsbInfo(), 0, 0, 1, type});
    }
    if (sets_token(xf)) ws.src |= bit(xf.token());
  }

  void treatment_t(const Current& c, WaitState& ws, const Dependency& b, std::uint32_t first, std::uint32_t second) {
    const bool float_pipe = c.own_pipe == pipe::float_pipe;
    const std::uint8_t type = float_pipe ? dummy_move_type::float_pipe : dummy_move_type::integer;
    const std::uint32_t at = insertion_index(c);
    block_.dummy_moves.push_back({at, src_wait(b.token), 0, 0, 1, type});
    block_.dummy_moves.push_back({at, SwsbInfo(), 0, static_cast<std::uint16_t>(second), 0, type});
    block_.dummy_moves.push_back({at, SwsbInfo(), 0, static_cast<std::uint16_t>(first), 0, type});
    ws.src &= ~bit(b.token);
    const PipeCode move_pipe = float_pipe ? pipe::float_pipe : pipe::integer;
    if (c.own_pipe == move_pipe) return;
    const bool carries_token = c.sets_token || ws.field_wait.has_token_mode();
    if (carries_token && !c.is_send()) {
      block_.sync_requests.push_back({at, SwsbInfo(float_pipe ? 0x2100 : 0x3100), 0, SyncKind::setting_only, 0});
    } else {
      ws.in_order.merge(1, move_pipe);
      ws.in_order.distance = 1;
    }
  }

  // ----- bookkeeping, recording, counting ---------------------------------------

  std::uint32_t matrix_rows(std::uint32_t p) const {
    const std::uint32_t pipes = hw_ == hw::dorik ? 0x01u : hw_ == hw::gulon ? 0x0Fu : 0x1Fu;
    if (p == 0) return pipes;
    if (hw_ != hw::dorik && (p & 1u)) return pipes & ~1u;
    return p;
  }

  std::uint32_t matrix_columns_of(const Current& c) const {
    if (is_out_of_order(c.own_pipe)) return 0;
    const std::uint32_t own = c.own_mask();
    if (own == 0) return hw_ == hw::dorik ? 0x81u : hw_ == hw::gulon ? 0x8Fu : 0x9Fu;
    if (hw_ != hw::dorik && (own & 1u)) return hw_ == hw::gulon ? 0x0Eu : 0x1Eu;
    return own;
  }

  void bookkeep(const Current& c) {
    const std::uint32_t rows = matrix_rows(c.raw_wait.pipe);
    const std::uint32_t columns = matrix_columns_of(c);
    for (std::uint32_t r = 0; r < counter_count; ++r) {
      if (!(rows & bit(r))) continue;
      for (std::uint32_t col = 0; col < matrix_columns; ++col)
        if (columns & bit(col)) matrix_[r][col] = std::max(matrix_[r][col], counters_[r] - c.raw_wait.distance);
    }
  }

  void record_effects(const Current& c) {
    Dependency base = c.templ;
    if (c.opcode == opcode::doubled) {
      count_pipes_of(c);
      base.counters = counters_;
    }
    if (pass_is(AnalysisPass::zero) && !c.sets_token) return;
    const InstructionRegions& r = regions(c.index);
    auto record = [&](const DependencyRegion& region, bool write) {
      if (region.is_empty()) return;
      Dependency d = base;
      d.region = region;
      d.flags = write ? dependency_flag::write : 0;
      if (c.sets_token) {
        d.token = static_cast<std::uint8_t>(c.own_token);
        d.flags |= write ? dependency_flag::token_write : dependency_flag::token_read;
      }
      enter(d, c.group_member);
    };
    record(r.destination, true);
    if (!pass_is(AnalysisPass::zero))
      for (const DependencyRegion& s : r.sources) record(s, false);
    if (!c.group_member) flush_group(c);
  }

  void enter(const Dependency& d, bool held_back) {
    if (in_group() && held_back) kept_.push_back(d);
    else dependency_table_insert_live(block_.out, d, true, true);
  }

  void flush_group(const Current& c) {
    for (Dependency& d : kept_) {
      if (is_out_of_order(d.pipe) || d.pipe == pipe::none || d.has_token_bits()) d.token = static_cast<std::uint8_t>(c.own_token);
      dependency_table_insert_live(block_.out, d, true, true);
    }
    kept_.clear();
  }

  void count_pipes_of(const Current& c) {
    const PipeCode p = pipe_of(hw_, c.words, false);
    if (is_in_order(p)) {
      ++counters_[0];
      for (std::uint32_t k = 1; k < in_order_pipe_indexes; ++k)
        if (p & bit(k)) ++counters_[k];
    }
    ++counters_[all_instructions_counter];
  }

  // ----- directives and the end of the block ----------------------------------

  void directive(std::uint32_t i, const InstructionWords& w) {
    const std::uint32_t code = instruction_byte(w, 7);
    if (code == directive::wait_for_range) {
      const DependencyRegion& range = regions(i).sources[0];
      if (!range.is_empty()) queued_.push_back(range);
    } else if (code == directive::wait_for_token_of) {
      std::int64_t target = i;
      if (instruction_bit(w, mask_in_dword3_bit)) target = jump_target(i, w[3]);
      const bool valid = target >= 0 && target < static_cast<std::int64_t>(program_instruction_count(program_));
      const SwsbInfo f = valid ? read_swsb_field(width_, words(static_cast<std::uint32_t>(target))) : SwsbInfo();
      if (sets_token(f)) directive_tokens_ |= bit(f.token());
      else directive_unsettles_ = true;
    }
  }

  void finish_block() {
    helper_.operands.clear();
    swsb_helper(helper_, pass_is(AnalysisPass::two));
    if (pass_is(AnalysisPass::one)) export_matrix();
    if (!pass_is(AnalysisPass::two)) export_waited_tokens();
  }

  void export_matrix() {
    for (std::uint32_t r = 0; r < counter_count; ++r)
      for (std::uint32_t col = 0; col < matrix_columns; ++col) {
        if (matrix_[r][col] == INT_MIN) continue;
        Dependency w;
        w.pipe = static_cast<PipeCode>(1u << col);
        w.wait_pipe = static_cast<std::uint8_t>(1u << r);
        w.wait_distance = 1;
        w.flags = dependency_flag::wait | dependency_flag::live;
        w.counters[r] = matrix_[r][col] + 1;
        w.region.hw = hw_;
        dependency_table_insert(block_.resolved, w, true, true);
      }
  }

  void export_waited_tokens() {
    auto insert = [&](std::uint32_t t, bool src, bool dst) {
      Dependency w;
      w.token = static_cast<std::uint8_t>(t);
      w.flags = static_cast<std::uint8_t>(dependency_flag::wait | dependency_flag::live |
                                          (src ? dependency_flag::token_read : 0) |
                                          (dst ? dependency_flag::token_write : 0));
      w.region.hw = hw_;
      dependency_table_insert(block_.resolved, w, true, true);
    };
    for (std::uint32_t t = 0; t < static_cast<std::uint32_t>(tokens_); ++t) {
      const bool src = (waited_src_ & bit(t)) != 0, dst = (waited_dst_ & bit(t)) != 0;
      if (src || dst) insert(t, src, dst);
    }
    if (waited_src_ == 0xFFFFFFFFu || waited_dst_ == 0xFFFFFFFFu)
      insert(no_token, waited_src_ == 0xFFFFFFFFu, waited_dst_ == 0xFFFFFFFFu);
  }
};

}  // namespace

std::uint16_t token_latency_estimate(HW hw, const InstructionWords& w) {
  const bool dorik = hw == hw::dorik;
  const std::uint32_t o = opcode_of(w);
  if (is_send_family(o)) {
    const std::uint32_t sfid = dword_bits(w, 2, 28, 31);
    if (sfid == 2) return dorik ? 175 : 210;
    if (sfid == 10 || sfid == 12) {
      const bool short_form = dword_bits(w, 2, 17, 24) == 0xFEu && !instruction_bit(w, 48);
      if (short_form) return dorik ? 33 : 25;
      return dorik ? 106 : 150;
    }
    return 50;
  }
  if (is_matrix(o)) return 20;
  return dorik ? 20 : 17;
}

void swsb_analysis(HW hw, std::int32_t tokens, Program& program, BasicBlock& block, AnalysisPass pass) {
  BlockAnalysis(hw, tokens, program, block, pass).run();
}

}  // namespace ulmara::qez::zorn
