// VkFFT (OpenCL backend, header only): one out-of-place application per size.
#include "bench/opencl_peer.hpp"

#define VKFFT_BACKEND 3
#include <vkFFT.h>

namespace qez_bench {

namespace {

class vkfft_road final : public peer_road {
public:
  vkfft_road(std::int64_t n, std::int64_t batch, bool double_precision)
      : bytes_(static_cast<std::uint64_t>(n * batch) * (double_precision ? 16 : 8)),
        peer_(static_cast<std::size_t>(bytes_)) {
    if (!peer_.ready()) return;
    VkFFTConfiguration config = {};
    config.FFTdim = 1;
    config.size[0] = static_cast<std::uint64_t>(n);
    config.numberBatches = static_cast<std::uint64_t>(batch);
    config.doublePrecision = double_precision ? 1 : 0;
    config.platform = &peer_.platform;
    config.device = &peer_.device;
    config.context = &peer_.context;
    // Out of place: read the input buffer, write the output buffer.
    config.isInputFormatted = 1;
    config.inputBuffer = &peer_.in;
    config.inputBufferSize = &bytes_;
    config.buffer = &peer_.out;
    config.bufferSize = &bytes_;
    initialised_ = initializeVkFFT(&app_, config) == VKFFT_SUCCESS;
  }
  ~vkfft_road() override {
    if (initialised_) deleteVkFFT(&app_);
  }

  bool ready() const override { return initialised_; }
  void run() override {
    VkFFTLaunchParams params = {};
    params.commandQueue = &peer_.queue;
    params.inputBuffer = &peer_.in;
    params.buffer = &peer_.out;
    VkFFTAppend(&app_, -1, &params);
    clFinish(peer_.queue);
  }

private:
  std::uint64_t bytes_;
  opencl_peer_device peer_;
  VkFFTApplication app_ = {};
  bool initialised_ = false;
};

}  // namespace

std::unique_ptr<peer_road> make_vkfft_road(std::int64_t n, std::int64_t batch,
                                           bool double_precision) {
  return std::make_unique<vkfft_road>(n, batch, double_precision);
}

}  // namespace qez_bench
