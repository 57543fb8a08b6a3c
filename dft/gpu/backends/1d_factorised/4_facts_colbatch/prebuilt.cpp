// Prebuilt pass kernels of the float instance: two fixed problems (4096
// transforms of 4096 points, 8192 of 8192) on Nivolo queues whose driver
// version begins with "1.6". The library carries no machine code for them
// here: a row without an image is never loaded, and every pass is compiled
// from the program instead, which computes the same result.
#include <cstring>
#include <string>

#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "gpu/service/device_registry.hpp"
#include "gpu/service/kernel_entry_points.hpp"

namespace ulmara::qez::dft::four_factor_colbatch {

namespace {

// An image slot the library does not carry.
constexpr gpu::qez_gpu_binary_kernel_t no_image = {0, nullptr, nullptr, nullptr};

#define QEZ_PREBUILT_ROW(name, pass, f, howmany, split, fact0, fact1, groups)                           \
  {name "_fwd", name "_bwd", pass, f, howmany, split, fact0, fact1, 128, 16, groups, no_image, no_image}
const prebuilt_row prebuilt_rows[] = {
    QEZ_PREBUILT_ROW("fft64_num4096_split4096_s_trans", pass_0, 64, 4096, 4096, 8, 8, 64),
    QEZ_PREBUILT_ROW("fft64_num4096_split4096_s_multitwidl", pass_1, 64, 4096, 4096, 8, 8, 64),
    QEZ_PREBUILT_ROW("fft64_num4096_split2048_s_trans", pass_0, 64, 4096, 2048, 8, 8, 64),
    QEZ_PREBUILT_ROW("fft64_num4096_split2048_s_multitwidl", pass_1, 64, 4096, 2048, 8, 8, 64),
    QEZ_PREBUILT_ROW("fft128_num8192_split8192_s_trans", pass_0, 128, 8192, 8192, 16, 8, 64),
    QEZ_PREBUILT_ROW("fft64_num8192_split8192_s_multitwidl", pass_1, 64, 8192, 8192, 8, 8, 128),
    QEZ_PREBUILT_ROW("fft128_num8192_split1024_s_trans", pass_0, 128, 8192, 1024, 16, 8, 64),
    QEZ_PREBUILT_ROW("fft64_num8192_split1024_s_multitwidl", pass_1, 64, 8192, 1024, 8, 8, 128),
};
#undef QEZ_PREBUILT_ROW

bool matches(const prebuilt_row& r, const pass_plan& f, pass p) {
  return r.for_pass == p && r.fft_len == f.fft_len && r.howmany == f.howmany && r.howmany_per_launch == f.howmany_per_launch &&
         r.fact0 == f.fact0 && r.fact1 == f.fact1 && r.work_group_size == f.work_group_size &&
         r.sub_group_size == f.sub_group_size && r.num_workgroups == f.num_workgroups;
}

bool carries_image(const gpu::qez_gpu_binary_kernel_t& image) { return image.size != 0 && image.data != nullptr; }

}  // namespace

const prebuilt_row* find_prebuilt_row(const pass_plan& plan, pass p) {
  for (const prebuilt_row& r : prebuilt_rows)
    if (matches(r, plan, p)) return &r;
  return nullptr;
}

bool prebuilt_conditions_hold(int queue_backend, const std::string& driver_version, const batch_layout_row& first,
                              std::int64_t outer_count, direction d) {
  if (queue_backend != QEZ_GPU_BACKEND_NIVOLO) return false;
  if (driver_version.size() < 3 || driver_version.compare(0, 3, "1.6") != 0) return false;
  const direction_distances dist = distances_of(first, d == dir_forward);
  return dist.idist == 1 && dist.odist == 1 && outer_count <= 1;
}

bool load_prebuilt_kernel(block<float>* s, pass p, direction d) {
  const int backend = gpu::get_queue_backend(s->queue);
  if (backend != QEZ_GPU_BACKEND_NIVOLO) return false;
  const std::string driver = s->queue->get_device().get_info<sycl::info::device::driver_version>();
  if (!prebuilt_conditions_hold(backend, driver, s->batch[0], s->batch[1].howmany, d)) return false;
  const prebuilt_row* row = find_prebuilt_row(s->passes[p], p);
  if (row == nullptr) return false;
  const gpu::qez_gpu_binary_kernel_t& image = d == dir_forward ? row->image_fwd : row->image_bwd;
  if (!carries_image(image)) return false;

  int status = 0;
  gpu::qez_gpu_kernel_struct_t* handle =
      gpu::get_binary_kernel(&status, s->queue, gpu::domain_dft, &image, d == dir_forward ? row->name_fwd : row->name_bwd);
  if (status != 0 || handle == nullptr || handle->kernel == nullptr) {
    // Compiled from source instead; that kernel goes back to the kernel cache.
    if (handle != nullptr) gpu::release_kernel(&status, handle);
    return false;
  }
  const int slot = kernel_slot(p, d);
  s->kernels[slot] = handle->kernel;
  s->prebuilt_handle[slot] = handle;
  s->prebuilt[slot] = true;
  return true;
}

}  // namespace ulmara::qez::dft::four_factor_colbatch
