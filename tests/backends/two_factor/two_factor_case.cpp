#include "tests/backends/two_factor/two_factor_case.hpp"

#include <complex>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/support/reference_dft.hpp"
#include "tests/support/strided_layout.hpp"

namespace two_factor_test {

namespace dft = ulmara::qez::dft;

namespace {

bool is_double(const record_config& c) { return backend_test::is_double(c.p); }

std::int64_t packed_or(std::int64_t distance, const record_config& c) {
  return distance != 0 ? distance : (c.howmany > 1 ? c.n : 0);
}

// Distances of the data of one direction: {input, output}.
struct distances {
  std::int64_t in, out;
};
distances distances_of(const record_config& c, direction d) {
  const std::int64_t fwd_in = packed_or(c.in_distance, c), fwd_out = packed_or(c.out_distance, c);
  if (c.convention == distance_convention::input_output || d == direction::forward) return {fwd_in, fwd_out};
  return {fwd_out, fwd_in};
}

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  const std::int64_t in = packed_or(c.in_distance, c), out = packed_or(c.out_distance, c);
  if (in != 0 || out != 0) {
    backend_test::set_count_and_distances(r, c.howmany,
                                          c.convention == distance_convention::forward_backward
                                              ? backend_test::distance_convention::forward_backward
                                              : backend_test::distance_convention::input_output,
                                          in, out);
  } else {
    ASSERT_EQ(m->set_number_of_transforms(r, c.howmany), 0);
  }
  backend_test::set_scales(r, c.fwd_scale, c.bwd_scale);
  if (c.in_offset != 0) {
    const std::int64_t strides[2] = {c.in_offset, 1};
    ASSERT_EQ(m->set_forward_strides(r, strides), 0);
  }
  backend_test::set_placement(r, c.place == placement::in_place, c.directions, c.workspace == workspace::internal);
  r->fused_twiddle_length = c.fused_twiddle_length;
}

template <class T>
using cplx = std::complex<T>;

template <class T>
qez_test::accuracy run_typed(const committed_record& r, direction d, container c) {
  const record_config& cfg = r.config();
  const std::vector<std::int64_t> extents{cfg.n};
  const distances dist = distances_of(cfg, d);
  qez_test::strided_layout in_layout = qez_test::make_layout(extents);
  qez_test::strided_layout out_layout = in_layout;
  in_layout.distance = dist.in;
  out_layout.distance = dist.out;

  const std::vector<qez_test::cld> input = qez_test::random_complex(cfg.n * cfg.howmany, 17 + cfg.n);
  const bool in_place = cfg.place == placement::in_place;
  const std::int64_t in_span = in_layout.span(extents, cfg.howmany);
  const std::int64_t out_span = out_layout.span(extents, cfg.howmany);
  std::vector<cplx<T>> in_host(static_cast<size_t>(in_place ? std::max(in_span, out_span) : in_span));
  qez_test::place(input, extents, cfg.howmany, in_layout, in_host.data());

  const bool forward = d == direction::forward;
  const backend_test::run_arrays<cplx<T>> arrays(in_host, cfg.place, c, out_span);
  EXPECT_EQ(backend_test::call_compute_entry(r.record(), d, arrays.input().argument(), arrays.result().argument(), c,
                                             backend_test::call_events::always),
            0);

  const std::vector<cplx<T>> out_host = arrays.result().read();
  const std::vector<qez_test::cld> got =
      qez_test::collect<qez_test::cld>(out_host.data(), extents, cfg.howmany, out_layout);
  const std::vector<qez_test::cld> reference = backend_test::scaled_reference_c2c(
      input, extents, cfg.howmany, forward, forward ? cfg.fwd_scale : cfg.bwd_scale);
  return qez_test::measure(got, reference);
}

}  // namespace

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

committed_record::committed_record(const record_config& c) : backend_case(c, test_queue()) {
  make_and_commit(backend_test::road::child_as_created, c.n, [&c](DFTI_DESCRIPTOR* r) { configure(r, c); });
  if (commit_status() == 0 && c.workspace != workspace::internal) {
    EXPECT_EQ(give_workspace(), 0);
  }
}

int committed_record::give_workspace() {
  if (config_.workspace == workspace::external_usm) return give_usm_workspace();
  return workspace().give_buffer_once(record(), workspace_bytes());
}

qez_test::accuracy run_and_measure(const committed_record& r, direction d, container c) {
  return is_double(r.config()) ? run_typed<double>(r, d, c) : run_typed<float>(r, d, c);
}

qez_test::accuracy_bounds bounds_of(const record_config& c) {
  return is_double(c) ? qez_test::bounds_for<double>(c.n) : qez_test::bounds_for<float>(c.n);
}

}  // namespace two_factor_test
