// set_workspace with a buffer and with USM: the commit requirement, the
// sub-buffer refusal, the size check, the USM kinds, and the hand-over to
// the committed backend.
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/api/descriptor_test_support.hpp"
#include "tests/api/fake_gpu_backend.hpp"

namespace {

using namespace qez_api_test;

TEST(Workspace, NeedsACommittedDescriptor) {
  single_complex d(std::int64_t{64});
  sycl::buffer<float, 1> buffer(sycl::range<1>(16));
  EXPECT_THROW(d.set_workspace(buffer), dft::uncommitted_descriptor_exception);
  EXPECT_THROW(d.set_workspace(static_cast<float*>(nullptr)), dft::uncommitted_descriptor_exception);
  single_complex e(std::move(d));
  expect_message<ulmara::qez::uninitialized>(
      [&] { d.set_workspace(buffer); },
      "ulmara::qez::dft::set_workspace: uninitialized object: " + moved_from_text);
}

TEST(Workspace, NothingNeededAcceptsAnythingSilently) {
  single_complex d(std::int64_t{64});
  d.commit(cpu_queue());
  sycl::buffer<float, 1> parent(sycl::range<1>(16));
  sycl::buffer<float, 1> sub(parent, sycl::id<1>(4), sycl::range<1>(4));
  d.set_workspace(sub);
  d.set_workspace(static_cast<double*>(nullptr));
  const DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  EXPECT_EQ(r->workspace_internal, 1u);
}

TEST(Workspace, BufferSizeSubBufferAndHandOver) {
  single_complex d(std::int64_t{64});
  d.set_value(P::WORKSPACE_PLACEMENT, V::WORKSPACE_EXTERNAL);
  fake_gpu_commit(d, 4000);
  const DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);

  sycl::buffer<float, 1> parent(sycl::range<1>(2000));
  sycl::buffer<float, 1> sub(parent, sycl::id<1>(0), sycl::range<1>(1000));
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_workspace(sub); },
      "ulmara::qez::FFT::set_workspace: invalid argument: Sub-buffer workspaces are not "
      "supported.");
  sycl::buffer<float, 1> small(sycl::range<1>(999));
  EXPECT_THROW(d.set_workspace(small), dft::no_workspace_exception);
  EXPECT_EQ(fake_calls().workspaces, 0);

  sycl::buffer<double, 1> enough(sycl::range<1>(500));
  d.set_workspace(enough);
  EXPECT_EQ(fake_calls().workspaces, 1);
  EXPECT_EQ(fake_calls().workspace_kind, 1);
  EXPECT_NE(fake_calls().workspace, nullptr) << "the address of a byte view";
  EXPECT_EQ(r->workspace_kind, 1u);
  EXPECT_EQ(r->workspace_internal, 0u);

  dft::descriptor_access::record(d)->workspace_bytes[0] = 4001;
  sycl::buffer<float, 1> exact(sycl::range<1>(1000));
  EXPECT_THROW(d.set_workspace(exact), dft::no_workspace_exception);
}

TEST(Workspace, UsmKinds) {
  double_real d(std::int64_t{64});
  d.set_value(P::WORKSPACE_PLACEMENT, V::WORKSPACE_EXTERNAL);
  fake_gpu_commit(d, 4096);
  sycl::queue& q = *dft::record_queue(dft::descriptor_access::record(d));
  EXPECT_THROW(d.set_workspace(static_cast<double*>(nullptr)), dft::no_workspace_exception);
  auto* host = sycl::malloc_host<double>(512, q);
  EXPECT_THROW(d.set_workspace(host), dft::no_workspace_exception);
  double not_usm[4];
  EXPECT_THROW(d.set_workspace(not_usm), dft::no_workspace_exception)
      << "the GPU has no system allocations";
  EXPECT_EQ(fake_calls().workspaces, 0);
  auto* device = sycl::malloc_device<double>(512, q);
  d.set_workspace(device);
  EXPECT_EQ(fake_calls().workspace, device);
  EXPECT_EQ(fake_calls().workspace_kind, 2);
  auto* shared = sycl::malloc_shared<float>(1024, q);
  d.set_workspace(shared);
  EXPECT_EQ(fake_calls().workspaces, 2);
  EXPECT_EQ(dft::descriptor_access::record(d)->workspace_kind, 2u);
  sycl::free(host, q);
  sycl::free(device, q);
  sycl::free(shared, q);
}

TEST(Workspace, WithoutAGpuBackendTheAttachmentIsInvalid) {
  single_complex d(std::int64_t{64});
  d.commit(cpu_queue());
  dft::descriptor_access::record(d)->workspace_bytes[0] = 64;
  sycl::buffer<float, 1> buffer(sycl::range<1>(16));
  EXPECT_THROW(d.set_workspace(buffer), dft::invalid_descriptor_exception);
  dft::descriptor_access::record(d)->workspace_bytes[0] = 0;
}

}  // namespace
