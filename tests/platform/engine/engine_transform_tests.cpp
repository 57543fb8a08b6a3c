// Transforms computed by the CPU engine, checked against FFTW's long-double
// reference: complex and real, single and double precision, ranks 1 to 5,
// batches, packed and strided layouts with offsets in both stride
// conventions, in place and out of place, with scales; small transforms and
// ones large enough to be measured, on one thread or threaded (as one
// threaded plan, or as chunks of a batch on threads), on aligned and
// unaligned data.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "tests/platform/engine/engine_fixture.hpp"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/reference_dft.hpp"

namespace qez_engine_test {
namespace {

using qez_test::cld;
using qez_test::strided_layout;

enum class layout_kind { packed, strided_fb, strided_io };

struct engine_case {
  std::string name;
  bool real;
  std::vector<std::int64_t> lengths;  // slowest first
  std::int64_t batch;
  bool in_place;
  layout_kind layout;
  std::int64_t thread_limit;  // 0: the service layer's count
};

const char* layout_name(layout_kind k) {
  switch (k) {
    case layout_kind::packed: return "packed";
    case layout_kind::strided_fb: return "stridedFB";
    case layout_kind::strided_io: return "stridedIO";
  }
  return "";
}

void PrintTo(const engine_case& c, std::ostream* os) { *os << c.name; }

std::vector<engine_case> all_cases() {
  struct shape {
    const char* name;
    std::vector<std::int64_t> lengths;
    std::int64_t batch;
    std::int64_t thread_limit = 0;
  };
  const std::vector<shape> shapes = {
      {"n1", {1}, 1},          {"n16", {16}, 1},         {"n17x3", {17}, 3},
      {"n15", {15}, 1},        {"n6x5", {6, 5}, 2},      {"n4x7", {4, 7}, 1},
      {"n3x4x5", {3, 4, 5}, 2}, {"n2x3x2x3x3", {2, 3, 2, 3, 3}, 1},
      // Large enough to be planned by measurement, on one thread.
      {"n4096x9", {4096}, 9},   {"n48x40x20", {48, 40}, 20},
      // Large enough for FFTW's threads, in too few chunks to be cut.
      {"n3x45000t2", {3}, 45000, 2},
      // Batched enough to run as chunks of transforms on two threads.
      {"n256x1024t2", {256}, 1024, 2},
      // Chunks of an odd count of odd transforms: in single precision the
      // packed complex chunks alternate in alignment, so the aligned and
      // unaligned plans take turns.
      {"n5x19683t2", {5}, 19683, 2}};
  std::vector<engine_case> cases;
  for (bool real : {false, true})
    for (const shape& s : shapes)
      for (bool in_place : {false, true})
        for (layout_kind k : {layout_kind::packed, layout_kind::strided_fb, layout_kind::strided_io}) {
          std::string name = std::string(real ? "r2c_" : "c2c_") + s.name + "_" +
                             (in_place ? "inplace_" : "outofplace_") + layout_name(k);
          cases.push_back({name, real, s.lengths, s.batch, in_place, k, s.thread_limit});
        }
  return cases;
}

// Layouts of the forward and backward domains chosen for a case.
struct case_layouts {
  std::vector<std::int64_t> forward_extents;
  std::vector<std::int64_t> backward_extents;
  strided_layout forward;
  strided_layout backward;
  double forward_scale = 1.0;
  double backward_scale = 1.0;
};

case_layouts layouts_for(const engine_case& c) {
  case_layouts l;
  l.forward_extents = c.lengths;
  l.backward_extents = c.real ? qez_test::conjugate_even_extents(c.lengths) : c.lengths;
  if (c.layout == layout_kind::packed) {
    // The engine's own defaults: real rows are padded to 2*(L0/2+1).
    std::vector<std::int64_t> rows = c.lengths;
    if (c.real) rows.back() = 2 * (rows.back() / 2 + 1);
    l.forward = qez_test::make_layout(rows);
    l.backward = qez_test::make_layout(l.backward_extents);
    return l;
  }
  l.forward = qez_test::make_layout(l.forward_extents, 2, 3, 5);
  l.backward = qez_test::make_layout(l.backward_extents, 1, 1, 7);
  if (!c.real && c.in_place) l.backward = l.forward;
  l.forward_scale = 0.5;
  l.backward_scale = 1.0 / static_cast<double>(qez_test::element_count(c.lengths));
  return l;
}

// Input-side and output-side layouts of one direction.
struct direction_sides {
  const strided_layout* input;
  const std::vector<std::int64_t>* input_extents;
  const strided_layout* output;
  const std::vector<std::int64_t>* output_extents;
};

template <class Real>
class engine_runner {
public:
  using complex = std::complex<Real>;

  explicit engine_runner(const engine_case& c)
      : c_(c), l_(layouts_for(c)), record_(sizeof(Real) == 8, c.real, c.lengths) {}

  void run() {
    ASSERT_EQ(record_.status(), 0);
    configure_common();
    // Forward: forward domain to backward domain.
    if (c_.layout == layout_kind::strided_io) set_io(l_.forward, l_.backward);
    ASSERT_EQ(record_.methods().commit(record_.get()), 0);
    check_forward();
    if (c_.layout == layout_kind::strided_io) {
      // Input/output strides describe the input of whichever direction runs.
      set_io(l_.backward, l_.forward);
      ASSERT_EQ(record_.methods().commit(record_.get()), 0);
    }
    check_backward();
  }

private:
  void configure_common() {
    DFTI_DESCRIPTOR* r = record_.get();
    const auto& m = record_.methods();
    r->placement = c_.in_place ? ulmara::qez::dft::dfti_inplace : ulmara::qez::dft::dfti_not_inplace;
    ASSERT_EQ(m.set_number_of_transforms(r, c_.batch), 0);
    ASSERT_EQ(m.set_thread_limit(r, c_.thread_limit), 0);
    ASSERT_EQ(m.set_scale(r, l_.forward_scale, ulmara::qez::dft::scale_forward), 0);
    ASSERT_EQ(m.set_scale(r, l_.backward_scale, ulmara::qez::dft::scale_backward), 0);
    if (c_.layout == layout_kind::strided_io) return;
    if (c_.layout == layout_kind::strided_fb) {
      ASSERT_EQ(m.set_forward_strides(r, record_strides(l_.forward).data()), 0);
      ASSERT_EQ(m.set_backward_strides(r, record_strides(l_.backward).data()), 0);
    }
    if (c_.batch > 1) {
      ASSERT_EQ(m.set_forward_distance(r, l_.forward.distance), 0);
      ASSERT_EQ(m.set_backward_distance(r, l_.backward.distance), 0);
    }
  }

  void set_io(const strided_layout& in, const strided_layout& out) {
    DFTI_DESCRIPTOR* r = record_.get();
    const auto& m = record_.methods();
    ASSERT_EQ(m.set_input_strides(r, record_strides(in).data()), 0);
    ASSERT_EQ(m.set_output_strides(r, record_strides(out).data()), 0);
    if (c_.batch > 1) {
      ASSERT_EQ(m.set_input_distance(r, in.distance), 0);
      ASSERT_EQ(m.set_output_distance(r, out.distance), 0);
    }
  }

  // Buffers in units of complex values, large enough for both domains.
  std::size_t complex_units(const strided_layout& l, const std::vector<std::int64_t>& e,
                            bool is_complex) const {
    const std::int64_t span = l.span(e, c_.batch);
    return static_cast<std::size_t>(is_complex ? span : (span + 1) / 2);
  }

  void check_forward() {
    const bool real = c_.real;
    const std::size_t in_units = complex_units(l_.forward, l_.forward_extents, !real);
    const std::size_t out_units = complex_units(l_.backward, l_.backward_extents, true);
    std::vector<complex> a(c_.in_place ? std::max(in_units, out_units) : in_units);
    std::vector<complex> b(c_.in_place ? 0 : out_units);
    complex* out_buffer = c_.in_place ? a.data() : b.data();

    std::vector<cld> got, ref;
    const std::int64_t n = qez_test::element_count(c_.lengths) * c_.batch;
    if (real) {
      auto* in = reinterpret_cast<Real*>(a.data());
      qez_test::place(qez_test::random_real(n, 11), l_.forward_extents, c_.batch, l_.forward, in);
      const auto input =
          qez_test::collect<long double>(in, l_.forward_extents, c_.batch, l_.forward);
      ref = qez_test::reference_r2c(input, c_.lengths, c_.batch);
    } else {
      qez_test::place(qez_test::random_complex(n, 12), l_.forward_extents, c_.batch, l_.forward,
                      a.data());
      const auto input = qez_test::collect<cld>(a.data(), l_.forward_extents, c_.batch, l_.forward);
      ref = qez_test::reference_c2c(input, c_.lengths, c_.batch, qez_test::dft_sign::forward);
    }
    for (cld& x : ref) x *= static_cast<long double>(l_.forward_scale);

    ASSERT_EQ(record_->compute_fwd(record_.get(), a.data(), c_.in_place ? nullptr : b.data(),
                                   nullptr, nullptr, nullptr),
              0);
    got = qez_test::collect<cld>(out_buffer, l_.backward_extents, c_.batch, l_.backward);
    expect_accurate(got, ref, "forward");
  }

  void check_backward() {
    const bool real = c_.real;
    const std::size_t in_units = complex_units(l_.backward, l_.backward_extents, true);
    const std::size_t out_units = complex_units(l_.forward, l_.forward_extents, !real);
    std::vector<complex> a(c_.in_place ? std::max(in_units, out_units) : in_units);
    std::vector<complex> b(c_.in_place ? 0 : out_units);

    // Conjugate-even input: the forward transform of real data.
    const std::int64_t n = qez_test::element_count(c_.lengths) * c_.batch;
    std::vector<cld> spectrum;
    if (real) spectrum = qez_test::reference_r2c(qez_test::random_real(n, 13), c_.lengths, c_.batch);
    else spectrum = qez_test::random_complex(n, 14);
    qez_test::place(spectrum, l_.backward_extents, c_.batch, l_.backward, a.data());
    const auto input = qez_test::collect<cld>(a.data(), l_.backward_extents, c_.batch, l_.backward);
    const std::vector<complex> input_copy(a);
    const long double scale = l_.backward_scale;

    ASSERT_EQ(record_->compute_bwd(record_.get(), a.data(), c_.in_place ? nullptr : b.data(),
                                   nullptr, nullptr, nullptr),
              0);
    complex* out_buffer = c_.in_place ? a.data() : b.data();
    if (real) {
      auto ref = qez_test::reference_c2r(input, c_.lengths, c_.batch);
      for (long double& x : ref) x *= scale;
      const auto got = qez_test::collect<long double>(reinterpret_cast<Real*>(out_buffer),
                                                      l_.forward_extents, c_.batch, l_.forward);
      expect_accurate(got, ref, "backward");
    } else {
      auto ref = qez_test::reference_c2c(input, c_.lengths, c_.batch, qez_test::dft_sign::backward);
      for (cld& x : ref) x *= scale;
      const auto got =
          qez_test::collect<cld>(out_buffer, l_.forward_extents, c_.batch, l_.forward);
      expect_accurate(got, ref, "backward");
    }
    if (!c_.in_place) {
      EXPECT_EQ(0, std::memcmp(a.data(), input_copy.data(), a.size() * sizeof(complex)))
          << "an out-of-place transform changed its input";
    }
  }

  template <class T>
  void expect_accurate(const std::vector<T>& got, const std::vector<T>& ref, const char* what) {
    qez_test::expect_accurate<Real>(got, ref, qez_test::element_count(c_.lengths), what);
  }

  const engine_case& c_;
  case_layouts l_;
  engine_record record_;
};

enum class precision { single, double_ };

class EngineTransform
    : public ::testing::TestWithParam<std::tuple<engine_case, precision>> {};

TEST_P(EngineTransform, MatchesLongDoubleReference) {
  const engine_case& c = std::get<0>(GetParam());
  if (std::get<1>(GetParam()) == precision::single) engine_runner<float>(c).run();
  else engine_runner<double>(c).run();
}

INSTANTIATE_TEST_SUITE_P(
    AllLayouts, EngineTransform,
    ::testing::Combine(::testing::ValuesIn(all_cases()),
                       ::testing::Values(precision::single, precision::double_)),
    [](const ::testing::TestParamInfo<std::tuple<engine_case, precision>>& info) {
      return std::get<0>(info.param).name +
             (std::get<1>(info.param) == precision::single ? "_single" : "_double");
    });

}  // namespace
}  // namespace qez_engine_test
