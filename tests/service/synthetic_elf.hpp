// Builders of synthetic ELF64 images for the tests of the package splice and
// of architecture detection, written from the ELF64 layout: a 64-byte file
// header, a section header table of 64-byte entries and the section data.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qez_test {

using bytes = std::vector<std::uint8_t>;

inline void put_u16(bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_u64(bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t get_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
inline std::uint64_t get_u64(const std::uint8_t* p) {
  return std::uint64_t{get_u32(p)} | std::uint64_t{get_u32(p + 4)} << 32;
}
inline void append_u32(bytes& b, std::uint32_t v) {
  b.resize(b.size() + 4);
  put_u32(b, b.size() - 4, v);
}

struct section {
  std::string name;
  std::uint32_t type;
  bytes data;
};

struct elf_options {
  std::uint8_t elf_class = 2;  // 64-bit
  std::uint8_t data_encoding = 1;  // little-endian
  std::uint8_t version = 1;
  std::uint16_t type = 1;
  std::uint16_t machine = 0;
  std::uint32_t flags = 0;
  std::uint16_t shentsize = 64;
  bool table_before_data = true;  // else the table follows the section data
  bool string_table = true;       // append ".strtab" (type 3) holding the names
};

struct elf_image {
  bytes image;
  std::uint64_t table_offset = 0;
  std::vector<std::uint64_t> data_offsets;  // per section, in table order

  // Byte offsets of fields of section header i.
  std::size_t header_at(std::size_t i) const { return table_offset + 64 * i; }
  std::uint32_t section_type(std::size_t i) const { return get_u32(&image[header_at(i) + 4]); }
  std::uint64_t section_offset(std::size_t i) const { return get_u64(&image[header_at(i) + 24]); }
  std::uint64_t section_size(std::size_t i) const { return get_u64(&image[header_at(i) + 32]); }
};

// Section 0 is the null section; the given sections follow in order.
inline elf_image build_elf(std::vector<section> sections, const elf_options& options = {}) {
  sections.insert(sections.begin(), section{"", 0, {}});
  std::vector<std::uint32_t> name_offsets;
  if (options.string_table) {
    bytes names{0};
    for (auto& s : sections) {
      name_offsets.push_back(s.name.empty() ? 0 : static_cast<std::uint32_t>(names.size()));
      if (!s.name.empty()) {
        names.insert(names.end(), s.name.begin(), s.name.end());
        names.push_back(0);
      }
    }
    name_offsets.push_back(static_cast<std::uint32_t>(names.size()));
    const std::string strtab = ".strtab";
    names.insert(names.end(), strtab.begin(), strtab.end());
    names.push_back(0);
    sections.push_back(section{strtab, 3, names});
  } else {
    name_offsets.assign(sections.size(), 0);
  }

  elf_image out;
  const std::size_t table_bytes = 64 * sections.size();
  std::size_t data_size = 0;
  for (auto& s : sections) data_size += s.data.size();
  out.image.assign(64 + table_bytes + data_size, 0);
  out.table_offset = options.table_before_data ? 64 : 64 + data_size;
  std::size_t position = options.table_before_data ? 64 + table_bytes : 64;
  for (auto& s : sections) {
    out.data_offsets.push_back(position);
    std::copy(s.data.begin(), s.data.end(), out.image.begin() + static_cast<long>(position));
    position += s.data.size();
  }

  bytes& b = out.image;
  b[0] = 0x7F; b[1] = 'E'; b[2] = 'L'; b[3] = 'F';
  b[4] = options.elf_class;
  b[5] = options.data_encoding;
  b[6] = options.version;
  put_u16(b, 16, options.type);
  put_u16(b, 18, options.machine);
  put_u32(b, 20, 1);
  put_u64(b, 40, out.table_offset);
  put_u32(b, 48, options.flags);
  put_u16(b, 52, 64);
  put_u16(b, 58, options.shentsize);
  put_u16(b, 60, static_cast<std::uint16_t>(sections.size()));
  put_u16(b, 62, static_cast<std::uint16_t>(options.string_table ? sections.size() - 1 : 0));
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::size_t h = out.header_at(i);
    put_u32(b, h + 0, name_offsets[i]);
    put_u32(b, h + 4, sections[i].type);
    put_u64(b, h + 24, i == 0 ? 0 : out.data_offsets[i]);
    put_u64(b, h + 32, sections[i].data.size());
  }
  return out;
}

// ---- program packages ----

constexpr std::uint32_t record_section_type = 0xff000005;
constexpr std::uint32_t string_like_section_type = 0xff000008;

struct record_fields {
  std::uint32_t magic = 0x454B4F56;  // "VOKE"
  std::uint32_t device_code = 0x0C08;
  std::uint32_t field4 = 1;
  std::uint32_t stepping = 0;
  std::uint32_t field6 = 0;
  bytes prefix = bytes(12, 0xA1);
  bytes slot = bytes(256, 0xB2);
  std::uint32_t binary_length = 200;
  bytes tails[3] = {bytes(8, 0xC3), bytes(4, 0xC4), bytes(0)};
  bytes patch_list;
};

// One patch entry: type, length counting the 8-byte head, data.
inline void append_patch(bytes& list, std::uint32_t type, const bytes& data) {
  append_u32(list, type);
  append_u32(list, static_cast<std::uint32_t>(8 + data.size()));
  list.insert(list.end(), data.begin(), data.end());
}

// The record (header + payload) with its checksum computed by `checksum`.
template <class Checksum>
bytes build_record(const record_fields& r, Checksum checksum) {
  bytes payload = r.prefix;
  payload.insert(payload.end(), r.slot.begin(), r.slot.end());
  for (const auto& t : r.tails) payload.insert(payload.end(), t.begin(), t.end());
  payload.insert(payload.end(), r.patch_list.begin(), r.patch_list.end());
  bytes record(68, 0);
  put_u32(record, 0, r.magic);
  put_u32(record, 8, r.device_code);
  put_u32(record, 16, r.field4);
  put_u32(record, 20, r.stepping);
  put_u32(record, 24, r.field6);
  put_u32(record, 28, checksum(payload.data(), payload.size()));
  put_u32(record, 40, static_cast<std::uint32_t>(r.prefix.size()));
  put_u32(record, 44, static_cast<std::uint32_t>(r.patch_list.size()));
  put_u32(record, 48, static_cast<std::uint32_t>(r.slot.size()));
  for (int i = 0; i < 3; ++i) put_u32(record, 52 + 4 * i, static_cast<std::uint32_t>(r.tails[i].size()));
  put_u32(record, 64, r.binary_length);
  record.insert(record.end(), payload.begin(), payload.end());
  return record;
}

}  // namespace qez_test
