// Bounds-checked reading of little-endian ELF64 images (driver program
// packages and qxbin images). Every read names an offset and a length that
// are checked against the buffer first; nothing here reads past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ulmara::qez::gpu::elf {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "images are read in host order");

constexpr std::uint8_t magic[4] = {0x7F, 'E', 'L', 'F'};

// Fixed layout of the ELF64 file header and section header.
struct file_header {
  std::uint8_t ident[16];
  std::uint16_t type;
  std::uint16_t machine;
  std::uint32_t version;
  std::uint64_t entry;
  std::uint64_t phoff;
  std::uint64_t shoff;
  std::uint32_t flags;
  std::uint16_t ehsize;
  std::uint16_t phentsize;
  std::uint16_t phnum;
  std::uint16_t shentsize;
  std::uint16_t shnum;
  std::uint16_t shstrndx;
};
static_assert(sizeof(file_header) == 64, "ELF64 header");
static_assert(offsetof(file_header, type) == 16, "e_type");
static_assert(offsetof(file_header, machine) == 18, "e_machine");
static_assert(offsetof(file_header, shoff) == 40, "e_shoff");
static_assert(offsetof(file_header, flags) == 48, "e_flags");
static_assert(offsetof(file_header, shentsize) == 58, "e_shentsize");
static_assert(offsetof(file_header, shnum) == 60, "e_shnum");

enum ident_index : std::size_t { ident_class = 4, ident_data = 5, ident_version = 6 };
enum : std::uint8_t { class_64 = 2, data_little_endian = 1 };

struct section_header {
  std::uint32_t name;
  std::uint32_t type;
  std::uint64_t flags;
  std::uint64_t addr;
  std::uint64_t offset;
  std::uint64_t size;
  std::uint32_t link;
  std::uint32_t info;
  std::uint64_t addralign;
  std::uint64_t entsize;
};
static_assert(sizeof(section_header) == 64, "ELF64 section header");
static_assert(offsetof(section_header, type) == 4, "sh_type");
static_assert(offsetof(section_header, offset) == 24, "sh_offset");
static_assert(offsetof(section_header, size) == 32, "sh_size");

enum section_type : std::uint32_t {
  section_string_table = 3,
  section_note = 7,
};

// A read-only byte range.
struct byte_view {
  const std::uint8_t* data;
  std::size_t size;

  // True when [offset, offset + length) lies inside the range (no overflow).
  bool contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
  template <class T>
  bool read(std::uint64_t offset, T* out) const {
    if (!contains(offset, sizeof(T))) return false;
    std::memcpy(out, data + offset, sizeof(T));
    return true;
  }
  bool starts_with_elf_magic() const {
    return size >= sizeof magic && std::memcmp(data, magic, sizeof magic) == 0;
  }
};

// The section header table of an image, once its position has been checked.
struct section_table {
  byte_view image;
  std::uint64_t offset = 0;
  std::uint16_t count = 0;

  // False when the table does not lie inside the image.
  bool locate(const file_header& header) {
    offset = header.shoff;
    count = header.shnum;
    return count == 0 || image.contains(offset, std::uint64_t{count} * sizeof(section_header));
  }
  std::uint64_t end() const { return offset + std::uint64_t{count} * sizeof(section_header); }
  std::uint64_t header_offset(std::uint16_t index) const {
    return offset + std::uint64_t{index} * sizeof(section_header);
  }
  section_header at(std::uint16_t index) const {
    section_header header{};
    image.read(header_offset(index), &header);
    return header;
  }
  // Index of the first section of a type, or -1.
  int find_first(std::uint32_t type) const {
    for (std::uint16_t i = 0; i < count; ++i)
      if (at(i).type == type) return i;
    return -1;
  }
  int find_last(std::uint32_t type) const {
    for (int i = count - 1; i >= 0; --i)
      if (at(static_cast<std::uint16_t>(i)).type == type) return i;
    return -1;
  }
  bool data_inside(const section_header& header) const {
    return image.contains(header.offset, header.size);
  }
};

}  // namespace ulmara::qez::gpu::elf
