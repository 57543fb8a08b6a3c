// Dependency tables: insertion with trimming, conflicts, token release and
// the scoreboard-field codecs.
#include <gtest/gtest.h>

#include "gpu/zorn/scoreboard/annotations.hpp"
#include "gpu/zorn/scoreboard/dependency_table.hpp"
#include "tests/zorn/scoreboard/program_builder.hpp"

namespace zorn = ulmara::qez::zorn;
using namespace sb_test;

namespace {

zorn::DependencyRegion registers(std::uint32_t first, std::uint32_t count, zorn::HW hw = 6) {
  zorn::DependencyRegion r;
  zorn::dependency_region_from_range(r, hw, zorn::pack_range(first, count));
  return r;
}

zorn::Dependency in_order_write(zorn::PipeCode pipe, std::uint32_t reg, std::int32_t counter) {
  zorn::Dependency d;
  d.pipe = pipe;
  d.flags = zorn::dependency_flag::write;
  d.token = zorn::no_token;
  d.counters.fill(counter);
  d.region = registers(reg, 1);
  return d;
}

zorn::Dependency token_write(std::uint32_t token, std::uint32_t reg) {
  zorn::Dependency d;
  d.pipe = 0x10C;
  d.token = static_cast<std::uint8_t>(token);
  d.flags = zorn::dependency_flag::write | zorn::dependency_flag::token_write;
  d.region = registers(reg, 1);
  return d;
}

zorn::Dependency read_at(zorn::PipeCode pipe, std::uint32_t reg, std::int32_t counter) {
  zorn::Dependency d = in_order_write(pipe, reg, counter);
  d.flags = 0;
  return d;
}

TEST(DependencyTable, SameWriteTwiceIsCovered) {
  zorn::DependencyTable t;
  const zorn::Dependency w = in_order_write(zorn::pipe::float_pipe, 10, 3);
  EXPECT_TRUE(zorn::dependency_table_insert_live(t, w, true, true));
  EXPECT_FALSE(zorn::dependency_table_insert_live(t, w, true, true));
  EXPECT_EQ(t.live_count(), 1u);
  EXPECT_TRUE(zorn::dependency_table_insert(t, token_write(4, 12), true, true));
  EXPECT_FALSE(zorn::dependency_table_insert(t, token_write(4, 12), true, true));
}

TEST(DependencyTable, NewerWriteRetiresTheOlderOne) {
  zorn::DependencyTable t;
  zorn::dependency_table_insert_live(t, in_order_write(zorn::pipe::integer, 10, 1), true, true);
  zorn::dependency_table_insert_live(t, in_order_write(zorn::pipe::integer, 10, 2), true, true);
  ASSERT_EQ(t.records.size(), 2u);
  EXPECT_FALSE(t.records[0].is_live());
  EXPECT_TRUE(t.records[1].is_live());
}

TEST(DependencyTable, WholeFileNewcomerRetiresWhatItMeets) {
  zorn::DependencyTable t;
  zorn::Dependency a = token_write(3, 10), b = token_write(3, 11);
  zorn::dependency_table_insert_live(t, a, true, true);
  zorn::dependency_table_insert_live(t, b, true, true);
  zorn::Dependency whole = token_write(3, 0);
  whole.region = zorn::whole_file_region(6);
  EXPECT_TRUE(zorn::dependency_table_insert_live(t, whole, true, true));
  EXPECT_FALSE(t.records[0].is_live());
  EXPECT_FALSE(t.records[1].is_live());
  EXPECT_TRUE(t.records[2].is_live());
}

TEST(DependencyTable, ReadAfterOutOfOrderWriteConflictsReadAfterReadNever) {
  const zorn::Dependency produced = token_write(5, 20);
  EXPECT_TRUE(zorn::dependencies_conflict(produced, read_at(zorn::pipe::integer, 20, 1)));
  EXPECT_FALSE(zorn::dependencies_conflict(produced, read_at(zorn::pipe::integer, 21, 1)));
  EXPECT_FALSE(zorn::dependencies_conflict(read_at(zorn::pipe::integer, 20, 0), read_at(zorn::pipe::float_pipe, 20, 1)));
}

TEST(DependencyTable, PipeDepths) {
  const zorn::Dependency f = in_order_write(zorn::pipe::float_pipe, 20, 0);
  EXPECT_TRUE(zorn::dependencies_conflict(f, read_at(zorn::pipe::integer, 20, 10)));
  EXPECT_FALSE(zorn::dependencies_conflict(f, read_at(zorn::pipe::integer, 20, 11)));
  const zorn::Dependency l = in_order_write(zorn::pipe::long_pipe, 20, 0);
  EXPECT_TRUE(zorn::dependencies_conflict(l, read_at(zorn::pipe::integer, 20, 14)));
  EXPECT_FALSE(zorn::dependencies_conflict(l, read_at(zorn::pipe::integer, 20, 15)));
}

TEST(DependencyTable, WriteAfterWriteInTheSamePipeIsOrdered) {
  const zorn::Dependency a = in_order_write(zorn::pipe::integer, 20, 0);
  EXPECT_FALSE(zorn::dependencies_conflict(a, in_order_write(zorn::pipe::integer, 20, 1)));
  EXPECT_TRUE(zorn::dependencies_conflict(a, in_order_write(zorn::pipe::float_pipe, 20, 1)));
}

TEST(DependencyTable, WaitRecordCoversByTokenAndDistance) {
  zorn::Dependency wait;
  wait.flags = zorn::dependency_flag::wait | zorn::dependency_flag::token_write;
  wait.token = 5;
  EXPECT_TRUE(zorn::dependencies_conflict(token_write(5, 1), wait));
  EXPECT_FALSE(zorn::dependencies_conflict(token_write(6, 1), wait));
  zorn::Dependency distance;
  distance.flags = zorn::dependency_flag::wait;
  distance.wait_pipe = 1;
  distance.wait_distance = 2;
  distance.counters.fill(5);
  EXPECT_TRUE(zorn::dependencies_conflict(in_order_write(zorn::pipe::float_pipe, 1, 3), distance));
  EXPECT_FALSE(zorn::dependencies_conflict(in_order_write(zorn::pipe::float_pipe, 1, 4), distance));
}

TEST(DependencyTable, ClearOverlappedReportsAndRetires) {
  zorn::DependencyTable t;
  zorn::dependency_table_insert_live(t, token_write(2, 30), true, true);
  zorn::dependency_table_insert_live(t, token_write(3, 31), true, true);
  std::vector<zorn::Dependency> removed;
  zorn::dependency_table_clear_overlapped(t, read_at(zorn::pipe::integer, 31, 0), &removed, true);
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0].token, 3u);
  EXPECT_EQ(t.live_count(), 1u);
}

TEST(DependencyTable, TokenReleaseWithoutWritesLeavesWriteTokens) {
  zorn::DependencyTable t;
  zorn::dependency_table_insert_live(t, token_write(2, 30), true, true);
  zorn::Dependency read = token_write(2, 31);
  read.flags = zorn::dependency_flag::token_read;
  zorn::dependency_table_insert_live(t, read, true, true);
  EXPECT_EQ(zorn::dependency_table_clear_tokens(t, 0x4u | 0x8u, false), 0x8u);
  EXPECT_TRUE(t.records[0].is_live());
  EXPECT_FALSE(t.records[1].is_live());
  EXPECT_EQ(zorn::dependency_table_clear_tokens(t, 0x4u, true), 0u);
  EXPECT_EQ(t.live_count(), 0u);
}

TEST(DependencyTable, RegionRangeWithin) {
  EXPECT_TRUE(zorn::region_range_within(registers(10, 4), registers(11, 2)));
  EXPECT_FALSE(zorn::region_range_within(registers(10, 4), registers(13, 2)));
  EXPECT_FALSE(zorn::region_range_within(zorn::whole_file_region(6), registers(11, 2)));
}

TEST(DependencyTable, ClearEmptiesEveryHead) {
  zorn::DependencyTable t;
  zorn::dependency_table_insert_live(t, token_write(2, 30), true, true);
  t.clear();
  EXPECT_TRUE(t.records.empty());
  for (const auto& list : t.heads)
    for (std::uint32_t h : list) EXPECT_EQ(h, 0xFFFFFFFFu);
}

// --- Field codecs ----------------------------------------------------------------

TEST(ScoreboardFields, TenBitSyncAllRoundTrip) {
  const zorn::SwsbInfo s = zorn::swsb_from_field_hw7(0xF0, 97);
  EXPECT_TRUE(s.sync_all());
  std::uint32_t field = 0x3FF;
  zorn::encode_swsb_annotation_hw7(field, s, 97);
  EXPECT_EQ(field, 0xF0u);
}

TEST(ScoreboardFields, TenBitForms) {
  std::uint32_t f = 0;
  zorn::encode_swsb_annotation_hw7(f, zorn::token_set(3), 49);
  EXPECT_EQ(f, 0x0C3u);
  zorn::encode_swsb_annotation_hw7(f, zorn::dst_wait(3), 97);
  EXPECT_EQ(f, 0x083u);
  zorn::encode_swsb_annotation_hw7(f, zorn::src_wait(3), 97);
  EXPECT_EQ(f, 0x0A3u);
  zorn::encode_swsb_annotation_hw7(f, zorn::distance_wait(2, 3), 97);
  EXPECT_EQ(f, 2u + (3u << 3));
  // Destination wait with a distance: +768 on dpas, +256 otherwise.
  zorn::encode_swsb_annotation_hw7(f, zorn::SwsbInfo(0x0283), 89);
  EXPECT_EQ(f, 3u + (2u << 5) + 768u);
  zorn::encode_swsb_annotation_hw7(f, zorn::SwsbInfo(0x0283), 97);
  EXPECT_EQ(f, 3u + (2u << 5) + 256u);
  EXPECT_EQ(zorn::swsb_from_field_hw7(3u + (2u << 5) + 256u, 97).bits, 0x0283u);
  EXPECT_EQ(zorn::swsb_from_field_hw7(0x0C3, 49).bits, 0x00C3u);
}

TEST(ScoreboardFields, EightBitForms) {
  EXPECT_EQ(zorn::swsb_from_byte(0x42, 49).bits, 0x00C2u);         // set token 2
  EXPECT_EQ(zorn::swsb_from_byte(0x25, 97).bits, 0x0085u);         // dst wait 5
  EXPECT_EQ(zorn::swsb_from_byte(0x35, 97).bits, 0x0045u);         // src wait 5
  EXPECT_EQ(zorn::swsb_from_byte(0x53, 97).bits, 0x4300u);         // long pipe, distance 3
  EXPECT_EQ(zorn::swsb_from_byte(0x92, 49).bits, 0x11C2u);         // send: set 2, distance 1, all pipes
  EXPECT_EQ(zorn::swsb_from_byte(0x92, 97).bits, 0x0182u);         // dst wait 2, distance 1
}

TEST(ScoreboardFields, DecodeIntoRecords) {
  Words w = send(10, 1, 2, 1, 12, 0x92);
  zorn::Dependency token, wait;
  EXPECT_FALSE(zorn::decode_swsb_annotation(6, w, token, wait));  // a distance: not automatic
  EXPECT_EQ(token.token, 2u);
  EXPECT_EQ(token.flags & 3u, 3u);
  EXPECT_TRUE(wait.is_wait());
  EXPECT_EQ(wait.wait_pipe, 1u);
  EXPECT_EQ(wait.wait_distance, 1u);
  w = add(1, 2, 3);  // marker, empty field
  EXPECT_TRUE(zorn::decode_swsb_annotation(6, w, token, wait));
}

}  // namespace
