// Splicing a native binary into a driver program package.
#include "gpu/service/program_package.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "gpu/service/elf_view.hpp"
#include "gpu/service/safe_routines.hpp"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr int package_alignment = 16;
// A slot holds the binary plus 64 bytes, rounded up to 256.
constexpr std::uint64_t slot_extra_bytes = 64;
constexpr std::uint64_t slot_granule = 256;

std::uint64_t new_slot_length(std::uint64_t binary_size) {
  return (binary_size + slot_extra_bytes + slot_granule - 1) & ~(slot_granule - 1);
}

// ---- checksum ----

struct checksum_state {
  std::uint32_t a = 0x428A2F98u, b = 0x71374491u, c = 0xB5C0FBCFu;

  void mix() {
    a -= b; a -= c; a ^= c >> 13;
    b -= c; b -= a; b ^= a << 8;
    c -= a; c -= b; c ^= b >> 13;
    a -= b; a -= c; a ^= c >> 12;
    b -= c; b -= a; b ^= a << 16;
    c -= a; c -= b; c ^= b >> 5;
    a -= b; a -= c; a ^= c >> 3;
    b -= c; b -= a; b ^= a << 10;
    c -= a; c -= b; c ^= b >> 15;
  }
};

// ---- the record as found in a package ----

struct record_layout {
  std::uint64_t section_index = 0;
  std::uint64_t offset = 0;          // of the record header in the package
  std::uint32_t fields[record_field_count] = {};
  std::uint64_t tail_bytes = 0;      // the three parts after the slot
  std::uint64_t length = 0;          // header + payload

  std::uint64_t payload_offset() const { return offset + record_header_bytes; }
  std::uint64_t slot_offset() const { return payload_offset() + fields[record_prefix_length]; }
  std::uint64_t slot_end() const { return slot_offset() + fields[record_slot_length]; }
  std::uint64_t patch_list_offset() const { return slot_end() + tail_bytes; }
  std::uint64_t end() const { return offset + length; }
};

bool format_fields_valid(const std::uint32_t* fields) {
  return fields[record_magic] == record_magic_value && fields[record_format_one] == 1 &&
         fields[record_format_zero] == 0;
}

// Checks every patch entry's head and length: an entry shorter than its head
// (a zero length would never advance) or whose head leaves the list is
// malformed. Data running past the list is cut at the list's end when used.
bool patch_list_valid(const std::uint8_t* list, std::uint64_t list_length) {
  std::uint64_t position = 0;
  while (position < list_length) {
    if (list_length - position < patch_entry_head_bytes) return false;
    std::uint32_t length = 0;
    std::memcpy(&length, list + position + sizeof(std::uint32_t), sizeof length);
    if (length < patch_entry_head_bytes) return false;
    position += length;
  }
  return true;
}

void clear_patch_data(std::uint8_t* list, std::uint64_t list_length) {
  std::uint64_t position = 0;
  while (position + patch_entry_head_bytes <= list_length) {
    std::uint32_t type = 0, length = 0;
    std::memcpy(&type, list + position, sizeof type);
    std::memcpy(&length, list + position + sizeof type, sizeof length);
    if (length < patch_entry_head_bytes) return;  // refused before the splice
    if (type == patch_type_cleared_on_splice) {
      const std::uint64_t data_end = std::min<std::uint64_t>(position + length, list_length);
      std::memset(list + position + patch_entry_head_bytes, 0,
                  data_end - position - patch_entry_head_bytes);
    }
    position += length;
  }
}

// Finds and checks the record; returns splice_done or the failure code.
int locate_record(const elf::byte_view& image, elf::section_table* table, record_layout* record) {
  if (image.data == nullptr || !image.starts_with_elf_magic()) return splice_not_elf;
  elf::file_header header{};
  if (!image.read(0, &header)) return splice_not_elf;
  table->image = image;
  if (header.shnum == 0 || !table->locate(header)) return splice_no_record_section;
  const int index = table->find_first(package_section_device_binary);
  if (index < 0) return splice_no_record_section;
  const elf::section_header section = table->at(static_cast<std::uint16_t>(index));
  if (section.size < record_minimum_bytes || !table->data_inside(section))
    return splice_no_record_section;
  // The table lies wholly before the record section (copied in place) or
  // wholly after it (moved with the growth); one inside it cannot be kept.
  if (table->end() > section.offset && table->offset < section.offset + section.size)
    return splice_no_record_section;

  record->section_index = static_cast<std::uint64_t>(index);
  record->offset = section.offset;
  std::memcpy(record->fields, image.data + section.offset, record_minimum_bytes);
  if (!format_fields_valid(record->fields)) return splice_bad_record;
  if (section.size < record_header_bytes) return splice_bad_record;
  std::memcpy(record->fields, image.data + section.offset, record_header_bytes);

  const std::uint32_t* f = record->fields;
  record->tail_bytes = 0;
  for (int field = record_tail_length_first; field <= record_tail_length_last; ++field)
    record->tail_bytes += f[field];
  record->length = record_header_bytes + std::uint64_t{f[record_prefix_length]} +
                   f[record_slot_length] + record->tail_bytes + f[record_patch_list_length];
  if (record->length > section.size) return splice_bad_record;
  if (!patch_list_valid(image.data + record->patch_list_offset(), f[record_patch_list_length]))
    return splice_bad_record;
  return splice_done;
}

// Sequential writer into the new package; remembers a failed copy.
struct package_writer {
  std::uint8_t* position;
  std::uint8_t* end;
  bool failed = false;

  void append(const void* source, std::uint64_t length) {
    if (length == 0) return;
    const std::size_t room = std::min<std::size_t>(end - position, safe_memory_limit);
    if (safe_memcpy(position, room, source, static_cast<std::size_t>(length)) != safe_ok)
      failed = true;
    position += length;
  }
  void zeros(std::uint64_t length) {
    std::memset(position, 0, length);
    position += length;
  }
};

// Offset of the section header table in the spliced package: a table after
// the record moves by the growth, and e_shoff with it.
std::uint64_t moved_table_offset(const elf::section_table& table, const record_layout& record,
                                 std::int64_t growth) {
  return table.offset >= record.end() ? table.offset + static_cast<std::uint64_t>(growth) : table.offset;
}

void fix_file_header(std::uint8_t* package, std::uint64_t table_offset) {
  std::memcpy(package + offsetof(elf::file_header, shoff), &table_offset, sizeof table_offset);
}

void fix_section_headers(std::uint8_t* package, std::uint64_t table_offset, const elf::section_table& table,
                         const record_layout& record, std::int64_t growth) {
  for (std::uint16_t i = 0; i < table.count; ++i) {
    elf::section_header header{};
    const std::uint64_t at = table_offset + std::uint64_t{i} * sizeof(elf::section_header);
    std::memcpy(&header, package + at, sizeof header);
    if (i == record.section_index) header.size += static_cast<std::uint64_t>(growth);
    if (i > record.section_index) header.offset += static_cast<std::uint64_t>(growth);
    if (header.type == package_section_string_like) header.type = elf::section_string_table;
    std::memcpy(package + at, &header, sizeof header);
  }
}

void write_field(std::uint8_t* record_header, int field, std::uint32_t value) {
  std::memcpy(record_header + field * sizeof(std::uint32_t), &value, sizeof value);
}

}  // namespace

std::uint32_t package_record_checksum(const std::uint8_t* bytes, std::size_t length) {
  checksum_state state;
  std::size_t position = 0;
  for (; length - position >= 4; position += 4) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes + position, sizeof word);
    state.a ^= word;
    state.mix();
  }
  const std::size_t rest = length - position;
  if (rest > 0) {
    std::uint32_t tail = 0;
    for (std::size_t i = 0; i < rest; ++i)
      tail |= std::uint32_t{bytes[position + i]} << (8 * (rest - i));
    state.a = tail;
    state.mix();
  }
  return state.c;
}

int splice_binary_into_package(const std::uint8_t* package, std::size_t package_size,
                               const std::uint8_t* binary, std::size_t binary_size,
                               const std::uint8_t* extra, std::size_t extra_size,
                               std::uint8_t** new_package, std::size_t* new_size) {
  if (new_package) *new_package = nullptr;
  if (new_size) *new_size = 0;
  if (new_package == nullptr || new_size == nullptr) return splice_not_elf;
  if (extra == nullptr) extra_size = 0;
  if (binary == nullptr) binary_size = 0;

  const elf::byte_view image{package, package_size};
  elf::section_table table;
  record_layout record;
  if (const int result = locate_record(image, &table, &record); result != splice_done)
    return result;

  const std::uint64_t payload_length = record.length - record_header_bytes;
  if (package_record_checksum(package + record.payload_offset(), payload_length) !=
      record.fields[record_checksum])
    return splice_checksum_mismatch;

  // Sizes that the record's u32 fields cannot describe cannot be spliced.
  const std::uint64_t slot = new_slot_length(binary_size);
  if (binary_size > UINT32_MAX - slot_extra_bytes - slot_granule || extra_size > UINT32_MAX ||
      std::uint64_t{record.fields[record_patch_list_length]} + extra_size > UINT32_MAX)
    return splice_out_of_memory;
  const std::int64_t growth = static_cast<std::int64_t>(slot) -
                              static_cast<std::int64_t>(record.fields[record_slot_length]) +
                              static_cast<std::int64_t>(extra_size);
  const std::uint64_t total = package_size + static_cast<std::uint64_t>(growth);
  auto* out = static_cast<std::uint8_t*>(qez_serv_malloc(total, package_alignment));
  if (out == nullptr) return splice_out_of_memory;

  // Package up to the old slot, the binary in a zero-padded slot, the tail
  // parts and patch list, the extra block, then everything after the record.
  package_writer writer{out, out + total};
  writer.append(package, record.slot_offset());
  writer.append(binary, binary_size);
  writer.zeros(slot - binary_size);
  std::uint8_t* const patch_list = writer.position + record.tail_bytes;
  writer.append(package + record.slot_end(),
                record.tail_bytes + record.fields[record_patch_list_length]);
  writer.append(extra, extra_size);
  const std::uint8_t* const new_record_end = writer.position;
  writer.append(package + record.end(), package_size - record.end());
  if (writer.failed) {
    qez_serv_free(out);
    return splice_out_of_memory;
  }

  clear_patch_data(patch_list, record.fields[record_patch_list_length]);

  std::uint8_t* const header = out + record.offset;
  const std::uint8_t* const new_payload = header + record_header_bytes;
  write_field(header, record_checksum,
              package_record_checksum(new_payload, static_cast<std::size_t>(new_record_end - new_payload)));
  write_field(header, record_slot_length, static_cast<std::uint32_t>(slot));
  write_field(header, record_binary_length, static_cast<std::uint32_t>(binary_size));
  write_field(header, record_patch_list_length,
              record.fields[record_patch_list_length] + static_cast<std::uint32_t>(extra_size));

  const std::uint64_t table_offset = moved_table_offset(table, record, growth);
  fix_file_header(out, table_offset);
  fix_section_headers(out, table_offset, table, record, growth);
  *new_package = out;
  *new_size = static_cast<std::size_t>(total);
  return splice_done;
}

}  // namespace ulmara::qez::gpu
