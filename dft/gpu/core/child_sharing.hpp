// Sharing of child plans between the two directions of a composite backend:
// a forward and a backward child configured alike are committed once and
// serve both directions.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

// 1 when the two records are configured alike (lists, domain, precision,
// storages, placement, format, scales, thread counts, option bits,
// directions, offload and workspace modes, child marker), else 0. Null
// arguments, or one record twice, give 0. Names and queues do not count.
std::uint8_t compare_descriptors(const DFTI_DESCRIPTOR* first, const DFTI_DESCRIPTOR* second);

// Labels of one pass: the shared one, and the per-direction ones (a plain
// label, or a format with one %s that takes "f" or "b").
struct pass_labels {
  const char* shared;
  const char* forward;
  const char* backward;
};

// Runs the sharing protocol on one pass. `forward` and `backward` are the
// pass's slots (null when that direction is not wanted), fully configured.
// Shared: one commit, the backward slot takes the forward child, the commit
// status is returned. Otherwise each existing child is committed for its own
// direction and 100 is returned when neither commit succeeds. A naming
// failure is returned at once.
int share_or_commit_pass(DFTI_DESCRIPTOR** forward, DFTI_DESCRIPTOR** backward,
                         const pass_labels& labels);

}  // namespace ulmara::qez::dft
