// End to end on the CPU device through the public API, against FFTW's
// long-double reference: complex and real transforms in one to three
// dimensions, batches, default and explicit strides, distances and offsets,
// in place and out of place, scales, on USM (with a dependency and the
// returned event) and on buffers of every element type.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "tests/api/descriptor_test_support.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"
#include "tests/support/strided_layout.hpp"

namespace {

using namespace qez_api_test;
using qez_test::cld;
using qez_test::strided_layout;

enum class kind { c2c, r2c };
enum class container { usm, buffer };
// natural: complex data in std::complex buffers or pointers; scalar: the
// other element type the interface takes for the same data.
enum class elements { natural, scalar };
enum class layout { packed, strided };

struct transform_case {
  std::string name;
  kind transform;
  bool double_precision;
  std::vector<std::int64_t> lengths;
  std::int64_t batch;
  bool in_place;
  layout data_layout;
  container where;
  elements element_type;
  bool scaled;
};

std::ostream& operator<<(std::ostream& os, const transform_case& c) { return os << c.name; }

// Rows of `row` elements in the innermost dimension, packed otherwise.
strided_layout padded_rows(const std::vector<std::int64_t>& extents, std::int64_t row) {
  strided_layout l;
  l.strides.assign(extents.size(), 1);
  std::int64_t stride = row;
  for (std::size_t k = extents.size() - 1; k-- > 0;) {
    l.strides[k] = stride;
    stride *= extents[k];
  }
  l.distance = extents.size() == 1 ? row : stride;
  return l;
}

// Where the data of each domain lie, in elements of that domain's type.
struct domain_layouts {
  std::vector<std::int64_t> forward_extents, backward_extents;
  strided_layout forward, backward;
};

domain_layouts layouts_for(const transform_case& c) {
  domain_layouts d;
  d.forward_extents = c.lengths;
  if (c.transform == kind::c2c) {
    d.backward_extents = c.lengths;
    if (c.data_layout == layout::packed) {
      d.forward = d.backward = qez_test::make_layout(c.lengths);
    } else {
      d.forward = qez_test::make_layout(c.lengths, 1, 1, 2);
      d.backward = c.in_place ? d.forward : qez_test::make_layout(c.lengths, 2, 0, 1);
    }
    return d;
  }
  d.backward_extents = qez_test::conjugate_even_extents(c.lengths);
  if (c.data_layout == layout::packed) {
    const std::int64_t half = c.lengths.back() / 2 + 1;
    d.forward = padded_rows(c.lengths, 2 * half);
    d.backward = padded_rows(d.backward_extents, half);
  } else {
    d.forward = qez_test::make_layout(c.lengths, 1, 3, 1);
    d.backward = qez_test::make_layout(d.backward_extents, 1, 1, 2);
  }
  return d;
}

std::vector<std::int64_t> stride_vector(const strided_layout& l) {
  std::vector<std::int64_t> v{l.offset};
  v.insert(v.end(), l.strides.begin(), l.strides.end());
  return v;
}

// ---------------------------------------------------------------------------
// Running one direction with the data in host arrays of the real scalar.

template <class T, class R>
T* as(std::vector<R>& v) {
  return reinterpret_cast<T*>(v.data());
}

template <bool forward, class TI, class TO, class D, class R>
void run_typed(D& desc, const transform_case& c, std::vector<R>& in, std::vector<R>& out) {
  sycl::queue& q = cpu_queue();
  if (c.where == container::usm) {
    const std::size_t in_bytes = in.size() * sizeof(R), out_bytes = out.size() * sizeof(R);
    R* a = sycl::malloc_device<R>(in.size(), q);
    R* b = c.in_place ? a : sycl::malloc_device<R>(out.size(), q);
    // The transform depends on the upload; the download on the transform.
    sycl::event upload = q.memcpy(a, in.data(), in_bytes);
    sycl::event done;
    if (c.in_place) {
      done = forward ? dft::compute_forward(desc, reinterpret_cast<TI*>(a), {upload})
                     : dft::compute_backward(desc, reinterpret_cast<TI*>(a), {upload});
      q.memcpy(in.data(), a, in_bytes, done).wait();
    } else {
      sycl::event clear = q.memset(b, 0, out_bytes);
      if constexpr (forward)
        done = dft::compute_forward(desc, reinterpret_cast<TI*>(a), reinterpret_cast<TO*>(b),
                                    {upload, clear});
      else
        done = dft::compute_backward(desc, reinterpret_cast<TI*>(a), reinterpret_cast<TO*>(b),
                                     {upload, clear});
      q.memcpy(out.data(), b, out_bytes, done).wait();
      sycl::free(b, q);
    }
    q.wait_and_throw();
    sycl::free(a, q);
    return;
  }
  sycl::buffer<TI, 1> a(as<TI>(in), sycl::range<1>(in.size() * sizeof(R) / sizeof(TI)));
  if (c.in_place) {
    if constexpr (forward) dft::compute_forward(desc, a);
    else dft::compute_backward(desc, a);
  } else {
    sycl::buffer<TO, 1> b(as<TO>(out), sycl::range<1>(out.size() * sizeof(R) / sizeof(TO)));
    if constexpr (forward) dft::compute_forward(desc, a, b);
    else dft::compute_backward(desc, a, b);
  }
  // Destroying the buffers waits for the transform and writes back.
}

template <bool forward, precision Pr, domain Dom, class R>
void execute(dft::descriptor<Pr, Dom>& desc, const transform_case& c, std::vector<R>& in,
             std::vector<R>& out) {
  using C = std::complex<R>;
  const bool natural = c.element_type == elements::natural;
  const bool c2c = c.transform == kind::c2c;
  if (c.in_place) {
    if (c2c == natural) run_typed<forward, C, C>(desc, c, in, out);
    else run_typed<forward, R, R>(desc, c, in, out);
  } else if (!natural) {
    run_typed<forward, R, R>(desc, c, in, out);
  } else if constexpr (Dom == domain::COMPLEX) {
    run_typed<forward, C, C>(desc, c, in, out);
  } else if constexpr (forward) {
    run_typed<forward, R, C>(desc, c, in, out);
  } else {
    run_typed<forward, C, R>(desc, c, in, out);
  }
}

// ---------------------------------------------------------------------------
// One case: configure, commit, then check each direction against the
// reference.

template <precision Pr, domain Dom>
void configure(dft::descriptor<Pr, Dom>& desc, const transform_case& c, const domain_layouts& l) {
  using R = dft::detail::real_scalar_t<Pr>;
  desc.set_value(P::PLACEMENT, c.in_place ? config_value::IN_PLACE : config_value::OUT_OF_PLACE);
  desc.set_value(P::NUMBER_OF_TRANSFORMS, c.batch);
  if (c.data_layout == layout::strided) {
    desc.set_value(P::FWD_STRIDES, stride_vector(l.forward));
    desc.set_value(P::BWD_STRIDES, stride_vector(l.backward));
  }
  if (c.batch > 1) {
    desc.set_value(P::FWD_DISTANCE, l.forward.distance);
    desc.set_value(P::BWD_DISTANCE, l.backward.distance);
  }
  if (c.scaled) {
    desc.set_value(P::FORWARD_SCALE, R(0.5));
    desc.set_value(P::BACKWARD_SCALE, R(1) / static_cast<R>(qez_test::element_count(c.lengths)));
  }
}

// Storage in real scalars for one side of the data.
std::size_t scalars_for(const strided_layout& l, const std::vector<std::int64_t>& extents,
                        std::int64_t batch, bool complex) {
  return static_cast<std::size_t>(l.span(extents, batch)) * (complex ? 2 : 1);
}

template <precision Pr, domain Dom>
void run_case(const transform_case& c) {
  using R = dft::detail::real_scalar_t<Pr>;
  using C = std::complex<R>;
  const domain_layouts l = layouts_for(c);
  const bool real = c.transform == kind::r2c;
  const std::int64_t n = qez_test::element_count(c.lengths);
  const qez_test::accuracy_bounds bounds = qez_test::bounds_for<R>(n);

  dft::descriptor<Pr, Dom> desc(c.lengths);
  configure(desc, c, l);
  desc.commit(cpu_queue());
  double forward_scale = 1, backward_scale = 1;
  if constexpr (Pr == precision::SINGLE) {
    float f = 0, b = 0;
    desc.get_value(P::FORWARD_SCALE, &f);
    desc.get_value(P::BACKWARD_SCALE, &b);
    forward_scale = f;
    backward_scale = b;
  } else {
    desc.get_value(P::FORWARD_SCALE, &forward_scale);
    desc.get_value(P::BACKWARD_SCALE, &backward_scale);
  }

  const std::size_t fwd_scalars = scalars_for(l.forward, l.forward_extents, c.batch, !real);
  const std::size_t bwd_scalars = scalars_for(l.backward, l.backward_extents, c.batch, true);
  const std::size_t shared = std::max(fwd_scalars, bwd_scalars);

  // Forward.
  {
    std::vector<R> in(c.in_place ? shared : fwd_scalars, R(0)), out(c.in_place ? 0 : bwd_scalars);
    std::vector<cld> expected;
    if (real) {
      const std::vector<long double> x = qez_test::random_real(n * c.batch, 11);
      qez_test::place(x, l.forward_extents, c.batch, l.forward, in.data());
      expected = qez_test::reference_r2c(x, c.lengths, c.batch);
    } else {
      const std::vector<cld> x = qez_test::random_complex(n * c.batch, 12);
      qez_test::place(x, l.forward_extents, c.batch, l.forward, as<C>(in));
      expected = qez_test::reference_c2c(x, c.lengths, c.batch, qez_test::dft_sign::forward);
    }
    for (cld& v : expected) v *= static_cast<long double>(forward_scale);
    execute<true>(desc, c, in, out);
    std::vector<R>& result = c.in_place ? in : out;
    const auto got = qez_test::collect<cld>(as<C>(result), l.backward_extents, c.batch, l.backward);
    const qez_test::accuracy a = qez_test::measure(got, expected);
    EXPECT_TRUE(qez_test::within(a, bounds)) << "forward: " << qez_test::describe(a, bounds);
  }

  // Backward.
  {
    std::vector<R> in(c.in_place ? shared : bwd_scalars, R(0)), out(c.in_place ? 0 : fwd_scalars);
    if (real) {
      // Conjugate-even input: the transform of real data.
      const std::vector<cld> x =
          qez_test::reference_r2c(qez_test::random_real(n * c.batch, 13), c.lengths, c.batch);
      qez_test::place(x, l.backward_extents, c.batch, l.backward, as<C>(in));
      std::vector<long double> expected = qez_test::reference_c2r(x, c.lengths, c.batch);
      for (long double& v : expected) v *= static_cast<long double>(backward_scale);
      execute<false>(desc, c, in, out);
      std::vector<R>& result = c.in_place ? in : out;
      const auto got =
          qez_test::collect<long double>(result.data(), l.forward_extents, c.batch, l.forward);
      const qez_test::accuracy a = qez_test::measure(got, expected);
      EXPECT_TRUE(qez_test::within(a, bounds)) << "backward: " << qez_test::describe(a, bounds);
    } else {
      const std::vector<cld> x = qez_test::random_complex(n * c.batch, 14);
      qez_test::place(x, l.backward_extents, c.batch, l.backward, as<C>(in));
      std::vector<cld> expected =
          qez_test::reference_c2c(x, c.lengths, c.batch, qez_test::dft_sign::backward);
      for (cld& v : expected) v *= static_cast<long double>(backward_scale);
      execute<false>(desc, c, in, out);
      std::vector<R>& result = c.in_place ? in : out;
      const auto got = qez_test::collect<cld>(as<C>(result), l.forward_extents, c.batch, l.forward);
      const qez_test::accuracy a = qez_test::measure(got, expected);
      EXPECT_TRUE(qez_test::within(a, bounds)) << "backward: " << qez_test::describe(a, bounds);
    }
  }
}

class CpuTransform : public ::testing::TestWithParam<transform_case> {};

TEST_P(CpuTransform, MatchesTheReference) {
  const transform_case& c = GetParam();
  const bool real = c.transform == kind::r2c;
  if (c.double_precision) {
    if (real) run_case<precision::DOUBLE, domain::REAL>(c);
    else run_case<precision::DOUBLE, domain::COMPLEX>(c);
  } else {
    if (real) run_case<precision::SINGLE, domain::REAL>(c);
    else run_case<precision::SINGLE, domain::COMPLEX>(c);
  }
}

constexpr bool single = false, dbl = true, in_place = true, out_of_place = false, scaled = true,
               unscaled = false;
constexpr auto usm = container::usm, buffer = container::buffer;
constexpr auto natural = elements::natural, scalar = elements::scalar;
constexpr auto packed = layout::packed, strided = layout::strided;

const transform_case cases[] = {
    {"c2c_s_64_usm_oop", kind::c2c, single, {64}, 1, out_of_place, packed, usm, natural, unscaled},
    {"c2c_s_60x3_usm_inplace", kind::c2c, single, {60}, 3, in_place, packed, usm, natural, unscaled},
    {"c2c_s_128x4_usm_oop_strided_scaled", kind::c2c, single, {128}, 4, out_of_place, strided, usm, natural, scaled},
    {"c2c_s_8x12x2_buffer_oop_strided", kind::c2c, single, {8, 12}, 2, out_of_place, strided, buffer, natural, unscaled},
    {"c2c_s_16x5x2_usm_inplace_strided", kind::c2c, single, {16, 5}, 2, in_place, strided, usm, scalar, unscaled},
    {"c2c_s_4x6x10_buffer_inplace_float", kind::c2c, single, {4, 6, 10}, 1, in_place, packed, buffer, scalar, unscaled},
    {"c2c_d_81_buffer_oop_double", kind::c2c, dbl, {81}, 1, out_of_place, packed, buffer, scalar, unscaled},
    {"c2c_d_6x4x8_usm_oop_strided", kind::c2c, dbl, {6, 4, 8}, 1, out_of_place, strided, usm, natural, unscaled},
    {"c2c_d_32x16x2_buffer_inplace_scaled", kind::c2c, dbl, {32, 16}, 2, in_place, packed, buffer, natural, scaled},
    {"c2c_d_100_usm_inplace_double", kind::c2c, dbl, {100}, 1, in_place, packed, usm, scalar, unscaled},
    {"r2c_s_64_usm_oop", kind::r2c, single, {64}, 1, out_of_place, packed, usm, natural, unscaled},
    {"r2c_s_63x3_usm_inplace", kind::r2c, single, {63}, 3, in_place, packed, usm, natural, unscaled},
    {"r2c_s_12x10x2_buffer_oop_strided", kind::r2c, single, {12, 10}, 2, out_of_place, strided, buffer, natural, unscaled},
    {"r2c_s_4x6x8_buffer_inplace", kind::r2c, single, {4, 6, 8}, 1, in_place, packed, buffer, natural, unscaled},
    {"r2c_s_9x7_usm_oop_float_pairs", kind::r2c, single, {9, 7}, 1, out_of_place, packed, usm, scalar, scaled},
    {"r2c_s_100_buffer_oop_float_pairs", kind::r2c, single, {100}, 1, out_of_place, packed, buffer, scalar, unscaled},
    {"r2c_d_96_buffer_oop_scaled", kind::r2c, dbl, {96}, 1, out_of_place, packed, buffer, natural, scaled},
    {"r2c_d_16x18x2_usm_inplace", kind::r2c, dbl, {16, 18}, 2, in_place, packed, usm, natural, unscaled},
    {"r2c_d_5x6x7_usm_oop_strided", kind::r2c, dbl, {5, 6, 7}, 1, out_of_place, strided, usm, natural, unscaled},
    {"r2c_d_50_buffer_inplace_complex", kind::r2c, dbl, {50}, 1, in_place, packed, buffer, scalar, unscaled},
};

INSTANTIATE_TEST_SUITE_P(Cases, CpuTransform, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<transform_case>& info) {
                           return info.param.name;
                         });

TEST(CpuCompute, ReturnedEventIsTheTransform) {
  dft::descriptor<precision::DOUBLE, domain::COMPLEX> desc(std::int64_t{16});
  desc.commit(cpu_queue());
  auto* data = sycl::malloc_shared<std::complex<double>>(16, cpu_queue());
  for (int i = 0; i < 16; ++i) data[i] = {i == 1 ? 1.0 : 0.0, 0.0};
  sycl::event e = dft::compute_forward(desc, data);
  e.wait();
  EXPECT_EQ(e.get_info<sycl::info::event::command_execution_status>(),
            sycl::info::event_command_status::complete);
  // The transform of an impulse at 1 is exp(-2 pi i k / 16).
  EXPECT_NEAR(data[4].real(), 0.0, 1e-12);
  EXPECT_NEAR(data[4].imag(), -1.0, 1e-12);
  sycl::free(data, cpu_queue());
}

// A descriptor never committed has no queue and so no road; it is refused
// as any descriptor that is not committed is, on every call form.
TEST(CpuCompute, NeverCommittedDescriptorIsInvalid) {
  dft::descriptor<precision::SINGLE, domain::REAL> desc(std::int64_t{16});
  auto* data = sycl::malloc_shared<float>(18, cpu_queue());
  auto* spectrum = sycl::malloc_shared<std::complex<float>>(9, cpu_queue());
  EXPECT_THROW(dft::compute_forward(desc, data), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(desc, data), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_forward(desc, data, spectrum), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(desc, spectrum, data), dft::invalid_descriptor_exception);
  sycl::buffer<float, 1> buffer(sycl::range<1>(18));
  sycl::buffer<std::complex<float>, 1> spectrum_buffer(sycl::range<1>(9));
  EXPECT_THROW(dft::compute_forward(desc, buffer), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(desc, buffer), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_forward(desc, buffer, spectrum_buffer),
               dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(desc, spectrum_buffer, buffer),
               dft::invalid_descriptor_exception);
  sycl::free(spectrum, cpu_queue());
  sycl::free(data, cpu_queue());
}

// An engine entry that fails, put in place of the committed CPU copy's
// entries.
int failing_entry_calls = 0;
int failing_cpu_entry(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) {
  ++failing_entry_calls;
  return 7;
}

template <class D>
void make_cpu_entries_fail(D& desc) {
  sycl::host_accessor slot(dft::descriptor_access::slot_buffer(desc), sycl::read_write);
  ASSERT_NE(slot[0], nullptr);
  slot[0]->record->compute_fwd = failing_cpu_entry;
  slot[0]->record->compute_bwd = failing_cpu_entry;
}

// The host task cannot report to the caller: a failing transform raises no
// asynchronous error, so a queue without a handler is not ended by it.
TEST(CpuCompute, AFailingTransformRaisesNothingFromTheHostTask) {
  static int async_errors = 0;
  sycl::queue handled(sycl::cpu_selector_v,
                      [](sycl::exception_list errors) { async_errors += errors.size(); });
  sycl::queue unhandled(sycl::cpu_selector_v);
  failing_entry_calls = 0;
  for (sycl::queue* q : {&handled, &unhandled}) {
    dft::descriptor<precision::SINGLE, domain::COMPLEX> desc(std::int64_t{8});
    desc.commit(*q);
    make_cpu_entries_fail(desc);
    auto* data = sycl::malloc_shared<std::complex<float>>(8, *q);
    EXPECT_NO_THROW(dft::compute_forward(desc, data).wait());
    sycl::buffer<std::complex<float>, 1> buffer(sycl::range<1>(8));
    EXPECT_NO_THROW(dft::compute_backward(desc, buffer));
    EXPECT_NO_THROW(q->wait_and_throw());
    sycl::free(data, *q);
  }
  EXPECT_EQ(failing_entry_calls, 4) << "every transform reached the engine";
  EXPECT_EQ(async_errors, 0);
}

TEST(CpuCompute, MovedFromDescriptorNamesTheDirection) {
  dft::descriptor<precision::SINGLE, domain::COMPLEX> a(std::int64_t{8});
  dft::descriptor<precision::SINGLE, domain::COMPLEX> b(std::move(a));
  sycl::buffer<std::complex<float>, 1> buffer(sycl::range<1>(8));
  expect_message<ulmara::qez::uninitialized>(
      [&] { dft::compute_backward(a, buffer); },
      "ulmara::qez::dft::compute_backward: uninitialized object: " + moved_from_text);
  std::complex<float>* p = nullptr;
  expect_message<ulmara::qez::uninitialized>(
      [&] { dft::compute_forward(a, p); },
      "ulmara::qez::dft::compute_forward: uninitialized object: " + moved_from_text);
}

TEST(CpuCompute, PlacementOfTheCallMustBeTheDescriptors) {
  dft::descriptor<precision::SINGLE, domain::COMPLEX> desc(std::int64_t{8});
  desc.set_value(P::PLACEMENT, config_value::OUT_OF_PLACE);
  desc.commit(cpu_queue());
  auto* a = sycl::malloc_shared<std::complex<float>>(8, cpu_queue());
  auto* b = sycl::malloc_shared<std::complex<float>>(8, cpu_queue());
  EXPECT_THROW(dft::compute_forward(desc, a), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_forward(desc, a, a), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_forward(desc, a, static_cast<std::complex<float>*>(nullptr)),
               dft::invalid_descriptor_exception);
  EXPECT_NO_THROW(dft::compute_forward(desc, a, b).wait());
  sycl::buffer<std::complex<float>, 1> first(sycl::range<1>(8));
  sycl::buffer<std::complex<float>, 1> second(sycl::range<1>(8));
  EXPECT_THROW(dft::compute_backward(desc, first), dft::invalid_descriptor_exception);
  EXPECT_NO_THROW(dft::compute_backward(desc, first, second));

  dft::descriptor<precision::SINGLE, domain::COMPLEX> in_place(std::int64_t{8});
  in_place.commit(cpu_queue());
  EXPECT_THROW(dft::compute_forward(in_place, static_cast<std::complex<float>*>(nullptr)),
               dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_forward(in_place, a, b), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(in_place, first, second), dft::invalid_descriptor_exception);
  EXPECT_NO_THROW(dft::compute_backward(in_place, a).wait());
  EXPECT_NO_THROW(dft::compute_backward(in_place, first));
  cpu_queue().wait();
  sycl::free(a, cpu_queue());
  sycl::free(b, cpu_queue());
}

}  // namespace
