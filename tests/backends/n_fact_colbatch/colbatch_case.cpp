#include "tests/backends/n_fact_colbatch/colbatch_case.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <set>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"
#include "tests/support/reference_dft.hpp"

namespace colbatch_test {

namespace {

std::int64_t in_stride_of(const record_config& c) { return c.stride != 0 ? c.stride : c.columns; }
std::int64_t out_stride_of(const record_config& c) {
  if (c.transposed) return 1;
  return c.out_stride != 0 ? c.out_stride : in_stride_of(c);
}
std::int64_t out_inner_of(const record_config& c) { return c.transposed ? c.length : 1; }
std::int64_t outer_in_of(const record_config& c) {
  return c.outer_in != 0 ? c.outer_in : c.length * in_stride_of(c);
}
std::int64_t outer_out_of(const record_config& c) {
  if (c.outer_out != 0) return c.outer_out;
  return c.transposed ? c.length * c.columns : c.length * out_stride_of(c);
}

side_layout first_side(const record_config& c) { return {c.in_offset, in_stride_of(c), 1, outer_in_of(c)}; }
side_layout second_side(const record_config& c) {
  return {c.out_offset, out_stride_of(c), out_inner_of(c), outer_out_of(c)};
}

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const std::int64_t first[2] = {c.in_offset, in_stride_of(c)};
  const std::int64_t second[2] = {c.out_offset, out_stride_of(c)};
  const backend_test::distance_convention convention =
      c.io_form ? backend_test::distance_convention::input_output : backend_test::distance_convention::forward_backward;
  // Input/output distances give the output's inner distance; forward/backward
  // ones stay 1 on both sides.
  ASSERT_NO_FATAL_FAILURE(
      backend_test::set_strided_batch(r, c.columns, convention, first, second, 1, c.io_form ? out_inner_of(c) : 1));
  if (c.blocks > 1) {
    ASSERT_NO_FATAL_FAILURE(backend_test::set_outer_batch(r, convention, c.blocks, outer_in_of(c), outer_out_of(c)));
  }
  r->fwd_scale = c.fwd_scale;
  r->bwd_scale = c.bwd_scale;
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = c.directions;
  r->workspace_internal = c.internal_workspace ? 1 : 0;
  r->fused_twiddle_length = c.post_twiddle;
  if (c.without_queue) r->queue = nullptr;
}

std::int64_t extent(const record_config& c, const side_layout& s) {
  return s.at(c.blocks - 1, c.columns - 1, c.length - 1) + 1;
}

template <class T>
std::vector<std::complex<T>> random_values(std::int64_t count, std::uint64_t seed) {
  std::vector<std::complex<T>> v(static_cast<size_t>(count));
  std::uint64_t state = seed * 2862933555777941757ULL + 3037000493ULL;
  const auto next = [&state]() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<T>(static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0);
  };
  for (std::complex<T>& x : v) x = std::complex<T>(next(), next());
  return v;
}

// The post-twiddle exp(-+2 pi i r b / (N P)) of output r of transform t.
qez_test::cld post_twiddle(const record_config& c, std::int64_t t, std::int64_t r, bool forward) {
  const std::int64_t b = t / (c.blocks * c.columns / c.post_twiddle);
  const long double angle = -2.0L * 3.141592653589793238462643383279502884L *
                            static_cast<long double>((r * b) % (c.length * c.post_twiddle)) /
                            static_cast<long double>(c.length * c.post_twiddle);
  return {std::cos(angle), forward ? std::sin(angle) : -std::sin(angle)};
}

template <class T>
run_result run_typed(const committed_record& rec, backend_test::direction d, backend_test::container kind) {
  const bool forward = backend_test::is_forward(d);
  const record_config& c = rec.config();
  const side_layout in_side = input_side(c, forward);
  const side_layout out_side = output_side(c, forward);
  const std::int64_t in_extent = extent(c, in_side);
  const std::int64_t out_extent = c.in_place ? in_extent : extent(c, out_side);
  const std::vector<std::complex<T>> host = random_values<T>(in_extent, static_cast<std::uint64_t>(c.length * 31 + c.columns));
  const std::vector<std::complex<T>> before = random_values<T>(out_extent, 7);

  const backend_test::run_arrays<std::complex<T>> arrays(host, backend_test::placement_from(c.in_place), kind, before);
  run_result out;
  out.status = arrays.call(rec.record(), d);
  if (out.status != 0) return out;
  const std::vector<std::complex<T>> got_all = arrays.result().read();

  const long double scale = forward ? c.fwd_scale : c.bwd_scale;
  std::vector<qez_test::cld> got, reference;
  std::set<std::int64_t> written;
  for (std::int64_t o = 0; o < c.blocks; ++o)
    for (std::int64_t col = 0; col < c.columns; ++col) {
      std::vector<qez_test::cld> one;
      for (std::int64_t r = 0; r < c.length; ++r) {
        const std::complex<T> v = host[static_cast<size_t>(in_side.at(o, col, r))];
        one.emplace_back(v.real(), v.imag());
        const std::int64_t at = out_side.at(o, col, r);
        written.insert(at);
        const std::complex<T> g = got_all[static_cast<size_t>(at)];
        got.emplace_back(g.real(), g.imag());
      }
      std::vector<qez_test::cld> ref = backend_test::scaled_reference_c2c(one, {c.length}, 1, forward, scale);
      if (c.post_twiddle > 0)
        for (std::int64_t r = 0; r < c.length; ++r)
          ref[static_cast<size_t>(r)] *= post_twiddle(c, o * c.columns + col, r, forward);
      reference.insert(reference.end(), ref.begin(), ref.end());
    }
  out.error = qez_test::measure(got, reference);
  if (!c.in_place)
    for (std::int64_t i = 0; i < out_extent; ++i)
      if (written.count(i) == 0 && got_all[static_cast<size_t>(i)] != before[static_cast<size_t>(i)])
        ++out.stray_writes;
  return out;
}

}  // namespace

side_layout input_side(const record_config& c, bool forward) {
  if (c.io_form || forward) return first_side(c);
  return second_side(c);
}

side_layout output_side(const record_config& c, bool forward) {
  if (c.io_form || forward) return second_side(c);
  return first_side(c);
}

committed_record::committed_record(const record_config& c) : backend_case(c, backend_test::gpu_test_queue()) {
  make_and_commit(backend_test::road::solo_list, c.length, [&c](DFTI_DESCRIPTOR* r) { configure(r, c); });
}

run_result run_and_measure(const committed_record& r, backend_test::direction d, backend_test::container kind) {
  return r.config().double_precision ? run_typed<double>(r, d, kind) : run_typed<float>(r, d, kind);
}

}  // namespace colbatch_test
