#include "dft/gpu/core/child_sharing.hpp"

#include <cstdio>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend.hpp"

namespace ulmara::qez::dft {

namespace {

constexpr std::size_t name_bytes = 10;
constexpr int name_pad = ' ';

bool same_records(const dim_list& a, const dim_list& b) {
  if (a.count != b.count) return false;
  for (std::int32_t k = 0; k < a.count; ++k) {
    const dim_record& x = a.records[k];
    const dim_record& y = b.records[k];
    if (x.length != y.length || x.input != y.input || x.output != y.output || x.forward != y.forward ||
        x.backward != y.backward)
      return false;
  }
  return true;
}

int name_child(DFTI_DESCRIPTOR* child, const char* label, const char* direction) {
  char name[name_bytes] = {};
  std::snprintf(name, name_bytes, label, direction);
  return child->methods->set_name(child, name, name_bytes, name_pad);
}

void release_child(DFTI_DESCRIPTOR*& child) {
  if (child != nullptr) child->free(child, child);
  child = nullptr;
}

}  // namespace

std::uint8_t compare_descriptors(const DFTI_DESCRIPTOR* a, const DFTI_DESCRIPTOR* b) {
  if (a == nullptr || b == nullptr || a == b) return 0;
  if (!same_records(a->lengths, b->lengths) || !same_records(a->batch, b->batch)) return 0;
  const bool words = a->commit_status == b->commit_status && a->domain == b->domain &&
                     a->precision == b->precision && a->complex_storage == b->complex_storage &&
                     a->real_storage == b->real_storage &&
                     a->conjugate_even_storage == b->conjugate_even_storage &&
                     a->placement == b->placement && a->packed_format == b->packed_format &&
                     a->user_threads == b->user_threads && a->thread_limit == b->thread_limit &&
                     a->options == b->options && a->directions == b->directions &&
                     a->offload_mode == b->offload_mode &&
                     a->workspace_internal == b->workspace_internal && a->is_child == b->is_child;
  // Floating-point equality: a NaN never matches, +0 matches -0.
  const bool scales = a->fwd_scale == b->fwd_scale && a->bwd_scale == b->bwd_scale;
  return words && scales ? 1 : 0;
}

int share_or_commit_pass(DFTI_DESCRIPTOR** forward, DFTI_DESCRIPTOR** backward, const pass_labels& labels) {
  if (compare_descriptors(*forward, *backward) == 1) {
    DFTI_DESCRIPTOR* child = *forward;
    child->directions = directions_both;
    const int named = name_child(child, labels.shared, "");
    if (named != status_success) return named;
    const int status = child->methods->commit(child);
    release_child(*backward);
    *backward = child;
    return status;
  }
  bool usable = false;
  struct one {
    DFTI_DESCRIPTOR* child;
    std::uint32_t directions;
    const char* label;
    const char* letter;
  };
  const one both[2] = {{*forward, directions_forward, labels.forward, "f"},
                       {*backward, directions_backward, labels.backward, "b"}};
  for (const one& o : both) {
    if (o.child == nullptr) continue;
    o.child->directions = o.directions;
    const int named = name_child(o.child, o.label, o.letter);
    if (named != status_success) return named;
    if (o.child->methods->commit(o.child) == status_success) usable = true;
  }
  return usable ? status_success : status_not_handled;
}

}  // namespace ulmara::qez::dft
