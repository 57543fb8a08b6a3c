#include "bench/vkfft_road.hpp"

#include "bench/opencl_peer.hpp"

#define VKFFT_BACKEND 3
#include <vkFFT.h>

namespace qez_bench {

struct vkfft_road::state {
  explicit state(std::size_t bytes) : peer(bytes), bytes(bytes) {}
  opencl_peer_device peer;
  std::uint64_t bytes;
  VkFFTApplication app = {};
  bool initialised = false;
};

vkfft_road::vkfft_road(std::int64_t n, std::int64_t batch, bool double_precision)
    : s_(new state(static_cast<std::size_t>(n * batch) * (double_precision ? 16 : 8))) {
  if (!s_->peer.ready()) return;
  VkFFTConfiguration config = {};
  config.FFTdim = 1;
  config.size[0] = static_cast<std::uint64_t>(n);
  config.numberBatches = static_cast<std::uint64_t>(batch);
  config.doublePrecision = double_precision ? 1 : 0;
  config.platform = &s_->peer.platform;
  config.device = &s_->peer.device;
  config.context = &s_->peer.context;
  // Out of place: read the input buffer, write the output buffer.
  config.isInputFormatted = 1;
  config.inputBuffer = &s_->peer.in;
  config.inputBufferSize = &s_->bytes;
  config.buffer = &s_->peer.out;
  config.bufferSize = &s_->bytes;
  s_->initialised = initializeVkFFT(&s_->app, config) == VKFFT_SUCCESS;
}

vkfft_road::~vkfft_road() {
  if (s_->initialised) deleteVkFFT(&s_->app);
}

bool vkfft_road::ready() const { return s_->initialised; }

void vkfft_road::run() {
  VkFFTLaunchParams params = {};
  params.commandQueue = &s_->peer.queue;
  params.inputBuffer = &s_->peer.in;
  params.buffer = &s_->peer.out;
  VkFFTAppend(&s_->app, -1, &params);
  clFinish(s_->peer.queue);
}

}  // namespace qez_bench
