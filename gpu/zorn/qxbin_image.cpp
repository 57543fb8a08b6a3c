// qxbin image writer: ELF header, five section headers, the compatibility
// note, the section-name string table, then the qxinfo text and the code.
#include "gpu/zorn/qxbin_image.hpp"

#include <elf.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace ulmara::qez::zorn {
namespace {

static_assert(sizeof(Elf64_Ehdr) == qxbin_elf_header_bytes, "ELF64 header is 64 bytes");
static_assert(sizeof(Elf64_Shdr) == qxbin_section_header_bytes, "ELF64 section header is 64 bytes");
static_assert(sizeof(Elf64_Nhdr) == 12, "ELF note header is 12 bytes");
static_assert(qxbin_elf_header_bytes + qxbin_section_count * qxbin_section_header_bytes == qxbin_note_offset,
              "the note follows the section headers");
static_assert(qxbin_note_offset + qxbin_note_bytes == qxbin_shstrtab_offset,
              "the string table follows the note");

constexpr std::uint32_t note_owner_bytes = sizeof(qxbin_note_owner);  // with its NUL: 8
constexpr std::uint32_t note_descriptor_bytes = 4;
static_assert(sizeof(Elf64_Nhdr) + note_owner_bytes + note_descriptor_bytes == qxbin_note_bytes,
              "note: header, owner and one 32-bit descriptor");

constexpr std::uint64_t align16(std::uint64_t value) { return (value + 15) & ~std::uint64_t{15}; }

// Names of the string table in their order, each with its NUL byte.
constexpr std::uint64_t shstrtab_name_index = 1;
constexpr std::uint64_t qxinfo_name_index = shstrtab_name_index + sizeof(qxbin_shstrtab_name);
constexpr std::uint64_t note_name_index = qxinfo_name_index + sizeof(qxbin_qxinfo_name);
constexpr std::uint64_t text_name_index = note_name_index + sizeof(qxbin_note_name);
// The fixed part: NUL, the three fixed names, ".text." (no terminator).
constexpr std::uint64_t fixed_shstrtab_bytes = text_name_index + sizeof(qxbin_text_prefix) - 1;
static_assert(qxinfo_name_index == 11 && note_name_index == 20 && text_name_index == 41,
              "string-table name offsets");

// Little-endian stores into the zero-filled image.
template <class T>
void put(std::vector<std::uint8_t>& image, std::uint64_t offset, T value) {
  for (std::size_t b = 0; b < sizeof(T); ++b)
    image[offset + b] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * b));
}

void put_bytes(std::vector<std::uint8_t>& image, std::uint64_t offset, const void* data, std::uint64_t size) {
  // Clamped to the room after `offset`; a correctly sized image always has it.
  if (offset >= image.size() || size == 0) return;
  const std::uint64_t room = image.size() - offset;
  std::memcpy(image.data() + offset, data, static_cast<std::size_t>(std::min(size, room)));
}

void write_elf_header(std::vector<std::uint8_t>& image) {
  const std::array<std::uint8_t, 7> identification{ELFMAG0, ELFMAG1, ELFMAG2, ELFMAG3,
                                                   ELFCLASS64, ELFDATA2LSB, EV_CURRENT};
  put_bytes(image, 0, identification.data(), identification.size());  // OS ABI, ABI version: 0
  put<std::uint16_t>(image, offsetof(Elf64_Ehdr, e_type), ET_REL);
  put<std::uint16_t>(image, offsetof(Elf64_Ehdr, e_machine), qxbin_machine);
  put<std::uint32_t>(image, offsetof(Elf64_Ehdr, e_version), EV_CURRENT);
  put<std::uint64_t>(image, offsetof(Elf64_Ehdr, e_shoff), qxbin_elf_header_bytes);
  put<std::uint16_t>(image, offsetof(Elf64_Ehdr, e_ehsize), qxbin_elf_header_bytes);
  put<std::uint16_t>(image, offsetof(Elf64_Ehdr, e_shentsize), qxbin_section_header_bytes);
  put<std::uint16_t>(image, offsetof(Elf64_Ehdr, e_shnum), qxbin_section_count);
  put<std::uint16_t>(image, offsetof(Elf64_Ehdr, e_shstrndx), static_cast<std::uint16_t>(QxbinSection::shstrtab));
}

struct SectionHeader {
  QxbinSection index;
  std::uint32_t name;
  std::uint32_t type;
  std::uint64_t flags;
  std::uint64_t offset;
  std::uint64_t size;
};

void write_section_header(std::vector<std::uint8_t>& image, const SectionHeader& header) {
  const std::uint64_t base =
      qxbin_elf_header_bytes + static_cast<std::uint64_t>(header.index) * qxbin_section_header_bytes;
  put<std::uint32_t>(image, base + offsetof(Elf64_Shdr, sh_name), header.name);
  put<std::uint32_t>(image, base + offsetof(Elf64_Shdr, sh_type), header.type);
  put<std::uint64_t>(image, base + offsetof(Elf64_Shdr, sh_flags), header.flags);
  put<std::uint64_t>(image, base + offsetof(Elf64_Shdr, sh_offset), header.offset);
  put<std::uint64_t>(image, base + offsetof(Elf64_Shdr, sh_size), header.size);
  // Every header, the null one included, says 16-byte alignment.
  put<std::uint64_t>(image, base + offsetof(Elf64_Shdr, sh_addralign), qxbin_alignment);
}

void write_section_headers(std::vector<std::uint8_t>& image, const QxbinLayout& layout) {
  const std::array<SectionHeader, qxbin_section_count> headers{{
      {QxbinSection::null, 0, SHT_NULL, 0, 0, 0},
      {QxbinSection::shstrtab, shstrtab_name_index, SHT_STRTAB, 0, qxbin_shstrtab_offset, layout.shstrtab_bytes},
      {QxbinSection::qxinfo, qxinfo_name_index, qxbin_qxinfo_section_type, 0, layout.qxinfo_offset,
       layout.qxinfo_bytes},
      {QxbinSection::text, text_name_index, SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, layout.code_offset,
       layout.code_bytes},
      {QxbinSection::note, note_name_index, SHT_NOTE, 0, qxbin_note_offset, qxbin_note_bytes},
  }};
  for (const SectionHeader& header : headers) write_section_header(image, header);
}

void write_note(std::vector<std::uint8_t>& image, std::uint32_t core_family) {
  put<std::uint32_t>(image, qxbin_note_offset + offsetof(Elf64_Nhdr, n_namesz), note_owner_bytes);
  put<std::uint32_t>(image, qxbin_note_offset + offsetof(Elf64_Nhdr, n_descsz), note_descriptor_bytes);
  put<std::uint32_t>(image, qxbin_note_offset + offsetof(Elf64_Nhdr, n_type),
                     static_cast<std::uint32_t>(QxbinNoteType::core_family));
  const std::uint64_t owner_offset = qxbin_note_offset + sizeof(Elf64_Nhdr);
  put_bytes(image, owner_offset, qxbin_note_owner, note_owner_bytes);
  put<std::uint32_t>(image, owner_offset + note_owner_bytes, core_family);
}

void write_fixed_strings(std::vector<std::uint8_t>& image) {
  const std::uint64_t base = qxbin_shstrtab_offset;
  put_bytes(image, base + shstrtab_name_index, qxbin_shstrtab_name, sizeof(qxbin_shstrtab_name));
  put_bytes(image, base + qxinfo_name_index, qxbin_qxinfo_name, sizeof(qxbin_qxinfo_name));
  put_bytes(image, base + note_name_index, qxbin_note_name, sizeof(qxbin_note_name));
  put_bytes(image, base + text_name_index, qxbin_text_prefix, sizeof(qxbin_text_prefix) - 1);
}

struct CoreFamily {
  HW hw;
  std::uint32_t value;
};
constexpr std::array<CoreFamily, 7> core_families{{
    {hw::vemra, 0x0C},
    {hw::sutal, 0x10},
    {hw::dorik, 0x12},
    {hw::gulon, 0x0C07},
    {hw::harix, 0x0C08},
    {hw::jorva, 0x0C09},
    {hw::lumet, 0x1E00},
}};

}  // namespace

QxbinLayout qxbin_layout(std::uint64_t name_bytes, std::uint64_t qxinfo_bytes, std::uint64_t code_bytes) {
  QxbinLayout layout{};
  layout.name_bytes = name_bytes;
  layout.qxinfo_bytes = qxinfo_bytes;
  layout.code_bytes = code_bytes;
  layout.shstrtab_bytes = fixed_shstrtab_bytes + name_bytes + 1;
  layout.text_name_index = text_name_index;
  // At least one padding byte after the string table, even when it ends on
  // a 16-byte boundary.
  layout.qxinfo_offset = (qxbin_shstrtab_offset + layout.shstrtab_bytes + qxbin_alignment) & ~(qxbin_alignment - 1);
  layout.code_offset = layout.qxinfo_offset + align16(qxinfo_bytes);
  layout.total_bytes = layout.code_offset + align16(code_bytes);
  return layout;
}

std::uint32_t qxbin_core_family(HW hw) {
  for (const CoreFamily& row : core_families)
    if (row.hw == hw) return row.value;
  return 0;
}

std::vector<std::uint8_t> pack_qxbin_image(const std::string& kernel_name, const std::string& qxinfo,
                                           const std::vector<std::uint8_t>& code, std::uint32_t core_family) {
  if (kernel_name.find('\0') != std::string::npos) throw invalid_section_name_exception();
  const QxbinLayout layout = qxbin_layout(kernel_name.size(), qxinfo.size(), code.size());

  std::vector<std::uint8_t> image(static_cast<std::size_t>(layout.total_bytes), 0);
  write_elf_header(image);
  write_section_headers(image, layout);
  write_note(image, core_family);
  write_fixed_strings(image);
  // The name's terminator and all padding are the zero fill.
  put_bytes(image, qxbin_shstrtab_offset + fixed_shstrtab_bytes, kernel_name.data(), kernel_name.size());
  put_bytes(image, layout.qxinfo_offset, qxinfo.data(), qxinfo.size());
  put_bytes(image, layout.code_offset, code.data(), code.size());
  return image;
}

}  // namespace ulmara::qez::zorn
