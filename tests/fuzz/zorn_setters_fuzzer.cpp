// Fuzzes the zorn code generator's operand and kernel-interface setters
// with arbitrary values: register operands built and reshaped by every
// setter, completed for an instruction and encoded; kernel interfaces given
// arbitrary arguments and fields, finalised, queried and written out as
// qxinfo metadata. Zorn refuses bad values with its exceptions (all runtime
// errors); anything else escaping, and any memory or UB report, is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "gpu/zorn/kernel_interface.hpp"
#include "gpu/zorn/operands.hpp"
#include "gpu/zorn/qxinfo.hpp"

namespace zorn = ulmara::qez::zorn;

namespace {

constexpr int steps_per_input = 32;

zorn::DataType any_type(FuzzedDataProvider& in) { return zorn::DataType(in.ConsumeIntegral<std::uint8_t>()); }

zorn::RegisterOperand first_operand(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: return zorn::RegisterOperand::grf(in.ConsumeIntegral<std::uint32_t>(), any_type(in), in.ConsumeIntegral<std::uint32_t>());
    case 1: return zorn::RegisterOperand::arf(in.ConsumeIntegral<std::uint32_t>(), any_type(in));
    case 2: return zorn::RegisterOperand::null(any_type(in));
    case 3: return zorn::RegisterOperand::indirect(in.ConsumeIntegral<std::uint32_t>(), in.ConsumeIntegral<std::int32_t>(), any_type(in));
    default: return zorn::RegisterOperand::from_bits(in.ConsumeIntegral<std::uint64_t>());
  }
}

void operand_step(FuzzedDataProvider& in, zorn::RegisterOperand& op, zorn::HW hw) {
  switch (in.ConsumeIntegralInRange(0, 12)) {
    case 0: op.set_register_number(in.ConsumeIntegral<std::uint32_t>()); break;
    case 1: op.set_subregister_offset(in.ConsumeIntegral<std::uint32_t>()); break;
    case 2: op.set_type(any_type(in)); break;
    case 3: op.set_source_modifiers(in.ConsumeIntegral<std::uint32_t>()); break;
    case 4: {
      const std::uint32_t v = in.ConsumeIntegral<std::uint32_t>(), w = in.ConsumeIntegral<std::uint32_t>();
      op.set_region(v, w, in.ConsumeIntegral<std::uint32_t>());
      break;
    }
    case 5: op.set_vertical_stride(in.ConsumeIntegral<std::uint32_t>()); break;
    case 6: op.set_width(in.ConsumeIntegral<std::uint32_t>()); break;
    case 7: op.set_horizontal_stride(in.ConsumeIntegral<std::uint32_t>()); break;
    case 8: op.set_invalid(in.ConsumeBool()); break;
    case 9: op = zorn::with_offset_and_type(op, in.ConsumeIntegral<std::uint32_t>(), any_type(in)); break;
    case 10: op = zorn::element_view(op, any_type(in), in.ConsumeIntegral<std::uint32_t>()); break;
    case 11: {
      const std::uint32_t execution_size = in.ConsumeIntegral<std::uint32_t>();
      const std::uint32_t widest = in.ConsumeIntegral<std::uint32_t>();
      const zorn::DataType fallback = any_type(in);
      const int source = in.ConsumeIntegralInRange(-1, 2), arity = in.ConsumeIntegralInRange(0, 3);
      zorn::fixup_operand(op, hw, execution_size, widest, fallback, source, arity);
      break;
    }
    default: zorn::encode_source_operand(op); break;
  }
}

void interface_step(FuzzedDataProvider& in, zorn::KernelInterface& ki) {
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: {
      const std::string name = in.ConsumeRandomLengthString(24);
      const zorn::DataType type = any_type(in);
      const auto kind = static_cast<zorn::ArgumentKind>(in.ConsumeIntegralInRange(-1, 4));
      zorn::interface_add_argument(ki, name, type, kind, in.ConsumeIntegral<std::uint32_t>());
      break;
    }
    case 1: ki.simd_width = in.ConsumeIntegral<std::int32_t>(); break;
    case 2: ki.local_ids = in.ConsumeIntegral<std::uint32_t>(); break;
    case 3: ki.register_count = in.ConsumeIntegral<std::int32_t>(); break;
    case 4: ki.inline_data = in.ConsumeBool(); ki.inline_data_registers = in.ConsumeIntegral<std::int32_t>(); break;
    case 5: ki.local_size_needed = in.ConsumeBool(); ki.barrier_count = in.ConsumeIntegral<std::int32_t>(); break;
    case 6: zorn::finalize_interface(ki); break;
    case 7: zorn::find_argument(ki, in.ConsumeRandomLengthString(24)); break;
    case 8: zorn::get_local_size_argument(ki, in.ConsumeIntegral<int>()); break;
    default: zorn::binding_table_index_of(ki, in.ConsumeRandomLengthString(24)); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const zorn::HW hw = in.ConsumeIntegralInRange<zorn::HW>(zorn::hw::first, zorn::hw::last);
  try {
    zorn::RegisterOperand op = first_operand(in);
    for (int s = 0; s < steps_per_input && in.remaining_bytes() > 0; ++s) operand_step(in, op, hw);
  } catch (const std::runtime_error&) {
  }
  zorn::KernelInterface ki(hw);
  for (int s = 0; s < steps_per_input && in.remaining_bytes() > 0; ++s) {
    try {
      interface_step(in, ki);
    } catch (const std::runtime_error&) {
    }
  }
  if (!ki.finalized) return 0;
  try {
    zorn::write_qxinfo(ki);
  } catch (const std::runtime_error&) {
  }
  return 0;
}
