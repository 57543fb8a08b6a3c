#include "dft/gpu/core/dim_list.hpp"

#include <utility>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "gpu/service/safe_routines.hpp"

namespace ulmara::qez::dft {
namespace {

constexpr dim_field stride_fields[] = {dim_input, dim_output, dim_forward, dim_backward};

dim_record* allocate_records(std::int32_t count) {
  const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(dim_record);
  return static_cast<dim_record*>(hooks().alloc(bytes, record_alignment, nullptr));
}

// Removes record `index`; later records move down one place.
void remove_record(dim_list* list, std::int32_t index) {
  const std::size_t tail = static_cast<std::size_t>(list->count - index - 1) * sizeof(dim_record);
  if (tail > 0)
    gpu::safe_memmove(&list->records[index], tail + sizeof(dim_record), &list->records[index + 1],
                      tail);
  --list->count;
}

std::int64_t wrapping_product(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}

// Record `inner` followed by `outer` forms one contiguous dimension in every
// convention.
bool continues(const dim_record& inner, const dim_record& outer) {
  for (dim_field f : stride_fields)
    if (wrapping_product(inner.length, dim_value(inner, f)) != dim_value(outer, f)) return false;
  return true;
}

}  // namespace

int dim_list_init(dim_list* list, std::int32_t count, void* /*arena*/) {
  list->count = count;
  list->records = count > 0 ? allocate_records(count) : nullptr;
  return list->records == nullptr ? status_allocation_failed : 0;
}

void dim_list_free(dim_list* list) {
  if (list == nullptr || list->records == nullptr) return;
  hooks().free(list->records);
  list->records = nullptr;
}

int dim_list_copy(dim_list* target, const dim_list* source, int mode, void* /*arena*/) {
  if (target->count < source->count || target->records == nullptr) {
    dim_record* fresh = source->count > 0 ? allocate_records(source->count) : nullptr;
    if (source->count > 0 && fresh == nullptr) return status_allocation_failed;
    dim_list_free(target);
    target->records = fresh;
  }
  target->count = source->count;
  for (std::int32_t k = 0; k < source->count; ++k) {
    const dim_record& from = source->records[k];
    dim_record& to = target->records[k];
    if (mode & dim_copy_inplace)
      to = dim_record{from.length, from.input, from.input, from.forward, from.forward};
    else
      to = from;
  }
  return 0;
}

void dim_list_sort(dim_list* list) {
  for (std::int32_t i = 0; i + 1 < list->count; ++i)
    for (std::int32_t j = i + 1; j < list->count; ++j) {
      dim_record& a = list->records[i];
      dim_record& b = list->records[j];
      if (a.input > b.input || a.forward > b.forward) std::swap(a, b);
    }
}

void dim_list_drop_unit(dim_list* list) {
  for (std::int32_t k = list->count - 1; k >= 0 && list->count > 1; --k)
    if (list->records[k].length == 1) remove_record(list, k);
}

void dim_list_merge(dim_list* list) {
  bool merged = true;
  while (merged && list->count > 1) {
    merged = false;
    for (std::int32_t k = list->count - 2; k >= 0; --k) {
      dim_record& inner = list->records[k];
      const dim_record& outer = list->records[k + 1];
      if (continues(inner, outer)) {
        inner.length = wrapping_product(inner.length, outer.length);
        remove_record(list, k + 1);
        merged = true;
        break;  // restart from the new last pair
      }
    }
  }
}

}  // namespace ulmara::qez::dft
