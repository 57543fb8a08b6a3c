// Tables and binary readers of GPU architecture detection.
#include "gpu/service/architecture_decode.hpp"

#include <cstring>
#include <string>

#include "gpu/service/elf_view.hpp"
#include "gpu/service/hw_detect_exceptions.hpp"
#include "gpu/service/program_package.hpp"
#include "gpu/zorn/hw.hpp"

namespace ulmara::qez::gpu {
namespace {

// ---- IP version ----

struct ip_version_row {
  std::uint32_t architecture;
  std::uint32_t release_first, release_last;
  std::uint32_t generation, family;
};
constexpr std::uint32_t any_first = 0, any_last = 0xFF;
constexpr ip_version_row ip_version_table[] = {
    {9, any_first, any_last, 1, 1},  {11, any_first, any_last, 3, 3}, {12, 0, 10, 4, 4},
    {12, 50, 50, 5, 5},              {12, 51, 59, 6, 7},              {12, 60, 60, 7, 11},
    {12, 61, 61, 7, 12},             {12, 70, 71, 6, 8},              {12, 73, 74, 6, 9},
    {20, any_first, any_last, 8, 13}, {30, any_first, any_last, 9, 14},
    {35, any_first, any_last, 10, 15},
};

struct ip_version_fields {
  static constexpr unsigned architecture_shift = 22, release_shift = 14;
  static constexpr std::uint32_t architecture_mask = 0x3FF, release_mask = 0xFF,
                                 revision_mask = 0x3F;
};

// ---- value-to-value tables ----

struct range_row {
  std::uint32_t first, last, value;
};
template <std::size_t N>
bool look_up(const range_row (&table)[N], std::uint32_t key, std::uint32_t* value) {
  for (const range_row& row : table)
    if (key >= row.first && key <= row.last) {
      *value = row.value;
      return true;
    }
  return false;
}

constexpr range_row core_family_table[] = {
    {12, 12, 1},         {13, 14, 2},         {15, 16, 3},         {17, 17, 5},
    {18, 18, 4},         {0x0C05, 0x0C05, 5}, {0x0C06, 0x0C06, 0}, {0x0C07, 0x0C07, 6},
    {0x0C08, 0x0C08, 7}, {0x0C09, 0x0C09, 8}, {0x1E00, 0x1E00, 9},
};
constexpr range_row product_table[] = {
    {18, 25, 1},       {26, 27, 2},       {28, 32, 3},       {33, 1210, 4},
    {1250, 1250, 5},   {1270, 1270, 7},   {1271, 1271, 11},  {1272, 1272, 8},
    {1273, 1273, 9},   {1274, 1276, 13},  {1300, 1300, 14},  {1350, 1350, 15},
};
constexpr range_row family_to_generation_table[] = {
    {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}, {5, 5, 5},
    {6, 9, 6}, {10, 12, 7}, {13, 13, 8}, {14, 14, 9}, {15, UINT32_MAX, 10},
};
constexpr range_row generation_to_family_table[] = {
    {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4},  {5, 5, 5},
    {6, 6, 6}, {7, 7, 10}, {8, 8, 13}, {9, 9, 14}, {10, 10, 15},
};

// Core families whose generation the device binary must settle.
constexpr std::uint32_t split_core_family = 17;
constexpr std::uint32_t split_core_family_alias = 0x0C05;
constexpr std::uint32_t split_generation_without_pattern = 5;
constexpr std::uint32_t split_family_without_pattern = 5;
constexpr std::uint32_t split_generation_with_pattern = 6;
constexpr std::uint32_t split_family_with_pattern = 6;

// Device flags: which generations and families set which bit.
constexpr std::uint32_t generations_with_flag_bit[] = {1, 5, 7, 8, 9};
constexpr std::uint32_t mixed_flag_generation = 6;  // decided by the family
constexpr std::uint32_t mixed_generation_families_without_bit[] = {0, 7};
constexpr std::uint32_t first_family_with_flag_bit = 5;
constexpr std::uint32_t families_without_flag_bit[] = {8, 12};

template <std::size_t N>
bool contains(const std::uint32_t (&values)[N], std::uint32_t value) {
  for (std::uint32_t v : values)
    if (v == value) return true;
  return false;
}

// Stepping sits in bits 8-12 of e_flags and of the stepping note.
std::uint32_t stepping_bits(std::uint32_t word) { return (word >> 8) & 0x1F; }

// The bit of e_flags that marks e_machine as a GPU core family.
constexpr std::uint32_t machine_is_core_family_flag = 1u << 15;

constexpr std::uint16_t qxbin_type_executable = 0xFF12;
constexpr std::uint16_t elf_type_relocatable = 1;

// ---- the 16-byte pattern ----

struct masked_byte {
  std::uint8_t mask, value;
};
constexpr masked_byte split_pattern[16] = {
    {0xFF, 0x31}, {0x00, 0x00}, {0xFC, 0x00}, {0xFF, 0x80}, {0xFF, 0x04}, {0xFF, 0x00},
    {0xFF, 0x00}, {0xFF, 0x00}, {0xFF, 0x0C}, {0x00, 0x00}, {0xFF, 0x20}, {0xFF, 0x30},
    {0xFF, 0x00}, {0xFF, 0x00}, {0xFF, 0x00}, {0xFF, 0x00},
};

// ---- ELF helpers ----

elf::file_header read_file_header(const elf::byte_view& image) {
  elf::file_header header{};
  if (!image.read(0, &header)) throw zorn::npack::bad_elf();
  return header;
}

bool is_qxbin_header(const elf::file_header& header) {
  return header.ident[elf::ident_class] == elf::class_64 &&
         header.ident[elf::ident_data] == elf::data_little_endian &&
         header.shentsize == sizeof(elf::section_header) && header.ident[elf::ident_version] <= 1 &&
         (header.type == qxbin_type_executable || header.type == elf_type_relocatable) &&
         header.shnum != 0;
}

// True when the NUL-terminated name at `offset` of the string table equals
// `name`; a name running off the table's end matches nothing.
bool name_equals(const elf::byte_view& strings, std::uint32_t offset, const char* name) {
  const std::size_t length = std::strlen(name);
  if (!strings.contains(offset, length + 1)) return false;
  return std::memcmp(strings.data + offset, name, length) == 0 && strings.data[offset + length] == 0;
}

// The compatibility-note section of a qxbin image, or -1.
int find_compat_note_section(const elf::section_table& table) {
  const int strings_index = table.find_last(elf::section_string_table);
  if (strings_index < 0) return -1;
  const elf::section_header strings_header = table.at(static_cast<std::uint16_t>(strings_index));
  if (!table.data_inside(strings_header)) throw zorn::npack::bad_elf();
  const elf::byte_view strings{table.image.data + strings_header.offset,
                               static_cast<std::size_t>(strings_header.size)};
  for (std::uint16_t i = 0; i < table.count; ++i) {
    const elf::section_header header = table.at(i);
    if (header.type != elf::section_note || header.name >= strings.size) continue;
    if (name_equals(strings, header.name, compat_note_section_name)) return i;
  }
  return -1;
}

std::uint64_t round_up_4(std::uint64_t value) { return (value + 3) & ~std::uint64_t{3}; }

// Walks the notes of the section; a note that runs past its section is malformed.
void read_compat_notes(const elf::byte_view& notes, hw_identity* id) {
  struct note_head {
    std::uint32_t name_size, desc_size, type;
  };
  static_assert(sizeof(note_head) == 12, "note head");
  constexpr std::uint32_t word_desc_size = 4;
  std::uint64_t position = 0;
  while (notes.size - position >= sizeof(note_head)) {
    note_head head{};
    notes.read(position, &head);
    const std::uint64_t desc_offset = position + sizeof head + round_up_4(head.name_size);
    const std::uint64_t next = desc_offset + round_up_4(head.desc_size);
    if (next > notes.size) throw zorn::npack::bad_elf();
    if (head.desc_size == word_desc_size) {
      std::uint32_t word = 0;
      notes.read(desc_offset, &word);
      switch (head.type) {
        case compat_note_stepping: id->stepping = stepping_bits(word); break;
        case compat_note_core_family:
          if (id->generation == 0) id->generation = generation_of_core_family(word);
          break;
        case compat_note_product: family_of_product(word, &id->family); break;
        default: break;
      }
    }
    position = next;
  }
}

void read_machine_field(const elf::file_header& header, hw_identity* id) {
  if (header.flags & machine_is_core_family_flag) {
    id->generation = generation_of_core_family(header.machine);
  } else if (!family_of_product(header.machine, &id->family)) {
    id->family = 0;
  }
  id->stepping = stepping_bits(header.flags);
}

void complete_identity(hw_identity* id) {
  if (id->generation == 0 && id->family != 0) id->generation = generation_of_family(id->family);
  else if (id->generation != 0 && id->family == 0) id->family = family_of_generation(id->generation);
}

// Reads a program package's device-binary record. Returns true when the
// record settled the identity completely (no completion step).
bool read_package_record(const elf::section_table& table, hw_identity* id) {
  const int index = table.count == 0 ? -1 : table.find_first(package_section_device_binary);
  if (index < 0) throw zorn::npack::no_binary_section();
  const elf::section_header section = table.at(static_cast<std::uint16_t>(index));
  if (section.size < record_minimum_bytes) throw zorn::npack::no_binary_section();
  if (!table.image.contains(section.offset, record_minimum_bytes)) throw zorn::npack::bad_elf();
  std::uint32_t fields[record_minimum_bytes / sizeof(std::uint32_t)] = {};
  std::memcpy(fields, table.image.data + section.offset, sizeof fields);
  if (fields[record_magic] != record_magic_value || fields[record_format_one] != 1 ||
      fields[record_format_zero] != 0)
    throw zorn::npack::bad_binary_section();
  id->stepping = fields[record_stepping];
  id->family = 0;
  const std::uint32_t core_family = fields[record_device_code];
  if (core_family == split_core_family || core_family == split_core_family_alias) {
    if (contains_generation_split_pattern(table.image.data, table.image.size)) {
      id->generation = split_generation_with_pattern;
      id->family = split_family_with_pattern;
    } else {
      id->generation = split_generation_without_pattern;
      id->family = split_family_without_pattern;
    }
    return true;
  }
  id->generation = generation_of_core_family(core_family);
  return false;
}

}  // namespace

bool decode_ip_version(std::uint32_t ip_version, hw_identity* out) {
  using f = ip_version_fields;
  const std::uint32_t architecture = (ip_version >> f::architecture_shift) & f::architecture_mask;
  const std::uint32_t release = (ip_version >> f::release_shift) & f::release_mask;
  for (const ip_version_row& row : ip_version_table) {
    if (row.architecture == architecture && release >= row.release_first &&
        release <= row.release_last) {
      out->generation = row.generation;
      out->family = row.family;
      out->stepping = ip_version & f::revision_mask;
      return true;
    }
  }
  return false;
}

std::uint32_t generation_of_core_family(std::uint32_t core_family) {
  std::uint32_t generation = 0;
  look_up(core_family_table, core_family, &generation);
  return generation;
}

bool family_of_product(std::uint32_t product, std::uint32_t* family) {
  return look_up(product_table, product, family);
}

std::uint32_t generation_of_family(std::uint32_t family) {
  std::uint32_t generation = 0;
  look_up(family_to_generation_table, family, &generation);
  return generation;
}

std::uint32_t family_of_generation(std::uint32_t generation) {
  std::uint32_t family = 0;
  look_up(generation_to_family_table, generation, &family);
  return family;
}

// The code generator's generation table is the one place that pairs
// generations with architecture numbers.
qez_gpu_arch_t architecture_of_generation(std::uint32_t generation) {
  if (generation > static_cast<std::uint32_t>(zorn::hw::last)) return QEZ_GPU_ARCH_UNKNOWN;
  return static_cast<qez_gpu_arch_t>(zorn::architecture_of(static_cast<zorn::HW>(generation)));
}

std::uint32_t device_flags_of(std::uint32_t generation, std::uint32_t family) {
  std::uint32_t flags = 0;
  if (contains(generations_with_flag_bit, generation) ||
      (generation == mixed_flag_generation && !contains(mixed_generation_families_without_bit, family)))
    flags |= QEZ_GPU_DEVICE_FLAG_GENERATION;
  if (family >= first_family_with_flag_bit && !contains(families_without_flag_bit, family))
    flags |= QEZ_GPU_DEVICE_FLAG_FAMILY;
  return flags;
}

bool contains_generation_split_pattern(const std::uint8_t* bytes, std::size_t size) {
  constexpr std::size_t pattern_length = sizeof split_pattern / sizeof split_pattern[0];
  if (bytes == nullptr || size < pattern_length) return false;
  for (std::size_t p = 0; p + pattern_length <= size; ++p) {
    std::size_t i = 0;
    while (i < pattern_length && (bytes[p + i] & split_pattern[i].mask) == split_pattern[i].value)
      ++i;
    if (i == pattern_length) return true;
  }
  return false;
}

void parse_compat_note(const std::uint8_t* binary, std::size_t size, std::uint32_t* generation,
                       std::uint32_t* family, std::uint32_t* stepping) {
  *generation = *family = *stepping = 0;
  const elf::byte_view image{binary, binary == nullptr ? 0 : size};
  if (!image.starts_with_elf_magic()) throw zorn::npack::bad_elf();
  const elf::file_header header = read_file_header(image);
  elf::section_table table{image};
  // Both kinds of image need their section header table.
  if (!table.locate(header)) throw zorn::npack::bad_elf();

  hw_identity id;
  bool settled = false;
  if (is_qxbin_header(header) && table.find_first(qxbin_info_section_type) >= 0) {
    const int note_index = find_compat_note_section(table);
    if (note_index >= 0) {
      const elf::section_header notes = table.at(static_cast<std::uint16_t>(note_index));
      if (!table.data_inside(notes)) throw zorn::npack::bad_elf();
      read_compat_notes({binary + notes.offset, static_cast<std::size_t>(notes.size)}, &id);
    } else {
      read_machine_field(header, &id);
    }
  } else {
    settled = read_package_record(table, &id);
  }
  if (!settled) complete_identity(&id);
  *generation = id.generation;
  *family = id.family;
  *stepping = id.stepping;
}

}  // namespace ulmara::qez::gpu
