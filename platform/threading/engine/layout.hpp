// Data layout of a committed CPU transform: for each direction, where the
// input and the output elements lie, resolved from a record's lengths, batch
// list, strides, distances, offsets and set-flags.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

namespace ulmara {
namespace qez {
namespace cpu_engine {

constexpr int max_rank = 7;
constexpr int max_batch_rank = 7;

enum class transform_kind { c2c, r2c, c2r };
enum class direction { forward, backward };

// Where the elements of one side of a transform lie, in elements of that
// side's type (real or complex): first-element offset, one stride per
// transform dimension (innermost first), one distance per batch dimension.
struct side_layout {
  std::int64_t offset = 0;
  std::int64_t strides[max_rank] = {};
  std::int64_t distances[max_batch_rank] = {};
};

// One direction of a transform.
struct direction_layout {
  transform_kind kind = transform_kind::c2c;
  int sign = -1;  // exponent sign: -1 forward, +1 backward
  int rank = 0;
  std::int64_t lengths[max_rank] = {};         // logical lengths, innermost first
  int batch_rank = 0;                          // batch dimensions with a count above 1
  std::int64_t counts[max_batch_rank] = {};
  side_layout input;
  side_layout output;
  double scale = 1.0;
  bool in_place = false;

  // Number of elements along dimension k on the input or the output side
  // (the conjugate-even side of a real transform keeps L0/2+1 in dimension 0).
  std::int64_t input_extent(int k) const;
  std::int64_t output_extent(int k) const;
  bool input_is_complex() const { return kind != transform_kind::r2c; }
  bool output_is_complex() const { return kind != transform_kind::c2r; }
};

struct transform_layout {
  bool double_precision = false;
  bool destroy_input_allowed = false;
  direction_layout forward;
  direction_layout backward;
};

// Resolves the layout a record describes. Returns a status of
// dft/api/status_codes.hpp: 0, 2 (rank, length, domain or precision out of
// range), 3 (inconsistent layout: both stride conventions, a missing
// distance for several transforms, a count below 1, unequal strides of an
// in-place complex transform), 6 (a storage, packed format or ordering the
// engine does not compute).
int resolve_layout(const DFTI_DESCRIPTOR* record, transform_layout* layout);

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
