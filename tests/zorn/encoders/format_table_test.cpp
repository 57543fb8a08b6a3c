// Properties of the encoders' own format tables: every field stays inside the
// instruction, and the fields one instruction variant writes never overlap.
#include <gtest/gtest.h>

#include <vector>

#include "gpu/zorn/encoders/format_tables.hpp"

namespace zorn_test {
namespace {

namespace e = ulmara::qez::zorn::encoders;
using e::Generation;

template <class Row>
std::vector<Row> all_rows() {
  std::vector<Row> rows;
  for (std::size_t i = 0; i < static_cast<std::size_t>(Row::count); ++i) rows.push_back(static_cast<Row>(i));
  return rows;
}

// Fields written together may not share a bit.
template <class Row>
void expect_disjoint(Generation g, const std::vector<e::ControlField>& control, const std::vector<Row>& rows,
                     const char* variant) {
  std::array<std::uint64_t, 2> seen{0, 0};
  auto add = [&](const e::FieldLayout& f, int row, const char* table) {
    const auto cover = f.coverage();
    EXPECT_EQ(cover[0] & seen[0], 0u) << variant << ": " << table << " row " << row << " overlaps, generation "
                                      << static_cast<int>(g);
    EXPECT_EQ(cover[1] & seen[1], 0u) << variant << ": " << table << " row " << row << " overlaps, generation "
                                      << static_cast<int>(g);
    seen[0] |= cover[0];
    seen[1] |= cover[1];
  };
  for (e::ControlField c : control) add(e::field_of(c, g), static_cast<int>(c), "control");
  for (Row r : rows) add(e::field_of(r, g), static_cast<int>(r), "form");
}

std::vector<e::ControlField> control_rows() { return all_rows<e::ControlField>(); }

TEST(FormatTables, RegularFormVariantsDoNotOverlap) {
  using F = e::RegularField;
  for (std::size_t c = 0; c < e::generation_count; ++c) {
    const auto g = static_cast<Generation>(c);
    const bool legacy = g == Generation::vemra || g == Generation::sutal;
    const bool wide = c >= static_cast<std::size_t>(Generation::harix);
    // Direct destination, direct register source 0, immediate source 1.
    std::vector<F> compare{F::dst_type, F::dst_indirect, F::dst_horizontal_stride, F::dst_grf_flag, F::dst_byte_offset,
                           F::dst_register, F::dst_register_file, F::src0_register_file, F::src0_type, F::src0_modifiers,
                           F::src1_is_immediate, F::src0_legacy_field, F::src0_horizontal_stride, F::src0_grf_flag,
                           F::src0_byte_offset, F::src0_register, F::src0_indirect, F::src0_width,
                           F::src0_vertical_stride, F::src1_register_file, F::src1_type, F::conditional_modifier,
                           F::immediate32, F::modifier_31, F::modifier_47};
    if (!wide) compare.push_back(F::modifier_28);
    if (legacy) {  // the legacy format carries the conditional modifier among its control bits
      EXPECT_FALSE(e::field_of(F::conditional_modifier, g).present());
    }
    expect_disjoint(g, control_rows(), compare, "compare");
    // Indirect destination and indirect source 0.
    std::vector<F> indirect{F::dst_type, F::dst_indirect, F::dst_horizontal_stride, F::dst_address_immediate,
                            F::dst_address_subregister, F::dst_register_file, F::src0_register_file, F::src0_type,
                            F::src0_modifiers, F::src0_legacy_field, F::src0_legacy_address_immediate_bit9,
                            F::src0_horizontal_stride, F::src0_address_immediate, F::src0_address_subregister,
                            F::src0_indirect, F::src0_width, F::src0_vertical_stride, F::conditional_modifier,
                            F::modifier_31};
    expect_disjoint(g, control_rows(), indirect, "indirect");
    // Immediate move with a 64-bit immediate (no conditional modifier field written).
    std::vector<F> move64{F::dst_type, F::dst_indirect, F::dst_horizontal_stride, F::dst_grf_flag, F::dst_byte_offset,
                          F::dst_register, F::dst_register_file, F::src0_register_file, F::src0_type,
                          F::src0_is_immediate, F::immediate64, F::modifier_31, F::modifier_47};
    expect_disjoint(g, control_rows(), move64, "immediate move");
  }
}

TEST(FormatTables, ThreeSourceFormDoesNotOverlap) {
  for (Generation g : {Generation::gulon, Generation::harix, Generation::jorva, Generation::lumet})
    expect_disjoint(g, control_rows(), all_rows<e::TernaryField>(), "three-source");
  for (Generation g : {Generation::vemra, Generation::sutal, Generation::dorik})
    for (e::TernaryField f : all_rows<e::TernaryField>()) EXPECT_FALSE(e::field_of(f, g).present());
}

TEST(FormatTables, SendFormVariantsDoNotOverlap) {
  using F = e::SendField;
  std::vector<e::ControlField> control;
  for (e::ControlField c : control_rows()) control.push_back(c);
  for (std::size_t c = 0; c < e::generation_count; ++c) {
    const auto g = static_cast<Generation>(c);
    const bool legacy = g == Generation::vemra || g == Generation::sutal;
    std::vector<e::ControlField> send_control;
    for (e::ControlField f : control)  // the legacy send puts its shared function over control bits 24-27
      if (!(legacy && f == e::ControlField::legacy_control)) send_control.push_back(f);
    std::vector<F> direct{F::modifier_8, F::shared_function, F::modifier_36, F::modifier_43_47, F::modifier_46,
                          F::dst_register_file, F::dst_type, F::src0_register_file, F::dst_grf_flag, F::dst_register,
                          F::dst_byte_offset, F::dst_horizontal_stride, F::dst_indirect, F::src0_legacy_field,
                          F::src0_grf_flag, F::src0_register, F::src1_register_file, F::src1_grf_flag,
                          F::src1_register, F::extended_descriptor, F::extended_descriptor_6_10, F::descriptor};
    expect_disjoint(g, send_control, direct, "send");
    std::vector<F> indirect{F::modifier_8, F::shared_function, F::modifier_36, F::modifier_43_47, F::dst_register_file,
                            F::dst_type, F::src0_register_file, F::dst_indirect, F::dst_address_immediate,
                            F::dst_address_subregister, F::dst_indirect_horizontal_stride, F::src0_legacy_field,
                            F::src1_register_file, F::extended_descriptor, F::descriptor};
    if (legacy) expect_disjoint(g, send_control, indirect, "legacy indirect send");
  }
  // Lumet alone carries an indirect source's sub-register in the send.
  EXPECT_TRUE(e::field_of(F::indirect_src0_subregister, Generation::lumet).present());
  EXPECT_FALSE(e::field_of(F::indirect_src0_subregister, Generation::jorva).present());
}

TEST(FormatTables, GenericSetterAndGetterRoundTrip) {
  const e::FieldLayout scattered =
      e::pieces(e::FieldPiece{34, 1, 5}, e::FieldPiece{35, 13, 11}, e::FieldPiece{64, 2, 24});
  e::Instruction128 i;
  e::put_field(i, scattered, 0xFFFFFFFFu);
  EXPECT_EQ(i.half[0], (std::uint64_t{1} << 34) | (std::uint64_t{0x1FFF} << 35));
  EXPECT_EQ(i.half[1], 3u);
  EXPECT_EQ(e::get_field(i, scattered), (1u << 5) | (0x1FFFu << 11) | (3u << 24));
  e::put_field(i, scattered, 0);
  EXPECT_EQ(i.half[0], 0u);
  EXPECT_EQ(i.half[1], 0u);
  e::put_field(i, e::absent, ~0ull);
  EXPECT_EQ(i.half[0] | i.half[1], 0u) << "an absent field writes nothing";
  EXPECT_FALSE(e::well_formed(e::pieces(e::FieldPiece{60, 8, 0})));  // crosses bit 64
  EXPECT_FALSE(e::well_formed(e::pieces(e::FieldPiece{0, 4, 0}, e::FieldPiece{8, 4, 2})));  // value bits twice
}

}  // namespace
}  // namespace zorn_test
