// Under STANDIN_GPU_SUB_GROUPS=emulate a backend's tests must have run the
// lane-pair form of its programs: at the end of the run, the GPU profile
// layer must have built at least one program whose kernels require a
// sub-group size (compiled only in that form).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "qez_gpu_profile.h"

namespace {

class lane_pair_check : public testing::Environment {
 public:
  void TearDown() override {
    const char* mode = std::getenv(QEZ_GPU_PROFILE_ENV_SUB_GROUPS);
    if (mode == nullptr || std::string(mode) != "emulate") return;
    EXPECT_GT(qez_gpu_profile_lane_pair_programs_built(), 0u)
        << "no program was built in its lane-pair form under the sub-group emulation";
  }
};

const testing::Environment* const registered = testing::AddGlobalTestEnvironment(new lane_pair_check);

}  // namespace
