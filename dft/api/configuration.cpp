// set_value and get_value: checks, conversions between the caller's types
// and the record's encoding, and the return of a changed committed
// descriptor to the uncommitted state.
#include "dft/api/configuration.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "dft/api/config_values.hpp"
#include "dft/gpu/core/workspace_estimators.hpp"

namespace ulmara::qez::dft {
namespace {

using P = config_param;

const char* const set_operation = "set_value";
const char* const get_operation = "get_value";

// The reordering buffer of the stride setters holds an offset and seven strides.
constexpr std::int64_t max_record_rank = 7;

void throw_on_slot_status(int status) { throw_on_dfti_status(static_cast<std::int64_t>(status)); }

dim_record& first_batch(DFTI_DESCRIPTOR* record) { return record->batch.records[0]; }

// ---------------------------------------------------------------------------
// Checks shared by the setters.

// Target check, then the read-only refusal, which comes before any value-type
// refusal.
void check_settable(const DFTI_DESCRIPTOR* record, config_param param) {
  check_target(record, set_operation);
  if (is_read_only(param)) throw_read_only();
}

void check_set_type(value_type type, config_param param) {
  if (!set_value_accepts(type, param)) throw_wrong_type(set_operation);
}

std::int64_t rank_for_vectors(const DFTI_DESCRIPTOR* record) {
  const std::int64_t d = record->lengths.count;
  if (d < 1 || d > max_record_rank) throw internal_error_exception();
  return d;
}

// Runs `store`, which reports whether the stored configuration changed, and
// uncommits a committed descriptor when it did.
template <class Store>
void store_and_track(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, Store store) {
  if (store()) uncommit_sycl_descriptor_members(record, slot);
}

template <class Field>
bool replace(Field& field, Field value) {
  const bool changed = field != value;
  field = value;
  return changed;
}

// ---------------------------------------------------------------------------
// Readers shared by the getters.

std::int64_t rank_through_methods(const DFTI_DESCRIPTOR* record) {
  std::int64_t d = 0;
  throw_on_slot_status(record->methods->get_rank(record, &d));
  if (d < 1 || d > max_record_rank) throw internal_error_exception();
  return d;
}

double read_scale(const DFTI_DESCRIPTOR* record, config_param param) {
  double scale = 0;
  const int which = param == P::FORWARD_SCALE ? scale_forward : scale_backward;
  throw_on_slot_status(record->methods->get_scale(record, &scale, which));
  return scale;
}

std::uint64_t workspace_estimate(const DFTI_DESCRIPTOR* record) {
  if (record->commit_status == dfti_committed && device_of(record) == committed_device::gpu)
    return record->workspace_bytes[0] + record->workspace_bytes[1];
  const bool complex = record->domain == dfti_complex;
  if (!complex && record->domain != dfti_real) throw internal_error_exception();
  if (record->precision == dfti_single)
    return complex ? estimate_workspace_c2c_float(record) : estimate_workspace_r2c_float(record);
  if (record->precision == dfti_double)
    return complex ? estimate_workspace_c2c_double(record) : estimate_workspace_r2c_double(record);
  throw internal_error_exception();
}

std::uint64_t committed_workspace_bytes(const DFTI_DESCRIPTOR* record) {
  const committed_device where = device_of(record);
  if (record->commit_status != dfti_committed || where == committed_device::none)
    throw ulmara::qez::uninitialized("dft", get_operation,
                                     "the descriptor object must be successfully committed to a "
                                     "GPU device to query this configuration parameter.");
  if (where == committed_device::cpu)
    throw ulmara::qez::unimplemented(
        "dft", get_operation,
        "the feature is not implemented for descriptors committed to a CPU device.");
  return record->workspace_bytes[0] + record->workspace_bytes[1];
}

// A parameter of the int64 set (lengths of a one-dimensional descriptor
// included), converted exactly.
std::int64_t read_int64(const DFTI_DESCRIPTOR* record, config_param param, std::int64_t d) {
  const descriptor_methods& m = *record->methods;
  std::int64_t value = 0;
  switch (param) {
    case P::DIMENSION: return d;
    case P::LENGTHS: {
      std::int64_t lengths[max_record_rank] = {};
      throw_on_slot_status(m.get_lengths(record, lengths));
      return unsigned_to_int64(static_cast<std::uint64_t>(lengths[0]), get_operation);
    }
    case P::FORWARD_SCALE:
    case P::BACKWARD_SCALE: return scale_to_int64(read_scale(record, param), get_operation);
    case P::NUMBER_OF_TRANSFORMS: {
      std::uint64_t count = 0;
      throw_on_slot_status(m.get_number_of_transforms(record, &count));
      return unsigned_to_int64(count, get_operation);
    }
    case P::FWD_DISTANCE: throw_on_slot_status(m.get_forward_distance(record, &value)); return value;
    case P::BWD_DISTANCE: throw_on_slot_status(m.get_backward_distance(record, &value)); return value;
    case P::THREAD_LIMIT: throw_on_slot_status(m.get_thread_limit(record, &value)); return value;
    case P::WORKSPACE_ESTIMATE_BYTES: return unsigned_to_int64(workspace_estimate(record), get_operation);
    case P::WORKSPACE_BYTES:
    case P::WORKSPACE_EXTERNAL_BYTES:
      return unsigned_to_int64(committed_workspace_bytes(record), get_operation);
    default: throw_wrong_type(get_operation);
  }
}

// Lengths, slowest dimension first.
void read_lengths(const DFTI_DESCRIPTOR* record, std::int64_t d, std::int64_t* out) {
  std::int64_t lengths[max_record_rank] = {};
  throw_on_slot_status(record->methods->get_lengths(record, lengths));
  for (std::int64_t k = 0; k < d; ++k)
    out[k] = unsigned_to_int64(static_cast<std::uint64_t>(lengths[d - 1 - k]), get_operation);
}

// The strides offset, then the strides slowest dimension first.
void read_strides(const DFTI_DESCRIPTOR* record, config_param param, std::int64_t d,
                  std::int64_t* out) {
  std::int64_t strides[max_record_rank + 1] = {};
  const descriptor_methods& m = *record->methods;
  throw_on_slot_status(param == P::FWD_STRIDES ? m.get_forward_strides(record, strides)
                                               : m.get_backward_strides(record, strides));
  out[0] = strides[0];
  for (std::int64_t k = 1; k <= d; ++k) out[k] = strides[d + 1 - k];
}

// The checks of the config_value, domain, precision and scale getters: the
// parameter first, then the target.
template <class T>
void check_typed_get(const DFTI_DESCRIPTOR* record, value_type type, config_param param,
                     const T* out) {
  if (!get_value_accepts(type, param)) throw_wrong_type(get_operation);
  check_target(record, get_operation);
  if (out == nullptr)
    throw ulmara::qez::invalid_argument("dft", get_operation, "second argument must not be nullptr.");
  rank_through_methods(record);
}

// The checks of the int64 and vector getters: the target first.
std::int64_t check_untyped_get(const DFTI_DESCRIPTOR* record, const void* out) {
  check_target(record, get_operation);
  if (out == nullptr)
    throw ulmara::qez::invalid_argument("dft", get_operation, "second argument must not be nullptr.");
  return rank_through_methods(record);
}

config_value symbolic(std::int32_t code) {
  return static_cast<config_value>(code_to_config_value(code));
}

// ---------------------------------------------------------------------------
// Stores of the setters; each returns whether the configuration changed.

bool store_symbolic(DFTI_DESCRIPTOR* record, config_param param, config_value value) {
  const std::int32_t raw = static_cast<std::int32_t>(value);
  switch (param) {
    case P::COMPLEX_STORAGE: {
      const auto code = static_cast<std::uint32_t>(config_value_to_code(raw));
      if (code != dfti_complex_complex && code != dfti_real_real) throw_invalid_value(param);
      const bool changed = replace(record->complex_storage, code);
      // A real-domain descriptor stores the setting but never computes with it.
      return changed && record->domain == dfti_complex;
    }
    case P::PLACEMENT: {
      const auto code = static_cast<std::uint32_t>(config_value_to_code(raw));
      if (code != dfti_inplace && code != dfti_not_inplace) throw_invalid_value(param);
      return replace(record->placement, code);
    }
    case P::WORKSPACE:
    case P::WORKSPACE_PLACEMENT: {
      std::uint32_t flag;
      if (value == config_value::WORKSPACE_AUTO || value == config_value::WORKSPACE_LIBRARY) flag = 1;
      else if (value == config_value::WORKSPACE_EXTERNAL) flag = 0;
      else throw_invalid_value(param);
      return replace(record->workspace_internal, flag);
    }
    case P::DESTROY_INPUT: {
      const auto code = static_cast<std::uint32_t>(config_value_to_code(raw));
      if (code != dfti_allow && code != dfti_avoid) throw_invalid_value(param);
      const std::uint32_t options = code == dfti_allow
                                        ? record->options | option_destroy_input
                                        : record->options & ~std::uint32_t{option_destroy_input};
      return replace(record->options, options);
    }
    default: throw_wrong_type(set_operation);
  }
}

bool store_scale(DFTI_DESCRIPTOR* record, config_param param, double value) {
  double& scale = param == P::FORWARD_SCALE ? record->fwd_scale : record->bwd_scale;
  const bool changed = !(scale == value);  // a NaN on either side counts as a change
  scale = value;
  return changed;
}

bool store_thread_limit(DFTI_DESCRIPTOR* record, std::int64_t value) {
  if (value < 0 || value > std::numeric_limits<std::int32_t>::max())
    throw_invalid_value(P::THREAD_LIMIT);
  const service_table::query single = service_slot(record->services, &service_table::single_thread);
  if (single != nullptr && single() != 0) {
    record->thread_limit = 1;
    return false;
  }
  return replace(record->thread_limit, static_cast<std::int32_t>(value));
}

bool store_int64(DFTI_DESCRIPTOR* record, config_param param, std::int64_t value) {
  switch (param) {
    case P::FORWARD_SCALE:
    case P::BACKWARD_SCALE: return store_scale(record, param, int64_to_scale(value, set_operation));
    case P::NUMBER_OF_TRANSFORMS:
      if (value < 0) throw_sign_lost(set_operation);
      if (value == 0) throw_invalid_value(param);
      return replace(first_batch(record).length, value);
    case P::FWD_DISTANCE:
      record->set_flags |= set_flag_forward_distance;
      return replace(first_batch(record).forward, value);
    case P::BWD_DISTANCE:
      record->set_flags |= set_flag_backward_distance;
      return replace(first_batch(record).backward, value);
    case P::THREAD_LIMIT: return store_thread_limit(record, value);
    default: throw_wrong_type(set_operation);
  }
}

void set_strides(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                 const std::vector<std::int64_t>& values, std::int64_t d) {
  if (static_cast<std::int64_t>(values.size()) != d + 1)
    throw ulmara::qez::invalid_argument("DFT", set_operation,
                                        "vector of stride values must be of size (d + 1) wherein "
                                        "d is the dimension of the desired DFT.");
  if (record->commit_status == dfti_committed) {
    std::vector<std::int64_t> current(static_cast<std::size_t>(d + 1));
    get_vector_value(record, param, &current);
    if (current == values) return;
    uncommit_sycl_descriptor_members(record, slot);
  }
  // The record keeps the offset first, then the fastest dimension.
  std::int64_t strides[max_record_rank + 1] = {};
  strides[0] = values[0];
  for (std::int64_t k = 1; k <= d; ++k) strides[k] = values[static_cast<std::size_t>(d + 1 - k)];
  // Forward and backward strides replace any input/output stride layout.
  record->in_offset = 0;
  record->out_offset = 0;
  for (std::int64_t k = 0; k < d; ++k) {
    record->lengths.records[k].input = 0;
    record->lengths.records[k].output = 0;
  }
  const descriptor_methods& m = *record->methods;
  throw_on_slot_status(param == P::FWD_STRIDES ? m.set_forward_strides(record, strides)
                                               : m.set_backward_strides(record, strides));
}

// Releases the plan of the CPU-committed copy once the host tasks that use
// the slot have finished.
void release_cpu_copy(slot_buffer_type& slot) {
  sycl::host_accessor access(slot, sycl::read_only);
  const SYCL_DFTI_DESCRIPTOR* holder = access[0];
  if (holder == nullptr) return;
  DFTI_DESCRIPTOR* copy = holder->record;
  if (copy != nullptr && copy->commit_status == dfti_committed && copy->release != nullptr)
    copy->release(copy, nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// Setters.

void set_config_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                      config_value value) {
  check_settable(record, param);
  check_set_type(value_type::config_value, param);
  store_and_track(record, slot, [&] { return store_symbolic(record, param, value); });
}

void set_int64_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                     std::int64_t value) {
  check_settable(record, param);
  check_set_type(value_type::int64, param);
  store_and_track(record, slot, [&] { return store_int64(record, param, value); });
}

void set_scale_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                     double value, bool refuse_nan) {
  check_settable(record, param);
  check_set_type(value_type::real, param);
  if (refuse_nan && value != value) throw_truncation(set_operation);
  store_and_track(record, slot, [&] { return store_scale(record, param, value); });
}

void set_vector_value(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, config_param param,
                      const std::vector<std::int64_t>& values) {
  check_settable(record, param);
  const std::int64_t d = rank_for_vectors(record);
  if (set_value_accepts(value_type::int64, param)) {
    if (values.size() != 1)
      throw ulmara::qez::invalid_argument("DFT", set_operation,
                                          "vector must be of size 1 for the targeted parameter.");
    set_int64_value(record, slot, param, values[0]);
    return;
  }
  if (param != P::FWD_STRIDES && param != P::BWD_STRIDES) throw_wrong_type(set_operation);
  set_strides(record, slot, param, values, d);
}

void uncommit_sycl_descriptor_members(DFTI_DESCRIPTOR* record, slot_buffer_type& slot) {
  if (record == nullptr) throw invalid_descriptor_exception();
  if (record->commit_status == dfti_uncommitted) return;
  // Kernels still in flight on the GPU use the backend's memory: let them
  // finish before it is released. Their errors stay with the queue.
  if (device_of(record) == committed_device::gpu) record_queue(record)->wait();
  if (record->release != nullptr) record->release(record, &slot);
  if (record_queue(record) != nullptr) release_cpu_copy(slot);
  if (record->commit_status != dfti_uncommitted) throw internal_error_exception();
}

// ---------------------------------------------------------------------------
// Getters.

void get_config_value(const DFTI_DESCRIPTOR* record, config_param param, config_value* value) {
  check_typed_get(record, value_type::config_value, param, value);
  switch (param) {
    case P::COMPLEX_STORAGE:
      if (record->complex_storage != dfti_complex_complex && record->complex_storage != dfti_real_real)
        throw internal_error_exception();
      *value = symbolic(static_cast<std::int32_t>(record->complex_storage));
      return;
    case P::PLACEMENT:
      if (record->placement != dfti_inplace && record->placement != dfti_not_inplace)
        throw internal_error_exception();
      *value = symbolic(static_cast<std::int32_t>(record->placement));
      return;
    case P::WORKSPACE:
    case P::WORKSPACE_PLACEMENT:
      if (record->workspace_internal > 1) throw internal_error_exception();
      *value = record->workspace_internal == 1 ? config_value::WORKSPACE_AUTO
                                               : config_value::WORKSPACE_EXTERNAL;
      return;
    case P::COMMIT_STATUS:
      if (record->commit_status != dfti_committed && record->commit_status != dfti_uncommitted)
        throw internal_error_exception();
      *value = symbolic(static_cast<std::int32_t>(record->commit_status));
      return;
    case P::DESTROY_INPUT:
      *value = symbolic((record->options & option_destroy_input) != 0 ? dfti_allow : dfti_avoid);
      return;
    default: throw_wrong_type(get_operation);
  }
}

void get_domain_value(const DFTI_DESCRIPTOR* record, config_param param, domain* value) {
  check_typed_get(record, value_type::domain, param, value);
  if (record->domain != dfti_complex && record->domain != dfti_real) throw internal_error_exception();
  *value = static_cast<domain>(record->domain);
}

void get_precision_value(const DFTI_DESCRIPTOR* record, config_param param, precision* value) {
  check_typed_get(record, value_type::precision, param, value);
  if (record->precision != dfti_single && record->precision != dfti_double)
    throw internal_error_exception();
  *value = static_cast<precision>(record->precision);
}

void get_int64_value(const DFTI_DESCRIPTOR* record, config_param param, std::int64_t* value) {
  const std::int64_t d = check_untyped_get(record, value);
  if (param == P::LENGTHS && d != 1)
    throw_wrong_type(get_operation, " Multi-dimensional descriptors should query lengths using a vector");
  if (!get_value_accepts(value_type::int64, param)) throw_wrong_type(get_operation);
  *value = read_int64(record, param, d);
}

void get_scale_value(const DFTI_DESCRIPTOR* record, config_param param, float* value) {
  check_typed_get(record, value_type::real, param, value);
  *value = scale_to_float(read_scale(record, param), get_operation);
}

void get_scale_value(const DFTI_DESCRIPTOR* record, config_param param, double* value) {
  check_typed_get(record, value_type::real, param, value);
  *value = read_scale(record, param);
}

void get_vector_value(const DFTI_DESCRIPTOR* record, config_param param,
                      std::vector<std::int64_t>* values) {
  const std::int64_t d = check_untyped_get(record, values);
  std::int64_t required;
  if (param == P::LENGTHS) required = d;
  else if (param == P::FWD_STRIDES || param == P::BWD_STRIDES) required = d + 1;
  else if (get_value_accepts(value_type::int64, param)) required = 1;
  else throw_wrong_type(get_operation);
  if (static_cast<std::int64_t>(values->size()) != required)
    throw ulmara::qez::invalid_argument(
        "DFT", get_operation, "the provided vector must be of size " + std::to_string(required) + ".");
  if (param == P::LENGTHS) read_lengths(record, d, values->data());
  else if (required == d + 1) read_strides(record, param, d, values->data());
  else (*values)[0] = read_int64(record, param, d);
}

}  // namespace ulmara::qez::dft
