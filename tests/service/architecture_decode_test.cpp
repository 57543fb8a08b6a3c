// Architecture decoding: IP versions, the lookup tables, and device binaries
// built here from the qxbin and program-package layouts, malformed ones too.
#include <gtest/gtest.h>

#include "gpu/service/architecture_decode.hpp"
#include "gpu/service/hw_detect_exceptions.hpp"
#include "gpu/service/program_package.hpp"
#include "tests/service/synthetic_elf.hpp"

using namespace ulmara::qez::gpu;
namespace npack = ulmara::qez::zorn::npack;
using qez_test::bytes;

namespace {

constexpr std::uint32_t ip_version(std::uint32_t arch, std::uint32_t release, std::uint32_t revision) {
  return arch << 22 | release << 14 | revision;
}

// ---- IP version ----

struct ip_case {
  std::uint32_t arch, release;
  std::uint32_t generation, family;
  qez_gpu_arch_t architecture;
  std::uint32_t flags;
};

class IpVersion : public ::testing::TestWithParam<ip_case> {};

TEST_P(IpVersion, DecodesGenerationFamilyArchitectureAndFlags) {
  const ip_case& c = GetParam();
  hw_identity id;
  ASSERT_TRUE(decode_ip_version(ip_version(c.arch, c.release, 0x25), &id));
  EXPECT_EQ(id.generation, c.generation);
  EXPECT_EQ(id.family, c.family);
  EXPECT_EQ(id.stepping, 0x25u);
  EXPECT_EQ(architecture_of_generation(id.generation), c.architecture);
  EXPECT_EQ(device_flags_of(id.generation, id.family), c.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IpVersion,
    ::testing::Values(ip_case{9, 0, 1, 1, QEZ_GPU_ARCH_VEMRA, 1},
                      ip_case{11, 200, 3, 3, QEZ_GPU_ARCH_SUTAL, 0},
                      ip_case{12, 0, 4, 4, QEZ_GPU_ARCH_DORIK, 0},
                      ip_case{12, 10, 4, 4, QEZ_GPU_ARCH_DORIK, 0},
                      ip_case{12, 50, 5, 5, QEZ_GPU_ARCH_FENWA, 3},
                      ip_case{12, 51, 6, 7, QEZ_GPU_ARCH_GULON, 2},
                      ip_case{12, 55, 6, 7, QEZ_GPU_ARCH_GULON, 2},
                      ip_case{12, 59, 6, 7, QEZ_GPU_ARCH_GULON, 2},
                      ip_case{12, 60, 7, 11, QEZ_GPU_ARCH_HARIX, 3},
                      ip_case{12, 61, 7, 12, QEZ_GPU_ARCH_HARIX, 1},
                      ip_case{12, 70, 6, 8, QEZ_GPU_ARCH_GULON, 1},
                      ip_case{12, 71, 6, 8, QEZ_GPU_ARCH_GULON, 1},
                      ip_case{12, 73, 6, 9, QEZ_GPU_ARCH_GULON, 3},
                      ip_case{12, 74, 6, 9, QEZ_GPU_ARCH_GULON, 3},
                      ip_case{20, 5, 8, 13, QEZ_GPU_ARCH_JORVA, 3},
                      ip_case{30, 0, 9, 14, QEZ_GPU_ARCH_LUMET, 3},
                      ip_case{35, 255, 10, 15, QEZ_GPU_ARCH_NOPRA, 2}));

class IpVersionUnknown : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(IpVersionUnknown, IsNotRecognised) {
  hw_identity id;
  id.generation = 77;
  EXPECT_FALSE(decode_ip_version(GetParam(), &id));
  EXPECT_EQ(id.generation, 77u);
}

INSTANTIATE_TEST_SUITE_P(Combinations, IpVersionUnknown,
                         ::testing::Values(ip_version(12, 11, 0), ip_version(12, 49, 0),
                                           ip_version(12, 62, 0), ip_version(12, 69, 0),
                                           ip_version(12, 72, 0), ip_version(12, 75, 0),
                                           ip_version(10, 0, 0), ip_version(0, 0, 0),
                                           ip_version(1023, 255, 63)));

// ---- tables ----

TEST(ArchitectureTables, CoreFamilyToGeneration) {
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {
      {12, 1}, {13, 2}, {14, 2}, {15, 3}, {16, 3}, {17, 5}, {18, 4}, {0x0C05, 5}, {0x0C06, 0},
      {0x0C07, 6}, {0x0C08, 7}, {0x0C09, 8}, {0x1E00, 9}, {11, 0}, {19, 0}, {0x0C0A, 0}};
  for (const auto& r : rows) EXPECT_EQ(generation_of_core_family(r.first), r.second) << r.first;
}

TEST(ArchitectureTables, ProductToFamily) {
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {
      {18, 1}, {25, 1}, {26, 2}, {27, 2}, {28, 3}, {32, 3}, {33, 4}, {1210, 4}, {1250, 5},
      {1270, 7}, {1271, 11}, {1272, 8}, {1273, 9}, {1274, 13}, {1275, 13}, {1276, 13},
      {1300, 14}, {1350, 15}};
  for (const auto& r : rows) {
    std::uint32_t family = 0;
    EXPECT_TRUE(family_of_product(r.first, &family)) << r.first;
    EXPECT_EQ(family, r.second) << r.first;
  }
  for (std::uint32_t outside : {0u, 17u, 1211u, 1249u, 1251u, 1277u, 1301u, 1351u}) {
    std::uint32_t family = 99;
    EXPECT_FALSE(family_of_product(outside, &family)) << outside;
    EXPECT_EQ(family, 99u);
  }
}

TEST(ArchitectureTables, FamilyAndGenerationBothWays) {
  const std::uint32_t family_to_generation[][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6},
                                                   {9, 6}, {10, 7}, {12, 7}, {13, 8}, {14, 9},
                                                   {15, 10}, {40, 10}, {0, 0}};
  for (const auto& r : family_to_generation) EXPECT_EQ(generation_of_family(r[0]), r[1]) << r[0];
  const std::uint32_t generation_to_family[][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6},
                                                   {7, 10}, {8, 13}, {9, 14}, {10, 15}, {0, 0}, {11, 0}};
  for (const auto& r : generation_to_family) EXPECT_EQ(family_of_generation(r[0]), r[1]) << r[0];
}

TEST(ArchitectureTables, GenerationsWithoutArchitecture) {
  EXPECT_EQ(architecture_of_generation(0), QEZ_GPU_ARCH_UNKNOWN);
  EXPECT_EQ(architecture_of_generation(2), QEZ_GPU_ARCH_UNKNOWN);
  EXPECT_EQ(architecture_of_generation(11), QEZ_GPU_ARCH_UNKNOWN);
}

// ---- qxbin images ----

bytes note(std::uint32_t type, std::uint32_t desc, const std::string& name = "TavirGT",
           std::uint32_t desc_size = 4) {
  bytes b;
  qez_test::append_u32(b, static_cast<std::uint32_t>(name.size() + 1));
  qez_test::append_u32(b, desc_size);
  qez_test::append_u32(b, type);
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
  while (b.size() % 4) b.push_back(0);
  for (std::uint32_t i = 0; i < desc_size / 4; ++i) qez_test::append_u32(b, desc);
  return b;
}

qez_test::elf_options qxbin_options(std::uint16_t machine = 0, std::uint32_t flags = 0) {
  qez_test::elf_options o;
  o.type = 0xFF12;
  o.machine = machine;
  o.flags = flags;
  return o;
}

qez_test::elf_image qxbin_with_notes(const bytes& notes, qez_test::elf_options options = qxbin_options()) {
  return qez_test::build_elf({{".text.entry", 1, bytes(64, 0x90)},
                              {".qx_info", 0xff000011, bytes(32, 0)},
                              {".note.tavirgt.compat", 7, notes}},
                             options);
}

hw_identity parse(const bytes& image) {
  hw_identity id;
  parse_compat_note(image.data(), image.size(), &id.generation, &id.family, &id.stepping);
  return id;
}

TEST(QxbinNote, CoreFamilyWithoutProductCompletesTheFamily) {
  const hw_identity id = parse(qxbin_with_notes(note(2, 0x0C08)).image);
  EXPECT_EQ(id.generation, 7u);
  EXPECT_EQ(id.family, 10u);
  EXPECT_EQ(architecture_of_generation(id.generation), QEZ_GPU_ARCH_HARIX);
}

TEST(QxbinNote, ProductCoreFamilyAndStepping) {
  bytes notes = note(1, 1271);
  const bytes core = note(2, 0x0C08), step = note(3, 0x00000A00u | 0xFFFF00FFu);
  notes.insert(notes.end(), core.begin(), core.end());
  notes.insert(notes.end(), step.begin(), step.end());
  const hw_identity id = parse(qxbin_with_notes(notes).image);
  EXPECT_EQ(id.generation, 7u);
  EXPECT_EQ(id.family, 11u);
  EXPECT_EQ(id.stepping, 10u);  // bits 8-12 of 0xFFFF0AFF
}

TEST(QxbinNote, FirstCoreFamilyWinsAndProductOutsideTableIsIgnored) {
  bytes notes = note(2, 0x0C07);
  for (const bytes& n : {note(2, 0x0C09), note(1, 5000), note(9, 1), note(1, 1250, "TavirGT", 8)})
    notes.insert(notes.end(), n.begin(), n.end());
  const hw_identity id = parse(qxbin_with_notes(notes).image);
  EXPECT_EQ(id.generation, 6u);
  EXPECT_EQ(id.family, 6u);
}

TEST(QxbinNote, ProductOnlyGivesTheGenerationOfTheFamily) {
  const hw_identity id = parse(qxbin_with_notes(note(1, 1300)).image);
  EXPECT_EQ(id.family, 14u);
  EXPECT_EQ(id.generation, 9u);
}

TEST(QxbinNote, GenerationTwoHasNoArchitecture) {
  const hw_identity id = parse(qxbin_with_notes(note(2, 13)).image);
  EXPECT_EQ(id.generation, 2u);
  EXPECT_EQ(architecture_of_generation(id.generation), QEZ_GPU_ARCH_UNKNOWN);
}

TEST(QxbinMachine, ProductValueWithoutFlagBit15) {
  const auto image = qez_test::build_elf({{".qx_info", 0xff000011, bytes(8, 0)}},
                                         qxbin_options(1272, 0x00000300));
  const hw_identity id = parse(image.image);
  EXPECT_EQ(id.family, 8u);
  EXPECT_EQ(id.generation, 6u);
  EXPECT_EQ(id.stepping, 3u);
}

TEST(QxbinMachine, CoreFamilyWithFlagBit15) {
  const auto image = qez_test::build_elf({{".qx_info", 0xff000011, bytes(8, 0)}},
                                         qxbin_options(0x0C07, 0x00008000u | 0x1F00u));
  const hw_identity id = parse(image.image);
  EXPECT_EQ(id.generation, 6u);
  EXPECT_EQ(id.family, 6u);
  EXPECT_EQ(id.stepping, 0x1Fu);
}

TEST(QxbinMachine, NoteOfAnotherNameIsNotTheCompatibilityNote) {
  auto image = qez_test::build_elf({{".qx_info", 0xff000011, bytes(8, 0)},
                                    {".note.other", 7, note(2, 0x0C08)}},
                                   qxbin_options(1250, 0));
  const hw_identity id = parse(image.image);
  EXPECT_EQ(id.family, 5u);
  EXPECT_EQ(id.generation, 5u);
}

TEST(QxbinMachine, RelocatableTypeIsAlsoQxbin) {
  qez_test::elf_options options = qxbin_options(1273, 0);
  options.type = 1;
  const hw_identity id = parse(qez_test::build_elf({{".qx_info", 0xff000011, bytes(8, 0)}}, options).image);
  EXPECT_EQ(id.family, 9u);
}

// ---- program packages ----

std::uint32_t checksum(const std::uint8_t* p, std::size_t n) { return package_record_checksum(p, n); }

bytes package_with(qez_test::record_fields fields, const bytes& extra_text = {}) {
  return qez_test::build_elf({{".text", 1, extra_text},
                              {".record", qez_test::record_section_type, qez_test::build_record(fields, checksum)}})
      .image;
}

TEST(PackageRecord, CoreFamilyAndStepping) {
  qez_test::record_fields fields;
  fields.device_code = 0x0C08;
  fields.stepping = 4;
  const hw_identity id = parse(package_with(fields));
  EXPECT_EQ(id.generation, 7u);
  EXPECT_EQ(id.family, 10u);
  EXPECT_EQ(id.stepping, 4u);
}

// The pattern with every ignored bit set, so only the compared bits decide.
bytes split_pattern() {
  return {0x31, 0xFF, 0x03, 0x80, 0x04, 0, 0, 0, 0x0C, 0xFF, 0x20, 0x30, 0, 0, 0, 0};
}

class PackageSplitFamily : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(PackageSplitFamily, PatternDecidesBetweenTheTwoGenerations) {
  qez_test::record_fields fields;
  fields.device_code = GetParam();
  const hw_identity without = parse(package_with(fields, bytes(40, 0x31)));
  EXPECT_EQ(without.generation, 5u);
  EXPECT_EQ(without.family, 5u);
  const hw_identity with = parse(package_with(fields, split_pattern()));
  EXPECT_EQ(with.generation, 6u);
  EXPECT_EQ(with.family, 6u);
}

INSTANTIATE_TEST_SUITE_P(CoreFamilies, PackageSplitFamily, ::testing::Values(17u, 0x0C05u));

TEST(SplitPattern, MatchesOnlyWithEveryComparedByte) {
  const bytes pattern = split_pattern();
  EXPECT_TRUE(contains_generation_split_pattern(pattern.data(), pattern.size()));
  bytes shifted(5, 0xEE);
  shifted.insert(shifted.end(), pattern.begin(), pattern.end());
  EXPECT_TRUE(contains_generation_split_pattern(shifted.data(), shifted.size()));
  EXPECT_FALSE(contains_generation_split_pattern(shifted.data(), shifted.size() - 1));
  const std::size_t compared[] = {0, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15};
  for (std::size_t i : compared) {
    bytes changed = pattern;
    changed[i] ^= (i == 2) ? 0x04 : 0x40;
    EXPECT_FALSE(contains_generation_split_pattern(changed.data(), changed.size())) << i;
  }
}

// ---- malformed binaries ----

template <class Exception>
void expect_refused(const bytes& image, const char* message) {
  try {
    parse(image);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

constexpr const char* bad_elf_text = "Incompatible OpenCL runtime: program is not in expected ELF format.";
constexpr const char* no_section_text = "Incompatible OpenCL runtime: no binary section found.";
constexpr const char* bad_section_text = "Incompatible OpenCL runtime: invalid binary section.";

TEST(MalformedBinary, NotElfOrTooShort) {
  expect_refused<npack::bad_elf>(bytes{0x7F, 'E', 'L'}, bad_elf_text);
  expect_refused<npack::bad_elf>(bytes{0x7F, 'E', 'L', 'G', 0, 0}, bad_elf_text);
  expect_refused<npack::bad_elf>(bytes{0x7F, 'E', 'L', 'F', 2, 1, 1}, bad_elf_text);
  hw_identity id;
  EXPECT_THROW(parse_compat_note(nullptr, 100, &id.generation, &id.family, &id.stepping), npack::bad_elf);
}

TEST(MalformedBinary, SectionTableOutsideTheBinary) {
  bytes image = qxbin_with_notes(note(2, 0x0C08)).image;
  qez_test::put_u64(image, 40, image.size() - 64);
  expect_refused<npack::bad_elf>(image, bad_elf_text);
  bytes package = package_with({});
  qez_test::put_u16(package, 60, 0x4000);
  expect_refused<npack::bad_elf>(package, bad_elf_text);
}

TEST(MalformedBinary, NoteSizesThatOverflow) {
  for (std::uint32_t name_size : {0xFFFFFFFFu, 0xFFFFFFFDu, 0x1000u}) {
    bytes notes = note(2, 0x0C08);
    qez_test::put_u32(notes, 0, name_size);
    expect_refused<npack::bad_elf>(qxbin_with_notes(notes).image, bad_elf_text);
  }
  bytes notes = note(2, 0x0C08);
  qez_test::put_u32(notes, 4, 0xFFFFFFFCu);
  expect_refused<npack::bad_elf>(qxbin_with_notes(notes).image, bad_elf_text);
}

TEST(MalformedBinary, NoteSectionOrStringTableOutsideTheBinary) {
  auto image = qxbin_with_notes(note(2, 0x0C08));
  qez_test::put_u64(image.image, image.header_at(3) + 32, 1u << 20);
  expect_refused<npack::bad_elf>(image.image, bad_elf_text);
  image = qxbin_with_notes(note(2, 0x0C08));
  qez_test::put_u64(image.image, image.header_at(4) + 24, ~std::uint64_t{0} - 2);
  expect_refused<npack::bad_elf>(image.image, bad_elf_text);
}

TEST(MalformedBinary, NameOffsetBeyondTheStringTableMatchesNothing) {
  auto image = qxbin_with_notes(note(2, 0x0C08), qxbin_options(1250, 0));
  qez_test::put_u32(image.image, image.header_at(3), 0xFFFFFFF0u);
  const hw_identity id = parse(image.image);
  EXPECT_EQ(id.family, 5u);  // from e_machine: the note was not found
}

TEST(MalformedBinary, PackageWithoutRecord) {
  expect_refused<npack::no_binary_section>(qez_test::build_elf({{".text", 1, bytes(8, 0)}}).image,
                                           no_section_text);
  bytes no_sections = package_with({});
  qez_test::put_u16(no_sections, 60, 0);
  expect_refused<npack::no_binary_section>(no_sections, no_section_text);
  auto short_record = qez_test::build_elf({{".record", qez_test::record_section_type, bytes(27, 0)}});
  expect_refused<npack::no_binary_section>(short_record.image, no_section_text);
}

TEST(MalformedBinary, RecordDataOutsideTheBinary) {
  auto image = qez_test::build_elf({{".record", qez_test::record_section_type, bytes(28, 0)}});
  qez_test::put_u64(image.image, image.header_at(1) + 24, image.image.size() - 10);
  expect_refused<npack::bad_elf>(image.image, bad_elf_text);
}

TEST(MalformedBinary, RecordFormatFields) {
  qez_test::record_fields fields;
  fields.magic = 0x454B4F57;
  expect_refused<npack::bad_binary_section>(package_with(fields), bad_section_text);
  fields = {};
  fields.field4 = 0;
  expect_refused<npack::bad_binary_section>(package_with(fields), bad_section_text);
  fields = {};
  fields.field6 = 3;
  expect_refused<npack::bad_binary_section>(package_with(fields), bad_section_text);
}

TEST(DetectionExceptions, Messages) {
  EXPECT_STREQ(ulmara::qez::zorn::opencl_error(-1001).what(), "An OpenCL error occurred: -1001");
  EXPECT_EQ(ulmara::qez::zorn::opencl_error(-5).code(), -5);
  EXPECT_STREQ(ulmara::qez::zorn::nivolo_error(0x78000001u).what(), "A Nivolo error occurred.");
  EXPECT_STREQ(ulmara::qez::zorn::unsupported_sycl_device().what(), "Unsupported SYCL device.");
}

}  // namespace
