// Kernel interface: argument records, payload placement and lookup.
#include "gpu/zorn/kernel_interface.hpp"

#include <algorithm>
#include <array>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {
namespace {

// Payload start registers.
constexpr std::uint32_t start_register_wide_header = 2;   // no local IDs, HW below Fenwa
constexpr std::uint32_t start_register_narrow_header = 1;  // no local IDs, Fenwa and later
constexpr std::uint32_t start_register_packed_ids = 2;     // local IDs, SIMD 1
constexpr std::uint32_t start_register_simd32_ids = 7;     // local IDs, SIMD 17+ below Harix
constexpr std::uint32_t start_register_ids = 4;            // local IDs otherwise
constexpr std::int32_t widest_simd16 = 16;

// Bytes of the start register left free when no override is given; the
// fixed local sizes live there.
constexpr std::uint32_t reserved_start_bytes = 32;
constexpr std::uint32_t payload_alignment = 32;
constexpr std::uint32_t local_sizes_bytes = 12;
constexpr std::array<std::uint32_t, 3> fixed_local_size_elements{3, 4, 5};

constexpr DataType scratch_size_type{200};
constexpr DataType local_size_type{160};

constexpr std::uint32_t round_up(std::uint32_t value, std::uint32_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

// The payload cursor: register R and byte offset B inside it.
struct PayloadCursor {
  std::uint32_t reg;
  std::uint32_t byte;
};

RegisterOperand unplaced_location(DataType type) {
  RegisterOperand location = RegisterOperand::from_bits(0).set_type(type);
  return location.set_invalid(true);
}

PayloadCursor initial_cursor(const KernelInterface& interface) {
  const RegisterOperand& override_location = interface.argument_location_override;
  if (!override_location.is_invalid())
    return {override_location.register_number(),
            override_location.subregister_offset() * override_location.type().bytes()};
  return {interface.payload_start_register(), reserved_start_bytes};
}

void next_register(PayloadCursor& cursor) {
  ++cursor.reg;
  cursor.byte = 0;
}

// Places every argument of one kind, in list order.
void assign_argument_pass(KernelInterface& interface, ArgumentKind kind, PayloadCursor& cursor,
                          std::uint32_t& binding_table_counter) {
  const std::uint32_t grf = interface.grf_bytes();
  for (KernelArgument& argument : interface.arguments) {
    if (argument.kind != kind) continue;
    // The three local sizes share one register.
    if (argument.name == local_size_argument_name(0) && cursor.byte > grf - local_sizes_bytes)
      next_register(cursor);
    const std::uint32_t size = argument.payload_bytes();
    cursor.byte = round_up(cursor.byte, size);
    if (cursor.byte >= grf) next_register(cursor);
    // Past r511 the register field cannot hold the location: refused by grf().
    argument.location = RegisterOperand::grf(cursor.reg, argument.type, cursor.byte / argument.element_bytes());
    cursor.byte += size;
    if (kind == ArgumentKind::global_pointer) {
      if ((argument.access & argument_access::stateless) == 0) argument.location.set_invalid(true);
      if ((argument.access & argument_access::stateful) != 0) argument.binding_table_index = binding_table_counter;
      ++binding_table_counter;
    }
  }
}

void add_fixed_local_sizes(KernelInterface& interface) {
  const std::uint32_t start = interface.payload_start_register();
  for (int dimension = 0; dimension < 3; ++dimension) {
    KernelArgument argument;
    argument.name = local_size_argument_name(dimension);
    argument.type = local_size_type;
    argument.kind = ArgumentKind::hidden;
    argument.access = argument_access::none;
    argument.location = RegisterOperand::grf(start, local_size_type, fixed_local_size_elements[dimension]);
    argument.binding_table_index = no_binding_table_index;
    argument.index = -1;
    interface.arguments.push_back(std::move(argument));
  }
}

const KernelArgument* first_argument_named(const KernelInterface& interface, const std::string& name) {
  auto it = std::find_if(interface.arguments.begin(), interface.arguments.end(),
                         [&](const KernelArgument& argument) { return argument.name == name; });
  return it == interface.arguments.end() ? nullptr : &*it;
}

}  // namespace

const std::string& scratch_size_argument_name() {
  static const std::string name = "__scratch_size";
  return name;
}

const std::string& local_size_argument_name(int dimension) {
  static const std::array<std::string, 3> names{"__local_size0", "__local_size1", "__local_size2"};
  return names.at(static_cast<std::size_t>(dimension));
}

std::uint32_t KernelArgument::payload_bytes() const {
  const std::uint32_t width_code = std::max<std::uint32_t>(type.width_code(), 5);
  return 4u << (width_code - 5);
}

KernelInterface::KernelInterface(HW generation)
    : hw(generation),
      simd_width(generation < hw::harix ? 8 : 16),
      inline_data_registers(generation == hw::gulon ? 1 : 0) {}

std::uint32_t KernelInterface::payload_start_register() const {
  if (local_ids == 0) return hw < hw::fenwa ? start_register_wide_header : start_register_narrow_header;
  if (simd_width == 1) return start_register_packed_ids;
  if (simd_width > widest_simd16 && hw < hw::harix) return start_register_simd32_ids;
  return start_register_ids;
}

void declare_argument(CodeGenerator& generator, const std::string& name, DataType type) {
  interface_add_argument(generator.interface, name, type, ArgumentKind::scalar, argument_access::default_access);
}

void interface_add_argument(KernelInterface& interface, const std::string& name, DataType type,
                            ArgumentKind kind, ArgumentAccess access) {
  // Arguments added after placement would have no payload location and
  // would still reach the metadata.
  if (interface.finalized) throw interface_already_finalized();
  ArgumentAccess recorded = argument_access::none;
  if (kind == ArgumentKind::global_pointer) {
    if (access == argument_access::default_access)
      recorded = interface.hw < hw::harix ? argument_access::both : argument_access::stateless;
    else
      recorded = access;
  }
  KernelArgument argument;
  argument.name = name;
  argument.type = type;
  argument.kind = kind;
  argument.access = recorded;
  argument.location = unplaced_location(type);
  argument.binding_table_index = no_binding_table_index;
  argument.index = static_cast<std::int32_t>(interface.next_argument_index++);
  interface.arguments.push_back(std::move(argument));
}

void finalize_interface(KernelInterface& interface) {
  // Running twice would add the hidden arguments twice.
  if (interface.finalized) throw interface_already_finalized();
  PayloadCursor cursor = initial_cursor(interface);
  std::uint32_t binding_table_counter = 0;
  for (ArgumentKind kind : {ArgumentKind::local_pointer, ArgumentKind::global_pointer, ArgumentKind::scalar})
    assign_argument_pass(interface, kind, cursor, binding_table_counter);

  if (interface.scratch_size != 0)
    interface_add_argument(interface, scratch_size_argument_name(), scratch_size_type, ArgumentKind::hidden);
  if (interface.local_size_needed && interface.local_size_enqueued)
    for (int dimension = 0; dimension < 3; ++dimension)
      interface_add_argument(interface, local_size_argument_name(dimension), local_size_type, ArgumentKind::hidden);
  assign_argument_pass(interface, ArgumentKind::hidden, cursor, binding_table_counter);

  const std::int64_t start = interface.payload_start_register();
  const std::int64_t bytes =
      std::int64_t{round_up(cursor.byte, payload_alignment)} + (std::int64_t{cursor.reg} - start) * interface.grf_bytes();
  // Only an override far before the start register gets here; the size
  // would wrap to a huge unsigned value.
  if (bytes < 0) throw unsupported_argument_location_override();
  interface.payload_bytes = static_cast<std::uint32_t>(bytes);
  interface.payload_registers = round_up(interface.payload_bytes, interface.grf_bytes()) / interface.grf_bytes();

  if (interface.local_size_needed && !interface.local_size_enqueued) add_fixed_local_sizes(interface);
  interface.finalized = true;
}

RegisterOperand find_argument(const KernelInterface& interface, const std::string& name) {
  const KernelArgument* argument = first_argument_named(interface, name);
  if (argument == nullptr || argument->location.is_invalid()) throw unknown_argument_exception();
  return argument->location;
}

RegisterOperand find_argument(const CodeGenerator& generator, const std::string& name) {
  return find_argument(generator.interface, name);
}

RegisterOperand get_local_size_argument(const KernelInterface& interface, int dimension) {
  if (dimension < 0 || dimension > 2) throw unknown_argument_exception();
  return find_argument(interface, local_size_argument_name(dimension));
}

std::uint32_t binding_table_index_of(const KernelInterface& interface, const std::string& name) {
  const KernelArgument* argument = first_argument_named(interface, name);
  return argument ? argument->binding_table_index : no_binding_table_index;
}

}  // namespace ulmara::qez::zorn
