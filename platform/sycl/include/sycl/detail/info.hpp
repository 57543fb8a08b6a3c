// SYCL stand-in: information descriptors of platforms, devices, contexts,
// queues, events and kernels, and the vendor (ext::tavir) device queries.
#pragma once

#include "range.hpp"

namespace sycl {
inline namespace _V1 {

namespace detail {
enum class info_id : int {
  // device
  device_type, vendor_id, max_compute_units, max_work_item_dimensions, max_work_item_sizes,
  max_work_group_size, max_num_sub_groups, sub_group_sizes, max_clock_frequency, address_bits,
  max_mem_alloc_size, mem_base_addr_align, global_mem_size, global_mem_cache_line_size,
  global_mem_cache_size, local_mem_type, local_mem_size, is_available, name, vendor,
  driver_version, version, profile, backend_version, half_fp_config, single_fp_config,
  double_fp_config, partition_max_sub_devices, platform, aspects, max_constant_buffer_size,
  // vendor device queries
  gpu_eu_count, gpu_slices, gpu_subslices_per_slice, gpu_eu_count_per_subslice,
  gpu_hw_threads_per_eu, gpu_device_id, gpu_ip_version,
  // platform
  platform_name, platform_vendor, platform_version, platform_profile,
  // context / queue / kernel / event
  context_devices, context_platform, queue_context, queue_device, kernel_num_args,
  kernel_function_name, kernel_context, event_command_execution_status,
  event_profiling_command_submit, event_profiling_command_start, event_profiling_command_end,
  // device partitioning
  partition_properties,
};
}  // namespace detail

#define QEZ_INFO(name_, type_, id_)                     \
  struct name_ {                                        \
    using return_type = type_;                          \
    static constexpr detail::info_id id = detail::info_id::id_; \
  };

namespace info {
namespace device {
QEZ_INFO(device_type, info::device_type, device_type)
QEZ_INFO(vendor_id, uint32_t, vendor_id)
QEZ_INFO(max_compute_units, uint32_t, max_compute_units)
QEZ_INFO(max_work_item_dimensions, uint32_t, max_work_item_dimensions)
template <int Dims = 3>
struct max_work_item_sizes {
  using return_type = range<Dims>;
  static constexpr detail::info_id id = detail::info_id::max_work_item_sizes;
};
QEZ_INFO(max_work_group_size, size_t, max_work_group_size)
QEZ_INFO(max_num_sub_groups, uint32_t, max_num_sub_groups)
QEZ_INFO(sub_group_sizes, std::vector<size_t>, sub_group_sizes)
QEZ_INFO(max_clock_frequency, uint32_t, max_clock_frequency)
QEZ_INFO(address_bits, uint32_t, address_bits)
QEZ_INFO(max_mem_alloc_size, uint64_t, max_mem_alloc_size)
QEZ_INFO(mem_base_addr_align, uint32_t, mem_base_addr_align)
QEZ_INFO(global_mem_size, uint64_t, global_mem_size)
QEZ_INFO(global_mem_cache_line_size, uint32_t, global_mem_cache_line_size)
QEZ_INFO(global_mem_cache_size, uint64_t, global_mem_cache_size)
QEZ_INFO(local_mem_type, info::local_mem_type, local_mem_type)
QEZ_INFO(local_mem_size, uint64_t, local_mem_size)
QEZ_INFO(max_constant_buffer_size, uint64_t, max_constant_buffer_size)
QEZ_INFO(is_available, bool, is_available)
QEZ_INFO(name, std::string, name)
QEZ_INFO(vendor, std::string, vendor)
QEZ_INFO(driver_version, std::string, driver_version)
QEZ_INFO(version, std::string, version)
QEZ_INFO(profile, std::string, profile)
QEZ_INFO(backend_version, std::string, backend_version)
QEZ_INFO(half_fp_config, std::vector<info::fp_config>, half_fp_config)
QEZ_INFO(single_fp_config, std::vector<info::fp_config>, single_fp_config)
QEZ_INFO(double_fp_config, std::vector<info::fp_config>, double_fp_config)
QEZ_INFO(partition_max_sub_devices, uint32_t, partition_max_sub_devices)
QEZ_INFO(partition_properties, std::vector<info::partition_property>, partition_properties)
QEZ_INFO(platform, sycl::platform, platform)
QEZ_INFO(aspects, std::vector<sycl::aspect>, aspects)
}  // namespace device

namespace platform {
QEZ_INFO(name, std::string, platform_name)
QEZ_INFO(vendor, std::string, platform_vendor)
QEZ_INFO(version, std::string, platform_version)
QEZ_INFO(profile, std::string, platform_profile)
}  // namespace platform

namespace context {
QEZ_INFO(devices, std::vector<sycl::device>, context_devices)
QEZ_INFO(platform, sycl::platform, context_platform)
}  // namespace context

namespace queue {
QEZ_INFO(context, sycl::context, queue_context)
QEZ_INFO(device, sycl::device, queue_device)
}  // namespace queue

namespace kernel {
QEZ_INFO(num_args, uint32_t, kernel_num_args)
QEZ_INFO(function_name, std::string, kernel_function_name)
QEZ_INFO(context, sycl::context, kernel_context)
}  // namespace kernel

namespace event {
QEZ_INFO(command_execution_status, info::event_command_status, event_command_execution_status)
}  // namespace event

namespace event_profiling {
QEZ_INFO(command_submit, uint64_t, event_profiling_command_submit)
QEZ_INFO(command_start, uint64_t, event_profiling_command_start)
QEZ_INFO(command_end, uint64_t, event_profiling_command_end)
}  // namespace event_profiling
}  // namespace info

// GPU geometry queries of the vendor, answered from the GPU profile.
namespace ext::tavir::info::device {
QEZ_INFO(gpu_eu_count, uint32_t, gpu_eu_count)
QEZ_INFO(gpu_slices, uint32_t, gpu_slices)
QEZ_INFO(gpu_subslices_per_slice, uint32_t, gpu_subslices_per_slice)
QEZ_INFO(gpu_eu_count_per_subslice, uint32_t, gpu_eu_count_per_subslice)
QEZ_INFO(gpu_hw_threads_per_eu, uint32_t, gpu_hw_threads_per_eu)
QEZ_INFO(device_id, uint32_t, gpu_device_id)
QEZ_INFO(ip_version, uint32_t, gpu_ip_version)
}  // namespace ext::tavir::info::device

#undef QEZ_INFO

}  // namespace _V1
}  // namespace sycl
