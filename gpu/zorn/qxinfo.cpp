// qxinfo metadata writer: the YAML document of one kernel, written piece by
// piece in a fixed layout.
#include "gpu/zorn/qxinfo.hpp"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {
namespace {

constexpr std::int32_t walk_order_unset = -1;
// Bytes of per-thread local IDs: three registers of 32 or of 64 bytes.
constexpr std::uint32_t local_id_bytes_narrow = 96;
constexpr std::uint32_t local_id_bytes_wide = 192;
constexpr std::int32_t widest_narrow_simd = 16;

const char* version_of(const KernelInterface& interface) {
  if (interface.quantum_size != 0) return "1.48";
  if (interface.inline_data) return "1.35";
  return "1.8";
}

std::uint64_t round_up_to_power_of_two(std::uint64_t value) {
  std::uint64_t power = 1;
  while (power < value) power <<= 1;
  return power;
}

const char* thread_scheduling_name(ThreadSchedulingMode mode) {
  switch (mode) {
    case ThreadSchedulingMode::age_based: return "age_based";
    case ThreadSchedulingMode::round_robin: return "round_robin";
    case ThreadSchedulingMode::round_robin_stall: return "round_robin_stall";
    case ThreadSchedulingMode::none: break;
  }
  // Any other value would leave the key without a value.
  throw std::runtime_error("Unsupported thread scheduling mode");
}

int quantum_walk_order(const KernelInterface& interface) {
  const std::int32_t first = interface.walk_order[0];
  const std::int32_t second = interface.walk_order[1];
  if (first == 0 && second == 1) return 0;
  if (first == 1 && second == 0) return 1;
  if (first == walk_order_unset && second == walk_order_unset) return 0;
  throw std::runtime_error("Unsupported walk order");
}

std::int32_t non_negative(std::int32_t value) { return value < 0 ? 0 : value; }

// --- YAML double-quoted scalar content ---------------------------------------

// Decodes one UTF-8 sequence at `pos`; returns false for malformed input
// (truncated, overlong, surrogate or beyond U+10FFFF).
bool decode_utf8(const std::string& text, std::size_t& pos, std::uint32_t& code_point) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    code_point = lead;
    ++pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code_point = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code_point = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code_point = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (pos + length > text.size()) return false;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return false;
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) return false;
  pos += length;
  return true;
}

// Characters a YAML reader takes literally inside double quotes; everything
// else (controls, line and paragraph separators, byte-order mark) is escaped.
bool is_literal_yaml_character(std::uint32_t c) {
  if (c == '"' || c == '\\') return false;
  if (c >= 0x20 && c <= 0x7E) return true;
  if (c >= 0xA0 && c <= 0xD7FF) return c != 0x2028 && c != 0x2029;
  if (c >= 0xE000 && c <= 0xFFFD) return c != 0xFEFF;
  return c >= 0x10000 && c <= 0x10FFFF;
}

void append_escape(std::string& out, std::uint32_t c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case 0: out += "\\0"; return;
    default: break;
  }
  char buffer[8];
  if (c <= 0xFF)
    std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(c));
  else
    std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
  out += buffer;
}

// --- Sections of the document ------------------------------------------------

class QxinfoWriter {
 public:
  explicit QxinfoWriter(const KernelInterface& interface)
      : interface_(interface), start_(interface.payload_start_register()), grf_(interface.grf_bytes()) {}

  std::string write() {
    header();
    execution_environment();
    payload_arguments();
    binding_table_indices();
    per_thread_payload_arguments();
    out_ << "\n";
    return out_.str();
  }

 private:
  void header() {
    out_ << "version: " << version_of(interface_);
    out_ << "\nkernels: \n  - name: \"" << yaml_double_quoted_content(interface_.kernel_name) << "\"";
  }

  void execution_environment() {
    const KernelInterface& k = interface_;
    out_ << "\n    execution_env: \n      grf_count: " << k.register_count << "\n      simd_size: " << k.simd_width
         << "\n";
    if (k.simd_width >= 2) out_ << "      required_sub_group_size: " << k.simd_width << "\n";
    required_work_group_size();
    walk_order();
    if (k.per_thread_data_skip_offset > 0)
      out_ << "      offset_to_skip_per_thread_data_load: " << k.per_thread_data_skip_offset << "\n";
    if (k.barrier_count > 0)
      out_ << "      barrier_count: " << round_up_to_power_of_two(static_cast<std::uint64_t>(k.barrier_count)) << "\n";
    if (k.has_4gb_buffers) out_ << "      has_4gb_buffers: true\n";
    if (k.uses_dpas) out_ << "      has_dpas: true\n";
    if (k.uses_global_atomics) out_ << "      has_global_atomics: true\n";
    if (k.shared_local_memory_size != 0) out_ << "      slm_size: " << k.shared_local_memory_size << "\n";
    if (!k.stateless_writes) out_ << "      has_no_stateless_write: true\n";
    if (k.disable_mid_thread_preemption) out_ << "      disable_mid_thread_preemption: true\n";
    if (k.thread_scheduling_mode != ThreadSchedulingMode::none)
      out_ << "      thread_scheduling_mode: " << thread_scheduling_name(k.thread_scheduling_mode) << "\n";
    if (k.inline_data || k.inline_data_registers > 0) {
      const std::int64_t registers = k.inline_data ? 1 : k.inline_data_registers;
      out_ << "      inline_data_payload_size: " << registers * grf_ << "\n";
    }
    quantum();
  }

  void required_work_group_size() {
    const auto& size = interface_.required_work_group_size;
    if (size[0] == 0 || size[1] == 0 || size[2] == 0) return;
    out_ << "      required_work_group_size:\n";
    for (std::uint64_t s : size) out_ << "        - " << s << "\n";
  }

  void walk_order() {
    const auto& order = interface_.walk_order;
    if (order[0] < 0) return;
    out_ << "      work_group_walk_order_dimensions:\n";
    out_ << "        - " << order[0] << "\n";
    out_ << "        - " << order[1] << "\n";
    out_ << "        - " << non_negative(order[2]) << "\n";
  }

  void quantum() {
    if (interface_.quantum_size == 0) return;
    const int order = quantum_walk_order(interface_);
    out_ << "      quantum_size: " << interface_.quantum_size << "\n";
    out_ << "      quantum_walk_order: " << order << "\n";
    out_ << "      quantum_partition_dimension: " << non_negative(interface_.quantum_partition_dimension) << "\n";
  }

  void payload_arguments() {
    if (!interface_.arguments.empty()) out_ << "\n    payload_arguments: \n";
    if (interface_.inline_data) out_ << "      - arg_type: indirect_data_pointer\n        offset: 0\n        size: 8\n";
    for (const KernelArgument& argument : interface_.arguments) argument_entries(argument);
  }

  void argument_entries(const KernelArgument& argument) {
    if ((argument.access & argument_access::stateful) != 0)
      out_ << "      - arg_type: arg_bypointer\n        arg_index: " << argument.index
           << "\n        offset: 0\n        size: 0\n        addrmode: stateful\n        addrspace: global\n"
              "        access_type: readwrite\n\n";
    std::uint32_t size = argument.payload_bytes();
    bool with_index = true;
    switch (argument.kind) {
      case ArgumentKind::scalar: out_ << "      - arg_type: arg_byvalue\n"; break;
      case ArgumentKind::global_pointer:
        if ((argument.access & argument_access::stateless) == 0) return;
        out_ << "      - arg_type: arg_bypointer\n";
        break;
      case ArgumentKind::local_pointer: out_ << "      - arg_type: arg_bypointer\n"; break;
      case ArgumentKind::hidden:
        if (argument.name != local_size_argument_name(0)) return;
        out_ << "      - arg_type: " << (interface_.local_size_enqueued ? "enqueued_local_size\n" : "local_size\n");
        size *= 3;
        with_index = false;
        break;
    }
    if (with_index) out_ << "        arg_index: " << argument.index << "\n";
    out_ << "        offset: " << payload_offset(argument) << "\n        size: " << size << "\n";
    if ((argument.access & argument_access::stateless) != 0)
      out_ << "        addrmode: stateless\n        addrspace: global\n        access_type: readwrite\n";
    else if (argument.kind == ArgumentKind::local_pointer)
      out_ << "        addrmode: slm\n        addrspace: local\n        access_type: readwrite\n";
    out_ << "\n";
  }

  std::int64_t payload_offset(const KernelArgument& argument) const {
    const RegisterOperand& location = argument.location;
    if (location.is_invalid()) throw unsupported_argument_location_override();
    const std::int64_t offset = (std::int64_t{location.register_number()} - start_) * grf_ +
                                std::int64_t{location.subregister_offset()} * argument.element_bytes();
    if (offset < 0) throw unsupported_argument_location_override();
    return offset;
  }

  void binding_table_indices() {
    bool first = true;
    for (const KernelArgument& argument : interface_.arguments) {
      if ((argument.access & argument_access::stateful) == 0) continue;
      if (first) out_ << "\n    binding_table_indices: \n";
      first = false;
      out_ << "      - bti_value: " << argument.binding_table_index << "\n        arg_index: " << argument.index
           << "\n \n";
    }
  }

  void per_thread_payload_arguments() {
    if (interface_.local_ids == 0) return;
    out_ << "\n    per_thread_payload_arguments: \n";
    if (interface_.simd_width == 1) {
      out_ << "      - arg_type: packed_local_ids\n        offset: 0\n        size: 6\n  \n";
      return;
    }
    out_ << "      - arg_type: local_id\n        offset: 0\n        size: " << local_id_bytes() << "\n  \n";
  }

  // Three registers' worth of local IDs.
  std::uint32_t local_id_bytes() const {
    const bool wide = interface_.hw >= hw::harix || interface_.simd_width > widest_narrow_simd;
    return wide ? local_id_bytes_wide : local_id_bytes_narrow;
  }

  const KernelInterface& interface_;
  const std::int64_t start_;
  const std::int64_t grf_;
  std::ostringstream out_;
};

}  // namespace

std::string yaml_double_quoted_content(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t begin = pos;
    std::uint32_t code_point = 0;
    if (!decode_utf8(text, pos, code_point)) throw invalid_kernel_name_exception();
    if (is_literal_yaml_character(code_point))
      out.append(text, begin, pos - begin);
    else
      append_escape(out, code_point);
  }
  return out;
}

std::string write_qxinfo(const KernelInterface& interface) {
  if (!interface.finalized) throw interface_not_finalized();
  return QxinfoWriter(interface).write();
}

}  // namespace ulmara::qez::zorn
