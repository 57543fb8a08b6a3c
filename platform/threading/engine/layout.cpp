// Resolution of a record's configured layout into the per-direction layouts
// the engine plans with.
//
// Two conventions describe strides and distances: input/output (the same
// input layout for both directions) and forward/backward (per domain, so the
// input of a backward transform is the backward-domain layout). Which one is
// in force follows the set-flags: any input/output bit selects input/output,
// otherwise forward/backward; a record with bits of both is inconsistent.
// A zero stride is "not given" and takes the packed default of its side.
#include "platform/threading/engine/layout.hpp"

#include "dft/api/status_codes.hpp"

namespace ulmara {
namespace qez {
namespace cpu_engine {

using namespace ::ulmara::qez::dft;

std::int64_t direction_layout::input_extent(int k) const {
  if (k == 0 && kind == transform_kind::c2r) return lengths[0] / 2 + 1;
  return lengths[k];
}

std::int64_t direction_layout::output_extent(int k) const {
  if (k == 0 && kind == transform_kind::r2c) return lengths[0] / 2 + 1;
  return lengths[k];
}

namespace {

// Settings the engine computes; anything else is unimplemented (status 6).
bool storage_supported(const DFTI_DESCRIPTOR& r) {
  if (r.ordering != dfti_ordered) return false;
  if (r.domain == dfti_complex) return r.complex_storage == dfti_complex_complex;
  return r.real_storage == dfti_real_real && r.conjugate_even_storage == dfti_complex_complex &&
         r.packed_format == dfti_cce_format;
}

// Packed extents of the forward (real or complex) and backward domains;
// an in-place real transform pads its real rows to 2*(L0/2+1).
struct domain_extents {
  std::int64_t forward[max_rank];
  std::int64_t backward[max_rank];
};

domain_extents extents_of(const DFTI_DESCRIPTOR& r, bool in_place) {
  domain_extents e{};
  for (int k = 0; k < r.lengths.count; ++k) {
    e.forward[k] = e.backward[k] = r.lengths.records[k].length;
  }
  if (r.domain == dfti_real) {
    const std::int64_t l0 = r.lengths.records[0].length;
    e.backward[0] = l0 / 2 + 1;
    if (in_place) e.forward[0] = 2 * (l0 / 2 + 1);
  }
  return e;
}

// Per-dimension strides of one field, zeros replaced by packed defaults.
void strides_with_defaults(const DFTI_DESCRIPTOR& r, dim_field field, const std::int64_t* extents,
                           std::int64_t* strides) {
  std::int64_t product = 1;
  for (int k = 0; k < r.lengths.count; ++k) {
    const std::int64_t given = dim_value(r.lengths.records[k], field);
    strides[k] = given != 0 ? given : product;
    product *= extents[k];
  }
}

struct side_pair {
  side_layout first;   // input (io) or forward domain (fb)
  side_layout second;  // output (io) or backward domain (fb)
};

bool same_strides(const std::int64_t* a, const std::int64_t* b, int n) {
  for (int k = 0; k < n; ++k)
    if (a[k] != b[k]) return false;
  return true;
}

// An in-place complex transform reads and writes one layout. In the
// input/output convention the output takes the input's layout; in the
// forward/backward convention a side given alone is copied to the other, and
// two given sides must agree.
int unify_in_place_complex(bool fb_convention, bool has_first, bool has_second,
                           std::int64_t* first, std::int64_t* second, int n) {
  if (fb_convention && has_first && has_second)
    return same_strides(first, second, n) ? status_success : status_invalid_descriptor;
  if (fb_convention && has_second)
    for (int k = 0; k < n; ++k) first[k] = second[k];
  else
    for (int k = 0; k < n; ++k) second[k] = first[k];
  return status_success;
}

int resolve_sides(const DFTI_DESCRIPTOR& r, bool io, bool in_place, side_pair* sides) {
  const domain_extents e = extents_of(r, in_place);
  const dim_field first_field = io ? dim_input : dim_forward;
  const dim_field second_field = io ? dim_output : dim_backward;
  // Input/output defaults follow the forward domain for the input and the
  // backward domain for the output.
  strides_with_defaults(r, first_field, e.forward, sides->first.strides);
  strides_with_defaults(r, second_field, e.backward, sides->second.strides);
  sides->first.offset = io ? r.in_offset : r.fwd_offset;
  sides->second.offset = io ? r.out_offset : r.bwd_offset;

  int batch_rank = 0;
  for (int j = 0; j < r.batch.count; ++j) {
    const dim_record& b = r.batch.records[j];
    if (b.length < 1) return status_invalid_descriptor;
    if (b.length == 1) continue;
    if (batch_rank == max_batch_rank) return status_unimplemented;
    sides->first.distances[batch_rank] = dim_value(b, first_field);
    sides->second.distances[batch_rank] = dim_value(b, second_field);
    ++batch_rank;
  }

  if (in_place && r.domain == dfti_complex) {
    const std::uint32_t f = r.set_flags;
    const bool fb = !io;
    const bool fwd_strides = (f & set_flag_forward_strides) != 0;
    const bool bwd_strides = (f & set_flag_backward_strides) != 0;
    int status = unify_in_place_complex(fb, fwd_strides, bwd_strides, sides->first.strides,
                                        sides->second.strides, r.lengths.count);
    if (status != status_success) return status;
    status = unify_in_place_complex(fb, (f & set_flag_forward_distance) != 0,
                                    (f & set_flag_backward_distance) != 0,
                                    sides->first.distances, sides->second.distances, batch_rank);
    if (status != status_success) return status;
    if (fb && bwd_strides && !fwd_strides) sides->first.offset = sides->second.offset;
    else if (!(fb && fwd_strides && bwd_strides)) sides->second.offset = sides->first.offset;
  }

  // Several transforms need distances on both sides.
  for (int j = 0; j < batch_rank; ++j)
    if (sides->first.distances[j] == 0 || sides->second.distances[j] == 0)
      return status_invalid_descriptor;
  return status_success;
}

void fill_direction(const DFTI_DESCRIPTOR& r, direction dir, bool io, const side_pair& sides,
                    direction_layout* d) {
  const bool real = r.domain == dfti_real;
  const bool forward = dir == direction::forward;
  d->kind = !real ? transform_kind::c2c : (forward ? transform_kind::r2c : transform_kind::c2r);
  d->sign = forward ? -1 : +1;
  d->rank = r.lengths.count;
  for (int k = 0; k < d->rank; ++k) d->lengths[k] = r.lengths.records[k].length;
  d->batch_rank = 0;
  for (int j = 0; j < r.batch.count; ++j)
    if (r.batch.records[j].length > 1) d->counts[d->batch_rank++] = r.batch.records[j].length;
  // Input/output: the same sides for both directions. Forward/backward: the
  // backward transform reads the backward domain.
  const bool swap = !io && !forward;
  d->input = swap ? sides.second : sides.first;
  d->output = swap ? sides.first : sides.second;
  d->scale = forward ? r.fwd_scale : r.bwd_scale;
  d->in_place = r.placement == dfti_inplace;
}

}  // namespace

int resolve_layout(const DFTI_DESCRIPTOR* record, transform_layout* layout) {
  if (!is_live_record(record)) return status_bad_descriptor;
  const DFTI_DESCRIPTOR& r = *record;
  if (r.domain != dfti_complex && r.domain != dfti_real) return status_invalid_configuration;
  if (r.precision != dfti_single && r.precision != dfti_double)
    return status_invalid_configuration;
  if (r.lengths.count < 1 || r.lengths.count > max_rank || r.lengths.records == nullptr)
    return status_invalid_configuration;
  for (int k = 0; k < r.lengths.count; ++k)
    if (r.lengths.records[k].length < 1) return status_invalid_configuration;
  if (r.batch.count > 0 && r.batch.records == nullptr) return status_invalid_descriptor;
  if (!storage_supported(r)) return status_unimplemented;
  if (r.placement != dfti_inplace && r.placement != dfti_not_inplace)
    return status_invalid_descriptor;

  const bool io = (r.set_flags & io_set_flags) != 0;
  if (io && (r.set_flags & fb_set_flags) != 0) return status_invalid_descriptor;

  side_pair sides;
  const int status = resolve_sides(r, io, r.placement == dfti_inplace, &sides);
  if (status != status_success) return status;

  layout->double_precision = r.precision == dfti_double;
  layout->destroy_input_allowed = (r.options & option_destroy_input) != 0;
  fill_direction(r, direction::forward, io, sides, &layout->forward);
  fill_direction(r, direction::backward, io, sides, &layout->backward);
  return status_success;
}

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
