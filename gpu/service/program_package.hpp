// Driver program packages: the device-binary record inside the package ELF
// image, its checksum, and the splice that replaces the device binary by a
// prebuilt one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ulmara::qez::gpu {

// Section types of a program package.
enum package_section_type : std::uint32_t {
  package_section_device_binary = 0xff000005,  // holds the device-binary record
  package_section_string_like = 0xff000008,    // re-typed to a string table when spliced
};

// Header of the device-binary record: seventeen u32 fields, then the payload
// (prefix, device-binary slot, three tail parts, patch list).
enum record_field : int {
  record_magic = 0,
  record_device_code = 2,
  record_format_one = 4,  // must be 1
  record_stepping = 5,
  record_format_zero = 6, // must be 0
  record_checksum = 7,
  record_prefix_length = 10,
  record_patch_list_length = 11,
  record_slot_length = 12,
  record_tail_length_first = 13,
  record_tail_length_last = 15,
  record_binary_length = 16,
  record_field_count = 17,
};
constexpr std::uint32_t record_magic_value = 0x454B4F56;  // "VOKE" as a little-endian word
constexpr std::size_t record_header_bytes = record_field_count * sizeof(std::uint32_t);
static_assert(record_header_bytes == 68, "record header");
// The fields up to the format checks; shorter record sections are refused.
constexpr std::size_t record_minimum_bytes = 28;

// Patch list entries: u32 type, u32 length (counting the head), data.
constexpr std::size_t patch_entry_head_bytes = 8;
constexpr std::uint32_t patch_type_cleared_on_splice = 52;

enum package_splice_result : int {
  splice_done = 0,
  splice_not_elf = -1,           // no package, or not an ELF image
  splice_no_record_section = -2, // no usable section header table or record section
  splice_bad_record = -3,        // record magic, format fields or lengths wrong
  splice_out_of_memory = -4,
  splice_checksum_mismatch = -5,
};

// Replaces the device binary of `package` by `binary` (and appends the
// optional extra block to the record). On success the new package comes from
// qez_serv_malloc and belongs to the caller; on failure both outputs are
// null and 0.
int splice_binary_into_package(const std::uint8_t* package, std::size_t package_size,
                               const std::uint8_t* binary, std::size_t binary_size,
                               const std::uint8_t* extra, std::size_t extra_size,
                               std::uint8_t** new_package, std::size_t* new_size);

std::uint32_t package_record_checksum(const std::uint8_t* bytes, std::size_t length);

}  // namespace ulmara::qez::gpu
