// What the configuration operations share: the table between config_value
// and the DFTI codes the record stores, the read-only parameters, the
// parameters each value type serves, the qualified parameter names of the
// refusal messages, and the exact conversions between the caller's types and
// the stored ones.
#pragma once

#include <cstdint>
#include <string>

#include "dft/api/descriptor_record.hpp"
#include "ulmara/qez/dft.hpp"

namespace ulmara::qez::dft {

constexpr int config_param_count = 21;

// config_value -> DFTI code; a value without a pair is returned unchanged.
std::int32_t config_value_to_code(std::int32_t value);
// DFTI code -> config_value; a code without a pair is returned unchanged.
std::int32_t code_to_config_value(std::int32_t code);

bool is_read_only(config_param param);
// "ulmara::qez::dft::config_param::PLACEMENT" and kin.
std::string qualified_name(config_param param);

// The value types of set_value and get_value, and the parameters each serves.
enum class value_type { config_value, domain, precision, int64, real, vector };
bool set_value_accepts(value_type type, config_param param);
bool get_value_accepts(value_type type, config_param param);

// Messages and the exceptions made from them. `operation` is "set_value" or
// "get_value".
[[noreturn]] void throw_read_only();
[[noreturn]] void throw_wrong_type(const char* operation, const char* extra = "");
[[noreturn]] void throw_invalid_value(config_param param);
[[noreturn]] void throw_truncation(const char* operation);
[[noreturn]] void throw_sign_lost(const char* operation);

// Exact conversions; each throws the truncation or sign error of `operation`.
double int64_to_scale(std::int64_t value, const char* operation);
std::int64_t scale_to_int64(double scale, const char* operation);
float scale_to_float(double scale, const char* operation);
std::int64_t unsigned_to_int64(std::uint64_t value, const char* operation);

// The first checks of every set_value and of the int64 and vector forms of
// get_value: a descriptor that was moved from, a record without the magic.
void check_target(const DFTI_DESCRIPTOR* record, const char* operation);

}  // namespace ulmara::qez::dft
