// The backend that ends every list. It accepts nothing: it tells apart what
// the system cannot do at all (6) from a supported layout that no backend
// took (100, which the list walk turns into 3).
#include <array>

#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/dim_list.hpp"

namespace ulmara::qez::dft {
namespace {

constexpr std::int32_t scratch_records = 7;
constexpr std::int32_t max_remaining_dimensions = 3;

// A scratch dim_list that frees its array.
struct scratch_list {
  dim_list list{};
  ~scratch_list() { dim_list_free(&list); }
};

std::int64_t either(std::int64_t preferred, std::int64_t fallback) {
  return preferred != 0 ? preferred : fallback;
}

// The layout left when dimension `skip` is taken out, seen from the forward
// (or, with `backward`, the backward) side.
void fill_layout(const DFTI_DESCRIPTOR* r, std::int32_t skip, bool backward, dim_list* out) {
  std::int32_t n = 0;
  for (std::int32_t k = 0; k < r->work_lengths.count; ++k) {
    if (k == skip) continue;
    const dim_record& w = r->work_lengths.records[k];
    const std::int64_t in_side = backward ? w.backward : w.forward;
    const std::int64_t out_side = backward ? w.forward : w.backward;
    out->records[n++] = dim_record{w.length, either(w.input, in_side), either(w.output, out_side), 0, 0};
  }
  const dim_record& b = r->work_batch.records[0];
  const std::int64_t in_distance = backward ? b.backward : b.forward;
  const std::int64_t out_distance = backward ? b.forward : b.backward;
  if (in_distance != 0 || out_distance != 0)
    out->records[n++] = dim_record{b.length, in_distance, out_distance, 0, 0};
  else if (b.input != 0 && b.output != 0)
    out->records[n++] = dim_record{b.length, b.input, b.output, 0, 0};
  else
    out->records[n++] = dim_record{b.length, 0, 0, 0, 0};
  while (n < scratch_records) out->records[n++] = dim_record{1, 0, 0, 0, 0};
}

void canonicalise(dim_list* list) {
  dim_list_sort(list);
  dim_list_drop_unit(list);
  dim_list_merge(list);
}

bool layout_is_good(const DFTI_DESCRIPTOR* r, std::int32_t skip, const dim_list& list) {
  if (skip == 0 && r->domain == dfti_real) return list.count == 1;
  return list.count < max_remaining_dimensions + 1;
}

// Whether, for every dimension, the remaining layout of one side can be
// walked by the backends (forward side for all, or backward side for all).
enum class layout_verdict { supported, unsupported, out_of_memory };

layout_verdict judge_layouts(const DFTI_DESCRIPTOR* r) {
  bool forward_good = true, backward_good = true;
  for (std::int32_t i = 0; i < r->work_lengths.count; ++i) {
    scratch_list a, b;
    if (dim_list_init(&a.list, scratch_records, nullptr) != 0 ||
        dim_list_init(&b.list, scratch_records, nullptr) != 0)
      return layout_verdict::out_of_memory;
    fill_layout(r, i, false, &a.list);
    fill_layout(r, i, true, &b.list);
    canonicalise(&a.list);
    canonicalise(&b.list);
    forward_good = forward_good && layout_is_good(r, i, a.list);
    backward_good = backward_good && layout_is_good(r, i, b.list);
  }
  return forward_good || backward_good ? layout_verdict::supported : layout_verdict::unsupported;
}

bool storage_supported(const DFTI_DESCRIPTOR* r) {
  if (r->domain == dfti_complex) return r->complex_storage == dfti_complex_complex;
  return r->real_storage == dfti_real_real && r->conjugate_even_storage == dfti_complex_complex &&
         r->packed_format == dfti_cce_format;
}

bool offsets_zero(const DFTI_DESCRIPTOR* r) {
  return r->in_offset == 0 && r->out_offset == 0 && r->fwd_offset == 0 && r->bwd_offset == 0;
}

int terminator_commit(const backend_table*, DFTI_DESCRIPTOR* r) {
  if (working_rank(r) > max_remaining_dimensions) return status_unimplemented;
  switch (judge_layouts(r)) {
    case layout_verdict::out_of_memory: return status_allocation_failed;
    case layout_verdict::unsupported: return status_unimplemented;
    case layout_verdict::supported: break;
  }
  if (!storage_supported(r)) return status_unimplemented;
  if (!offsets_zero(r)) return status_unimplemented;
  return status_not_handled;
}

template <const backend_table* self>
int terminator_free(const backend_table*, DFTI_DESCRIPTOR* r) {
  return release_if_owner(self, r);
}

}  // namespace

int shared_no_op_add_workspace(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*) {
  return status_success;
}

const backend_table terminator_backend_float = {terminator_commit,
                                                terminator_free<&terminator_backend_float>,
                                                shared_no_op_add_workspace};
const backend_table terminator_backend_double = {terminator_commit,
                                                 terminator_free<&terminator_backend_double>,
                                                 shared_no_op_add_workspace};

}  // namespace ulmara::qez::dft
