#include "tests/backends/support/distanced_case.hpp"

#include "tests/backends/support/record_owner.hpp"

namespace backend_test {

namespace {

std::int64_t in_distance_of(const distanced_config& c) { return c.in_distance != 0 ? c.in_distance : c.length; }
std::int64_t out_distance_of(const distanced_config& c) { return c.out_distance != 0 ? c.out_distance : c.length; }

}  // namespace

void configure_distanced(DFTI_DESCRIPTOR* r, const distanced_config& c) {
  set_count_and_distances(r, c.count,
                          c.io_distances ? distance_convention::input_output : distance_convention::forward_backward,
                          in_distance_of(c), out_distance_of(c));
  r->fwd_scale = c.fwd_scale;
  r->bwd_scale = c.bwd_scale;
  set_placement(r, c.in_place, c.directions, c.internal_workspace);
}

run_result run_distanced(DFTI_DESCRIPTOR* record, const distanced_config& c, direction dir, container k,
                         const std::vector<std::int64_t>& sample) {
  // The input side reads with the forward-domain (or input) distance going
  // forward.
  const bool reads_first = c.io_distances || is_forward(dir);
  distanced_data d;
  d.length = c.length;
  d.count = c.count;
  d.read_distance = reads_first ? in_distance_of(c) : out_distance_of(c);
  d.write_distance = reads_first ? out_distance_of(c) : in_distance_of(c);
  d.in_place = c.in_place;
  d.seed = static_cast<std::uint64_t>(c.length * 7919 + c.count);
  return run_distanced(record, precision_from(c.double_precision), d, dir, k,
                       is_forward(dir) ? c.fwd_scale : c.bwd_scale, sample);
}

ulmara::qez::dft::dft_estimate_config estimate_config_of(const distanced_config& c) {
  return estimate_config_c2c_1d(c.length, c.count, in_distance_of(c), out_distance_of(c), c.directions,
                                c.in_place);
}

}  // namespace backend_test
