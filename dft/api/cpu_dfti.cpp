// The CPU DFTI front end over the CPU engine's records.
#include "dft/api/cpu_dfti.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <limits>

#include "dft/api/status_codes.hpp"
#include "dft/api/verbose_descriptor.hpp"
#include "gpu/service/safe_routines.hpp"
#include "qez_dft_engine.h"
#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

constexpr int max_cpu_rank = 7;
constexpr std::size_t max_name_length = 4096;

// ---------------------------------------------------------------------------
// Creation.

using engine_create_1d = int (*)(DFTI_DESCRIPTOR**, std::int64_t, int);
using engine_create_md = int (*)(DFTI_DESCRIPTOR**, std::int64_t, const std::int64_t*, int);

std::int64_t finish_creation(DFTI_DESCRIPTOR** handle, int status) {
  if (status != status_success) return status;
  qez_dft_bless_node_thr(*handle);
  return status_success;
}

std::int64_t create_1d(DFTI_DESCRIPTOR** handle, int domain, std::int64_t length,
                       engine_create_1d real, engine_create_1d complex) {
  if (handle == nullptr) return status_invalid_descriptor;
  *handle = nullptr;
  if (length < 1) return status_invalid_configuration;
  if (domain == dfti_real) return finish_creation(handle, real(handle, length, 0));
  if (domain == dfti_complex) return finish_creation(handle, complex(handle, length, 0));
  return status_invalid_configuration;
}

std::int64_t create_md(DFTI_DESCRIPTOR** handle, int domain, std::int64_t rank,
                       const std::int64_t* lengths, engine_create_md real,
                       engine_create_md complex) {
  if (handle == nullptr) return status_invalid_descriptor;
  *handle = nullptr;
  if (rank < 1 || rank > max_cpu_rank) return status_invalid_configuration;
  if (lengths == nullptr) return status_invalid_descriptor;
  // The engine takes the last (fastest) dimension first.
  std::int64_t array[max_cpu_rank] = {};
  std::reverse_copy(lengths, lengths + rank, array);
  for (std::int64_t k = 0; k < rank; ++k)
    if (array[k] == 0) return status_invalid_configuration;
  if (domain == dfti_real) return finish_creation(handle, real(handle, rank, array, 0));
  if (domain == dfti_complex) return finish_creation(handle, complex(handle, rank, array, 0));
  return status_invalid_configuration;
}

// ---------------------------------------------------------------------------
// Values.

// The records of a chain: the record and every record linked after it. An
// engine chains a handful of records (a few per dimension); a chain that
// has not ended after this many is a cycle or a stray link.
constexpr std::size_t max_chain_records = 64;

class record_chain {
public:
  // False when the chain does not end within the bound.
  bool collect(DFTI_DESCRIPTOR* record) {
    count_ = 0;
    for (DFTI_DESCRIPTOR* r = record; r != nullptr; r = r->linked_descriptor) {
      if (count_ == max_chain_records) return false;
      records_[count_++] = r;
    }
    return true;
  }
  DFTI_DESCRIPTOR* const* begin() const { return records_; }
  DFTI_DESCRIPTOR* const* end() const { return records_ + count_; }

private:
  DFTI_DESCRIPTOR* records_[max_chain_records] = {};
  std::size_t count_ = 0;
};

// Applies `store` to every record of the chain, or to none: a chain without
// an end gives 5 and changes nothing.
template <class Store>
int for_chain(DFTI_DESCRIPTOR* record, Store store) {
  record_chain chain;
  if (!chain.collect(record)) return status_bad_descriptor;
  for (DFTI_DESCRIPTOR* r : chain) store(r);
  return status_success;
}

// Complex-real storage has no form for records of rank 2 and more; a chain
// holding one is refused whole, before any record changes.
int set_conjugate_even_storage(DFTI_DESCRIPTOR* record, std::int64_t value) {
  record_chain chain;
  if (!chain.collect(record)) return status_bad_descriptor;
  if (value == dfti_complex_real)
    for (const DFTI_DESCRIPTOR* r : chain)
      if (r->lengths.count >= 2) return status_invalid_descriptor;
  for (DFTI_DESCRIPTOR* r : chain) {
    r->conjugate_even_storage = static_cast<std::uint32_t>(value);
    if (value == dfti_complex_complex) r->packed_format = dfti_cce_format;
  }
  return status_success;
}

// Stores a 32-bit setting along the chain when `value` is one of `stored`,
// gives 6 when it is one of `unimplemented`, else 3.
int store_setting(DFTI_DESCRIPTOR* record, std::uint32_t DFTI_DESCRIPTOR::*field,
                  std::int64_t value, std::initializer_list<std::int64_t> stored,
                  std::initializer_list<std::int64_t> unimplemented = {}) {
  if (std::find(stored.begin(), stored.end(), value) != stored.end())
    return for_chain(record,
                     [&](DFTI_DESCRIPTOR* r) { r->*field = static_cast<std::uint32_t>(value); });
  if (std::find(unimplemented.begin(), unimplemented.end(), value) != unimplemented.end())
    return status_unimplemented;
  return status_invalid_descriptor;
}

int set_ordering(DFTI_DESCRIPTOR* r, std::int64_t value) {
  if (value == dfti_backward_scrambled && r->domain == dfti_real) return status_unimplemented;
  return store_setting(r, &DFTI_DESCRIPTOR::ordering, value,
                       {dfti_ordered, dfti_backward_scrambled}, {dfti_other_scrambled});
}

int set_packed_format(DFTI_DESCRIPTOR* r, std::int64_t value) {
  const bool rank_one_format =
      value == dfti_ccs_format || value == dfti_pack_format || value == dfti_perm_format;
  if (rank_one_format && r->created_rank > 1) return status_invalid_descriptor;
  return store_setting(r, &DFTI_DESCRIPTOR::packed_format, value,
                       {dfti_ccs_format, dfti_pack_format, dfti_perm_format, dfti_cce_format});
}

int set_user_threads(DFTI_DESCRIPTOR* r, std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return status_invalid_descriptor;
  return for_chain(r,
                   [&](DFTI_DESCRIPTOR* x) { x->user_threads = static_cast<std::uint32_t>(value); });
}

int set_destroy_input(DFTI_DESCRIPTOR* r, std::int64_t value) {
  if (value == dfti_allow) r->options |= option_destroy_input;
  else if (value == dfti_avoid) r->options &= ~static_cast<std::uint32_t>(option_destroy_input);
  else return status_invalid_descriptor;
  return status_success;
}

int set_workspace(DFTI_DESCRIPTOR* r, std::int64_t value) {
  if (value != dfti_allow && value != dfti_avoid) return status_invalid_descriptor;
  r->workspace_use = static_cast<std::uint32_t>(value);
  return status_success;
}

int store_parameter(DFTI_DESCRIPTOR* r, std::int64_t parameter, std::int64_t value) {
  const descriptor_methods& m = *r->methods;
  switch (parameter) {
    case dfti_param_number_of_transforms: return m.set_number_of_transforms(r, value);
    case dfti_param_complex_storage:
      return store_setting(r, &DFTI_DESCRIPTOR::complex_storage, value,
                           {dfti_complex_complex, dfti_real_real},
                           {dfti_complex_real, dfti_real_complex});
    case dfti_param_real_storage:
      return store_setting(r, &DFTI_DESCRIPTOR::real_storage, value, {dfti_real_real},
                           {dfti_real_complex});
    case dfti_param_conjugate_even_storage:
      if (value == dfti_complex_complex || value == dfti_complex_real)
        return set_conjugate_even_storage(r, value);
      return value == dfti_real_complex || value == dfti_real_real ? status_unimplemented
                                                                   : status_invalid_descriptor;
    case dfti_param_placement:
      return store_setting(r, &DFTI_DESCRIPTOR::placement, value,
                           {dfti_inplace, dfti_not_inplace});
    case dfti_param_input_distance: return m.set_input_distance(r, value);
    case dfti_param_output_distance: return m.set_output_distance(r, value);
    case dfti_param_workspace: return set_workspace(r, value);
    case dfti_param_ordering: return set_ordering(r, value);
    case dfti_param_packed_format: return set_packed_format(r, value);
    case dfti_param_number_of_user_threads: return set_user_threads(r, value);
    case dfti_param_thread_limit: return m.set_thread_limit(r, value);
    case dfti_param_destroy_input: return set_destroy_input(r, value);
    case dfti_param_fwd_distance: return m.set_forward_distance(r, value);
    case dfti_param_bwd_distance: return m.set_backward_distance(r, value);
    default: return status_invalid_descriptor;
  }
}

// Stride arrays arrive slowest dimension first; the record keeps the
// offset first and then the fastest dimension.
std::int64_t set_strides(DFTI_DESCRIPTOR* r, int parameter, const std::int64_t* strides) {
  if (strides == nullptr) return status_invalid_descriptor;
  const std::int32_t rank = r->created_rank;
  if (rank < 1 || rank > max_cpu_rank) return status_invalid_descriptor;
  std::int64_t array[max_cpu_rank + 1] = {};
  std::copy(strides, strides + rank + 1, array);
  if (rank >= 2) std::reverse(array + 1, array + rank + 1);
  const descriptor_methods& m = *r->methods;
  switch (parameter) {
    case dfti_param_input_strides: return m.set_input_strides(r, array);
    case dfti_param_output_strides: return m.set_output_strides(r, array);
    case dfti_param_fwd_strides: return m.set_forward_strides(r, array);
    default: return m.set_backward_strides(r, array);
  }
}

bool takes_int(int parameter) {
  switch (parameter) {
    case dfti_param_forward_domain: case dfti_param_precision: case dfti_param_complex_storage:
    case dfti_param_real_storage: case dfti_param_conjugate_even_storage:
    case dfti_param_placement: case dfti_param_workspace: case dfti_param_ordering:
    case dfti_param_transpose: case dfti_param_packed_format: case dfti_param_commit_status:
    case dfti_param_destroy_input:
      return true;
    default: return false;
  }
}

bool takes_int64(int parameter) {
  switch (parameter) {
    case dfti_param_number_of_transforms: case dfti_param_input_distance:
    case dfti_param_output_distance: case dfti_param_number_of_user_threads:
    case dfti_param_thread_limit: case dfti_param_fwd_distance: case dfti_param_bwd_distance:
      return true;
    default: return false;
  }
}

// ---------------------------------------------------------------------------
// Compute.

enum class compute_direction { forward, backward };

void print_line(const DFTI_DESCRIPTOR* r, compute_direction d, const void* input,
                const void* output, double seconds) {
  if (d == compute_direction::forward) {
    if (output == nullptr) print_verbose_cpu_descriptor_forward(r, input, seconds);
    else print_verbose_cpu_descriptor_forward(r, input, output, seconds);
  } else {
    if (output == nullptr) print_verbose_cpu_descriptor_backward(r, input, seconds);
    else print_verbose_cpu_descriptor_backward(r, input, output, seconds);
  }
}

// `output` is null for in-place operations.
std::int64_t compute(DFTI_DESCRIPTOR* r, compute_direction d, void* input, void* output,
                     bool in_place) {
  if (r == nullptr) return status_bad_descriptor;
  const compute_entry entry = d == compute_direction::forward ? r->compute_fwd : r->compute_bwd;
  if (entry == nullptr) return status_invalid_configuration;
  if (input == nullptr || (!in_place && output == nullptr)) return status_invalid_descriptor;
  if (*qez_serv_verbose_mode() == 0)
    return static_cast<std::int64_t>(entry(r, input, output, nullptr, nullptr, nullptr));
  const double t0 = qez_serv_dsecnd();
  const int status = entry(r, input, output, nullptr, nullptr, nullptr);
  const double t1 = qez_serv_dsecnd();
  print_line(r, d, input, output, t1 - t0);
  return static_cast<std::int64_t>(status);
}

}  // namespace

std::int64_t dfti_cpu_create_single_1d(DFTI_DESCRIPTOR** handle, int domain, std::int64_t length) {
  return create_1d(handle, domain, length, qez_dft_dfti_create_sr1d, qez_dft_dfti_create_sc1d);
}
std::int64_t dfti_cpu_create_double_1d(DFTI_DESCRIPTOR** handle, int domain, std::int64_t length) {
  return create_1d(handle, domain, length, qez_dft_dfti_create_dr1d, qez_dft_dfti_create_dc1d);
}
std::int64_t dfti_cpu_create_single_md(DFTI_DESCRIPTOR** handle, int domain, std::int64_t rank,
                                       const std::int64_t* lengths) {
  return create_md(handle, domain, rank, lengths, qez_dft_dfti_create_srmd,
                   qez_dft_dfti_create_scmd);
}
std::int64_t dfti_cpu_create_double_md(DFTI_DESCRIPTOR** handle, int domain, std::int64_t rank,
                                       const std::int64_t* lengths) {
  return create_md(handle, domain, rank, lengths, qez_dft_dfti_create_drmd,
                   qez_dft_dfti_create_dcmd);
}

std::int64_t dfti_cpu_set_value(DFTI_DESCRIPTOR* record, int parameter, ...) {
  if (!is_live_record(record)) return status_bad_descriptor;
  if (parameter < 0 || parameter > dfti_param_last) return status_invalid_descriptor;
  va_list args;
  va_start(args, parameter);
  std::int64_t status = status_invalid_descriptor;
  if (parameter == dfti_param_forward_scale || parameter == dfti_param_backward_scale) {
    const double scale = va_arg(args, double);
    status = record->methods->set_scale(record, scale, parameter);
  } else if (parameter == dfti_param_input_strides || parameter == dfti_param_output_strides ||
             parameter == dfti_param_fwd_strides || parameter == dfti_param_bwd_strides) {
    status = set_strides(record, parameter, va_arg(args, const std::int64_t*));
  } else if (parameter == dfti_param_descriptor_name) {
    const char* name = va_arg(args, const char*);
    status = name == nullptr ? status_invalid_descriptor
                             : record->methods->set_name(
                                   record, name, gpu::safe_strnlen(name, max_name_length), 0);
  } else if (takes_int(parameter) || takes_int64(parameter)) {
    const std::int64_t value = takes_int(parameter) ? static_cast<std::int64_t>(va_arg(args, int))
                                                    : va_arg(args, std::int64_t);
    const std::int64_t p = parameter;
    status = dfti_cpu_set_value_core(&record, &p, &value);
  }
  va_end(args);
  return status;
}

std::int64_t dfti_cpu_set_value_core(DFTI_DESCRIPTOR** handle, const std::int64_t* parameter,
                                     const std::int64_t* value) {
  if (handle == nullptr) return status_invalid_descriptor;
  DFTI_DESCRIPTOR* r = *handle;
  if (!is_live_record(r)) return status_bad_descriptor;
  // Any change through here uncommits, even one that is then refused.
  r->commit_status = dfti_uncommitted;
  r->compute_fwd = nullptr;
  r->compute_bwd = nullptr;
  r->set_flags &= ~static_cast<std::uint32_t>(set_flag_released);
  if (parameter == nullptr || value == nullptr) return status_invalid_descriptor;
  if (*parameter < dfti_param_number_of_transforms || *parameter > dfti_param_bwd_distance)
    return status_invalid_descriptor;
  return store_parameter(r, *parameter, *value);
}

std::int64_t dfti_cpu_commit(DFTI_DESCRIPTOR* r) {
  if (!is_live_record(r)) return status_bad_descriptor;
  if (r->methods == nullptr || r->methods->commit == nullptr) return status_internal_error;
  const bool ce_split = r->conjugate_even_storage == dfti_complex_real;
  if (ce_split && r->packed_format == dfti_cce_format) return status_invalid_descriptor;
  if (r->conjugate_even_storage == dfti_complex_complex && r->packed_format != dfti_cce_format)
    return status_invalid_descriptor;
  return static_cast<std::int64_t>(r->methods->commit(r));
}

std::int64_t dfti_cpu_compute_forward_inplace(DFTI_DESCRIPTOR* r, void* data) {
  return compute(r, compute_direction::forward, data, nullptr, true);
}
std::int64_t dfti_cpu_compute_forward_outofplace(DFTI_DESCRIPTOR* r, void* input, void* output) {
  return compute(r, compute_direction::forward, input, output, false);
}
std::int64_t dfti_cpu_compute_backward_inplace(DFTI_DESCRIPTOR* r, void* data) {
  return compute(r, compute_direction::backward, data, nullptr, true);
}
std::int64_t dfti_cpu_compute_backward_outofplace(DFTI_DESCRIPTOR* r, void* input,
                                                  void* output) {
  return compute(r, compute_direction::backward, input, output, false);
}

std::int64_t dfti_cpu_error_class(std::int64_t status, std::int64_t error_class) {
  return status == error_class ? 1 : 0;
}

}  // namespace ulmara::qez::dft
