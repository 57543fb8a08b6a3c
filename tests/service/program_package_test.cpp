// Splicing a native binary into synthetic program packages, the record
// checksum, and the refusal of every malformed package.
#include <gtest/gtest.h>

#include <algorithm>

#include "gpu/service/program_package.hpp"
#include "qez_service.h"
#include "qez_service_control.h"
#include "tests/service/synthetic_elf.hpp"

using namespace ulmara::qez::gpu;
using qez_test::bytes;

namespace {

// ---- checksum: reference values computed independently from the mixing
// description (not by this code) ----

struct checksum_case {
  bytes input;
  std::uint32_t expected;
};

class RecordChecksum : public ::testing::TestWithParam<checksum_case> {};

TEST_P(RecordChecksum, MatchesReferenceValue) {
  const auto& c = GetParam();
  EXPECT_EQ(package_record_checksum(c.input.data(), c.input.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, RecordChecksum,
    ::testing::Values(checksum_case{{}, 0xB5C0FBCFu},                   // empty
                      checksum_case{{0x12}, 0x2910B8DBu},               // tail of one byte
                      checksum_case{{0xAB, 0xCD}, 0xAFBAF365u},         // tail of two
                      checksum_case{{9, 8, 7}, 0xA9ADE8DFu},            // tail of three
                      checksum_case{{1, 2, 3, 4}, 0x23B6895Cu},         // one word
                      checksum_case{{1, 2, 3, 4, 5}, 0xB6B03AD1u},      // a word and a tail
                      checksum_case{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 0x59F2BA62u}));

// ---- synthetic packages ----

std::uint32_t checksum(const std::uint8_t* p, std::size_t n) { return package_record_checksum(p, n); }

enum package_section : std::size_t { sec_before = 1, sec_record = 2, sec_after = 3, sec_after_strings = 4 };

qez_test::elf_image build_package(const qez_test::record_fields& fields, qez_test::elf_options options = {}) {
  return qez_test::build_elf(
      {{".before", qez_test::string_like_section_type, bytes(16, 0x11)},
       {".record", qez_test::record_section_type, qez_test::build_record(fields, checksum)},
       {".after", 1, bytes(24, 0x22)},
       {".after_strings", qez_test::string_like_section_type, bytes(8, 0x33)}},
      options);
}

qez_test::record_fields fields_with_patches() {
  qez_test::record_fields fields;
  qez_test::append_patch(fields.patch_list, 7, bytes(6, 0x44));
  qez_test::append_patch(fields.patch_list, 52, bytes(12, 0x55));
  qez_test::append_patch(fields.patch_list, 9, bytes(4, 0x66));
  return fields;
}

// Owns a spliced package.
struct spliced {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  int result = 0;
  ~spliced() { qez_serv_free(data); }
};

void splice(const bytes& package, const bytes& binary, spliced* out, const bytes* extra = nullptr) {
  out->result = splice_binary_into_package(
      package.data(), package.size(), binary.data(), binary.size(),
      extra ? extra->data() : nullptr, extra ? extra->size() : 0, &out->data, &out->size);
}

std::uint32_t field(const std::uint8_t* record, int index) { return qez_test::get_u32(record + 4 * index); }

struct slot_case {
  std::size_t binary_size;
  std::uint32_t slot;
};
class SpliceSlot : public ::testing::TestWithParam<slot_case> {};

TEST_P(SpliceSlot, SlotIsBinaryPlus64RoundedTo256) {
  const auto pkg = build_package(fields_with_patches());
  spliced out;
  splice(pkg.image, bytes(GetParam().binary_size, 0x77), &out);
  ASSERT_EQ(out.result, 0);
  const std::uint8_t* record = out.data + pkg.data_offsets[sec_record];
  EXPECT_EQ(field(record, 12), GetParam().slot);
  EXPECT_EQ(field(record, 16), GetParam().binary_size);
  EXPECT_EQ(out.size, pkg.image.size() + GetParam().slot - 256);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SpliceSlot,
                         ::testing::Values(slot_case{1, 256}, slot_case{192, 256},
                                           slot_case{193, 512}, slot_case{448, 512},
                                           slot_case{449, 768}));

TEST(Splice, RebuildsTheRecordAndMovesLaterSections) {
  const qez_test::record_fields fields = fields_with_patches();
  const auto pkg = build_package(fields);
  const bytes binary(300, 0x77);
  const bytes extra = {0xE1, 0xE2, 0xE3, 0xE4, 0xE5};
  spliced out;
  splice(pkg.image, binary, &out, &extra);
  ASSERT_EQ(out.result, 0);

  const std::uint64_t new_slot = 512;
  const std::int64_t growth = static_cast<std::int64_t>(new_slot) - 256 + 5;
  ASSERT_EQ(out.size, pkg.image.size() + growth);
  const std::uint8_t* record = out.data + pkg.data_offsets[sec_record];
  const std::uint8_t* payload = record + 68;

  // Everything up to the slot is unchanged (header fields aside).
  EXPECT_TRUE(std::equal(payload, payload + fields.prefix.size(), fields.prefix.begin()));
  const std::uint8_t* slot = payload + fields.prefix.size();
  EXPECT_TRUE(std::equal(slot, slot + binary.size(), binary.begin()));
  EXPECT_TRUE(std::all_of(slot + binary.size(), slot + new_slot, [](std::uint8_t b) { return b == 0; }));
  const std::uint8_t* tails = slot + new_slot;
  EXPECT_TRUE(std::equal(tails, tails + 8, fields.tails[0].begin()));
  EXPECT_TRUE(std::equal(tails + 8, tails + 12, fields.tails[1].begin()));

  // Patch list: type 52 data cleared, the other entries intact.
  bytes expected_list;
  qez_test::append_patch(expected_list, 7, bytes(6, 0x44));
  qez_test::append_patch(expected_list, 52, bytes(12, 0));
  qez_test::append_patch(expected_list, 9, bytes(4, 0x66));
  const std::uint8_t* list = tails + 12;
  EXPECT_TRUE(std::equal(list, list + expected_list.size(), expected_list.begin()));
  const std::uint8_t* extra_at = list + expected_list.size();
  EXPECT_TRUE(std::equal(extra_at, extra_at + extra.size(), extra.begin()));

  // Header: checksum over the new payload, slot, binary length, list + extra.
  const std::size_t new_payload = fields.prefix.size() + new_slot + 12 + expected_list.size() + extra.size();
  EXPECT_EQ(field(record, 7), package_record_checksum(payload, new_payload));
  EXPECT_EQ(field(record, 11), expected_list.size() + extra.size());
  EXPECT_EQ(field(record, 12), new_slot);
  EXPECT_EQ(field(record, 16), binary.size());
  EXPECT_EQ(field(record, 2), fields.device_code);

  // Data after the record, moved by the growth.
  qez_test::elf_image moved{bytes(out.data, out.data + out.size), pkg.table_offset, {}};
  EXPECT_EQ(moved.section_offset(sec_before), pkg.data_offsets[sec_before]);
  EXPECT_EQ(moved.section_offset(sec_record), pkg.data_offsets[sec_record]);
  EXPECT_EQ(moved.section_size(sec_record), pkg.section_size(sec_record) + growth);
  for (std::size_t s : {std::size_t{sec_after}, std::size_t{sec_after_strings}, std::size_t{5}}) {
    EXPECT_EQ(moved.section_offset(s), pkg.section_offset(s) + growth) << s;
    EXPECT_TRUE(std::equal(out.data + moved.section_offset(s),
                           out.data + moved.section_offset(s) + moved.section_size(s),
                           pkg.image.begin() + static_cast<long>(pkg.section_offset(s))));
  }
  // String-like sections become string tables.
  EXPECT_EQ(moved.section_type(sec_before), 3u);
  EXPECT_EQ(moved.section_type(sec_after_strings), 3u);
  EXPECT_EQ(moved.section_type(sec_record), qez_test::record_section_type);
  EXPECT_EQ(moved.section_type(sec_after), 1u);
}

TEST(Splice, ASmallerSlotShrinksThePackage) {
  qez_test::record_fields fields = fields_with_patches();
  fields.slot = bytes(1024, 0xB2);
  const auto pkg = build_package(fields);
  spliced out;
  splice(pkg.image, bytes(10, 0x77), &out);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.size, pkg.image.size() - 768);
  qez_test::elf_image moved{bytes(out.data, out.data + out.size), pkg.table_offset, {}};
  EXPECT_EQ(moved.section_offset(sec_after), pkg.section_offset(sec_after) - 768);
}

// ---- malformed packages ----

struct malformed_case {
  const char* name;
  int expected;
  void (*damage)(qez_test::elf_image&);
};

class SpliceRefuses : public ::testing::TestWithParam<malformed_case> {};

std::size_t record_at(const qez_test::elf_image& p) { return p.data_offsets[sec_record]; }

TEST_P(SpliceRefuses, WithItsCodeAndNoOutput) {
  auto pkg = build_package(fields_with_patches());
  GetParam().damage(pkg);
  const long live = qez_standin_live_allocations();
  spliced out;
  out.data = reinterpret_cast<std::uint8_t*>(&out);  // overwritten with null on failure
  out.size = 99;
  const bytes binary(40, 0x77);
  out.result = splice_binary_into_package(pkg.image.data(), pkg.image.size(), binary.data(),
                                          binary.size(), nullptr, 0, &out.data, &out.size);
  EXPECT_EQ(out.result, GetParam().expected);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(out.size, 0u);
  EXPECT_EQ(qez_standin_live_allocations(), live);
}

const malformed_case malformed_cases[] = {
    {"NotElf", -1, [](qez_test::elf_image& p) { p.image[1] = 'X'; }},
    {"ShorterThanTheFileHeader", -1, [](qez_test::elf_image& p) { p.image.resize(40); }},
    {"NoSectionHeaders", -2, [](qez_test::elf_image& p) { qez_test::put_u16(p.image, 60, 0); }},
    {"NoRecordSection", -2,
     [](qez_test::elf_image& p) { qez_test::put_u32(p.image, p.header_at(sec_record) + 4, 1); }},
    {"RecordSectionOf27Bytes", -2,
     [](qez_test::elf_image& p) { qez_test::put_u64(p.image, p.header_at(sec_record) + 32, 27); }},
    {"SectionTableBeyondTheBuffer", -2,
     [](qez_test::elf_image& p) { qez_test::put_u64(p.image, 40, p.image.size() - 100); }},
    {"SectionCountBeyondTheBuffer", -2,
     [](qez_test::elf_image& p) { qez_test::put_u16(p.image, 60, 0xFFFF); }},
    {"RecordSectionBeyondTheBuffer", -2,
     [](qez_test::elf_image& p) {
       qez_test::put_u64(p.image, p.header_at(sec_record) + 24, p.image.size() - 30);
     }},
    {"RecordSectionSizeOverflows", -2,
     [](qez_test::elf_image& p) {
       qez_test::put_u64(p.image, p.header_at(sec_record) + 32, ~std::uint64_t{0} - 8);
     }},
    {"BadMagic", -3, [](qez_test::elf_image& p) { p.image[record_at(p)] = 'X'; }},
    {"Field4NotOne", -3, [](qez_test::elf_image& p) { qez_test::put_u32(p.image, record_at(p) + 16, 2); }},
    {"Field6NotZero", -3, [](qez_test::elf_image& p) { qez_test::put_u32(p.image, record_at(p) + 24, 1); }},
    {"RecordHeaderCut", -3,
     [](qez_test::elf_image& p) { qez_test::put_u64(p.image, p.header_at(sec_record) + 32, 40); }},
    {"PrefixLengthBeyondTheSection", -3,
     [](qez_test::elf_image& p) { qez_test::put_u32(p.image, record_at(p) + 40, 0xFFFFFF00u); }},
    {"TailLengthBeyondTheSection", -3,
     [](qez_test::elf_image& p) { qez_test::put_u32(p.image, record_at(p) + 56, 4096); }},
    {"ChecksumMismatch", -5,
     [](qez_test::elf_image& p) { p.image[record_at(p) + 68] ^= 0x01; }},
};

INSTANTIATE_TEST_SUITE_P(Packages, SpliceRefuses, ::testing::ValuesIn(malformed_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Splice, RefusesNullPackage) {
  std::uint8_t* out = nullptr;
  std::size_t size = 7;
  const bytes binary(4, 1);
  EXPECT_EQ(splice_binary_into_package(nullptr, 100, binary.data(), binary.size(), nullptr, 0, &out, &size), -1);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(size, 0u);
}

// Drivers usually write the section header table after the section data:
// the table then moves with the growth and e_shoff follows it.
TEST(Splice, MovesASectionTableThatFollowsTheRecord) {
  qez_test::elf_options options;
  options.table_before_data = false;
  const qez_test::record_fields fields = fields_with_patches();
  const auto pkg = build_package(fields, options);
  ASSERT_GT(pkg.table_offset, pkg.data_offsets[sec_record]);
  const bytes binary(700, 0x77);
  spliced out;
  splice(pkg.image, binary, &out);
  ASSERT_EQ(out.result, 0);

  const std::int64_t growth = 768 - 256;
  ASSERT_EQ(out.size, pkg.image.size() + growth);
  const std::uint64_t table_offset = qez_test::get_u64(out.data + 40);
  EXPECT_EQ(table_offset, pkg.table_offset + growth);
  EXPECT_EQ(qez_test::get_u16(out.data + 60), qez_test::get_u16(pkg.image.data() + 60));
  qez_test::elf_image moved{bytes(out.data, out.data + out.size), table_offset, {}};

  // The table itself is the old one with the offsets and types fixed up.
  EXPECT_EQ(moved.section_offset(sec_before), pkg.section_offset(sec_before));
  EXPECT_EQ(moved.section_offset(sec_record), pkg.section_offset(sec_record));
  EXPECT_EQ(moved.section_size(sec_record), pkg.section_size(sec_record) + growth);
  EXPECT_EQ(moved.section_type(sec_before), 3u);
  for (std::size_t s : {std::size_t{sec_after}, std::size_t{sec_after_strings}, std::size_t{5}}) {
    EXPECT_EQ(moved.section_offset(s), pkg.section_offset(s) + growth) << s;
    EXPECT_EQ(moved.section_size(s), pkg.section_size(s)) << s;
    EXPECT_TRUE(std::equal(out.data + moved.section_offset(s),
                           out.data + moved.section_offset(s) + moved.section_size(s),
                           pkg.image.begin() + static_cast<long>(pkg.section_offset(s))))
        << s;
  }

  // The record: the binary in its slot and a checksum over the new payload.
  const std::uint8_t* record = out.data + moved.section_offset(sec_record);
  const std::uint8_t* payload = record + 68;
  EXPECT_EQ(field(record, 12), 768u);
  EXPECT_EQ(field(record, 16), binary.size());
  EXPECT_TRUE(std::equal(binary.begin(), binary.end(), payload + fields.prefix.size()));
  const std::size_t payload_size = moved.section_size(sec_record) - 68;
  EXPECT_EQ(field(record, 7), package_record_checksum(payload, payload_size));

  // The spliced package is itself a valid package: splicing again works.
  spliced again;
  splice(bytes(out.data, out.data + out.size), bytes(10, 0x78), &again);
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.size, out.size - 512);
}

TEST(Splice, RefusesASectionTableInsideTheRecordSection) {
  qez_test::elf_options options;
  options.table_before_data = false;
  auto pkg = build_package(fields_with_patches(), options);
  // The record section now reaches over the table, to the end of the image.
  qez_test::put_u64(pkg.image, pkg.header_at(sec_record) + 32, pkg.image.size() - pkg.data_offsets[sec_record]);
  spliced out;
  splice(pkg.image, bytes(4, 1), &out);
  EXPECT_EQ(out.result, -2);
  EXPECT_EQ(out.data, nullptr);
}

// A patch entry of length 0 would never advance; one shorter than its head
// overlaps the next; a head cut by the list's end cannot be read.
struct patch_case {
  const char* name;
  bytes list;
};
class SpliceRefusesPatchList : public ::testing::TestWithParam<patch_case> {};

TEST_P(SpliceRefusesPatchList, AsABadRecord) {
  qez_test::record_fields fields;
  fields.patch_list = GetParam().list;
  const auto pkg = build_package(fields);
  spliced out;
  splice(pkg.image, bytes(4, 1), &out);
  EXPECT_EQ(out.result, -3);
  EXPECT_EQ(out.data, nullptr);
}

bytes entry_head(std::uint32_t type, std::uint32_t length) {
  bytes b;
  qez_test::append_u32(b, type);
  qez_test::append_u32(b, length);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SpliceRefusesPatchList,
    ::testing::Values(patch_case{"LengthZero", entry_head(52, 0)},
                      patch_case{"LengthShorterThanHead", entry_head(52, 4)},
                      patch_case{"HeadCutByListEnd", bytes{52, 0, 0, 0, 8}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Splice, PatchDataRunningPastTheListIsClearedOnlyUpToItsEnd) {
  qez_test::record_fields fields;
  fields.patch_list = entry_head(52, 64);  // claims 56 bytes of data, holds 4
  fields.patch_list.insert(fields.patch_list.end(), {1, 2, 3, 4});
  const auto pkg = build_package(fields);
  spliced out;
  splice(pkg.image, bytes(4, 1), &out);
  ASSERT_EQ(out.result, 0);
  const std::uint8_t* record = out.data + pkg.data_offsets[sec_record];
  const std::uint8_t* list = record + 68 + fields.prefix.size() + 256 + 12;
  EXPECT_EQ(bytes(list + 8, list + 12), bytes(4, 0));
  EXPECT_EQ(qez_test::get_u32(list + 12), 0x22222222u);  // next section untouched
}

TEST(Splice, AllocationFailureGivesMinus4) {
  const auto pkg = build_package(fields_with_patches());
  qez_standin_fail_allocations(0, 1);
  spliced out;
  splice(pkg.image, bytes(4, 1), &out);
  qez_standin_fail_allocations(0, 0);
  EXPECT_EQ(out.result, -4);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(out.size, 0u);
}

}  // namespace
