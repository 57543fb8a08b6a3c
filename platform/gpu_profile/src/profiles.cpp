// The built-in GPU profiles and the choice of one per process.
#include "profile_internal.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// One row per recognised generation (the library's IP-version table decodes
// each ip_version to the generation in `arch`), then the unknown GPU.
// Geometry: eu_count = slices x sub-slices per slice x EUs per sub-slice.
//                  name       device name                                   arch ip?  ip version                 pci id  EUs  sl ss/sl eu/ss thr  #sg  sub-group sizes  max wg  local mem  tiles fp64  max alloc, cache (0: the device's)
const qez_gpu_profile_t k_profiles[] = {
    {"vemra",   "Tavir(R) Vemra Graphics (PoCL stand-in)",   1, 1, QEZ_GPU_IP_VERSION(9, 0, 2),   0x1912,  24, 1,  3,  8, 7, 3, {8, 16, 32},  256,  65536, 1, 1, 0, 0},
    {"sutal",   "Tavir(R) Sutal Graphics (PoCL stand-in)",   2, 1, QEZ_GPU_IP_VERSION(11, 0, 0),  0x8A52,  64, 1,  8,  8, 7, 3, {8, 16, 32},  256,  65536, 1, 1, 0, 0},
    {"dorik",   "Tavir(R) Dorik Graphics (PoCL stand-in)",   3, 1, QEZ_GPU_IP_VERSION(12, 0, 1),  0x9A49,  96, 1,  6, 16, 7, 3, {8, 16, 32},  512,  65536, 1, 1, 0, 0},
    {"fenwa",   "Tavir(R) Fenwa Graphics (PoCL stand-in)",   4, 1, QEZ_GPU_IP_VERSION(12, 50, 4), 0x0201, 512, 1, 32, 16, 8, 3, {8, 16, 32}, 1024, 131072, 1, 1, 0, 0},
    {"gulon",   "Tavir(R) Gulon Graphics (PoCL stand-in)",   5, 1, QEZ_GPU_IP_VERSION(12, 55, 8), 0x56A0, 512, 8,  4, 16, 8, 3, {8, 16, 32}, 1024,  65536, 1, 1, 0, 0},
    {"harix",   "Tavir(R) Harix Graphics (PoCL stand-in)",   6, 1, QEZ_GPU_IP_VERSION(12, 60, 7), 0x0BD5, 448, 1, 56,  8, 8, 2, {16, 32},    1024, 131072, 1, 1, 0, 0},
    {"jorva",   "Tavir(R) Jorva Graphics (PoCL stand-in)",   7, 1, QEZ_GPU_IP_VERSION(20, 1, 4),  0xE20B, 160, 1, 20,  8, 8, 2, {16, 32},    1024, 131072, 1, 1, 0, 0},
    {"lumet",   "Tavir(R) Lumet Graphics (PoCL stand-in)",   8, 1, QEZ_GPU_IP_VERSION(30, 0, 4),  0xB080, 192, 1, 24,  8, 8, 2, {16, 32},    1024, 131072, 1, 1, 0, 0},
    {"nopra",   "Tavir(R) Nopra Graphics (PoCL stand-in)",   9, 1, QEZ_GPU_IP_VERSION(35, 0, 0),  0xC0A0, 256, 1, 32,  8, 8, 2, {16, 32},    1024, 131072, 1, 1, 0, 0},
    {"unknown", "Tavir(R) Graphics (PoCL stand-in)",         0, 0, 0,                             0x0000,  32, 1,  4,  8, 7, 3, {8, 16, 32},  512,  65536, 1, 1, 0, 0},
};
constexpr uint32_t k_profile_count = sizeof(k_profiles) / sizeof(k_profiles[0]);

bool parse_unsigned(const char* text, unsigned long long* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

void warn_bad(const char* var, const char* value) {
  std::fprintf(stderr, "qez_gpu_profile: ignoring %s=\"%s\" (not a valid value)\n", var, value);
}

template <class T>
void override_number(const char* var, T* field) {
  const char* v = std::getenv(var);
  if (!v || !*v) return;
  unsigned long long n = 0;
  if (parse_unsigned(v, &n) && n > 0)
    *field = static_cast<T>(n);
  else
    warn_bad(var, v);
}

// 0 or 1.
void override_flag(const char* var, uint32_t* field) {
  const char* v = std::getenv(var);
  if (!v || !*v) return;
  unsigned long long n = 0;
  if (parse_unsigned(v, &n) && n <= 1)
    *field = static_cast<uint32_t>(n);
  else
    warn_bad(var, v);
}

void override_sub_group_sizes(qez_gpu_profile_t* p) {
  const char* v = std::getenv(QEZ_GPU_PROFILE_ENV_SUB_GROUP_SIZES);
  if (!v || !*v) return;
  size_t sizes[4] = {};
  uint32_t count = 0;
  const char* s = v;
  while (*s) {
    char* end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(s, &end, 10);
    if (errno != 0 || end == s || n == 0 || count == 4 || (count && n <= sizes[count - 1])) {
      warn_bad(QEZ_GPU_PROFILE_ENV_SUB_GROUP_SIZES, v);
      return;
    }
    sizes[count++] = static_cast<size_t>(n);
    s = end;
    if (*s == ',') ++s;
    else if (*s) {
      warn_bad(QEZ_GPU_PROFILE_ENV_SUB_GROUP_SIZES, v);
      return;
    }
  }
  p->num_sub_group_sizes = count;
  std::memcpy(p->sub_group_sizes, sizes, sizeof sizes);
}

struct active_state {
  qez_gpu_profile_t profile{};
  bool valid = false;
};

const active_state& active() {
  static const active_state state = [] {
    active_state s;
    const char* name = std::getenv(QEZ_GPU_PROFILE_ENV);
    if (!name || !*name) name = QEZ_GPU_PROFILE_DEFAULT_NAME;
    const qez_gpu_profile_t* base = qez_gpu_profile_find(name);
    if (!base) {
      std::fprintf(stderr,
                   "qez_gpu_profile: %s=\"%s\" names no profile; OpenCL reports no platform. Profiles:",
                   QEZ_GPU_PROFILE_ENV, name);
      for (uint32_t i = 0; i < k_profile_count; ++i) std::fprintf(stderr, " %s", k_profiles[i].name);
      std::fprintf(stderr, "\n");
      return s;
    }
    s.profile = *base;
    override_sub_group_sizes(&s.profile);
    override_number(QEZ_GPU_PROFILE_ENV_EU_COUNT, &s.profile.eu_count);
    override_number(QEZ_GPU_PROFILE_ENV_LOCAL_MEM_SIZE, &s.profile.local_mem_size);
    override_number(QEZ_GPU_PROFILE_ENV_MAX_WORK_GROUP_SIZE, &s.profile.max_work_group_size);
    override_number(QEZ_GPU_PROFILE_ENV_TILE_COUNT, &s.profile.tile_count);
    override_flag(QEZ_GPU_PROFILE_ENV_FP64, &s.profile.has_fp64);
    override_number(QEZ_GPU_PROFILE_ENV_MAX_MEM_ALLOC_SIZE, &s.profile.max_mem_alloc_size);
    override_number(QEZ_GPU_PROFILE_ENV_GLOBAL_MEM_CACHE_SIZE, &s.profile.global_mem_cache_size);
    s.valid = true;
    return s;
  }();
  return state;
}

}  // namespace

extern "C" {

QEZ_PROFILE_EXPORT uint32_t qez_gpu_profile_count(void) { return k_profile_count; }

QEZ_PROFILE_EXPORT const qez_gpu_profile_t* qez_gpu_profile_at(uint32_t index) {
  return index < k_profile_count ? &k_profiles[index] : nullptr;
}

QEZ_PROFILE_EXPORT const qez_gpu_profile_t* qez_gpu_profile_find(const char* name) {
  if (!name) return nullptr;
  for (const auto& p : k_profiles)
    if (std::strcmp(p.name, name) == 0) return &p;
  return nullptr;
}

QEZ_PROFILE_EXPORT const qez_gpu_profile_t* qez_gpu_profile_active(void) {
  const active_state& s = active();
  return s.valid ? &s.profile : nullptr;
}

QEZ_PROFILE_EXPORT const char* qez_gpu_profile_library_name(void) { return QEZ_GPU_PROFILE_LIBRARY_NAME; }

}  // extern "C"
