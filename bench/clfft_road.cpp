// clFFT: one baked out-of-place plan per size.
#include "bench/opencl_peer.hpp"

#include <clFFT.h>

namespace qez_bench {

namespace {

// The library keeps one set-up for the whole process.
void setup_once() {
  static const bool done = [] {
    clfftSetupData setup;
    clfftInitSetupData(&setup);
    return clfftSetup(&setup) == CLFFT_SUCCESS;
  }();
  (void)done;
}

class clfft_road final : public peer_road {
public:
  clfft_road(std::int64_t n, std::int64_t batch, bool double_precision)
      : peer_(static_cast<std::size_t>(n * batch) * (double_precision ? 16 : 8)) {
    setup_once();
    if (!peer_.ready()) return;
    const std::size_t length = static_cast<std::size_t>(n);
    if (clfftCreateDefaultPlan(&plan_, peer_.context, CLFFT_1D, &length) != CLFFT_SUCCESS) return;
    clfftSetPlanPrecision(plan_, double_precision ? CLFFT_DOUBLE : CLFFT_SINGLE);
    clfftSetLayout(plan_, CLFFT_COMPLEX_INTERLEAVED, CLFFT_COMPLEX_INTERLEAVED);
    clfftSetResultLocation(plan_, CLFFT_OUTOFPLACE);
    clfftSetPlanBatchSize(plan_, static_cast<std::size_t>(batch));
    clfftSetPlanDistance(plan_, length, length);
    ready_ = clfftBakePlan(plan_, 1, &peer_.queue, nullptr, nullptr) == CLFFT_SUCCESS;
  }
  ~clfft_road() override {
    if (plan_) clfftDestroyPlan(&plan_);
  }

  bool ready() const override { return ready_; }
  void run() override {
    clfftEnqueueTransform(plan_, CLFFT_FORWARD, 1, &peer_.queue, 0, nullptr, nullptr, &peer_.in,
                          &peer_.out, nullptr);
    clFinish(peer_.queue);
  }

private:
  opencl_peer_device peer_;
  clfftPlanHandle plan_ = 0;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<peer_road> make_clfft_road(std::int64_t n, std::int64_t batch,
                                           bool double_precision) {
  return std::make_unique<clfft_road>(n, batch, double_precision);
}

}  // namespace qez_bench
