// qxbin images: the small relocatable ELF64 file that carries one kernel's
// machine code and its qxinfo metadata to the GPU driver. This is the only
// code of zorn that knows ELF; finalisation (kernel_finalization.hpp) hands
// it finished code bytes and metadata text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "gpu/zorn/hw.hpp"

namespace ulmara::qez::zorn {

// Section names, in the order the section-name string table holds them.
inline constexpr char qxbin_shstrtab_name[] = ".shstrtab";
inline constexpr char qxbin_qxinfo_name[] = ".qx_info";
inline constexpr char qxbin_note_name[] = ".note.tavirgt.compat";
inline constexpr char qxbin_text_prefix[] = ".text.";

// The compatibility note: owner "TavirGT", type 2 carries the core family.
inline constexpr char qxbin_note_owner[] = "TavirGT";
enum class QxbinNoteType : std::uint32_t { product_family = 1, core_family = 2, stepping = 3 };

inline constexpr std::uint16_t qxbin_machine = 205;
inline constexpr std::uint32_t qxbin_qxinfo_section_type = 0xFF000011u;

// Section header indices of an image.
enum class QxbinSection : std::uint16_t { null = 0, shstrtab = 1, qxinfo = 2, text = 3, note = 4 };
inline constexpr std::uint16_t qxbin_section_count = 5;

// Fixed offsets of the image.
inline constexpr std::uint64_t qxbin_elf_header_bytes = 64;
inline constexpr std::uint64_t qxbin_section_header_bytes = 64;
inline constexpr std::uint64_t qxbin_note_offset = 384;
inline constexpr std::uint64_t qxbin_note_bytes = 24;
inline constexpr std::uint64_t qxbin_shstrtab_offset = 408;
inline constexpr std::uint64_t qxbin_alignment = 16;

// Where every piece of an image goes, for a kernel name of n bytes, y bytes
// of qxinfo text and c bytes of code.
struct QxbinLayout {
  std::uint64_t name_bytes;       // n
  std::uint64_t qxinfo_bytes;     // y
  std::uint64_t code_bytes;       // c
  std::uint64_t shstrtab_bytes;   // S = n + 48
  std::uint64_t text_name_index;  // sh_name of the text section (41)
  std::uint64_t qxinfo_offset;    // Q
  std::uint64_t code_offset;      // T
  std::uint64_t total_bytes;      // T + align16(c)
};

QxbinLayout qxbin_layout(std::uint64_t name_bytes, std::uint64_t qxinfo_bytes, std::uint64_t code_bytes);

// Compatibility-note core family of a generation with a generator (Vemra 12
// .. Lumet 7680); 0 for any other generation, which gets no image.
std::uint32_t qxbin_core_family(HW hw);

// A kernel name that cannot name an ELF section: it holds a NUL byte, which
// would cut the text section's name short.
class invalid_section_name_exception : public std::runtime_error {
 public:
  invalid_section_name_exception() : std::runtime_error(fixed_message) {}
  static constexpr const char* fixed_message = "Kernel name cannot be used as a section name";
};

// Packs code and metadata into a qxbin image in one allocation of its exact
// size. Throws invalid_section_name_exception for a kernel name with a NUL
// byte.
std::vector<std::uint8_t> pack_qxbin_image(const std::string& kernel_name, const std::string& qxinfo,
                                           const std::vector<std::uint8_t>& code, std::uint32_t core_family);

}  // namespace ulmara::qez::zorn
