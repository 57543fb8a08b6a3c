#include "dft/gpu/backends/1d_slm_large/n_facts_slm/prebuilt.hpp"

#include <algorithm>

#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::dft::n_facts_slm {

namespace {

constexpr char driver_prefix[] = "1.6";

const prebuilt_kernel prebuilt_kernels[] = {
    {"fft4096_n_fact_slm_s_fwd", 4096, {8, 8, 8, 8}, dir_forward, 37592, {0, nullptr, nullptr, nullptr}},
    {"fft4096_n_fact_slm_s_bwd", 4096, {8, 8, 8, 8}, dir_backward, 37696, {0, nullptr, nullptr, nullptr}},
    {"fft8192_n_fact_slm_s_fwd", 8192, {8, 8, 8, 16}, dir_forward, 60888, {0, nullptr, nullptr, nullptr}},
    {"fft8192_n_fact_slm_s_bwd", 8192, {8, 8, 8, 16}, dir_backward, 61056, {0, nullptr, nullptr, nullptr}},
};

bool packed_or_single(std::int64_t distance, std::int64_t length) { return distance == 0 || distance == length; }

}  // namespace

const prebuilt_kernel* select_prebuilt_kernel(const prebuilt_query& q) {
  if (q.queue_backend != QEZ_GPU_BACKEND_NIVOLO) return nullptr;
  if (q.driver_version.compare(0, sizeof driver_prefix - 1, driver_prefix) != 0) return nullptr;
  if (!packed_or_single(q.idist, q.length) || !packed_or_single(q.odist, q.length)) return nullptr;
  for (const prebuilt_kernel& k : prebuilt_kernels)
    if (k.length == q.length && k.d == q.d && std::equal(k.fact, k.fact + factor_count, q.fact)) return &k;
  return nullptr;
}

int load_prebuilt_kernel(const prebuilt_kernel& k, sycl::queue* queue, prebuilt_handle& handle) {
  constexpr int image_not_carried = -1;
  handle.reset();
  if (k.image.size == 0 || k.image.data == nullptr) return image_not_carried;
  int status = 0;
  handle.reset(gpu::get_binary_kernel(&status, queue, gpu::domain_dft, &k.image, k.name));
  if (status == 0 && handle.kernel() == nullptr) status = image_not_carried;
  // A handle that does not serve goes back at once.
  if (status != 0) handle.reset();
  return status;
}

}  // namespace ulmara::qez::dft::n_facts_slm
