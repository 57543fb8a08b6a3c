// SYCL stand-in: platforms, devices, selectors and their information queries.
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "qez_gpu_profile.h"
#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {
namespace {

template <class T>
bool query(cl_device_id d, cl_device_info p, T* out) {
  return clGetDeviceInfo(d, p, sizeof(T), out, nullptr) == CL_SUCCESS;
}
std::string query_string(cl_device_id d, cl_device_info p) {
  size_t n = 0;
  if (clGetDeviceInfo(d, p, 0, nullptr, &n) != CL_SUCCESS || n == 0) return std::string();
  std::string s(n, '\0');
  clGetDeviceInfo(d, p, n, s.data(), nullptr);
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}
std::string platform_string(cl_platform_id p, cl_platform_info what) {
  size_t n = 0;
  if (clGetPlatformInfo(p, what, 0, nullptr, &n) != CL_SUCCESS || n == 0) return std::string();
  std::string s(n, '\0');
  clGetPlatformInfo(p, what, n, s.data(), nullptr);
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}
std::vector<info::fp_config> fp_configs(cl_device_fp_config c) {
  std::vector<info::fp_config> r;
  if (c & CL_FP_DENORM) r.push_back(info::fp_config::denorm);
  if (c & CL_FP_INF_NAN) r.push_back(info::fp_config::inf_nan);
  if (c & CL_FP_ROUND_TO_NEAREST) r.push_back(info::fp_config::round_to_nearest);
  if (c & CL_FP_ROUND_TO_ZERO) r.push_back(info::fp_config::round_to_zero);
  if (c & CL_FP_ROUND_TO_INF) r.push_back(info::fp_config::round_to_inf);
  if (c & CL_FP_FMA) r.push_back(info::fp_config::fma);
  if (c & CL_FP_CORRECTLY_ROUNDED_DIVIDE_SQRT) r.push_back(info::fp_config::correctly_rounded_divide_sqrt);
  if (c & CL_FP_SOFT_FLOAT) r.push_back(info::fp_config::soft_float);
  return r;
}

std::shared_ptr<device_impl> make_cl_device(cl_device_id id, platform_impl* p) {
  auto d = std::make_shared<device_impl>();
  d->cl = id;
  d->platform = p;
  device_info_cache& i = d->info;
  cl_device_type type = CL_DEVICE_TYPE_GPU;
  query(id, CL_DEVICE_TYPE, &type);
  i.type = (type & CL_DEVICE_TYPE_GPU) ? info::device_type::gpu
           : (type & CL_DEVICE_TYPE_CPU) ? info::device_type::cpu
                                         : info::device_type::accelerator;
  query(id, CL_DEVICE_VENDOR_ID, &i.vendor_id);
  query(id, CL_DEVICE_MAX_COMPUTE_UNITS, &i.max_compute_units);
  query(id, CL_DEVICE_MAX_WORK_ITEM_DIMENSIONS, &i.max_work_item_dimensions);
  clGetDeviceInfo(id, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof i.max_work_item_sizes, i.max_work_item_sizes, nullptr);
  query(id, CL_DEVICE_MAX_WORK_GROUP_SIZE, &i.max_work_group_size);
  query(id, CL_DEVICE_MAX_NUM_SUB_GROUPS, &i.max_num_sub_groups);
  size_t n = 0;
  if (clGetDeviceInfo(id, QEZ_CL_DEVICE_SUB_GROUP_SIZES, 0, nullptr, &n) == CL_SUCCESS && n) {
    i.sub_group_sizes.resize(n / sizeof(size_t));
    clGetDeviceInfo(id, QEZ_CL_DEVICE_SUB_GROUP_SIZES, n, i.sub_group_sizes.data(), nullptr);
  }
  query(id, CL_DEVICE_MAX_CLOCK_FREQUENCY, &i.max_clock_frequency);
  query(id, CL_DEVICE_ADDRESS_BITS, &i.address_bits);
  query(id, CL_DEVICE_MAX_MEM_ALLOC_SIZE, &i.max_mem_alloc_size);
  query(id, CL_DEVICE_MEM_BASE_ADDR_ALIGN, &i.mem_base_addr_align);
  query(id, CL_DEVICE_GLOBAL_MEM_SIZE, &i.global_mem_size);
  query(id, CL_DEVICE_GLOBAL_MEM_CACHELINE_SIZE, &i.cache_line);
  query(id, CL_DEVICE_GLOBAL_MEM_CACHE_SIZE, &i.cache_size);
  query(id, CL_DEVICE_LOCAL_MEM_SIZE, &i.local_mem_size);
  query(id, CL_DEVICE_MAX_CONSTANT_BUFFER_SIZE, &i.max_constant);
  cl_device_local_mem_type lt = CL_LOCAL;
  query(id, CL_DEVICE_LOCAL_MEM_TYPE, &lt);
  i.local_mem_type = lt == CL_LOCAL ? info::local_mem_type::local : info::local_mem_type::global;
  i.name = query_string(id, CL_DEVICE_NAME);
  i.vendor = query_string(id, CL_DEVICE_VENDOR);
  i.driver_version = query_string(id, CL_DRIVER_VERSION);
  i.version = query_string(id, CL_DEVICE_VERSION);
  i.profile = query_string(id, CL_DEVICE_PROFILE);
  i.extensions = query_string(id, CL_DEVICE_EXTENSIONS);
  cl_device_fp_config fp = 0;
  if (query(id, 0x1033 /* CL_DEVICE_HALF_FP_CONFIG */, &fp)) i.half_fp = fp_configs(fp);
  fp = 0;
  if (query(id, CL_DEVICE_SINGLE_FP_CONFIG, &fp)) i.single_fp = fp_configs(fp);
  fp = 0;
  if (query(id, CL_DEVICE_DOUBLE_FP_CONFIG, &fp)) i.double_fp = fp_configs(fp);
  query(id, CL_DEVICE_PARTITION_MAX_SUB_DEVICES, &i.partition_max_sub_devices);
  query(id, CL_DEVICE_SVM_CAPABILITIES, &i.svm);
  i.has_tavir = query(id, QEZ_CL_DEVICE_NUM_SLICES, &i.slices) &&
                query(id, QEZ_CL_DEVICE_NUM_SUB_SLICES_PER_SLICE, &i.sub_slices) &&
                query(id, QEZ_CL_DEVICE_NUM_EUS_PER_SUB_SLICE, &i.eus_per_sub_slice) &&
                query(id, QEZ_CL_DEVICE_NUM_THREADS_PER_EU, &i.threads_per_eu);
  query(id, QEZ_CL_DEVICE_ID, &i.pci_id);
  i.eu_count = i.max_compute_units;
  uint32_t ip = 0;
  if (query(id, QEZ_CL_DEVICE_IP_VERSION, &ip)) i.ip_version = ip;
  cl_device_id parent = nullptr;
  if (query(id, CL_DEVICE_PARENT_DEVICE, &parent) && parent) d->root = false;
  return d;
}

std::shared_ptr<device_impl> make_host_device(platform_impl* p) {
  auto d = std::make_shared<device_impl>();
  d->platform = p;
  device_info_cache& i = d->info;
  i.type = info::device_type::cpu;
  i.vendor_id = 0;
  i.max_compute_units = host_concurrency();
  i.max_work_item_sizes[0] = i.max_work_item_sizes[1] = i.max_work_item_sizes[2] = 1024;
  i.max_work_group_size = 1024;
  i.max_num_sub_groups = 1024;
  i.sub_group_sizes = {1};
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  i.global_mem_size = pages > 0 && page > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) : (1ull << 32);
  i.max_mem_alloc_size = i.global_mem_size / 2;
  i.local_mem_size = 65536;
  i.max_constant = 65536;
  i.cache_size = 1 << 20;
  i.name = "Host CPU (SYCL stand-in)";
  i.vendor = "qez";
  i.driver_version = "1.0";
  i.version = "1.0";
  i.profile = "FULL_PROFILE";
  const auto all = fp_configs(CL_FP_DENORM | CL_FP_INF_NAN | CL_FP_ROUND_TO_NEAREST | CL_FP_ROUND_TO_ZERO |
                              CL_FP_ROUND_TO_INF | CL_FP_FMA | CL_FP_CORRECTLY_ROUNDED_DIVIDE_SQRT);
  i.single_fp = all;
  i.double_fp = all;
  i.svm = CL_DEVICE_SVM_COARSE_GRAIN_BUFFER | CL_DEVICE_SVM_FINE_GRAIN_BUFFER | CL_DEVICE_SVM_FINE_GRAIN_SYSTEM |
          CL_DEVICE_SVM_ATOMICS;
  return d;
}

struct registry {
  std::vector<std::shared_ptr<platform_impl>> platforms;
  std::shared_ptr<device_impl> host;
  std::mutex m;
  std::vector<std::shared_ptr<device_impl>> extra;  // sub-devices met through interop
};

registry& reg() {
  // Never destroyed: runtime objects may outlive static destruction.
  static registry* r = [] {
    auto* rg = new registry;
    cl_uint np = 0;
    if (clGetPlatformIDs(0, nullptr, &np) == CL_SUCCESS && np > 0) {
      std::vector<cl_platform_id> ids(np);
      clGetPlatformIDs(np, ids.data(), nullptr);
      for (cl_platform_id pid : ids) {
        auto p = std::make_shared<platform_impl>();
        p->cl = pid;
        p->name = platform_string(pid, CL_PLATFORM_NAME);
        p->vendor = platform_string(pid, CL_PLATFORM_VENDOR);
        p->version = platform_string(pid, CL_PLATFORM_VERSION);
        p->profile = platform_string(pid, CL_PLATFORM_PROFILE);
        cl_uint nd = 0;
        if (clGetDeviceIDs(pid, CL_DEVICE_TYPE_ALL, 0, nullptr, &nd) == CL_SUCCESS && nd > 0) {
          std::vector<cl_device_id> dids(nd);
          clGetDeviceIDs(pid, CL_DEVICE_TYPE_ALL, nd, dids.data(), nullptr);
          for (cl_device_id did : dids) p->devices.push_back(make_cl_device(did, p.get()));
        }
        rg->platforms.push_back(std::move(p));
      }
    }
    // Listed first, so that selectors prefer the Nivolo presentation of a GPU.
    if (const nivolo_driver* driver = loaded_nivolo_driver())
      if (auto np = make_nivolo_platform(*driver, rg->platforms)) rg->platforms.insert(rg->platforms.begin(), np);
    auto hp = std::make_shared<platform_impl>();
    hp->name = "Host platform (SYCL stand-in)";
    hp->vendor = "qez";
    hp->version = "SYCL 2020 stand-in";
    hp->profile = "FULL_PROFILE";
    rg->host = make_host_device(hp.get());
    hp->devices.push_back(rg->host);
    rg->platforms.push_back(std::move(hp));
    return rg;
  }();
  return *r;
}

bool type_matches(info::device_type want, info::device_type have) {
  return want == info::device_type::all || want == have ||
         (want == info::device_type::automatic && have == info::device_type::gpu);
}

}  // namespace

const std::vector<std::shared_ptr<platform_impl>>& all_platforms() { return reg().platforms; }
std::shared_ptr<device_impl> host_device() { return reg().host; }

std::shared_ptr<device_impl> find_device(cl_device_id id) {
  registry& r = reg();
  for (const auto& p : r.platforms)
    for (const auto& d : p->devices)
      if (d->cl == id && !d->nivolo) return d;
  std::lock_guard<std::mutex> lk(r.m);
  for (const auto& d : r.extra)
    if (d->cl == id) return d;
  cl_platform_id pid = nullptr;
  check_cl("clGetDeviceInfo", clGetDeviceInfo(id, CL_DEVICE_PLATFORM, sizeof pid, &pid, nullptr));
  platform_impl* plat = nullptr;
  for (const auto& p : r.platforms)
    if (p->cl == pid && !p->nivolo) plat = p.get();
  if (!plat) throw_error(errc::invalid, "the OpenCL device belongs to no known platform");
  auto d = make_cl_device(id, plat);
  r.extra.push_back(d);
  return d;
}

bool device_impl::has(aspect a) const {
  const bool gpu = info.type == info::device_type::gpu;
  switch (a) {
    case aspect::cpu: return info.type == info::device_type::cpu;
    case aspect::gpu: return gpu;
    case aspect::accelerator: return info.type == info::device_type::accelerator;
    case aspect::fp16: return !info.half_fp.empty();
    case aspect::fp64: return !info.double_fp.empty();
    case aspect::atomic64:
      return is_host() || info.extensions.find("cl_khr_int64_base_atomics") != std::string::npos;
    case aspect::online_compiler:
    case aspect::online_linker: return !is_host();
    case aspect::queue_profiling:
    case aspect::usm_device_allocations: return true;  // SVM, else mirrored OpenCL buffers
    case aspect::usm_host_allocations:
    case aspect::usm_shared_allocations: return is_host() || (info.svm & CL_DEVICE_SVM_FINE_GRAIN_BUFFER);
    case aspect::usm_atomic_host_allocations:
    case aspect::usm_atomic_shared_allocations: return is_host() || (info.svm & CL_DEVICE_SVM_ATOMICS);
    case aspect::usm_system_allocations: return is_host() || (info.svm & CL_DEVICE_SVM_FINE_GRAIN_SYSTEM);
    case aspect::ext_tavir_device_info: return info.has_tavir;
    default: return false;
  }
}

// ---- Information queries --------------------------------------------------------

template <>
void get_device_info<uint32_t>(const device_impl& d, info_id id, uint32_t* r) {
  const device_info_cache& i = d.info;
  auto tavir = [&](uint32_t v) {
    if (!i.has_tavir) throw_error(errc::invalid, "the device does not answer GPU geometry queries");
    return v;
  };
  switch (id) {
    case info_id::vendor_id: *r = i.vendor_id; return;
    case info_id::max_compute_units: *r = i.max_compute_units; return;
    case info_id::max_work_item_dimensions: *r = i.max_work_item_dimensions; return;
    case info_id::max_num_sub_groups: *r = i.max_num_sub_groups; return;
    case info_id::max_clock_frequency: *r = i.max_clock_frequency; return;
    case info_id::address_bits: *r = i.address_bits; return;
    case info_id::mem_base_addr_align: *r = i.mem_base_addr_align; return;
    case info_id::global_mem_cache_line_size: *r = i.cache_line; return;
    case info_id::partition_max_sub_devices: *r = i.partition_max_sub_devices; return;
    case info_id::gpu_eu_count: *r = tavir(i.eu_count); return;
    case info_id::gpu_slices: *r = tavir(i.slices); return;
    case info_id::gpu_subslices_per_slice: *r = tavir(i.sub_slices); return;
    case info_id::gpu_eu_count_per_subslice: *r = tavir(i.eus_per_sub_slice); return;
    case info_id::gpu_hw_threads_per_eu: *r = tavir(i.threads_per_eu); return;
    case info_id::gpu_device_id: *r = tavir(i.pci_id); return;
    case info_id::gpu_ip_version:
      if (!i.ip_version) throw_error(errc::invalid, "the device reports no IP version");
      *r = *i.ip_version;
      return;
    default: throw_error(errc::invalid, "unsupported device information query");
  }
}
template <>
void get_device_info<unsigned long>(const device_impl& d, info_id id, unsigned long* r) {
  const device_info_cache& i = d.info;
  switch (id) {
    case info_id::max_work_group_size: *r = i.max_work_group_size; return;
    case info_id::max_mem_alloc_size: *r = i.max_mem_alloc_size; return;
    case info_id::global_mem_size: *r = i.global_mem_size; return;
    case info_id::global_mem_cache_size: *r = i.cache_size; return;
    case info_id::local_mem_size: *r = i.local_mem_size; return;
    case info_id::max_constant_buffer_size: *r = i.max_constant; return;
    default: throw_error(errc::invalid, "unsupported device information query");
  }
}
template <>
void get_device_info<bool>(const device_impl&, info_id id, bool* r) {
  if (id != info_id::is_available) throw_error(errc::invalid, "unsupported device information query");
  *r = true;
}
template <>
void get_device_info<std::string>(const device_impl& d, info_id id, std::string* r) {
  const device_info_cache& i = d.info;
  switch (id) {
    case info_id::name: *r = i.name; return;
    case info_id::vendor: *r = i.vendor; return;
    case info_id::driver_version: *r = i.driver_version; return;
    case info_id::version:
    case info_id::backend_version: *r = i.version; return;
    case info_id::profile: *r = i.profile; return;
    default: throw_error(errc::invalid, "unsupported device information query");
  }
}
template <>
void get_device_info<std::vector<size_t>>(const device_impl& d, info_id id, std::vector<size_t>* r) {
  if (id != info_id::sub_group_sizes) throw_error(errc::invalid, "unsupported device information query");
  *r = d.info.sub_group_sizes;
}
template <>
void get_device_info<std::vector<info::fp_config>>(const device_impl& d, info_id id,
                                                   std::vector<info::fp_config>* r) {
  switch (id) {
    case info_id::half_fp_config: *r = d.info.half_fp; return;
    case info_id::single_fp_config: *r = d.info.single_fp; return;
    case info_id::double_fp_config: *r = d.info.double_fp; return;
    default: throw_error(errc::invalid, "unsupported device information query");
  }
}
template <>
void get_device_info<std::vector<info::partition_property>>(const device_impl& d, info_id id,
                                                            std::vector<info::partition_property>* r) {
  if (id != info_id::partition_properties) throw_error(errc::invalid, "unsupported device information query");
  r->clear();
  // The tiles of a Nivolo device are its sub-devices.
  if (d.nivolo && d.info.partition_max_sub_devices > 1)
    r->push_back(info::partition_property::partition_by_affinity_domain);
}
template <>
void get_device_info<info::device_type>(const device_impl& d, info_id id, info::device_type* r) {
  if (id != info_id::device_type) throw_error(errc::invalid, "unsupported device information query");
  *r = d.info.type;
}
template <>
void get_device_info<info::local_mem_type>(const device_impl& d, info_id id, info::local_mem_type* r) {
  if (id != info_id::local_mem_type) throw_error(errc::invalid, "unsupported device information query");
  *r = d.info.local_mem_type;
}
template <int Dims>
void work_item_sizes(const device_impl& d, info_id id, range<Dims>* r) {
  if (id != info_id::max_work_item_sizes) throw_error(errc::invalid, "unsupported device information query");
  // SYCL's last dimension is OpenCL's first.
  for (int k = 0; k < Dims; ++k) (*r)[k] = d.info.max_work_item_sizes[Dims - 1 - k];
}
template <>
void get_device_info<range<1>>(const device_impl& d, info_id id, range<1>* r) {
  work_item_sizes<1>(d, id, r);
}
template <>
void get_device_info<range<2>>(const device_impl& d, info_id id, range<2>* r) {
  work_item_sizes<2>(d, id, r);
}
template <>
void get_device_info<range<3>>(const device_impl& d, info_id id, range<3>* r) {
  work_item_sizes<3>(d, id, r);
}
template <>
void get_device_info<std::vector<aspect>>(const device_impl& d, info_id id, std::vector<aspect>* r) {
  if (id != info_id::aspects) throw_error(errc::invalid, "unsupported device information query");
  r->clear();
  for (int a = 1; a <= 35; ++a)
    if (d.has(static_cast<aspect>(a))) r->push_back(static_cast<aspect>(a));
}

template <>
void get_platform_info<std::string>(const platform_impl& p, info_id id, std::string* r) {
  switch (id) {
    case info_id::platform_name: *r = p.name; return;
    case info_id::platform_vendor: *r = p.vendor; return;
    case info_id::platform_version: *r = p.version; return;
    case info_id::platform_profile: *r = p.profile; return;
    default: throw_error(errc::invalid, "unsupported platform information query");
  }
}

device select_device(const std::function<int(const device&)>& selector) {
  std::shared_ptr<device_impl> best;
  int best_score = -1;
  for (const auto& p : all_platforms())
    for (const auto& d : p->devices) {
      const int s = selector(device(d));
      if (s >= 0 && s > best_score) {
        best = d;
        best_score = s;
      }
    }
  if (!best) throw_error(errc::runtime, "No device of requested type available.");
  return device(best);
}

}  // namespace detail

// ---- Selectors -----------------------------------------------------------------

int default_selector_v(const device& dev) {
  if (dev.is_gpu()) return 500;
  if (dev.is_cpu()) return 300;
  return 100;
}
int gpu_selector_v(const device& dev) { return dev.is_gpu() ? 1000 : -1; }
int cpu_selector_v(const device& dev) { return dev.is_cpu() ? 1000 : -1; }
int accelerator_selector_v(const device& dev) { return dev.is_accelerator() ? 1000 : -1; }

// ---- platform ------------------------------------------------------------------

platform::platform() : platform(device(default_selector_v).get_platform()) {}
backend platform::get_backend() const noexcept { return impl_->get_backend(); }
std::vector<device> platform::get_devices(info::device_type type) const {
  std::vector<device> r;
  for (const auto& d : impl_->devices)
    if (detail::type_matches(type, d->info.type)) r.push_back(device(d));
  return r;
}
bool platform::has(aspect a) const {
  for (const auto& d : impl_->devices)
    if (!d->has(a)) return false;
  return !impl_->devices.empty();
}
std::vector<platform> platform::get_platforms() {
  std::vector<platform> r;
  for (const auto& p : detail::all_platforms()) r.push_back(platform(p));
  return r;
}

// ---- device --------------------------------------------------------------------

device::device() : device(detail::select_device(default_selector_v)) {}
bool device::is_cpu() const { return impl_->info.type == info::device_type::cpu; }
bool device::is_gpu() const { return impl_->info.type == info::device_type::gpu; }
bool device::is_accelerator() const { return impl_->info.type == info::device_type::accelerator; }
backend device::get_backend() const noexcept { return impl_->get_backend(); }
bool device::has(aspect a) const { return impl_->has(a); }
std::vector<device> device::get_devices(info::device_type type) {
  std::vector<device> r;
  for (const auto& p : detail::all_platforms())
    for (const auto& d : p->devices)
      if (detail::type_matches(type, d->info.type)) r.push_back(device(d));
  return r;
}
std::vector<device> device::sub_devices_by_affinity(info::partition_affinity_domain domain) const {
  if (domain != info::partition_affinity_domain::next_partitionable &&
      domain != info::partition_affinity_domain::numa)
    detail::throw_error(errc::feature_not_supported, "the device is partitioned by tiles only");
  if (!impl_->nivolo || impl_->info.partition_max_sub_devices < 2)
    detail::throw_error(errc::feature_not_supported, "the device cannot be partitioned");
  std::vector<device> r;
  for (const auto& sub : detail::nivolo_sub_devices(*impl_)) r.push_back(device(sub));
  return r;
}
platform device::get_platform() const {
  for (const auto& p : detail::all_platforms())
    if (p.get() == impl_->platform) return platform(p);
  detail::throw_error(errc::runtime, "the device's platform is unknown");
}

}  // namespace _V1
}  // namespace sycl
