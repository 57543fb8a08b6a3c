// Kernel interface of a zorn generator: the kernel's named arguments, where
// each arrives in the cross-thread payload registers, the hidden arguments the
// generator adds, and the execution settings the metadata writer turns into
// qxinfo.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gpu/zorn/hw.hpp"
#include "gpu/zorn/operands.hpp"

namespace ulmara::qez::zorn {

class CodeGenerator;

enum class ArgumentKind : std::int32_t { scalar = 0, global_pointer = 1, local_pointer = 2, hidden = 3 };

// Access bits of an argument; `default_access` asks for the generation's
// default for global pointers.
using ArgumentAccess = std::uint32_t;
namespace argument_access {
inline constexpr ArgumentAccess none = 0;
inline constexpr ArgumentAccess stateless = 1;  // pointer passed in the payload
inline constexpr ArgumentAccess stateful = 2;   // binding-table entry
inline constexpr ArgumentAccess both = stateless | stateful;
inline constexpr ArgumentAccess default_access = 4;
}  // namespace argument_access

// Binding-table index of an argument without one.
inline constexpr std::uint32_t no_binding_table_index = 128;

// Names of the hidden arguments (process-wide constants).
const std::string& scratch_size_argument_name();
const std::string& local_size_argument_name(int dimension);

struct KernelArgument {
  std::string name;
  DataType type;
  ArgumentKind kind = ArgumentKind::scalar;
  ArgumentAccess access = argument_access::none;
  RegisterOperand location;  // invalid until placed
  std::uint32_t binding_table_index = no_binding_table_index;
  std::int32_t index = 0;    // declaration position; -1 for fixed local sizes

  // Bytes the argument takes in the payload: 4 up to 32 bits, else its size.
  std::uint32_t payload_bytes() const;
  // Size of the type in bytes (at least 1).
  std::uint32_t element_bytes() const { return type.bytes(); }
};

enum class ThreadSchedulingMode : std::int32_t {
  none = 0,
  age_based = 1,
  round_robin = 2,
  round_robin_stall = 3,
};

struct KernelInterface {
  explicit KernelInterface(HW generation);

  HW hw;
  std::vector<KernelArgument> arguments;
  std::string kernel_name = "default_kernel";
  std::uint32_t next_argument_index = 0;
  bool finalized = false;
  bool has_4gb_buffers = false;
  ThreadSchedulingMode thread_scheduling_mode = ThreadSchedulingMode::none;
  std::int32_t barrier_count = 0;
  RegisterOperand argument_location_override;  // invalid: none
  bool uses_dpas = false;
  bool uses_global_atomics = false;
  std::int32_t register_count = 128;
  std::uint32_t local_ids = 0;
  bool local_size_needed = false;
  bool local_size_enqueued = false;
  bool disable_mid_thread_preemption = false;
  std::int32_t quantum_partition_dimension = -1;
  std::uint32_t quantum_size = 0;
  bool stateless_writes = true;
  std::int32_t per_thread_data_skip_offset = 0;
  std::uint64_t scratch_size = 0;
  std::int32_t simd_width;
  std::uint64_t shared_local_memory_size = 0;
  std::array<std::int32_t, 3> walk_order{-1, -1, -1};
  std::array<std::uint64_t, 3> required_work_group_size{0, 0, 0};
  bool inline_data = false;
  std::uint32_t payload_bytes = 0;
  std::uint32_t payload_registers = 0;
  std::int32_t inline_data_registers;

  // Payload start register S (by HW, local IDs and SIMD width).
  std::uint32_t payload_start_register() const;
  // Register size G of the generation.
  std::uint32_t grf_bytes() const { return zorn::grf_bytes(hw); }
};

// Declares a scalar argument (kind 0, default access).
void declare_argument(CodeGenerator& generator, const std::string& name, DataType type);

// Appends an argument record. Throws interface_already_finalized after
// finalize_interface.
void interface_add_argument(KernelInterface& interface, const std::string& name, DataType type,
                            ArgumentKind kind, ArgumentAccess access = argument_access::default_access);

// Adds the hidden arguments, places every argument in the payload, computes
// the payload size and marks the interface finalised. Throws
// interface_already_finalized on a second call and invalid_range_exception
// when the payload would run past the last register.
void finalize_interface(KernelInterface& interface);

// Location of the first argument named `name`; unknown_argument_exception when
// there is none or it has no payload location.
RegisterOperand find_argument(const KernelInterface& interface, const std::string& name);
RegisterOperand find_argument(const CodeGenerator& generator, const std::string& name);

// Location of "__local_size0" .. "__local_size2"; unknown_argument_exception
// when missing or for a dimension outside 0..2.
RegisterOperand get_local_size_argument(const KernelInterface& interface, int dimension);

// Binding-table index of the first argument named `name`; 128 when there is
// none. Never throws.
std::uint32_t binding_table_index_of(const KernelInterface& interface, const std::string& name);

}  // namespace ulmara::qez::zorn
