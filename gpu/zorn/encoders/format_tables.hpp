// Field positions of every instruction format the encoders write, one row per
// field and one column per generation (Vemra, Sutal, Dorik, Gulon, Harix,
// Jorva, Lumet). Bit numbers are instruction bits 0-127 (dword k bit j is bit
// 32k + j). Direct and indirect operand layouts share bits by design; the
// encoder writes one of the two.
#pragma once

#include <cstdint>

#include "gpu/zorn/bit_fields.hpp"
#include "gpu/zorn/encoders/instruction_fields.hpp"

namespace ulmara::qez::zorn::encoders {

// ---------------------------------------------------------------------------
// Control fields: the opcode, the scoreboard field and the modifier bits that
// every form of a generation places the same way.

enum class ControlField : std::uint8_t {
  opcode,
  scoreboard,
  legacy_control,       // modifier bits 9-31 as they stand
  auto_swsb_marker,     // modifier bit 45
  execution_size_code,  // modifier bits 21-23
  modifier_11_13,
  modifier_32_33,
  modifier_44,
  predicate_control,    // modifier bits 16-19
  predicate_invert,     // modifier bit 20
  modifier_29_30,
  modifier_34,
  modifier_14,
  count
};

// Where each control field's value comes from in the merged modifier; the
// opcode and the scoreboard field are computed and have no source here.
inline constexpr BitField no_modifier_source{0, 0};
inline constexpr std::array<BitField, static_cast<std::size_t>(ControlField::count)> control_modifier_source{{
    no_modifier_source,  // opcode
    no_modifier_source,  // scoreboard
    {9, 23},             // legacy_control
    {45, 1},             // auto_swsb_marker
    {21, 3},             // execution_size_code
    {11, 3},             // modifier_11_13
    {32, 2},             // modifier_32_33
    {44, 1},             // modifier_44
    {16, 4},             // predicate_control
    {20, 1},             // predicate_invert
    {29, 2},             // modifier_29_30
    {34, 1},             // modifier_34
    {14, 1},             // modifier_14
}};

//                                         Vemra, Sutal      Dorik, Gulon     Harix, Jorva, Lumet
inline constexpr FieldTable<ControlField> control_fields{{
    /* opcode              */ by_family(bits(0, 8),  bits(0, 7),  bits(0, 7)),
    /* scoreboard          */ by_family(absent,      bits(8, 8),  bits(8, 10)),
    /* legacy_control      */ by_family(bits(9, 23), absent,      absent),
    /* auto_swsb_marker    */ by_family(absent,      bits(7, 1),  bits(7, 1)),
    /* execution_size_code */ by_family(absent,      bits(16, 3), bits(18, 3)),
    /* modifier_11_13      */ by_family(absent,      bits(19, 3), pieces(FieldPiece{24, 2, 1})),
    /* modifier_32_33      */ by_family(bits(32, 2), bits(22, 2), bits(21, 2)),
    /* modifier_44         */ by_family(absent,      absent,      bits(23, 1)),
    /* predicate_control   */ by_family(absent,      bits(24, 4), pieces(FieldPiece{26, 2, 0})),
    /* predicate_invert    */ by_family(absent,      bits(28, 1), bits(28, 1)),
    /* modifier_29_30      */ by_family(absent,      bits(29, 2), bits(29, 2)),
    /* modifier_34         */ by_family(bits(34, 1), bits(31, 1), bits(31, 1)),
    /* modifier_14         */ by_family(absent,      bits(32, 1), bits(32, 1)),
}};
static_assert(table_well_formed(control_fields), "control field table");

// ---------------------------------------------------------------------------
// One-source, two-source-with-immediate and immediate-move forms.

enum class RegularField : std::uint8_t {
  modifier_28,
  modifier_28_opcode_89,  // wide formats: bit 33 is the modifier bit only for opcode 89
  modifier_31,
  modifier_47,
  dst_register_file,      // legacy two-bit register-file code
  dst_type,
  dst_indirect,
  dst_horizontal_stride,
  dst_grf_flag,
  dst_byte_offset,
  dst_register,
  dst_address_immediate,
  dst_address_subregister,
  src0_register_file,     // legacy two-bit register-file code (3 = immediate)
  src0_type,
  src0_modifiers,
  src0_is_immediate,
  src1_is_immediate,
  src0_legacy_field,      // the 25-bit pre-Dorik source field
  src0_legacy_address_immediate_bit9,
  src0_horizontal_stride,
  src0_grf_flag,
  src0_byte_offset,
  src0_register,
  src0_address_immediate,
  src0_address_subregister,
  src0_indirect,
  src0_width,
  src0_vertical_stride,
  src1_register_file,     // legacy two-bit register-file code (3 = immediate)
  src1_type,
  conditional_modifier,
  immediate32,
  immediate64,
  count
};

//                                                Vemra, Sutal                          Dorik, Gulon         Harix, Jorva, Lumet
inline constexpr FieldTable<RegularField> regular_fields{{
    /* modifier_28              */ by_family(absent,                                  bits(33, 1),  absent),
    /* modifier_28_opcode_89    */ by_family(absent,                                  absent,       bits(33, 1)),
    /* modifier_31              */ by_family(absent,                                  bits(34, 1),  bits(34, 1)),
    /* modifier_47              */ by_family(bits(47, 1),                             absent,       absent),
    /* dst_register_file        */ by_family(bits(35, 2),                             absent,       absent),
    /* dst_type                 */ by_family(bits(37, 4),                             bits(36, 4),  bits(36, 4)),
    /* dst_indirect             */ by_family(bits(63, 1),                             bits(35, 1),  bits(35, 1)),
    /* dst_horizontal_stride    */ by_family(bits(61, 2),                             bits(48, 2),  bits(48, 2)),
    /* dst_grf_flag             */ by_family(absent,                                  bits(50, 1),  bits(50, 1)),
    /* dst_byte_offset          */ by_family(bits(48, 5),                             bits(51, 5),  pieces(FieldPiece{33, 1, 0}, FieldPiece{51, 5, 1})),
    /* dst_register             */ by_family(bits(53, 8),                             bits(56, 8),  bits(56, 8)),
    /* dst_address_immediate    */ by_family(pieces(FieldPiece{48, 9, 0}, FieldPiece{47, 1, 9}),
                                             bits(50, 10),
                                             pieces(FieldPiece{33, 1, 0}, FieldPiece{50, 10, 1})),
    /* dst_address_subregister  */ by_family(bits(57, 4),                             bits(60, 4),  bits(60, 4)),
    /* src0_register_file       */ by_family(bits(41, 2),                             absent,       absent),
    /* src0_type                */ by_family(bits(43, 4),                             bits(40, 4),  bits(40, 4)),
    /* src0_modifiers           */ by_family(absent,                                  bits(44, 2),  bits(44, 2)),
    /* src0_is_immediate        */ by_family(absent,                                  bits(46, 1),  bits(46, 1)),
    /* src1_is_immediate        */ by_family(absent,                                  bits(47, 1),  bits(47, 1)),
    /* src0_legacy_field        */ by_family(bits(64, 25),                            absent,       absent),
    /* src0_legacy_addr_imm_b9  */ by_family(pieces(FieldPiece{95, 1, 9}),            absent,       absent),
    /* src0_horizontal_stride   */ by_family(absent,                                  bits(64, 2),  bits(64, 2)),
    /* src0_grf_flag            */ by_family(absent,                                  bits(66, 1),  bits(66, 1)),
    /* src0_byte_offset         */ by_family(absent,                                  bits(67, 5),  pieces(FieldPiece{87, 1, 0}, FieldPiece{67, 5, 1})),
    /* src0_register            */ by_family(absent,                                  bits(72, 8),  bits(72, 8)),
    /* src0_address_immediate   */ by_family(absent,                                  bits(66, 10), pieces(FieldPiece{87, 1, 0}, FieldPiece{66, 10, 1})),
    /* src0_address_subregister */ by_family(absent,                                  bits(76, 4),  bits(76, 4)),
    /* src0_indirect            */ by_family(absent,                                  bits(80, 1),  bits(80, 1)),
    /* src0_width               */ by_family(absent,                                  bits(81, 3),  bits(81, 3)),
    /* src0_vertical_stride     */ by_family(absent,                                  bits(84, 4),  bits(84, 3)),
    /* src1_register_file       */ by_family(bits(89, 2),                             absent,       absent),
    /* src1_type                */ by_family(bits(91, 4),                             bits(88, 4),  bits(88, 4)),
    /* conditional_modifier     */ by_family(absent,                                  bits(92, 4),  bits(92, 4)),
    /* immediate32              */ by_family(bits(96, 32),                            bits(96, 32), bits(96, 32)),
    /* immediate64              */ by_family(bits(64, 64),
                                             pieces(FieldPiece{96, 32, 0}, FieldPiece{64, 32, 32}),
                                             pieces(FieldPiece{96, 32, 0}, FieldPiece{64, 32, 32})),
}};
static_assert(table_well_formed(regular_fields), "regular form table");

// ---------------------------------------------------------------------------
// Three-source form (third source a 16-bit immediate): Gulon and the wide
// formats; absent before Gulon.

constexpr std::array<FieldLayout, generation_count> three_source(FieldLayout gulon, FieldLayout wide) {
  return {absent, absent, absent, gulon, wide, wide, wide};
}

enum class TernaryField : std::uint8_t {
  modifier_28,
  modifier_31,
  src0_region,
  dst_type,
  src0_type,
  src0_modifiers,
  src2_is_immediate,
  dst_horizontal_stride,
  dst_grf_flag,
  dst_byte_offset,
  dst_register,
  src0_horizontal_stride,
  src0_grf_flag,
  src0_byte_offset,
  src0_register,
  src2_type,
  src1_region,
  src1_modifiers,
  src1_type,
  conditional_modifier,
  src1_horizontal_stride,
  src1_grf_flag,
  src1_byte_offset,
  src1_register,
  immediate16,
  count
};

//                                                     Gulon          Harix, Jorva, Lumet
inline constexpr FieldTable<TernaryField> ternary_fields{{
    /* modifier_28            */ three_source(bits(33, 1),  absent),
    /* modifier_31            */ three_source(bits(34, 1),  bits(34, 1)),
    /* src0_region            */ three_source(pieces(FieldPiece{35, 1, 0}, FieldPiece{43, 1, 1}),
                                              pieces(FieldPiece{35, 1, 0}, FieldPiece{43, 1, 1})),
    /* dst_type               */ three_source(bits(36, 4),  bits(36, 4)),
    /* src0_type              */ three_source(bits(40, 3),  bits(40, 3)),
    /* src0_modifiers         */ three_source(bits(44, 2),  bits(44, 2)),
    /* src2_is_immediate      */ three_source(bits(47, 1),  bits(47, 1)),
    /* dst_horizontal_stride  */ three_source(bits(48, 2),  bits(48, 2)),
    /* dst_grf_flag           */ three_source(bits(50, 1),  bits(50, 1)),
    /* dst_byte_offset        */ three_source(bits(51, 5),  pieces(FieldPiece{33, 1, 0}, FieldPiece{51, 5, 1})),
    /* dst_register           */ three_source(bits(56, 8),  bits(56, 8)),
    /* src0_horizontal_stride */ three_source(bits(64, 2),  bits(64, 2)),
    /* src0_grf_flag          */ three_source(bits(66, 1),  bits(66, 1)),
    /* src0_byte_offset       */ three_source(bits(67, 5),  pieces(FieldPiece{67, 5, 1})),
    /* src0_register          */ three_source(bits(72, 8),  bits(72, 8)),
    /* src2_type              */ three_source(bits(80, 3),  bits(80, 3)),
    /* src1_region            */ three_source(pieces(FieldPiece{83, 1, 0}, FieldPiece{91, 1, 1}),
                                              pieces(FieldPiece{83, 1, 0}, FieldPiece{91, 1, 1})),
    /* src1_modifiers         */ three_source(bits(86, 2),  bits(86, 2)),
    /* src1_type              */ three_source(bits(88, 3),  bits(88, 3)),
    /* conditional_modifier   */ three_source(bits(92, 4),  bits(92, 4)),
    /* src1_horizontal_stride */ three_source(bits(96, 2),  bits(96, 2)),
    /* src1_grf_flag          */ three_source(bits(98, 1),  bits(98, 1)),
    /* src1_byte_offset       */ three_source(bits(99, 5),  pieces(FieldPiece{99, 5, 1})),
    /* src1_register          */ three_source(bits(104, 8), bits(104, 8)),
    /* immediate16            */ three_source(bits(112, 16), bits(112, 16)),
}};
static_assert(table_well_formed(ternary_fields), "three-source form table");

// ---------------------------------------------------------------------------
// Send form: message descriptor and extended descriptor carried as
// immediates.

enum class SendField : std::uint8_t {
  modifier_8,
  shared_function,
  modifier_36,
  modifier_43_47,
  modifier_46,
  dst_register_file,      // legacy: one bit, a send destination is never an immediate
  dst_type,
  src0_register_file,
  dst_grf_flag,
  dst_register,
  dst_byte_offset,
  dst_horizontal_stride,
  dst_indirect,
  dst_address_immediate,
  dst_address_subregister,
  dst_indirect_horizontal_stride,
  src0_legacy_field,      // bits 4-15 of the 25-bit pre-Dorik source field
  src0_grf_flag,
  src0_register,
  src1_register_file,     // legacy: 3, the descriptors are immediates
  src1_grf_flag,
  src1_register,
  extended_descriptor,
  extended_descriptor_6_10,
  indirect_src0_subregister,  // Lumet: replaces extended-descriptor bits 6-10
  descriptor,
  count
};

inline constexpr FieldLayout legacy_extended_descriptor =
    pieces(FieldPiece{64, 4, 16}, FieldPiece{80, 4, 20}, FieldPiece{85, 4, 24}, FieldPiece{91, 4, 28},
           FieldPiece{127, 1, 5});
inline constexpr FieldLayout dorik_extended_descriptor =
    pieces(FieldPiece{34, 1, 5}, FieldPiece{35, 13, 11}, FieldPiece{64, 2, 24}, FieldPiece{96, 2, 26},
           FieldPiece{124, 4, 28});
inline constexpr FieldLayout dorik_descriptor =
    pieces(FieldPiece{81, 11, 0}, FieldPiece{113, 9, 11}, FieldPiece{51, 5, 20}, FieldPiece{67, 5, 25},
           FieldPiece{122, 2, 30});

//                                                        Vemra, Sutal                 Dorik, Gulon      Harix, Jorva      Lumet
inline constexpr FieldTable<SendField> send_fields{{
    /* modifier_8                */ by_family(bits(8, 1),                        absent,       absent),
    /* shared_function           */ by_family(bits(24, 4),                       bits(92, 4),  bits(92, 4)),
    /* modifier_36               */ by_family(bits(36, 1),                       absent,       absent),
    /* modifier_43_47            */ by_family(bits(43, 5),                       absent,       absent),
    /* modifier_46               */ by_family(absent,                            bits(33, 1),  bits(33, 1)),
    /* dst_register_file         */ by_family(bits(35, 1),                       absent,       absent),
    /* dst_type                  */ by_family(bits(37, 4),                       absent,       absent),
    /* src0_register_file        */ by_family(bits(41, 2),                       absent,       absent),
    /* dst_grf_flag              */ by_family(absent,                            bits(50, 1),  bits(50, 1)),
    /* dst_register              */ by_family(bits(53, 8),                       bits(56, 8),  bits(56, 8)),
    /* dst_byte_offset           */ by_family(bits(48, 5),                       absent,       absent),
    /* dst_horizontal_stride     */ by_family(bits(61, 2),                       absent,       absent),
    /* dst_indirect              */ by_family(bits(63, 1),                       absent,       absent),
    /* dst_address_immediate     */ by_family(pieces(FieldPiece{48, 9, 0}, FieldPiece{62, 1, 9}), absent, absent),
    /* dst_address_subregister   */ by_family(bits(57, 4),                       absent,       absent),
    /* dst_indirect_h_stride     */ by_family(bits(61, 1),                       absent,       absent),
    /* src0_legacy_field         */ by_family(pieces(FieldPiece{68, 12, 4}),     absent,       absent),
    /* src0_grf_flag             */ by_family(absent,                            bits(66, 1),  bits(66, 1)),
    /* src0_register             */ by_family(absent,                            bits(72, 8),  bits(72, 8)),
    /* src1_register_file        */ by_family(bits(89, 2),                       absent,       absent),
    /* src1_grf_flag             */ by_family(absent,                            bits(98, 1),  bits(98, 1)),
    /* src1_register             */ by_family(absent,                            bits(104, 8), bits(104, 8)),
    /* extended_descriptor       */ by_family(legacy_extended_descriptor, dorik_extended_descriptor,
                                              dorik_extended_descriptor),
    /* extended_descriptor_6_10  */ by_family(absent, pieces(FieldPiece{99, 5, 6}), pieces(FieldPiece{99, 5, 6})),
    /* indirect_src0_subregister */ by_family(absent,                            absent,       absent,
                                              pieces(FieldPiece{99, 5, 1})),
    /* descriptor                */ by_family(bits(96, 31),                      dorik_descriptor, dorik_descriptor),
}};
static_assert(table_well_formed(send_fields), "send form table");

// Generic accessors over the tables.
inline const FieldLayout& field_of(ControlField row, Generation g) { return field_of(control_fields, row, g); }
inline const FieldLayout& field_of(RegularField row, Generation g) { return field_of(regular_fields, row, g); }
inline const FieldLayout& field_of(TernaryField row, Generation g) { return field_of(ternary_fields, row, g); }
inline const FieldLayout& field_of(SendField row, Generation g) { return field_of(send_fields, row, g); }

template <class Row>
void put(Instruction128& instruction, Row row, Generation g, std::uint64_t value) {
  put_field(instruction, field_of(row, g), value);
}
template <class Row>
std::uint64_t get(const Instruction128& instruction, Row row, Generation g) {
  return get_field(instruction, field_of(row, g));
}

}  // namespace ulmara::qez::zorn::encoders
