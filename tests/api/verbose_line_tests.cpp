// The verbose descriptor line, character for character, in its SYCL and CPU
// forms. Expected texts are written from the line's format.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dft/api/descriptor_node.hpp"
#include "dft/api/verbose_descriptor.hpp"

namespace {

namespace dft = ulmara::qez::dft;
using dft::verbose_direction;

struct node {
  DFTI_DESCRIPTOR* r = nullptr;
  node(std::uint32_t precision, std::uint32_t domain, std::vector<std::int64_t> lengths) {
    dft::create_descriptor_node(&r, precision, domain, lengths.size(), lengths.data());
  }
  ~node() { dft::dfti_cpu_free_descriptor(&r); }
  DFTI_DESCRIPTOR* operator->() const { return r; }
  // `count` transforms, `fwd` and `bwd` elements apart on the two sides.
  void set_batch(std::int64_t count, std::int64_t fwd, std::int64_t bwd) const {
    r->methods->set_number_of_transforms(r, count);
    r->methods->set_forward_distance(r, fwd);
    r->methods->set_backward_distance(r, bwd);
  }
};

dft::verbose_sycl_context usm(const char* in, const char* out, bool in_order = true) {
  dft::verbose_sycl_context c;
  c.usm = true;
  c.input_kind = in;
  c.output_kind = out;
  c.in_order_queue = in_order;
  return c;
}

std::string sycl_line(const DFTI_DESCRIPTOR* r, verbose_direction d,
                      const dft::verbose_sycl_context& c) {
  char text[dft::verbose_text_bytes];
  std::memset(text, 'Z', sizeof text);
  dft::write_verbose_sycl_line(r, d, c, text);
  return text;
}

std::string address_of(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

TEST(VerboseSyclLine, BatchedComplexInPlaceExample) {
  node n(35, 32, {64, 32});
  n.set_batch(4, 2048, 2048);
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            "FFT(scfi64x32*4,fwd_strides:{0,32,1},bwd_strides:{0,32,1},fwd_distance:2048,"
            "bwd_distance:2048,IO:device USM,queue:in-order),");
}

TEST(VerboseSyclLine, SingleTransformPrintsNoCountNorDistances) {
  node n(36, 32, {1024});
  n->placement = 44;
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            "FFT(dcfo1024,fwd_strides:{0,1},bwd_strides:{0,1},IO:device USM,queue:in-order),");
}

TEST(VerboseSyclLine, DifferentUsmKindsOutOfPlace) {
  node n(36, 32, {1024});
  n->placement = 44;
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("host", "device", false)),
            "FFT(dcfo1024,fwd_strides:{0,1},bwd_strides:{0,1},I:host USM,O:device USM,"
            "queue:out-of-order),");
  EXPECT_EQ(sycl_line(n.r, verbose_direction::backward, usm("unknown", "unknown")),
            "FFT(dcbo1024,bwd_strides:{0,1},fwd_strides:{0,1},IO:unknown USM,queue:in-order),");
}

TEST(VerboseSyclLine, InputOutputStridesAreLabelledAsSuch) {
  node n(35, 32, {8, 4});
  const std::int64_t in[3] = {2, 1, 4}, out[3] = {0, 1, 4};
  n->set_flags &= ~0x80u;  // input/output convention only
  n->methods->set_input_strides(n.r, in);
  n->methods->set_output_strides(n.r, out);
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("shared", "shared")),
            "FFT(scfi8x4,input_strides:{2,4,1},output_strides:{0,4,1},IO:shared USM,"
            "queue:in-order),");
}

TEST(VerboseSyclLine, StridedLayoutShowsStridesAndDistances) {
  node n(36, 32, {8, 4});
  n->placement = 44;
  const std::int64_t fwd[3] = {0, 2, 16};  // innermost first: stride 2, then 16
  n->methods->set_forward_strides(n.r, fwd);
  n.set_batch(3, 128, 32);
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            "FFT(dcfo8:16:4x4:2:1*3:128:32,fwd_strides:{0,16,2},bwd_strides:{0,4,1},"
            "fwd_distance:128,bwd_distance:32,IO:device USM,queue:in-order),");
}

TEST(VerboseSyclLine, TransformInterleavedBatchIsAVector) {
  node n(35, 32, {16});
  n->placement = 44;
  const std::int64_t s[2] = {0, 5};
  n->methods->set_forward_strides(n.r, s);
  n->methods->set_backward_strides(n.r, s);
  n.set_batch(5, 1, 1);
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            "FFT(scfo16v5,fwd_strides:{0,5},bwd_strides:{0,5},fwd_distance:1,bwd_distance:1,"
            "IO:device USM,queue:in-order),");
}

TEST(VerboseSyclLine, RealInPlaceDefaultsAreNotStrided) {
  node n(35, 33, {9});
  n.set_batch(2, 10, 5);
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            "FFT(srfi9*2,fwd_strides:{0,1},bwd_strides:{0,1},fwd_distance:10,bwd_distance:5,"
            "IO:device USM,queue:in-order),");
}

TEST(VerboseSyclLine, ScalesPackedFormatDestroyInputSplitStorage) {
  node n(36, 33, {8});
  n->fwd_scale = 0.125;
  n->bwd_scale = std::nan("");
  n->conjugate_even_storage = 40;
  n->packed_format = 56;
  n->options |= 0x10;
  const std::string line = sycl_line(n.r, verbose_direction::backward, usm("device", "device"));
  EXPECT_EQ(line,
            "FFT(drbi8,bwd_strides:{0,1},fwd_strides:{0,1},fScale:0.125,bScale:nan,pack:perm,"
            "destroy_input:allow,IO:device USM,queue:in-order),");
  node c(35, 32, {8});
  c->complex_storage = 42;
  EXPECT_EQ(sycl_line(c.r, verbose_direction::forward, usm("device", "device")),
            "FFT(scfi/8,fwd_strides:{0,1},bwd_strides:{0,1},IO:device USM,queue:in-order),");
}

TEST(VerboseSyclLine, ExternalWorkspaceAndOffload) {
  node n(35, 32, {8});
  n->workspace_internal = 0;
  n->workspace_bytes[1] = 4096;
  n->workspace_kind = 2;
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            "FFT(scfi8,fwd_strides:{0,1},bwd_strides:{0,1},workspace:externally-allocated USM,"
            "IO:device USM,queue:in-order),");
  n->offload_mode = 1;
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            "FFT(scfi8,fwd_strides:{0,1},bwd_strides:{0,1},offload:synchronous,"
            "IO:device USM,queue:in-order),");
  n->offload_mode = 2;
  EXPECT_NE(sycl_line(n.r, verbose_direction::forward, usm("device", "device"))
                .find(",offload:asynchronous,"),
            std::string::npos);
}

TEST(VerboseSyclLine, BufferPlacement) {
  node n(35, 32, {8});
  dft::verbose_sycl_context c;
  c.usm = false;
  c.in_order_queue = true;
  c.input_sub_buffer = true;
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, c),
            "FFT(scfi8,fwd_strides:{0,1},bwd_strides:{0,1},IO:sub-buffer,queue:in-order),");
  n->placement = 44;
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, c),
            "FFT(scfo8,fwd_strides:{0,1},bwd_strides:{0,1},I:sub-buffer,O:buffer,"
            "queue:in-order),");
}

TEST(VerboseSyclLine, LongLinesAreCutAt511Characters) {
  node n(36, 32, {3, 5, 7});
  n->placement = 44;
  const std::int64_t big = -1000000000000000000;  // 20 characters
  const std::int64_t s[4] = {big, big, big, big};
  n->methods->set_forward_strides(n.r, s);
  n->methods->set_backward_strides(n.r, s);
  n.set_batch(2, big, big);
  n->fwd_scale = 1.5;
  n->bwd_scale = 2.5;
  n->options |= 0x10;
  const std::string b = std::to_string(big);
  std::string expected = "FFT(dcfo3:" + b + ":" + b + "x5:" + b + ":" + b + "x7:" + b + ":" + b +
                         "*2:" + b + ":" + b + ",fwd_strides:{" + b + "," + b + "," + b + "," + b +
                         "},bwd_strides:{" + b + "," + b + "," + b + "," + b +
                         "},fwd_distance:" + b + ",bwd_distance:" + b +
                         ",fScale:1.5,bScale:2.5,destroy_input:allow,IO:device USM,queue:in-order),";
  ASSERT_GT(expected.size(), 511u);
  EXPECT_EQ(sycl_line(n.r, verbose_direction::forward, usm("device", "device")),
            expected.substr(0, 511));
}

// ---------------------------------------------------------------------------
// CPU form.

TEST(VerboseCpuLine, TailItems) {
  node n(35, 32, {16});
  n->placement = 44;
  n->workspace_use = 52;
  n->options |= 0x10;
  n->thread_limit = 3;
  alignas(64) static char data[256];
  const std::string desc = address_of(n.r);
  char text[dft::verbose_text_bytes];
  dft::write_verbose_cpu_line(n.r, verbose_direction::forward, data, data + 64 + 8, text);
  EXPECT_EQ(std::string(text), "FFT(scfo16,fwd_strides:{0,1},bwd_strides:{0,1},wSpace:avoid,"
                               "destroy_input:allow,tLim:3,unaligned_output,desc:" +
                                   desc + ")");
  n->workspace_use = 53;
  n->options = 0;
  dft::write_verbose_cpu_line(n.r, verbose_direction::backward, data + 8, nullptr, text);
  EXPECT_EQ(std::string(text), "FFT(scbo16,bwd_strides:{0,1},fwd_strides:{0,1},wSpace:none,"
                               "tLim:3,unaligned_input,desc:" +
                                   desc + ")");
}

}  // namespace
