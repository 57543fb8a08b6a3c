#include "bench/clfft_road.hpp"

#include "bench/opencl_peer.hpp"

#include <clFFT.h>

namespace qez_bench {

struct clfft_road::state {
  explicit state(std::size_t bytes) : peer(bytes) {}
  opencl_peer_device peer;
  clfftPlanHandle plan = 0;
  bool ready = false;
};

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

}  // namespace

clfft_road::clfft_road(std::int64_t n, std::int64_t batch, bool double_precision)
    : s_(new state(static_cast<std::size_t>(n * batch) * (double_precision ? 16 : 8))) {
  setup_once();
  if (!s_->peer.ready()) return;
  const std::size_t length = static_cast<std::size_t>(n);
  if (clfftCreateDefaultPlan(&s_->plan, s_->peer.context, CLFFT_1D, &length) != CLFFT_SUCCESS)
    return;
  clfftSetPlanPrecision(s_->plan, double_precision ? CLFFT_DOUBLE : CLFFT_SINGLE);
  clfftSetLayout(s_->plan, CLFFT_COMPLEX_INTERLEAVED, CLFFT_COMPLEX_INTERLEAVED);
  clfftSetResultLocation(s_->plan, CLFFT_OUTOFPLACE);
  clfftSetPlanBatchSize(s_->plan, static_cast<std::size_t>(batch));
  clfftSetPlanDistance(s_->plan, length, length);
  s_->ready = clfftBakePlan(s_->plan, 1, &s_->peer.queue, nullptr, nullptr) == CLFFT_SUCCESS;
}

clfft_road::~clfft_road() {
  if (s_->plan) clfftDestroyPlan(&s_->plan);
}

bool clfft_road::ready() const { return s_->ready; }

void clfft_road::run() {
  clfftEnqueueTransform(s_->plan, CLFFT_FORWARD, 1, &s_->peer.queue, 0, nullptr, nullptr,
                        &s_->peer.in, &s_->peer.out, nullptr);
  clFinish(s_->peer.queue);
}

}  // namespace qez_bench
