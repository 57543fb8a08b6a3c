#include "tests/backends/n_facts_slm_pre_twiddle/pretw_case.hpp"

#include <cmath>
#include <vector>

namespace pretw_test {

namespace {

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const std::int64_t distance = c.distance != 0 ? c.distance : c.length;
  r->backend_list =
      backend_test::is_double(c.p) ? pt::pre_twiddle_backend_list<double>() : pt::pre_twiddle_backend_list<float>();
  backend_test::set_count_and_distances(r, c.howmany, backend_test::distance_convention::input_output, distance,
                                        distance);
  backend_test::set_scales(r, c.fwd_scale, c.bwd_scale);
  backend_test::set_placement(r, c.in_place, c.directions, c.internal_workspace);
  r->is_child = 1;
}

// Transform b's reference: its N-point DFT, scaled, element k times the
// inter-step twiddle of howmany x N points.
std::vector<qez_test::cld> pre_twiddled_reference(const std::vector<qez_test::cld>& input, const record_config& c,
                                                  bool forward) {
  const std::int64_t n = c.length;
  const long double scale = forward ? c.fwd_scale : c.bwd_scale;
  std::vector<qez_test::cld> out =
      backend_test::scaled_reference_c2c(input, {n}, c.howmany, forward, scale);
  const long double two_pi = 6.283185307179586476925286766559005768L;
  const long double points = static_cast<long double>(n * c.howmany);
  const long double sign = forward ? -1.0L : 1.0L;
  for (std::int64_t b = 0; b < c.howmany; ++b)
    for (std::int64_t k = 0; k < n; ++k) {
      const long double theta = sign * two_pi * static_cast<long double>((b * k) % (n * c.howmany)) / points;
      out[b * n + k] *= qez_test::cld(std::cos(theta), std::sin(theta));
    }
  return out;
}

}  // namespace

committed_record::committed_record(const record_config& c) : backend_case(c, backend_test::gpu_test_queue()) {
  make_and_commit(backend_test::road::front_end, c.length, [&c](DFTI_DESCRIPTOR* r) { configure(r, c); });
}

std::string committed_record::options(pt::direction d) const {
  if (!committed_here()) return "";
  return double_precision() ? pt::pretw_build_options(plan<double>(), d) : pt::pretw_build_options(plan<float>(), d);
}

run_result run_and_measure(const committed_record& r, direction d, container k) {
  const record_config& c = r.config();
  const backend_test::packed_data data{c.length, c.howmany, c.in_place,
                                       static_cast<std::uint64_t>(c.length + 7 * c.howmany)};
  const backend_test::packed_outcome o = backend_test::run_packed(r.record(), c.p, data, d, k);
  run_result out;
  out.status = o.status;
  out.stray_writes = o.stray_writes;
  if (o.status == 0)
    out.error = qez_test::measure(o.output, pre_twiddled_reference(o.input, c, backend_test::is_forward(d)));
  return out;
}

}  // namespace pretw_test
