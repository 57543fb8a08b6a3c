#include "dft/api/config_values.hpp"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "dft/api/descriptor_state.hpp"

namespace ulmara::qez::dft {
namespace {

using P = config_param;

// Pairs {config_value, DFTI code} in lookup order; WORKSPACE_AUTO,
// WORKSPACE_LIBRARY and WORKSPACE_EXTERNAL have none.
const std::vector<std::pair<std::int32_t, std::int32_t>> config_value_code_table = [] {
  const std::int32_t pairs[16] = {0, 30, 1, 31, 2, 39, 3, 42, 4, 43, 5, 44, 7, 51, 8, 52};
  std::vector<std::pair<std::int32_t, std::int32_t>> table;
  for (int i = 0; i < 16; i += 2) table.emplace_back(pairs[i], pairs[i + 1]);
  return table;
}();

// Bit n set: parameter n is read-only (FORWARD_DOMAIN, DIMENSION, LENGTHS,
// PRECISION, COMMIT_STATUS and the three workspace sizes).
constexpr std::uint32_t read_only_mask = 0x11900F;

const char* const param_names[config_param_count] = {
    "FORWARD_DOMAIN",  "DIMENSION",    "LENGTHS",       "PRECISION",
    "FORWARD_SCALE",   "BACKWARD_SCALE", "NUMBER_OF_TRANSFORMS", "COMPLEX_STORAGE",
    "PLACEMENT",       "FWD_DISTANCE", "BWD_DISTANCE",  "WORKSPACE",
    "COMMIT_STATUS",   "THREAD_LIMIT", "DESTROY_INPUT", "WORKSPACE_ESTIMATE_BYTES",
    "WORKSPACE_BYTES", "FWD_STRIDES",  "BWD_STRIDES",   "WORKSPACE_PLACEMENT",
    "WORKSPACE_EXTERNAL_BYTES"};

constexpr std::uint32_t bit(P p) { return 1u << static_cast<int>(p); }
template <class... Ps>
constexpr std::uint32_t bits(Ps... ps) {
  return (bit(ps) | ...);
}

// Parameters whose value is one 64-bit integer in the interface.
constexpr std::uint32_t int64_settable =
    bits(P::FORWARD_SCALE, P::BACKWARD_SCALE, P::NUMBER_OF_TRANSFORMS, P::FWD_DISTANCE,
         P::BWD_DISTANCE, P::THREAD_LIMIT);
constexpr std::uint32_t int64_readable =
    int64_settable | bits(P::DIMENSION, P::WORKSPACE_ESTIMATE_BYTES, P::WORKSPACE_BYTES,
                          P::WORKSPACE_EXTERNAL_BYTES);
constexpr std::uint32_t symbolic_settable =
    bits(P::COMPLEX_STORAGE, P::PLACEMENT, P::WORKSPACE, P::DESTROY_INPUT,
         P::WORKSPACE_PLACEMENT);
constexpr std::uint32_t scales = bits(P::FORWARD_SCALE, P::BACKWARD_SCALE);
constexpr std::uint32_t stride_params = bits(P::FWD_STRIDES, P::BWD_STRIDES);

std::uint32_t settable(value_type type) {
  switch (type) {
    case value_type::config_value: return symbolic_settable;
    case value_type::int64: return int64_settable;
    case value_type::real: return scales;
    case value_type::vector: return int64_settable | stride_params;
    default: return 0;
  }
}

std::uint32_t readable(value_type type) {
  switch (type) {
    case value_type::config_value: return symbolic_settable | bit(P::COMMIT_STATUS);
    case value_type::domain: return bit(P::FORWARD_DOMAIN);
    case value_type::precision: return bit(P::PRECISION);
    case value_type::int64: return int64_readable | bit(P::LENGTHS);
    case value_type::real: return scales;
    case value_type::vector: return int64_readable | bit(P::LENGTHS) | stride_params;
  }
  return 0;
}

bool in_set(std::uint32_t set, config_param param) {
  const auto n = static_cast<std::uint32_t>(param);
  return n < config_param_count && (set >> n & 1u) != 0;
}

// The 64-bit float just above the largest int64 and the lowest int64.
constexpr double two_to_63 = 9223372036854775808.0;

}  // namespace

std::int32_t config_value_to_code(std::int32_t value) {
  for (const auto& pair : config_value_code_table)
    if (pair.first == value) return pair.second;
  return value;
}

std::int32_t code_to_config_value(std::int32_t code) {
  for (const auto& pair : config_value_code_table)
    if (pair.second == code) return pair.first;
  return code;
}

bool is_read_only(config_param param) { return in_set(read_only_mask, param); }

std::string qualified_name(config_param param) {
  const auto n = static_cast<std::uint32_t>(param);
  const std::string name = n < config_param_count ? param_names[n] : std::to_string(n);
  return "ulmara::qez::dft::config_param::" + name;
}

bool set_value_accepts(value_type type, config_param param) {
  return in_set(settable(type), param);
}
bool get_value_accepts(value_type type, config_param param) {
  return in_set(readable(type), param);
}

void throw_read_only() {
  throw ulmara::qez::invalid_argument("dft", "set_value",
                                      "the targeted configuration parameter is read-only.");
}

void throw_wrong_type(const char* operation, const char* extra) {
  throw ulmara::qez::invalid_argument(
      "dft", operation,
      std::string("invalid type of configuration value for the targeted parameter.") + extra);
}

void throw_invalid_value(config_param param) {
  throw ulmara::qez::invalid_argument(
      "dft", "set_value",
      "invalid configuration value for the targeted configuration parameter " +
          qualified_name(param));
}

void throw_truncation(const char* operation) {
  throw ulmara::qez::invalid_argument("dft", operation,
                                      "A truncation or conversion error was caught in a required "
                                      "conversion (internal to Qezlib DFT domain).");
}

void throw_sign_lost(const char* operation) {
  throw ulmara::qez::invalid_argument(
      "dft", operation,
      "A sign was lost in a required conversion (internal to Qezlib DFT domain).");
}

double int64_to_scale(std::int64_t value, const char* operation) {
  const double d = static_cast<double>(value);
  // 2^63 itself is out of range of the way back.
  if (!(d < two_to_63) || static_cast<std::int64_t>(d) != value) throw_truncation(operation);
  return d;
}

std::int64_t scale_to_int64(double scale, const char* operation) {
  // NaN fails the range test; fractions fail the round trip.
  if (!(scale >= -two_to_63 && scale < two_to_63)) throw_truncation(operation);
  const auto v = static_cast<std::int64_t>(scale);
  if (static_cast<double>(v) != scale) throw_truncation(operation);
  return v;
}

float scale_to_float(double scale, const char* operation) {
  if (std::isnan(scale)) throw_truncation(operation);
  if (std::isfinite(scale) && std::fabs(scale) > std::numeric_limits<float>::max())
    throw_truncation(operation);
  const auto f = static_cast<float>(scale);
  if (static_cast<double>(f) != scale) throw_truncation(operation);
  return f;
}

std::int64_t unsigned_to_int64(std::uint64_t value, const char* operation) {
  if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    throw_sign_lost(operation);
  return static_cast<std::int64_t>(value);
}

void check_target(const DFTI_DESCRIPTOR* record, const char* operation) {
  ensure_initialized(record, operation);
  if (record->magic != descriptor_magic) throw invalid_descriptor_exception();
}

}  // namespace ulmara::qez::dft
