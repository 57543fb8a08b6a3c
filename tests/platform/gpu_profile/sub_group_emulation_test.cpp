// STANDIN_GPU_SUB_GROUPS=emulate: the device reports the vendor sub-group
// extensions and programs run their sub-group built-ins as the vendor
// defines them: lanes are consecutive work-items, a shuffle exchanges among
// the lanes of one sub-group, a block read gives lane i the i-th element.
#include <gtest/gtest.h>

#include <CL/cl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qez_gpu_profile.h"

namespace {

class SubGroupEmulation : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* v = std::getenv(QEZ_GPU_PROFILE_ENV_SUB_GROUPS);
    ASSERT_TRUE(v && std::string(v) == "emulate") << "runs under STANDIN_GPU_SUB_GROUPS=emulate";
    profile_ = qez_gpu_profile_active();
    ASSERT_NE(profile_, nullptr);
    cl_platform_id platform = nullptr;
    ASSERT_EQ(clGetPlatformIDs(1, &platform, nullptr), CL_SUCCESS);
    ASSERT_EQ(clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 1, &device_, nullptr), CL_SUCCESS);
    cl_int err = CL_SUCCESS;
    context_ = clCreateContext(nullptr, 1, &device_, nullptr, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    queue_ = clCreateCommandQueueWithProperties(context_, device_, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
  }
  void TearDown() override {
    if (queue_) clReleaseCommandQueue(queue_);
    if (context_) clReleaseContext(context_);
  }
  // Builds `source`; the program, or null with the log reported.
  cl_program build(const char* source, const std::string& options) {
    cl_int err = CL_SUCCESS;
    cl_program p = clCreateProgramWithSource(context_, 1, &source, nullptr, &err);
    EXPECT_EQ(err, CL_SUCCESS);
    if (err != CL_SUCCESS) return nullptr;
    err = clBuildProgram(p, 1, &device_, options.c_str(), nullptr, nullptr);
    if (err != CL_SUCCESS) {
      size_t n = 0;
      clGetProgramBuildInfo(p, device_, CL_PROGRAM_BUILD_LOG, 0, nullptr, &n);
      std::string log(n, '\0');
      clGetProgramBuildInfo(p, device_, CL_PROGRAM_BUILD_LOG, n, log.data(), nullptr);
      ADD_FAILURE() << "build failed (" << err << "): " << log;
      clReleaseProgram(p);
      return nullptr;
    }
    return p;
  }
  // Runs kernel `name` of `p` over `items` work-items in groups of `group`
  // with an input buffer of `in` and an output buffer of `out_count` ints.
  std::vector<cl_int> run(cl_program p, const char* name, const std::vector<cl_int>& in, size_t out_count,
                          size_t items, size_t group) {
    cl_int err = CL_SUCCESS;
    cl_kernel k = clCreateKernel(p, name, &err);
    EXPECT_EQ(err, CL_SUCCESS);
    cl_mem in_buf = clCreateBuffer(context_, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, in.size() * sizeof(cl_int),
                                   const_cast<cl_int*>(in.data()), &err);
    EXPECT_EQ(err, CL_SUCCESS);
    std::vector<cl_int> out(out_count, -1);
    cl_mem out_buf = clCreateBuffer(context_, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, out.size() * sizeof(cl_int),
                                    out.data(), &err);
    EXPECT_EQ(err, CL_SUCCESS);
    clSetKernelArg(k, 0, sizeof in_buf, &in_buf);
    clSetKernelArg(k, 1, sizeof out_buf, &out_buf);
    EXPECT_EQ(clEnqueueNDRangeKernel(queue_, k, 1, nullptr, &items, &group, 0, nullptr, nullptr), CL_SUCCESS);
    EXPECT_EQ(clEnqueueReadBuffer(queue_, out_buf, CL_TRUE, 0, out.size() * sizeof(cl_int), out.data(), 0, nullptr,
                                  nullptr),
              CL_SUCCESS);
    clReleaseMemObject(in_buf);
    clReleaseMemObject(out_buf);
    clReleaseKernel(k);
    return out;
  }
  const qez_gpu_profile_t* profile_ = nullptr;
  cl_device_id device_ = nullptr;
  cl_context context_ = nullptr;
  cl_command_queue queue_ = nullptr;
};

TEST_F(SubGroupEmulation, DeviceReportsBothExtensions) {
  char ext[8192] = {};
  ASSERT_EQ(clGetDeviceInfo(device_, CL_DEVICE_EXTENSIONS, sizeof ext, ext, nullptr), CL_SUCCESS);
  EXPECT_NE(std::strstr(ext, " cl_tavir_subgroups "), nullptr) << ext;
  EXPECT_NE(std::strstr(ext, " cl_tavir_subgroups_long "), nullptr) << ext;
}

// Each work-item writes, for masks 1, 2, 4 and SG / 2, the shuffled global id
// as int, float and double: the id of lane (lane xor mask) of its sub-group.
const char shuffle_source[] = R"(
#ifndef cl_tavir_subgroups
#error the emulating device compiles the lane-pair form
#endif
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
__attribute__((tavir_reqd_sub_group_size(SG)))
kernel void shuffles(global int *in, global int *out)
{
    const uint g = get_global_id(0);
    const uint masks[4] = {1, 2, 4, SG / 2};
    for (uint j = 0; j < 4; ++j) {
        out[12 * g + 3 * j] = tavir_sub_group_shuffle_xor((int)g, masks[j]);
        out[12 * g + 3 * j + 1] = (int)tavir_sub_group_shuffle_xor((float)g, masks[j]);
        out[12 * g + 3 * j + 2] = (int)tavir_sub_group_shuffle_xor((double)g, masks[j]);
    }
}
)";

TEST_F(SubGroupEmulation, ShuffleXorExchangesAmongTheLanesOfOneSubGroup) {
  const unsigned before = qez_gpu_profile_lane_pair_programs_built();
  for (size_t sg = 0; sg < profile_->num_sub_group_sizes; ++sg) {
    const int size = static_cast<int>(profile_->sub_group_sizes[sg]);
    cl_program p = build(shuffle_source, "-DSG=" + std::to_string(size));
    ASSERT_NE(p, nullptr);
    // Eighteen work-groups of several sub-groups, each exchanging in a region
    // of its own (Oclgrind's race checker sees it: oclgrind entry).
    const size_t items = 18 * 64, group = 64;
    const std::vector<cl_int> out = run(p, "shuffles", {0}, 12 * items, items, group);
    const int masks[4] = {1, 2, 4, size / 2};
    for (int g = 0; g < static_cast<int>(items); ++g)
      for (int j = 0; j < 4; ++j) {
        const int lane = g % size, expected = g - lane + (lane ^ masks[j]);
        for (int t = 0; t < 3; ++t)
          ASSERT_EQ(out[12 * g + 3 * j + t], expected) << "size " << size << " item " << g << " mask " << masks[j];
      }
    clReleaseProgram(p);
  }
  EXPECT_EQ(qez_gpu_profile_lane_pair_programs_built(), before + profile_->num_sub_group_sizes);
}

// Sub-group s reads (and writes back to out) the block of 8 x SG words at
// in + 8 SG s with the 8-wide forms, and the block of SG words at in + SG s
// with the one-wide forms, as 32- and 64-bit words.
const char block_source[] = R"(
#pragma OPENCL EXTENSION cl_tavir_subgroups : enable
#pragma OPENCL EXTENSION cl_tavir_subgroups_long : enable
__attribute__((tavir_reqd_sub_group_size(SG)))
kernel void blocks(global int *in, global int *out)
{
    const uint s = get_local_id(0) / SG + get_group_id(0) * (get_local_size(0) / SG);
    const uint8 v = tavir_sub_group_block_read8((const global uint *)in + 8 * SG * s);
    tavir_sub_group_block_write8((global uint *)out + 8 * SG * s, v + (uint8)(1000));
    const ulong w = tavir_sub_group_block_read_ul((const global ulong *)in + SG * s);
    tavir_sub_group_block_write_ul((global ulong *)(out + 16 * SG * 8) + SG * s, w);
    const ulong8 x = tavir_sub_group_block_read_ul8((const global ulong *)in + 8 * SG * s / 2);
    const uint y = tavir_sub_group_block_read((const global uint *)in + SG * s);
    out[32 * SG * 8 + get_global_id(0)] = (int)x.s3 + y;
}
)";

TEST_F(SubGroupEmulation, BlockReadGivesLaneIItsElement) {
  const int size = static_cast<int>(profile_->sub_group_sizes[0]);
  cl_program p = build(block_source, "-DSG=" + std::to_string(size));
  ASSERT_NE(p, nullptr);
  const size_t items = 4 * static_cast<size_t>(size), group = 2 * static_cast<size_t>(size);
  std::vector<cl_int> in(16 * 8 * static_cast<size_t>(size));
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<cl_int>(i);
  const std::vector<cl_int> out = run(p, "blocks", in, 32 * 8 * static_cast<size_t>(size) + items, items, group);
  for (int s = 0; s < 4; ++s)
    for (int lane = 0; lane < size; ++lane) {
      for (int k = 0; k < 8; ++k) {
        const int at = 8 * size * s + k * size + lane;
        ASSERT_EQ(out[at], in[at] + 1000) << "block_read8 of sub-group " << s << " lane " << lane << " row " << k;
      }
      // 64-bit lane `lane` of sub-group s: ints 2 (SG s + lane) and the next.
      const int word = 2 * (size * s + lane), copy = 16 * size * 8 + word;
      ASSERT_EQ(out[copy], in[word]) << "block_read_ul of sub-group " << s << " lane " << lane;
      ASSERT_EQ(out[copy + 1], in[word + 1]);
      // Element 3 of the 64-bit 8-wide read: the low int of ulong
      // 8 SG s / 2 + 3 SG + lane; plus the 32-bit lane `lane` at SG s.
      const int ul8 = 2 * (8 * size * s / 2 + 3 * size + lane);
      ASSERT_EQ(out[32 * size * 8 + size * s + lane], in[ul8] + in[size * s + lane]) << "sub-group " << s;
    }
  clReleaseProgram(p);
}

// A program whose kernels require no size takes the profile's smallest;
// it uses a built-in, so it counts as a lane-pair program, and a program
// without one does not.
TEST_F(SubGroupEmulation, KernelsWithoutARequiredSizeTakeTheSmallest) {
  const unsigned before = qez_gpu_profile_lane_pair_programs_built();
  cl_program p = build(
      "kernel void lanes(global int *in, global int *out)\n"
      "{ out[get_global_id(0)] = (int)tavir_sub_group_block_read((const global uint *)in); }\n",
      "-cl-std=CL1.2");
  ASSERT_NE(p, nullptr);
  const size_t items = 64;
  std::vector<cl_int> in(items);
  for (size_t i = 0; i < items; ++i) in[i] = static_cast<cl_int>(100 + i);
  const std::vector<cl_int> out = run(p, "lanes", in, items, items, items);
  const size_t smallest = profile_->sub_group_sizes[0];
  for (size_t i = 0; i < items; ++i) EXPECT_EQ(out[i], in[i % smallest]) << i;
  EXPECT_EQ(qez_gpu_profile_lane_pair_programs_built(), before + 1);
  clReleaseProgram(p);
  cl_program plain = build("kernel void plain(global int *in, global int *out) { out[0] = in[0]; }\n", "");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(qez_gpu_profile_lane_pair_programs_built(), before + 1);
  clReleaseProgram(plain);
}

}  // namespace
