// The exception classes of the zorn code generator. Each error is its own
// class derived from std::runtime_error and carries one fixed message; zorn
// throws them and never catches them.
#pragma once

#include <stdexcept>

namespace ulmara::qez::zorn {

#define QEZ_ZORN_EXCEPTION(class_name, message)                    \
  class class_name : public std::runtime_error {                   \
   public:                                                         \
    class_name() : std::runtime_error(message) {}                  \
    static constexpr const char* fixed_message = message;          \
  };

QEZ_ZORN_EXCEPTION(interface_not_finalized, "Interface has not been finalized")
QEZ_ZORN_EXCEPTION(unsupported_argument_location_override, "Argument register location is invalid")
QEZ_ZORN_EXCEPTION(unfinished_stream_exception, "An unfinished instruction stream is still active")
QEZ_ZORN_EXCEPTION(dangling_label_exception, "A label was referenced, but its location was not defined")
QEZ_ZORN_EXCEPTION(multiple_label_exception, "Label already has a location")
QEZ_ZORN_EXCEPTION(unknown_argument_exception, "Argument not found")
QEZ_ZORN_EXCEPTION(invalid_directive_exception, "Invalid directive")
QEZ_ZORN_EXCEPTION(invalid_range_exception, "Invalid register range")
QEZ_ZORN_EXCEPTION(invalid_region_exception, "Unsupported register region")
QEZ_ZORN_EXCEPTION(invalid_object_exception, "Object is invalid")
QEZ_ZORN_EXCEPTION(missing_type_exception, "Operand is missing its type")
QEZ_ZORN_EXCEPTION(limited_to_256_grf_exception, "This instruction only supports r0-r255")
QEZ_ZORN_EXCEPTION(invalid_immediate_exception, "Invalid immediate value")
QEZ_ZORN_EXCEPTION(invalid_model_exception, "Invalid addressing model specified")
QEZ_ZORN_EXCEPTION(read_only_exception, "Memory model is read-only")
QEZ_ZORN_EXCEPTION(invalid_modifiers_exception, "Invalid or conflicting modifiers")
QEZ_ZORN_EXCEPTION(invalid_operand_exception, "Invalid operand to instruction")
QEZ_ZORN_EXCEPTION(invalid_type_exception, "Instruction does not support this type or combination of types")
QEZ_ZORN_EXCEPTION(invalid_address_modifier_exception, "Invalid address offset or scaling factor")

// Guards added around the interface and the metadata writer: an interface is
// finalised exactly once and is closed to new arguments afterwards, and a
// kernel name must be text the metadata can carry.
QEZ_ZORN_EXCEPTION(interface_already_finalized, "Interface has already been finalized")
QEZ_ZORN_EXCEPTION(invalid_kernel_name_exception, "Kernel name is not valid UTF-8")

#undef QEZ_ZORN_EXCEPTION

}  // namespace ulmara::qez::zorn
