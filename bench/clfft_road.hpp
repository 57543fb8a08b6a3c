// clFFT on the OpenCL device (PoCL): one baked out-of-place plan per size.
#pragma once

#include <cstdint>
#include <memory>

namespace qez_bench {

class clfft_road {
public:
  clfft_road(std::int64_t n, std::int64_t batch, bool double_precision);
  ~clfft_road();
  clfft_road(const clfft_road&) = delete;
  clfft_road& operator=(const clfft_road&) = delete;
  bool ready() const;
  // One forward transform, waited for.
  void run();

private:
  struct state;
  std::unique_ptr<state> s_;
};

}  // namespace qez_bench
