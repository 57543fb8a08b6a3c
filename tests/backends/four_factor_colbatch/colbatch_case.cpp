#include "tests/backends/four_factor_colbatch/colbatch_case.hpp"

#include <complex>
#include <memory>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/guard_zones.hpp"
#include "tests/support/reference_dft.hpp"

namespace colbatch_test {

namespace {

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const side_layout a = resolved(c, c.first_side);
  const side_layout b = resolved(c, c.second_side);
  const std::int64_t first_strides[2] = {0, a.stride};
  const std::int64_t second_strides[2] = {0, b.stride};
  const backend_test::distance_convention convention =
      c.io_layout ? backend_test::distance_convention::input_output : backend_test::distance_convention::forward_backward;
  ASSERT_NO_FATAL_FAILURE(backend_test::set_strided_batch(r, c.count, convention, first_strides, second_strides, 1, 1));
  if (c.outer_count > 0) {
    ASSERT_NO_FATAL_FAILURE(
        backend_test::set_outer_batch(r, convention, c.outer_count, a.outer_distance, b.outer_distance));
  }
  r->fwd_scale = c.fwd_scale;
  r->bwd_scale = c.bwd_scale;
  backend_test::set_placement(r, c.in_place, c.directions, c.internal_workspace);
}

// Complex offset of element n of transform t of outer index o.
std::int64_t position(const side_layout& s, std::int64_t o, std::int64_t t, std::int64_t n) {
  return o * s.outer_distance + t + n * s.stride;
}

std::int64_t span(const record_config& c, const side_layout& s) {
  const std::int64_t outer = c.outer_count > 0 ? c.outer_count : 1;
  return position(s, outer - 1, c.count - 1, c.length - 1) + 1;
}

template <class T>
run_result run_typed(const committed_record& rec, backend_test::direction d, backend_test::container kind) {
  const bool forward = backend_test::is_forward(d);
  const record_config& c = rec.config();
  const std::int64_t n = c.length;
  const std::int64_t outer = c.outer_count > 0 ? c.outer_count : 1;
  const bool reads_first = c.io_layout || forward;
  const side_layout read = resolved(c, reads_first ? c.first_side : c.second_side);
  const side_layout write = resolved(c, reads_first ? c.second_side : c.first_side);
  const std::int64_t read_span = span(c, read);
  const std::int64_t write_span = span(c, write);

  const std::vector<qez_test::cld> random = qez_test::random_complex(read_span, static_cast<std::uint64_t>(n * 31 + c.count));
  std::vector<std::complex<T>> host(static_cast<size_t>(std::max(read_span, c.in_place ? write_span : 0)));
  for (std::int64_t k = 0; k < read_span; ++k)
    host[static_cast<size_t>(k)] = std::complex<T>(static_cast<T>(random[k].real()), static_cast<T>(random[k].imag()));

  // Output positions start as the guard pattern and sit inside guard zones,
  // so that writes outside the transforms show.
  const backend_test::guarded_run_arrays<T> arrays(host, backend_test::placement_from(c.in_place), kind, write_span);
  run_result out;
  out.status = arrays.call(rec.record(), d);
  if (out.status != 0) return out;
  const std::vector<std::complex<T>> got_all = arrays.result().read();

  std::vector<qez_test::cld> input, got;
  std::vector<bool> owned(static_cast<size_t>(arrays.result().size()), false);
  for (std::int64_t o = 0; o < outer; ++o)
    for (std::int64_t t = 0; t < c.count; ++t)
      for (std::int64_t k = 0; k < n; ++k) {
        const std::complex<T> v = host[static_cast<size_t>(position(read, o, t, k))];
        input.emplace_back(v.real(), v.imag());
        const std::int64_t w = position(write, o, t, k);
        owned[static_cast<size_t>(w)] = true;
        got.emplace_back(got_all[static_cast<size_t>(w)].real(), got_all[static_cast<size_t>(w)].imag());
      }
  out.stray_writes = arrays.result().changed_outside(owned);
  const long double scale = forward ? c.fwd_scale : c.bwd_scale;
  out.error = qez_test::measure(got, backend_test::scaled_reference_c2c(input, {n}, outer * c.count, forward, scale));
  return out;
}

}  // namespace

side_layout resolved(const record_config& c, const side_layout& s) {
  side_layout r = s;
  if (r.stride == 0) r.stride = c.count;
  if (r.outer_distance == 0 && c.outer_count > 0) r.outer_distance = r.stride * c.length;
  return r;
}

committed_record::committed_record(const record_config& c) : backend_case(c, backend_test::gpu_test_queue()) {
  make_and_commit(backend_test::road::solo_list, c.length, [&c](DFTI_DESCRIPTOR* r) { configure(r, c); });
}

int committed_record::recommit_with_scales(double fwd_scale, double bwd_scale) {
  config_.fwd_scale = record()->fwd_scale = fwd_scale;
  config_.bwd_scale = record()->bwd_scale = bwd_scale;
  return commit(false);
}

run_result run_and_measure(const committed_record& r, backend_test::direction d, backend_test::container kind) {
  return r.config().double_precision ? run_typed<double>(r, d, kind) : run_typed<float>(r, d, kind);
}

}  // namespace colbatch_test
