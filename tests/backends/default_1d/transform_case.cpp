#include "tests/backends/default_1d/transform_case.hpp"

#include <algorithm>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/backends/1d_basic/default_1d/plan.hpp"

namespace default_1d_test {

using namespace ulmara::qez::dft;

sycl::queue& gpu_queue() { return backend_test::gpu_test_queue(); }

std::int64_t transform_count(const transform_case& c) {
  std::int64_t count = 1;
  for (const batch_dim& b : c.batch) count *= b.count;
  return count;
}

namespace {

constexpr double sentinel = 1234.5;

// Where element i of transform t lies on one side of the transform.
struct side_layout {
  std::int64_t stride;
  std::vector<batch_dim> batch;
  bool side_a;

  std::int64_t position(std::int64_t t, std::int64_t i) const {
    std::int64_t pos = i * stride;
    for (const batch_dim& b : batch) {
      pos += (t % b.count) * (side_a ? b.distance_a : b.distance_b);
      t /= b.count;
    }
    return pos;
  }
  std::int64_t span(std::int64_t n, std::int64_t count) const {
    std::int64_t last = 0;
    for (std::int64_t t = 0; t < count; ++t) last = std::max(last, position(t, n - 1));
    return last + 1;
  }
};

side_layout side(const transform_case& c, bool a) { return {a ? c.stride_a : c.stride_b, c.batch, a}; }

// Input side of a direction: A forward; backward B under the forward and
// backward convention, A under the input and output one.
bool input_on_a(const transform_case& c, bool forward) {
  return forward || c.layout == distance_convention::input_output;
}

void configure_layout(DFTI_DESCRIPTOR* r, const transform_case& c) {
  const descriptor_methods* m = r->methods;
  const std::int64_t a[] = {0, c.stride_a}, b[] = {0, c.stride_b};
  const bool io = c.layout == distance_convention::input_output;
  if (io) {
    m->set_input_strides(r, a);
    if (!c.in_place) m->set_output_strides(r, b);
  } else {
    m->set_forward_strides(r, a);
    m->set_backward_strides(r, b);
  }
  if (c.batch.empty()) return;
  m->set_number_of_transforms(r, c.batch[0].count);
  if (io) {
    m->set_input_distance(r, c.batch[0].distance_a);
    if (!c.in_place) m->set_output_distance(r, c.batch[0].distance_b);
  } else {
    m->set_forward_distance(r, c.batch[0].distance_a);
    m->set_backward_distance(r, c.batch[0].distance_b);
  }
  for (std::size_t k = 1; k < c.batch.size(); ++k) {
    const batch_dim& d = c.batch[k];
    r->batch.records[k] = io ? dim_record{d.count, d.distance_a, d.distance_b, 0, 0}
                             : dim_record{d.count, 0, 0, d.distance_a, d.distance_b};
  }
}

}  // namespace

committed_record::committed_record(sycl::queue& queue, const transform_case& c, bool double_precision)
    : record_owner(queue), case_(c) {
  if (!create_child(double_precision, c.n)) return;
  // More specialised backends come first in the library's lists; these
  // records try the default backend alone.
  const backend_table* mine =
      double_precision ? &dft_c2c_default_gpu_bkd_table_double : &dft_c2c_default_gpu_bkd_table_float;
  DFTI_DESCRIPTOR* r = record();
  r->backend_list = backend_test::solo_backend_list(mine, double_precision);
  r->fwd_scale = c.fwd_scale;
  r->bwd_scale = c.bwd_scale;
  backend_test::set_placement(r, c.in_place, c.directions, c.workspace == workspace_owner::library);
  configure_layout(r, c);
  commit(true);
}

int committed_record::give_workspace() {
  const std::uint64_t bytes = std::max<std::uint64_t>(workspace_bytes(), 1);
  return backend_test::is_usm(case_.data) ? workspace().give_usm(record(), bytes)
                                          : workspace().give_buffer(record(), bytes);
}

template <class T>
qez_test::accuracy run_transform(sycl::queue& queue, committed_record& r, const transform_case& c, bool forward,
                                 std::uint64_t seed, int* status) {
  const std::int64_t n = c.n, count = transform_count(c);
  const side_layout in = side(c, input_on_a(c, forward)), out = side(c, !input_on_a(c, forward));
  const std::vector<cld> packed = qez_test::random_complex(n * count, seed);
  const std::int64_t in_span = in.span(n, count), out_span = out.span(n, count);
  const std::complex<T> unwritten{T(sentinel), T(sentinel)};
  std::vector<std::complex<T>> input(static_cast<size_t>(c.in_place ? std::max(in_span, out_span) : in_span),
                                     unwritten);
  for (std::int64_t t = 0; t < count; ++t)
    for (std::int64_t i = 0; i < n; ++i)
      input[in.position(t, i)] = std::complex<T>(T(packed[t * n + i].real()), T(packed[t * n + i].imag()));
  std::vector<std::complex<T>> result;
  {
    const container kind = c.data;
    const backend_test::run_arrays<std::complex<T>> arrays(input, backend_test::placement_from(c.in_place), kind,
                                                           out_span, unwritten, queue);
    *status = backend_test::call_compute_entry(
        r.get(), forward ? backend_test::direction::forward : backend_test::direction::backward,
        arrays.input().argument(), arrays.result().argument(), kind);
    result = arrays.result().read();
  }

  // Nothing outside the output layout is written.
  std::vector<bool> in_layout(result.size(), false);
  std::vector<cld> got(n * count);
  for (std::int64_t t = 0; t < count; ++t)
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t p = out.position(t, i);
      in_layout[p] = true;
      got[t * n + i] = cld(result[p].real(), result[p].imag());
    }
  std::int64_t overwritten = 0;
  for (std::size_t p = 0; p < result.size(); ++p) overwritten += !in_layout[p] && result[p] != unwritten;
  EXPECT_EQ(overwritten, 0) << "positions outside the output layout were written";

  const std::vector<cld> reference =
      backend_test::scaled_reference_c2c(packed, {n}, count, forward, forward ? c.fwd_scale : c.bwd_scale);
  return qez_test::measure(got, reference);
}

template <class T>
qez_test::accuracy_bounds bounds_for_case(const transform_case& c) {
  qez_test::accuracy_bounds b = qez_test::bounds_for<T>(c.n);
  for (std::int64_t f : default_1d::choose_factors(c.n))
    if (default_1d::is_generic_factor<T>(f)) {
      b.relative_l2 *= 2;
      b.relative_max *= 2;
      break;
    }
  return b;
}

template <class T>
void check_round(sycl::queue& queue, const transform_case& c) {
  committed_record r(queue, c, sizeof(T) == sizeof(double));
  ASSERT_EQ(r.commit_status(), status_success);
  const backend_table* expected =
      sizeof(T) == sizeof(double) ? &dft_c2c_default_gpu_bkd_table_double : &dft_c2c_default_gpu_bkd_table_float;
  ASSERT_EQ(r.get()->backend, expected);
  if (c.workspace == workspace_owner::caller) {
    ASSERT_EQ(r.give_workspace(), status_success);
  }
  const qez_test::accuracy_bounds bounds = bounds_for_case<T>(c);
  for (bool forward : {true, false}) {
    int status = -1;
    const qez_test::accuracy a = run_transform<T>(queue, r, c, forward, forward ? 11 : 12, &status);
    EXPECT_EQ(status, status_success);
    EXPECT_TRUE(qez_test::within(a, bounds)) << (forward ? "forward " : "backward ") << qez_test::describe(a, bounds);
    std::printf("  N=%lld %s: %s\n", static_cast<long long>(c.n), forward ? "forward" : "backward",
                qez_test::describe(a, bounds).c_str());
  }
}

#define QEZ_INSTANTIATE_CASE(T)                                                                        \
  template qez_test::accuracy run_transform<T>(sycl::queue&, committed_record&, const transform_case&, bool, \
                                               std::uint64_t, int*);                                     \
  template qez_test::accuracy_bounds bounds_for_case<T>(const transform_case&);                         \
  template void check_round<T>(sycl::queue&, const transform_case&);
QEZ_INSTANTIATE_CASE(float)
QEZ_INSTANTIATE_CASE(double)
#undef QEZ_INSTANTIATE_CASE

}  // namespace default_1d_test
