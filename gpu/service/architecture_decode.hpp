// Decoding of a GPU's generation, product family and stepping from what the
// driver reports: the 32-bit IP version, or the device binary it produces
// for a trivial kernel (a qxbin image with its compatibility note, or a
// program package with its device-binary record). Generations are counted in
// the code generator's numbering; callers see qez_gpu_arch_t.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::gpu {

// What detection learns about a device; 0 stands for unknown.
struct hw_identity {
  std::uint32_t generation = 0;
  std::uint32_t family = 0;
  std::uint32_t stepping = 0;
};

// IP version word: architecture bits 22-31, release bits 14-21, revision
// bits 0-5. False when the combination is not recognised (out untouched).
bool decode_ip_version(std::uint32_t ip_version, hw_identity* out);

// The lookup tables of detection.
std::uint32_t generation_of_core_family(std::uint32_t core_family);  // 0 outside the table
bool family_of_product(std::uint32_t product, std::uint32_t* family); // false outside the table
std::uint32_t generation_of_family(std::uint32_t family);
std::uint32_t family_of_generation(std::uint32_t generation);
qez_gpu_arch_t architecture_of_generation(std::uint32_t generation);
std::uint32_t device_flags_of(std::uint32_t generation, std::uint32_t family);

// Section type of the qxbin metadata section, whose presence marks a qxbin image.
constexpr std::uint32_t qxbin_info_section_type = 0xff000011;
constexpr const char* compat_note_section_name = ".note.tavirgt.compat";
enum compat_note_type : std::uint32_t {
  compat_note_product = 1,
  compat_note_core_family = 2,
  compat_note_stepping = 3,
};

// Reads generation, family and stepping from a device binary. Throws
// zorn::npack::bad_elf, no_binary_section or bad_binary_section for images it
// cannot read; never reads outside [binary, binary + size).
void parse_compat_note(const std::uint8_t* binary, std::size_t size, std::uint32_t* generation,
                       std::uint32_t* family, std::uint32_t* stepping);

// True when the 16-byte instruction pattern that tells the two generations
// sharing core family 17 apart occurs in the bytes.
bool contains_generation_split_pattern(const std::uint8_t* bytes, std::size_t size);

}  // namespace ulmara::qez::gpu
