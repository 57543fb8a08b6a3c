#include "esimd_case.hpp"

namespace esimd_test {

std::uint64_t points(const lengths_t& l) {
  std::uint64_t p = 1;
  for (auto n : l) p *= static_cast<std::uint64_t>(n);
  return p;
}

std::string name_of(const lengths_t& l) {
  std::string s;
  for (auto n : l) s += (s.empty() ? "" : "x") + std::to_string(n);
  return s;
}

template <class T>
std::unique_ptr<esimd_2_facts_plan<T>> make_plan(const lengths_t& lengths, std::uint64_t transforms, T forward_scale,
                                                 T backward_scale, bool internal_workspace) {
  std::vector<std::int64_t> strides = {1};
  for (std::size_t d = 1; d < lengths.size(); ++d) strides.push_back(strides.back() * lengths[d - 1]);
  const std::uint64_t distance = points(lengths);
  auto plan = std::make_unique<esimd_2_facts_plan<T>>(lengths, backward_scale, transforms, distance, distance,
                                                      strides.data(), strides.data(), false);
  plan->set_forward_scale(forward_scale);
  plan->set_internal_workspace_flag(internal_workspace);
  return plan;
}

template <class T>
std::unique_ptr<esimd_2_facts_plan<T>> committed_plan(sycl::queue& q, const lengths_t& lengths,
                                                      std::uint64_t transforms, T forward_scale, T backward_scale) {
  auto plan = make_plan<T>(lengths, transforms, forward_scale, backward_scale);
  const std::uint64_t status = plan->commit_plan(&q);
  EXPECT_EQ(status, 0u) << "the plan declined " << name_of(lengths);
  if (status != 0) return nullptr;
  return plan;
}

namespace {

template <class T>
sycl::event compute(const esimd_2_facts_plan<T>& plan, int direction, T* in, T* out,
                    const std::vector<sycl::event>& deps) {
  using ulmara::qez::dft::qez_dft_gpu_dft_esimd_2_facts_compute;
  return direction == 0 ? qez_dft_gpu_dft_esimd_2_facts_compute<0>(plan, in, out, deps)
                        : qez_dft_gpu_dft_esimd_2_facts_compute<1>(plan, in, out, deps);
}
template <class T>
sycl::event compute(const esimd_2_facts_plan<T>& plan, int direction, sycl::buffer<T, 1>& in,
                    sycl::buffer<T, 1>& out) {
  using ulmara::qez::dft::qez_dft_gpu_dft_esimd_2_facts_compute;
  return direction == 0 ? qez_dft_gpu_dft_esimd_2_facts_compute<0>(plan, in, out)
                        : qez_dft_gpu_dft_esimd_2_facts_compute<1>(plan, in, out);
}

}  // namespace

template <class T>
std::vector<std::complex<T>> run(const esimd_2_facts_plan<T>& plan, int direction, container c, placement p,
                                 const std::vector<std::complex<T>>& input) {
  sycl::queue& q = *plan.queue;
  const std::size_t reals = 2 * input.size();
  std::vector<std::complex<T>> output(input.size());
  if (c == container::usm) {
    T* in = sycl::malloc_device<T>(reals, q);
    T* out = p == placement::in_place ? in : sycl::malloc_device<T>(reals, q);
    // The compute waits for the upload only through its dependencies.
    const sycl::event upload = q.memcpy(in, input.data(), reals * sizeof(T));
    compute(plan, direction, in, out, {upload}).wait();
    q.wait_and_throw();
    q.memcpy(output.data(), out, reals * sizeof(T)).wait();
    if (p == placement::out_of_place) {
      std::vector<std::complex<T>> after(input.size());
      q.memcpy(after.data(), in, reals * sizeof(T)).wait();
      EXPECT_TRUE(after == input) << "an out-of-place transform changed its input";
    }
    if (out != in) sycl::free(out, q);
    sycl::free(in, q);
  } else {
    std::vector<std::complex<T>> source = input;
    {
      sycl::buffer<T, 1> in(reinterpret_cast<T*>(source.data()), sycl::range<1>(reals));
      if (p == placement::in_place) {
        compute(plan, direction, in, in);
      } else {
        sycl::buffer<T, 1> out(reinterpret_cast<T*>(output.data()), sycl::range<1>(reals));
        compute(plan, direction, in, out);
      }
    }
    q.wait_and_throw();
    if (p == placement::in_place) output = source;
    else EXPECT_TRUE(source == input) << "an out-of-place transform changed its input";
  }
  return output;
}

template <class T>
std::vector<std::complex<T>> to_precision(const std::vector<qez_test::cld>& v) {
  std::vector<std::complex<T>> r(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) r[i] = {static_cast<T>(v[i].real()), static_cast<T>(v[i].imag())};
  return r;
}
template <class T>
std::vector<qez_test::cld> to_long_double(const std::vector<std::complex<T>>& v) {
  std::vector<qez_test::cld> r(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) r[i] = {v[i].real(), v[i].imag()};
  return r;
}

std::vector<qez_test::cld> reference(const std::vector<qez_test::cld>& input, const lengths_t& lengths,
                                     std::int64_t transforms, int direction, long double scale) {
  const std::vector<std::int64_t> slowest_first(lengths.rbegin(), lengths.rend());
  auto r = qez_test::reference_c2c(input, slowest_first, transforms,
                                   direction == 0 ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
  for (auto& v : r) v *= scale;
  return r;
}

template <class T>
void expect_accurate(const std::vector<std::complex<T>>& got, const std::vector<qez_test::cld>& expected,
                     std::uint64_t transform_points, const std::string& what) {
  const auto bounds = qez_test::bounds_for<T>(static_cast<std::int64_t>(transform_points));
  const auto a = qez_test::measure(to_long_double(got), expected);
  EXPECT_TRUE(qez_test::within(a, bounds)) << what << ": " << qez_test::describe(a, bounds);
}

template <class T>
void rechunk(esimd_2_facts_plan<T>& plan, std::uint64_t m) {
  for (std::uint64_t d = 0; d < plan.rank; ++d) {
    plan.work_groups_per_chunk[d] = plan.work_groups_per_chunk[d] / plan.batch_multiplier * m;
    plan.global_size[d] = plan.work_groups_per_chunk[d] * plan.local_size[d];
  }
  plan.batch_multiplier = m;
}

template <class T>
void check_all_forms(sycl::queue& q, const lengths_t& lengths, std::uint64_t transforms, T forward_scale,
                     T backward_scale) {
  auto plan = committed_plan<T>(q, lengths, transforms, forward_scale, backward_scale);
  ASSERT_TRUE(plan);
  SCOPED_TRACE(plan->describe());
  const std::uint64_t n = points(lengths);
  const auto data =
      to_precision<T>(qez_test::random_complex(static_cast<std::int64_t>(n * transforms), 7 + n));
  for (int direction = 0; direction < 2; ++direction) {
    const long double scale = direction == 0 ? forward_scale : backward_scale;
    const auto expected =
        reference(to_long_double(data), lengths, static_cast<std::int64_t>(transforms), direction, scale);
    for (container c : {container::usm, container::buffer})
      for (placement p : {placement::out_of_place, placement::in_place}) {
        const std::string what = std::string(direction == 0 ? "forward" : "backward") +
                                 (c == container::usm ? " usm" : " buffer") +
                                 (p == placement::in_place ? " in place" : " out of place");
        expect_accurate(run(*plan, direction, c, p, data), expected, n, what);
      }
  }
}

#define QEZ_INSTANTIATE(T)                                                                                          \
  template std::unique_ptr<esimd_2_facts_plan<T>> make_plan<T>(const lengths_t&, std::uint64_t, T, T, bool);       \
  template std::unique_ptr<esimd_2_facts_plan<T>> committed_plan<T>(sycl::queue&, const lengths_t&, std::uint64_t, \
                                                                    T, T);                                         \
  template std::vector<std::complex<T>> run<T>(const esimd_2_facts_plan<T>&, int, container, placement,            \
                                               const std::vector<std::complex<T>>&);                               \
  template std::vector<std::complex<T>> to_precision<T>(const std::vector<qez_test::cld>&);                        \
  template std::vector<qez_test::cld> to_long_double<T>(const std::vector<std::complex<T>>&);                      \
  template void expect_accurate<T>(const std::vector<std::complex<T>>&, const std::vector<qez_test::cld>&,         \
                                   std::uint64_t, const std::string&);                                             \
  template void rechunk<T>(esimd_2_facts_plan<T>&, std::uint64_t);                                                \
  template void check_all_forms<T>(sycl::queue&, const lengths_t&, std::uint64_t, T, T);
QEZ_INSTANTIATE(float)
QEZ_INSTANTIATE(double)
#undef QEZ_INSTANTIATE

}  // namespace esimd_test
