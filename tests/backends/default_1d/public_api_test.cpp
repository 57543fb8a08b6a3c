// The public interface on a GPU queue: descriptors committed under the
// default profile, computed on USM and on buffers, with the default backend
// as the one that accepted. Lengths the more specialised backends of the
// rank-1 lists leave alone. And every GPU of the queue's backend (two under
// STANDIN_GPU_DEVICE_COUNT=2) transforms on a queue of its own, its programs
// compiled for the OpenCL device of its own clock.
#include <gtest/gtest.h>

#include <complex>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "gpu/service/device_registry.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

template <qd::precision p>
using real_t = std::conditional_t<p == qd::precision::SINGLE, float, double>;

template <qd::precision p>
const qd::backend_table* default_table() {
  return p == qd::precision::SINGLE ? &qd::dft_c2c_default_gpu_bkd_table_float
                                    : &qd::dft_c2c_default_gpu_bkd_table_double;
}

sycl::queue& queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

template <class T>
std::vector<std::complex<T>> narrow(const std::vector<cld>& v) {
  std::vector<std::complex<T>> out(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = {T(v[i].real()), T(v[i].imag())};
  return out;
}
template <class T>
std::vector<cld> widen(const std::vector<std::complex<T>>& v) {
  std::vector<cld> out(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = {v[i].real(), v[i].imag()};
  return out;
}

template <class T>
void expect_close(const std::vector<std::complex<T>>& got, std::vector<cld> reference, long double scale,
                  std::int64_t n, const char* what) {
  for (cld& v : reference) v *= scale;
  qez_test::accuracy_bounds b = qez_test::bounds_for<T>(n);
  b.relative_l2 *= 2;  // prime lengths run as direct DFTs
  b.relative_max *= 2;
  const qez_test::accuracy a = qez_test::measure(widen(got), reference);
  EXPECT_TRUE(qez_test::within(a, b)) << what << ": " << qez_test::describe(a, b);
}

template <qd::precision p>
void usm_out_of_place(std::int64_t n, std::int64_t batch) {
  using T = real_t<p>;
  qd::descriptor<p, qd::domain::COMPLEX> desc(n);
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  desc.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, batch);
  desc.set_value(qd::config_param::FWD_DISTANCE, n);
  desc.set_value(qd::config_param::BWD_DISTANCE, n);
  desc.set_value(qd::config_param::BACKWARD_SCALE, T(1) / T(n));
  desc.commit(queue());
  ASSERT_EQ(qd::descriptor_access::record(desc)->backend, default_table<p>());

  const std::vector<cld> x = qez_test::random_complex(n * batch, 7);
  auto* in = sycl::malloc_shared<std::complex<T>>(n * batch, queue());
  auto* out = sycl::malloc_shared<std::complex<T>>(n * batch, queue());
  const std::vector<std::complex<T>> xs = narrow<T>(x);
  std::copy(xs.begin(), xs.end(), in);
  qd::compute_forward(desc, in, out).wait();
  expect_close(std::vector<std::complex<T>>(out, out + n * batch),
               qez_test::reference_c2c(x, {n}, batch, qez_test::dft_sign::forward), 1, n, "forward");
  qd::compute_backward(desc, in, out).wait();
  expect_close(std::vector<std::complex<T>>(out, out + n * batch),
               qez_test::reference_c2c(x, {n}, batch, qez_test::dft_sign::backward), 1.0L / n, n, "backward");
  sycl::free(in, queue());
  sycl::free(out, queue());
}

template <qd::precision p>
void buffer_in_place(std::int64_t n, std::int64_t batch) {
  using T = real_t<p>;
  qd::descriptor<p, qd::domain::COMPLEX> desc(n);
  desc.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, batch);
  desc.set_value(qd::config_param::FWD_DISTANCE, n);
  desc.set_value(qd::config_param::BWD_DISTANCE, n);
  desc.set_value(qd::config_param::FORWARD_SCALE, T(0.5));
  desc.commit(queue());
  ASSERT_EQ(qd::descriptor_access::record(desc)->backend, default_table<p>());

  const std::vector<cld> x = qez_test::random_complex(n * batch, 9);
  std::vector<std::complex<T>> data = narrow<T>(x);
  {
    sycl::buffer<std::complex<T>, 1> buffer(data.data(), sycl::range<1>(data.size()));
    qd::compute_forward(desc, buffer);
  }
  expect_close(data, qez_test::reference_c2c(x, {n}, batch, qez_test::dft_sign::forward), 0.5L, n, "forward");
}

// The GPUs of the first platform of `backend`.
std::vector<sycl::device> gpus_of(sycl::backend backend) {
  for (const sycl::platform& p : sycl::platform::get_platforms())
    if (p.get_backend() == backend) return p.get_devices(sycl::info::device_type::gpu);
  return {};
}

std::size_t gpus_shown() {
  const char* count = std::getenv("STANDIN_GPU_DEVICE_COUNT");
  return count != nullptr && std::strcmp(count, "2") == 0 ? 2 : 1;
}

std::uint32_t clock_of(const sycl::device& d) { return d.get_info<sycl::info::device::max_clock_frequency>(); }

// The OpenCL device that OpenCL C for the queue's device is compiled on: the
// device itself on the OpenCL backend, its twin of the same clock on Nivolo.
void expect_compiled_for_its_own_device(sycl::queue& q) {
  int status = 0;
  void* twin = nullptr;
  ulmara::qez::gpu::qez_gpu_get_cl_device_context(&status, &q, &twin, nullptr);
  EXPECT_EQ(status, 0);
  std::vector<void*> same_clock;
  for (const sycl::device& d : gpus_of(sycl::backend::opencl))
    if (clock_of(d) == clock_of(q.get_device())) same_clock.push_back(sycl::get_native<sycl::backend::opencl>(d));
  EXPECT_EQ(same_clock, std::vector<void*>{twin});
}

TEST(DefaultPublicApi, EachGpuTransformsOnItsOwnQueue) {
  const std::vector<sycl::device> gpus = gpus_of(queue().get_backend());
  ASSERT_EQ(gpus.size(), gpus_shown());
  if (gpus.size() == 2) ASSERT_NE(clock_of(gpus[0]), clock_of(gpus[1])) << "GPUs told apart by their clocks";
  for (const sycl::device& gpu : gpus) {
    sycl::queue q(gpu);
    for (std::int64_t n : {1000, 4096}) {
      SCOPED_TRACE(gpu.get_info<sycl::info::device::name>() + " clock " + std::to_string(clock_of(gpu)) + ", n " +
                   std::to_string(n));
      qd::descriptor<qd::precision::DOUBLE, qd::domain::COMPLEX> desc(n);
      desc.commit(q);
      const std::vector<cld> x = qez_test::random_complex(n, 11);
      std::vector<std::complex<double>> data = narrow<double>(x);
      {
        sycl::buffer<std::complex<double>, 1> buffer(data.data(), sycl::range<1>(data.size()));
        qd::compute_forward(desc, buffer);
      }
      expect_close(data, qez_test::reference_c2c(x, {n}, 1, qez_test::dft_sign::forward), 1, n, "forward");
    }
    expect_compiled_for_its_own_device(q);
  }
}

TEST(DefaultPublicApi, UsmOutOfPlaceDoublePrime) { usm_out_of_place<qd::precision::DOUBLE>(4099, 2); }
TEST(DefaultPublicApi, UsmOutOfPlaceSingleSevens) { usm_out_of_place<qd::precision::SINGLE>(7, 5); }
TEST(DefaultPublicApi, UsmOutOfPlaceSharedMemorySeventyFive) { usm_out_of_place<qd::precision::DOUBLE>(75, 25); }
TEST(DefaultPublicApi, BufferInPlaceSingle30030) { buffer_in_place<qd::precision::SINGLE>(30030, 2); }
TEST(DefaultPublicApi, BufferInPlaceDoubleOneThirtyFive) { buffer_in_place<qd::precision::DOUBLE>(135, 15); }

}  // namespace
