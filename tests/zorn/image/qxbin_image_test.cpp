// qxbin images: the layout arithmetic, whole images byte for byte against
// the layout tables, and images read back by an <elf.h> reader and by
// readelf and objdump.
#include <gtest/gtest.h>

#include <string>

#include "gpu/zorn/qxbin_image.hpp"
#include "tests/zorn/image/image_test_support.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn_test::Bytes;

namespace {

Bytes sample_code(std::size_t instructions) {
  Bytes code(instructions * 16);
  for (std::size_t i = 0; i < code.size(); ++i) code[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return code;
}

const std::string sample_qxinfo = "version: 1.8\nkernels: \n  - name: \"binary_test\"\n";

TEST(QxbinLayout, BinaryTestName) {
  const zorn::QxbinLayout layout = zorn::qxbin_layout(11, 45, 544);
  EXPECT_EQ(layout.shstrtab_bytes, 59u);
  EXPECT_EQ(layout.text_name_index, 41u);
  EXPECT_EQ(layout.qxinfo_offset, 480u);
  EXPECT_EQ(layout.code_offset, 480u + 48u);
  EXPECT_EQ(layout.total_bytes, 480u + 48u + 544u);
}

TEST(QxbinLayout, PaddingBeforeQxinfoIsNeverEmpty) {
  for (std::uint64_t n = 0; n < 64; ++n) {
    const zorn::QxbinLayout layout = zorn::qxbin_layout(n, 1, 16);
    EXPECT_EQ(layout.qxinfo_offset, (n + 472) & ~15ull) << n;
    EXPECT_GT(layout.qxinfo_offset, 408 + layout.shstrtab_bytes) << n;
    EXPECT_EQ(layout.qxinfo_offset % 16, 0u);
  }
  // n = 8: the string table ends at 464, a 16-byte boundary; the text still
  // moves on to 480.
  EXPECT_EQ(zorn::qxbin_layout(8, 0, 0).qxinfo_offset, 480u);
}

TEST(QxbinLayout, OddSizesRoundUpTo16) {
  const zorn::QxbinLayout layout = zorn::qxbin_layout(11, 17, 8);
  EXPECT_EQ(layout.code_offset, 480u + 32u);
  EXPECT_EQ(layout.total_bytes, 480u + 32u + 16u);
}

TEST(QxbinImage, CoreFamilies) {
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::vemra), 12u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::sutal), 16u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::dorik), 18u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::gulon), 0x0C07u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::harix), 0x0C08u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::jorva), 0x0C09u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::lumet), 0x1E00u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::fenwa), 0u);
  EXPECT_EQ(zorn::qxbin_core_family(zorn::hw::nopra), 0u);
  EXPECT_EQ(zorn::qxbin_core_family(0), 0u);
}

struct ImageCase {
  const char* name;
  std::size_t qxinfo_bytes;
  std::size_t instructions;
  std::uint32_t core_family;
};

class QxbinImageBytes : public ::testing::TestWithParam<ImageCase> {};

TEST_P(QxbinImageBytes, MatchLayoutTables) {
  const ImageCase c = GetParam();
  const std::string qxinfo(c.qxinfo_bytes, 'q');
  const Bytes code = sample_code(c.instructions);
  const Bytes image = zorn::pack_qxbin_image(c.name, qxinfo, code, c.core_family);
  EXPECT_EQ(image, zorn_test::expected_qxbin_image(c.name, qxinfo, code, c.core_family));
}

INSTANTIATE_TEST_SUITE_P(Zorn, QxbinImageBytes,
                         ::testing::Values(ImageCase{"binary_test", 45, 34, 12}, ImageCase{"binary_test", 0, 0, 16},
                                           ImageCase{"k", 16, 1, 0x1E00}, ImageCase{"eight888", 33, 3, 0x0C07},
                                           ImageCase{"", 1, 2, 18},
                                           ImageCase{"a_rather_long_kernel_name_of_forty_bytes", 100, 5, 0x0C08}));

TEST(QxbinImage, BinaryTestOffsetsByHand) {
  const Bytes code = sample_code(34);
  const Bytes image = zorn::pack_qxbin_image("binary_test", sample_qxinfo, code, 12);
  // String table 408..466, kernel name at 455, its terminator at 466.
  EXPECT_EQ(std::string(image.begin() + 455, image.begin() + 466), "binary_test");
  EXPECT_EQ(image[466], 0);
  for (std::size_t i = 467; i < 480; ++i) EXPECT_EQ(image[i], 0) << i;
  EXPECT_EQ(std::string(image.begin() + 480, image.begin() + 480 + static_cast<long>(sample_qxinfo.size())),
            sample_qxinfo);
  const std::size_t code_at = 480 + ((sample_qxinfo.size() + 15) & ~std::size_t{15});
  EXPECT_EQ(Bytes(image.begin() + static_cast<long>(code_at), image.end()), code);
}

TEST(QxbinImage, ReadBackWithElfHeaders) {
  const Bytes code = sample_code(34);
  const Bytes image = zorn::pack_qxbin_image("binary_test", sample_qxinfo, code, 0x0C09);
  const zorn_test::ElfImage elf = zorn_test::read_elf_image(image);
  EXPECT_EQ(elf.header.e_type, ET_REL);
  EXPECT_EQ(elf.header.e_machine, 205);
  EXPECT_EQ(elf.header.e_version, static_cast<unsigned>(EV_CURRENT));
  EXPECT_EQ(elf.header.e_entry, 0u);
  EXPECT_EQ(elf.header.e_phoff, 0u);
  EXPECT_EQ(elf.header.e_phnum, 0u);
  EXPECT_EQ(elf.header.e_flags, 0u);
  EXPECT_EQ(elf.header.e_ident[EI_OSABI], ELFOSABI_NONE);
  ASSERT_EQ(elf.sections.size(), 5u);
  const char* names[] = {"", ".shstrtab", ".qx_info", ".text.binary_test", ".note.tavirgt.compat"};
  const std::uint32_t types[] = {SHT_NULL, SHT_STRTAB, 0xFF000011u, SHT_PROGBITS, SHT_NOTE};
  for (unsigned i = 0; i < 5; ++i) {
    EXPECT_EQ(elf.sections[i].name, names[i]) << i;
    EXPECT_EQ(elf.sections[i].header.sh_type, types[i]) << i;
    EXPECT_EQ(elf.sections[i].header.sh_addralign, 16u) << i;
    EXPECT_EQ(elf.sections[i].header.sh_addr, 0u) << i;
    EXPECT_EQ(elf.sections[i].header.sh_link, 0u) << i;
    EXPECT_EQ(elf.sections[i].header.sh_info, 0u) << i;
    EXPECT_EQ(elf.sections[i].header.sh_entsize, 0u) << i;
  }
  EXPECT_EQ(elf.sections[3].header.sh_flags, static_cast<std::uint64_t>(SHF_ALLOC | SHF_EXECINSTR));
  EXPECT_EQ(elf.sections[2].header.sh_offset, 480u);
  EXPECT_EQ(elf.sections[4].header.sh_offset, 384u);
  EXPECT_EQ(std::string(elf.sections[2].data.begin(), elf.sections[2].data.end()), sample_qxinfo);
  EXPECT_EQ(elf.sections[3].data, code);
  EXPECT_EQ(elf.sections[3].header.sh_offset % 16, 0u);
  EXPECT_EQ(elf.note.namesz, 8u);
  EXPECT_EQ(elf.note.descsz, 4u);
  EXPECT_EQ(elf.note.type, 2u);
  EXPECT_EQ(elf.note.owner, "TavirGT");
  EXPECT_EQ(elf.note.descriptor, 0x0C09u);
}

TEST(QxbinImage, NulInKernelNameRefused) {
  const std::string name("bad\0name", 8);
  EXPECT_THROW(zorn::pack_qxbin_image(name, sample_qxinfo, sample_code(1), 12),
               zorn::invalid_section_name_exception);
}

// --- binutils ---------------------------------------------------------------------

TEST(QxbinImageTools, ReadelfHeaderAndSections) {
  const Bytes code = sample_code(5);
  const Bytes image = zorn::pack_qxbin_image("binary_test", sample_qxinfo, code, 12);
  const zorn_test::TempFile file(image);
  const auto [status, output] = zorn_test::run_command("readelf -W -h -S " + file.path() + " 2>&1");
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(zorn_test::readelf_header_value(output, "Class"), "ELF64");
  EXPECT_NE(zorn_test::readelf_header_value(output, "Data").find("little endian"), std::string::npos);
  EXPECT_NE(zorn_test::readelf_header_value(output, "Type").find("REL"), std::string::npos);
  EXPECT_EQ(zorn_test::readelf_header_value(output, "Start of section headers"), "64 (bytes into file)");
  EXPECT_EQ(zorn_test::readelf_header_value(output, "Number of section headers"), "5");
  EXPECT_EQ(zorn_test::readelf_header_value(output, "Section header string table index"), "1");
  EXPECT_EQ(output.find("Warning"), std::string::npos) << output;
  const auto rows = zorn_test::parse_readelf_sections(output);
  ASSERT_EQ(rows.size(), 5u) << output;
  EXPECT_EQ(rows[1].name, ".shstrtab");
  EXPECT_EQ(rows[1].type, "STRTAB");
  EXPECT_EQ(rows[1].offset, 408u);
  EXPECT_EQ(rows[1].size, 59u);
  EXPECT_EQ(rows[2].name, ".qx_info");
  EXPECT_EQ(rows[2].offset, 480u);
  EXPECT_EQ(rows[2].size, sample_qxinfo.size());
  EXPECT_EQ(rows[3].name, ".text.binary_test");
  EXPECT_EQ(rows[3].type, "PROGBITS");
  EXPECT_EQ(rows[3].offset, 528u);
  EXPECT_EQ(rows[3].size, 80u);
  EXPECT_EQ(rows[3].flags, "AX");
  EXPECT_EQ(rows[4].name, ".note.tavirgt.compat");
  EXPECT_EQ(rows[4].type, "NOTE");
  EXPECT_EQ(rows[4].offset, 384u);
  EXPECT_EQ(rows[4].size, 24u);
}

TEST(QxbinImageTools, NoteContentsThroughObjdump) {
  // readelf -n refuses notes in sections aligned to 16; the image keeps
  // that alignment, so the note is read as raw section contents.
  const Bytes image = zorn::pack_qxbin_image("binary_test", sample_qxinfo, sample_code(1), 0x1E00);
  const zorn_test::TempFile file(image);
  const auto [status, output] = zorn_test::run_command("objdump -s -j .note.tavirgt.compat " + file.path() + " 2>&1");
  ASSERT_EQ(status, 0) << output;
  const Bytes note = zorn_test::parse_objdump_contents(output, ".note.tavirgt.compat");
  const Bytes expected{8, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 'T', 'a', 'v', 'i', 'r', 'G', 'T', 0, 0x00, 0x1E, 0, 0};
  EXPECT_EQ(note, expected) << output;
}

TEST(QxbinImageTools, ObjdumpSectionsAndContents) {
  const Bytes code = sample_code(3);
  const Bytes image = zorn::pack_qxbin_image("binary_test", sample_qxinfo, code, 16);
  const zorn_test::TempFile file(image);
  const auto [status, output] = zorn_test::run_command("objdump -h -s " + file.path() + " 2>&1");
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("file format elf64-little"), std::string::npos) << output;
  EXPECT_NE(output.find(".text.binary_test"), std::string::npos);
  EXPECT_NE(output.find("CODE"), std::string::npos);  // the text section is marked as code
  const Bytes qxinfo_bytes = zorn_test::parse_objdump_contents(output, ".qx_info");
  EXPECT_EQ(std::string(qxinfo_bytes.begin(), qxinfo_bytes.end()), sample_qxinfo);
  EXPECT_EQ(zorn_test::parse_objdump_contents(output, ".text.binary_test"), code);
}

}  // namespace
