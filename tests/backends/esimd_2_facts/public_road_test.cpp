// The engine behind the public interface: on Harix and Nopra the 2D and 3D
// main backends plan packed transforms with the ESIMD plan; descriptors are
// committed, computed on USM and buffers, with the library's or the caller's
// workspace, against the long-double reference.
#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "esimd_case.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using namespace esimd_test;
using qez_test::cld;

// The ESIMD plan the record's backend holds, if any.
template <class T>
const void* esimd_plan_of(const DFTI_DESCRIPTOR* r) {
  constexpr bool dbl = std::is_same<T, double>::value;
  if (r->backend == (dbl ? &qd::dft_c2c_2d_main_gpu_bkd_table_double : &qd::dft_c2c_2d_main_gpu_bkd_table_float))
    return qd::c2c_2d_main::block_of(r)->esimd_plan;
  if (r->backend == (dbl ? &qd::dft_c2c_3d_main_gpu_bkd_table_double : &qd::dft_c2c_3d_main_gpu_bkd_table_float))
    return qd::c2c_3d_main::block_of<T>(r)->esimd_plan;
  return nullptr;
}

template <class T>
std::vector<std::complex<T>> read(sycl::queue& q, const std::complex<T>* p, std::size_t n) {
  std::vector<std::complex<T>> out(n);
  q.memcpy(out.data(), p, n * sizeof(out[0])).wait();
  return out;
}

// lengths: slowest first, as the descriptor takes them.
template <qd::precision P, class T>
void check_public_road(const std::vector<std::int64_t>& lengths, std::int64_t batch, bool external_workspace) {
  const std::int64_t n = [&] {
    std::int64_t p = 1;
    for (auto l : lengths) p *= l;
    return p;
  }();
  qd::descriptor<P, qd::domain::COMPLEX> desc(lengths);
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  desc.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, batch);
  desc.set_value(qd::config_param::FWD_DISTANCE, n);
  desc.set_value(qd::config_param::BWD_DISTANCE, n);
  desc.set_value(qd::config_param::BACKWARD_SCALE, static_cast<T>(1.0 / static_cast<double>(n)));
  if (external_workspace)
    desc.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
  sycl::queue q(sycl::gpu_selector_v);
  desc.commit(q);
  const DFTI_DESCRIPTOR* r = qd::descriptor_access::record(desc);
  ASSERT_NE(esimd_plan_of<T>(r), nullptr) << "the ESIMD plan did not take the descriptor";
  T* workspace = nullptr;
  if (external_workspace) {
    std::int64_t bytes = 0;
    desc.get_value(qd::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_GT(bytes, 0);
    workspace = sycl::malloc_device<T>(static_cast<std::size_t>(bytes) / sizeof(T) + 1, q);
    desc.set_workspace(workspace);
  }
  const std::vector<cld> x = qez_test::random_complex(n * batch, 61);
  const auto host = to_precision<T>(x);
  auto* in = sycl::malloc_device<std::complex<T>>(host.size(), q);
  auto* out = sycl::malloc_device<std::complex<T>>(host.size(), q);
  const sycl::event upload = q.memcpy(in, host.data(), host.size() * sizeof(host[0]));
  qd::compute_forward(desc, in, out, {upload}).wait();
  const std::vector<std::int64_t> innermost_first(lengths.rbegin(), lengths.rend());
  expect_accurate(read(q, out, host.size()), reference(x, innermost_first, batch, 0, 1), n, "forward usm");
  qd::compute_backward(desc, out, in).wait();
  expect_accurate(read(q, in, host.size()), x, n, "round trip usm");
  sycl::free(in, q);
  sycl::free(out, q);
  if (!external_workspace) {
    // Buffers: the library's workspace holds tables for both containers.
    std::vector<std::complex<T>> spectrum(host.size());
    {
      sycl::buffer<std::complex<T>, 1> bin(host.data(), sycl::range<1>(host.size()));
      sycl::buffer<std::complex<T>, 1> bout(spectrum.data(), sycl::range<1>(spectrum.size()));
      qd::compute_forward(desc, bin, bout);
    }
    expect_accurate(spectrum, reference(x, innermost_first, batch, 0, 1), n, "forward buffer");
  }
  q.wait();
  if (workspace) sycl::free(workspace, q);
}

TEST(EsimdPublicRoad, Double2D) { check_public_road<qd::precision::DOUBLE, double>({100, 256}, 2, false); }
TEST(EsimdPublicRoad, Single2DWithTheCallersWorkspace) {
  check_public_road<qd::precision::SINGLE, float>({81, 512}, 1, true);
}
TEST(EsimdPublicRoad, Single3D) { check_public_road<qd::precision::SINGLE, float>({72, 64, 64}, 1, false); }
TEST(EsimdPublicRoad, Double3DWithTheCallersWorkspace) {
  check_public_road<qd::precision::DOUBLE, double>({90, 64, 64}, 2, true);
}

}  // namespace
