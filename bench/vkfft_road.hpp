// VkFFT (OpenCL backend) on the OpenCL device (PoCL): one out-of-place
// application per size.
#pragma once

#include <cstdint>
#include <memory>

namespace qez_bench {

class vkfft_road {
public:
  vkfft_road(std::int64_t n, std::int64_t batch, bool double_precision);
  ~vkfft_road();
  vkfft_road(const vkfft_road&) = delete;
  vkfft_road& operator=(const vkfft_road&) = delete;
  bool ready() const;
  // One forward transform, waited for.
  void run();

private:
  struct state;
  std::unique_ptr<state> s_;
};

}  // namespace qez_bench
