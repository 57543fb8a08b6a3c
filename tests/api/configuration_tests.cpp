// set_value and get_value through the public descriptor: every parameter in
// the caller's types, the read-only and wrong-type refusals, exact
// conversions with their messages, vector sizes, and a change to a
// committed descriptor returning it to the uncommitted state.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/workspace_estimators.hpp"
#include "tests/api/descriptor_test_support.hpp"

namespace {

using namespace qez_api_test;

const config_param read_only[] = {P::FORWARD_DOMAIN, P::DIMENSION, P::LENGTHS, P::PRECISION,
                                  P::COMMIT_STATUS, P::WORKSPACE_ESTIMATE_BYTES,
                                  P::WORKSPACE_BYTES, P::WORKSPACE_EXTERNAL_BYTES};

TEST(SetValue, ReadOnlyParametersAreRefusedWhateverTheValueType) {
  single_complex d(std::vector<std::int64_t>{4, 6});
  for (config_param p : read_only) {
    const std::string message = set_prefix + "the targeted configuration parameter is read-only.";
    expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(p, V::IN_PLACE); }, message);
    expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(p, std::int64_t{1}); }, message);
    expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(p, 1.0f); }, message);
    expect_message<ulmara::qez::invalid_argument>(
        [&] { d.set_value(p, std::vector<std::int64_t>{1}); }, message);
  }
}

TEST(SetValue, ParametersOutsideAnOverloadAreWrongTypes) {
  double_complex d(std::int64_t{16});
  const std::string message = set_prefix + wrong_type_text;
  expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(P::PLACEMENT, std::int64_t{43}); },
                                                message);
  expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(P::FORWARD_SCALE, V::ALLOW); },
                                                message);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::NUMBER_OF_TRANSFORMS, 2.0); }, message);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(static_cast<config_param>(21), std::int64_t{1}); }, message);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::PLACEMENT, std::vector<std::int64_t>{43}); }, message);
}

TEST(SetValue, ScalesConvertExactly) {
  single_complex d(std::int64_t{8});
  d.set_value(P::FORWARD_SCALE, std::int64_t{1} << 53);
  double s = 0;
  double_complex dd(std::int64_t{8});
  dd.set_value(P::BACKWARD_SCALE, std::int64_t{1} << 53);
  dd.get_value(P::BACKWARD_SCALE, &s);
  EXPECT_EQ(s, 9007199254740992.0);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::FORWARD_SCALE, (std::int64_t{1} << 53) + 1); },
      set_prefix + truncation_text);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::FORWARD_SCALE, std::numeric_limits<float>::quiet_NaN()); },
      set_prefix + truncation_text);
  d.set_value(P::FORWARD_SCALE, std::numeric_limits<float>::infinity());
  float f = 0;
  d.get_value(P::FORWARD_SCALE, &f);
  EXPECT_TRUE(std::isinf(f));
  d.set_value(P::BACKWARD_SCALE, std::vector<std::int64_t>{3});
  std::int64_t i = 0;
  d.get_value(P::BACKWARD_SCALE, &i);
  EXPECT_EQ(i, 3);
}

TEST(SetValue, DoubleNaNScaleIsAcceptedAndAlwaysAChange) {
  double_complex d(std::int64_t{8});
  d.commit(cpu_queue());
  d.set_value(P::FORWARD_SCALE, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(commit_status(d), V::UNCOMMITTED);
  d.commit(cpu_queue());
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  d.set_value(P::FORWARD_SCALE, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(commit_status(d), V::UNCOMMITTED);
}

TEST(GetValue, ScalesIntoTheCallersTypes) {
  single_complex d(std::int64_t{8});
  d.set_value(P::FORWARD_SCALE, 0.25f);
  float f = 0;
  d.get_value(P::FORWARD_SCALE, &f);
  EXPECT_EQ(f, 0.25f);
  std::int64_t i = 0;
  expect_message<ulmara::qez::invalid_argument>([&] { d.get_value(P::FORWARD_SCALE, &i); },
                                                get_prefix + truncation_text);
  d.set_value(P::FORWARD_SCALE, std::int64_t{3});
  d.get_value(P::FORWARD_SCALE, &i);
  EXPECT_EQ(i, 3);
  std::vector<std::int64_t> v(1);
  d.get_value(P::FORWARD_SCALE, &v);
  EXPECT_EQ(v[0], 3);

  double_complex dd(std::int64_t{8});
  dd.set_value(P::BACKWARD_SCALE, 0.1);
  double x = 0;
  dd.get_value(P::BACKWARD_SCALE, &x);
  EXPECT_EQ(x, 0.1);
}

TEST(SetValue, NumberOfTransforms) {
  single_real d(std::int64_t{8});
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::NUMBER_OF_TRANSFORMS, std::int64_t{0}); },
      set_prefix + invalid_value_text + "NUMBER_OF_TRANSFORMS");
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::NUMBER_OF_TRANSFORMS, std::int64_t{-1}); }, set_prefix + sign_text);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::NUMBER_OF_TRANSFORMS, std::vector<std::int64_t>{2, 3}); },
      "ulmara::qez::DFT::set_value: invalid argument: vector must be of size 1 for the targeted "
      "parameter.");
  d.set_value(P::NUMBER_OF_TRANSFORMS, 5);  // an int
  std::int64_t n = 0;
  d.get_value(P::NUMBER_OF_TRANSFORMS, &n);
  EXPECT_EQ(n, 5);
}

TEST(SetValue, StorageAndPlacementThroughTheCodeTable) {
  single_complex d(std::int64_t{8});
  config_value v{};
  d.get_value(P::COMPLEX_STORAGE, &v);
  EXPECT_EQ(v, V::COMPLEX_INTERLEAVED);
  d.set_value(P::COMPLEX_STORAGE, V::COMPLEX_SPLIT);
  d.get_value(P::COMPLEX_STORAGE, &v);
  EXPECT_EQ(v, V::COMPLEX_SPLIT);
  // An unpaired number that is itself an accepted code is stored as that code.
  d.set_value(P::COMPLEX_STORAGE, static_cast<config_value>(39));
  d.get_value(P::COMPLEX_STORAGE, &v);
  EXPECT_EQ(v, V::COMPLEX_INTERLEAVED);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::COMPLEX_STORAGE, V::IN_PLACE); },
      set_prefix + invalid_value_text + "COMPLEX_STORAGE");
  d.get_value(P::PLACEMENT, &v);
  EXPECT_EQ(v, V::IN_PLACE);
  d.set_value(P::PLACEMENT, V::OUT_OF_PLACE);
  d.get_value(P::PLACEMENT, &v);
  EXPECT_EQ(v, V::OUT_OF_PLACE);
  expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(P::PLACEMENT, V::ALLOW); },
                                                set_prefix + invalid_value_text + "PLACEMENT");
}

TEST(SetValue, WorkspaceSettings) {
  double_real d(std::int64_t{8});
  config_value v{};
  d.set_value(P::WORKSPACE, V::WORKSPACE_LIBRARY);
  d.get_value(P::WORKSPACE, &v);
  EXPECT_EQ(v, V::WORKSPACE_AUTO);
  d.set_value(P::WORKSPACE_PLACEMENT, V::WORKSPACE_EXTERNAL);
  d.get_value(P::WORKSPACE, &v);
  EXPECT_EQ(v, V::WORKSPACE_EXTERNAL);
  d.get_value(P::WORKSPACE_PLACEMENT, &v);
  EXPECT_EQ(v, V::WORKSPACE_EXTERNAL);
  expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(P::WORKSPACE, V::COMMITTED); },
                                                set_prefix + invalid_value_text + "WORKSPACE");
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::WORKSPACE_PLACEMENT, V::COMMITTED); },
      set_prefix + invalid_value_text + "WORKSPACE_PLACEMENT");
}

TEST(SetValue, DistancesThreadLimitAndDestroyInput) {
  single_complex d(std::int64_t{8});
  d.set_value(P::FWD_DISTANCE, std::int64_t{-5});  // refused only at commit
  d.set_value(P::BWD_DISTANCE, std::vector<std::int64_t>{12});
  std::int64_t x = 0;
  d.get_value(P::FWD_DISTANCE, &x);
  EXPECT_EQ(x, -5);
  d.get_value(P::BWD_DISTANCE, &x);
  EXPECT_EQ(x, 12);
  const DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  EXPECT_EQ(r->set_flags & 0x1800u, 0x1800u);

  d.set_value(P::THREAD_LIMIT, std::int64_t{0});
  d.set_value(P::THREAD_LIMIT, std::int64_t{3});
  d.get_value(P::THREAD_LIMIT, &x);
  EXPECT_EQ(x, 3);
  for (std::int64_t bad : {std::int64_t{-1}, std::int64_t{1} << 31})
    expect_message<ulmara::qez::invalid_argument>([&] { d.set_value(P::THREAD_LIMIT, bad); },
                                                  set_prefix + invalid_value_text + "THREAD_LIMIT");
  d.get_value(P::THREAD_LIMIT, &x);
  EXPECT_EQ(x, 3) << "a refused value leaves the field unchanged";

  config_value v{};
  d.get_value(P::DESTROY_INPUT, &v);
  EXPECT_EQ(v, V::DISALLOW);
  d.set_value(P::DESTROY_INPUT, V::ALLOW);
  d.get_value(P::DESTROY_INPUT, &v);
  EXPECT_EQ(v, V::ALLOW);
  EXPECT_EQ(r->options & 0x10u, 0x10u);
}

TEST(GetValue, DomainPrecisionDimensionAndLengths) {
  double_real d(std::vector<std::int64_t>{3, 5, 8});
  domain dom{};
  precision prec{};
  d.get_value(P::FORWARD_DOMAIN, &dom);
  d.get_value(P::PRECISION, &prec);
  EXPECT_EQ(static_cast<int>(dom), 33);
  EXPECT_EQ(static_cast<int>(prec), 36);
  std::int64_t dim = 0;
  d.get_value(P::DIMENSION, &dim);
  EXPECT_EQ(dim, 3);
  std::vector<std::int64_t> lengths(3);
  d.get_value(P::LENGTHS, &lengths);
  EXPECT_EQ(lengths, (std::vector<std::int64_t>{3, 5, 8}));
  std::int64_t one = 0;
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.get_value(P::LENGTHS, &one); },
      get_prefix + wrong_type_text +
          " Multi-dimensional descriptors should query lengths using a vector");
  single_complex line(std::int64_t{64});
  line.get_value(P::LENGTHS, &one);
  EXPECT_EQ(one, 64);
}

TEST(GetValue, Refusals) {
  single_complex d(std::vector<std::int64_t>{4, 6});
  std::vector<std::int64_t> two(2);
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.get_value(P::FWD_STRIDES, &two); },
      "ulmara::qez::DFT::get_value: invalid argument: the provided vector must be of size 3.");
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.get_value(P::FORWARD_SCALE, static_cast<float*>(nullptr)); },
      get_prefix + "second argument must not be nullptr.");
  std::int64_t x = 0;
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.get_value(static_cast<config_param>(21), &x); }, get_prefix + wrong_type_text);
  config_value v{};
  expect_message<ulmara::qez::invalid_argument>([&] { d.get_value(P::FORWARD_SCALE, &v); },
                                                get_prefix + wrong_type_text);
}

TEST(GetValue, MovedFromDescriptorChecksTypeOrTargetFirstByOverload) {
  single_complex d(std::int64_t{8});
  single_complex e(std::move(d));
  config_value v{};
  expect_message<ulmara::qez::invalid_argument>([&] { d.get_value(P::FORWARD_SCALE, &v); },
                                                get_prefix + wrong_type_text);
  std::int64_t x = 0;
  expect_message<ulmara::qez::uninitialized>(
      [&] { d.get_value(P::FORWARD_SCALE, &x); },
      "ulmara::qez::dft::get_value: uninitialized object: " + moved_from_text);
  expect_message<ulmara::qez::uninitialized>(
      [&] { d.set_value(P::PLACEMENT, V::IN_PLACE); },
      "ulmara::qez::dft::set_value: uninitialized object: " + moved_from_text);
}

TEST(GetValue, WorkspaceSizes) {
  single_complex d(std::int64_t{1024});
  std::int64_t bytes = -1;
  const std::string uncommitted =
      "ulmara::qez::dft::get_value: uninitialized object: the descriptor object must be "
      "successfully committed to a GPU device to query this configuration parameter.";
  expect_message<ulmara::qez::uninitialized>([&] { d.get_value(P::WORKSPACE_BYTES, &bytes); },
                                             uncommitted);
  d.get_value(P::WORKSPACE_ESTIMATE_BYTES, &bytes);
  EXPECT_EQ(static_cast<std::uint64_t>(bytes),
            dft::estimate_workspace_c2c_float(dft::descriptor_access::record(d)));
  d.commit(cpu_queue());
  expect_message<ulmara::qez::unimplemented>(
      [&] { d.get_value(P::WORKSPACE_EXTERNAL_BYTES, &bytes); },
      "ulmara::qez::dft::get_value: unimplemented functionality: the feature is not implemented "
      "for descriptors committed to a CPU device.");
  bytes = -1;
  d.get_value(P::WORKSPACE_ESTIMATE_BYTES, &bytes);
  EXPECT_GE(bytes, 0);
}

TEST(Strides, SetAndReadInTheCallersOrder) {
  single_complex d(std::vector<std::int64_t>{4, 8});
  d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, 8, 1});
  const DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  EXPECT_EQ(r->fwd_offset, 0);
  EXPECT_EQ(r->lengths.records[0].forward, 1) << "fastest dimension first in the record";
  EXPECT_EQ(r->lengths.records[1].forward, 8);
  EXPECT_EQ(r->lengths.records[0].input, 0);
  EXPECT_EQ(r->lengths.records[1].output, 0);
  EXPECT_EQ(r->in_offset, 0);
  std::vector<std::int64_t> s(3);
  d.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{2, 9, 1});
  d.get_value(P::BWD_STRIDES, &s);
  EXPECT_EQ(s, (std::vector<std::int64_t>{2, 9, 1}));
  expect_message<ulmara::qez::invalid_argument>(
      [&] { d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, 1}); },
      "ulmara::qez::DFT::set_value: invalid argument: vector of stride values must be of size "
      "(d + 1) wherein d is the dimension of the desired DFT.");
}

TEST(Uncommit, AChangeUncommitsAndAnUnchangedValueDoesNot) {
  single_complex d(std::vector<std::int64_t>{4, 8});
  d.set_value(P::PLACEMENT, V::OUT_OF_PLACE);
  d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, 8, 1});
  d.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, 8, 1});
  d.commit(cpu_queue());
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  d.set_value(P::PLACEMENT, V::OUT_OF_PLACE);
  d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, 8, 1});
  d.set_value(P::NUMBER_OF_TRANSFORMS, std::int64_t{1});
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  d.set_value(P::PLACEMENT, V::IN_PLACE);
  EXPECT_EQ(commit_status(d), V::UNCOMMITTED);
  // The CPU copy was released too.
  sycl::host_accessor slot(dft::descriptor_access::slot_buffer(d), sycl::read_only);
  ASSERT_NE(slot[0], nullptr);
  EXPECT_EQ(slot[0]->record->commit_status, 31u);
}

TEST(Uncommit, StridesChangeUncommits) {
  double_complex d(std::vector<std::int64_t>{4, 8});
  d.commit(cpu_queue());
  d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, 16, 2});
  EXPECT_EQ(commit_status(d), V::UNCOMMITTED);
}

TEST(Uncommit, RealDomainStorageChangeKeepsTheCommitment) {
  single_real d(std::int64_t{16});
  d.commit(cpu_queue());
  d.set_value(P::COMPLEX_STORAGE, V::COMPLEX_SPLIT);
  EXPECT_EQ(commit_status(d), V::COMMITTED);
  config_value v{};
  d.get_value(P::COMPLEX_STORAGE, &v);
  EXPECT_EQ(v, V::COMPLEX_SPLIT);
}

TEST(Uncommit, ComputingAfterAnUncommittingChangeThrows) {
  single_complex d(std::int64_t{8});
  d.commit(cpu_queue());
  d.set_value(P::FORWARD_SCALE, 2.0f);
  auto* data = sycl::malloc_shared<std::complex<float>>(8, cpu_queue());
  EXPECT_THROW(dft::compute_forward(d, data), dft::invalid_descriptor_exception);
  sycl::buffer<std::complex<float>, 1> buffer(sycl::range<1>(8));
  EXPECT_THROW(dft::compute_backward(d, buffer), dft::invalid_descriptor_exception);
  sycl::free(data, cpu_queue());
}

}  // namespace
