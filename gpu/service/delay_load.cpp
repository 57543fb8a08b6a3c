// The delayed-import routine, its notification hook and the stubs of the
// threading-layer functions.
#include "gpu/service/delay_load.hpp"

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "dft/api/descriptor_record.hpp"
#include "gpu/service/safe_routines.hpp"
#include "qez_dft_engine.h"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr std::size_t max_path = 260;
constexpr char product_prefix[] = "qez_";
constexpr char default_layer[] = "qez_vorp_thread";
constexpr char threading_layer_file[] = "qez_vorp_thread.3.dll";
// Alternative layers, in order of preference, used when already loaded.
constexpr const char* alternative_layers[] = {"qez_tavir_thread.3.dll", "qez_sequential.3.dll"};
constexpr win::DWORD safe_current_directories = 0x2000;

// ---------------------------------------------------------------------------
// The directory of this library, found once.

wchar_t module_directory[max_path];
std::atomic<std::uint32_t> directory_known{0};
std::atomic<std::uint32_t> directory_lock{0};

class spin_guard {
public:
  explicit spin_guard(std::atomic<std::uint32_t>& word) : word_(word) {
    std::uint32_t expected = 0;
    while (!word_.compare_exchange_weak(expected, 1, std::memory_order_acquire)) {
      expected = 0;
      __builtin_ia32_pause();
    }
  }
  ~spin_guard() { word_.store(0, std::memory_order_release); }
  spin_guard(const spin_guard&) = delete;
  spin_guard& operator=(const spin_guard&) = delete;

private:
  std::atomic<std::uint32_t>& word_;
};

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

void find_module_directory() {
  spin_guard lock(directory_lock);
  if (directory_known.load(std::memory_order_relaxed)) return;
  win::HMODULE self = nullptr;
  const win::DWORD by_address_unchanged = win::GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          win::GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (!win::GetModuleHandleExW(by_address_unchanged,
                               reinterpret_cast<const wchar_t*>(&find_module_directory), &self))
    return;
  wchar_t path[max_path];
  const win::DWORD length = win::GetModuleFileNameW(self, path, max_path);
  if (length == 0 || length > max_path - 1) return;
  std::size_t cut = 0;  // just after the last separator; 0 when there is none
  for (std::size_t i = 0; i < length; ++i)
    if (is_separator(path[i])) cut = i + 1;
  std::wmemcpy(module_directory, path, cut);
  module_directory[cut] = L'\0';
  directory_known.store(1, std::memory_order_release);
}

// Directory followed by the file name, at most 259 characters.
std::wstring full_path(const char* file_name) {
  std::wstring path(module_directory);
  wchar_t wide[max_path];
  const int n = win::MultiByteToWideChar(0, 0, file_name, -1, wide, static_cast<int>(max_path));
  if (n > 0 && static_cast<std::size_t>(n) < max_path) path += wide;
  if (path.size() > max_path - 1) path.resize(max_path - 1);
  return path;
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// ---------------------------------------------------------------------------
// The module behind the stubs.

std::once_flag module_once;
win::HMODULE module_handle = nullptr;

[[noreturn]] void module_not_found(const char* name) {
  std::fprintf(stderr, "QEZ ERROR: cannot load %s\n", name);
  fatal_exit(delay_load_module_not_found);
}

[[noreturn]] void entry_point_not_found(const char* name) {
  std::fprintf(stderr, "QEZ ERROR: cannot find %s in %s\n", name, threading_layer_file);
  fatal_exit(delay_load_module_not_found + 1);
}

template <class F>
F resolve(std::atomic<F>& slot, const char* name) {
  F f = slot.load(std::memory_order_acquire);
  if (f == nullptr) {
    f = reinterpret_cast<F>(win::GetProcAddress(threading_layer_module(), name));
    if (f == nullptr) entry_point_not_found(name);
    slot.store(f, std::memory_order_release);
  }
  return f;
}

}  // namespace

win::HMODULE threading_layer_preload_hook(unsigned notification, const delay_load_info* info) {
  if (notification != delay_load_before_library_load) return nullptr;
  if (info == nullptr || info->library_name == nullptr) return nullptr;
  const char* name = info->library_name;
  if (!starts_with(name, product_prefix)) return nullptr;
  if (!directory_known.load(std::memory_order_acquire)) find_module_directory();
  if (!directory_known.load(std::memory_order_acquire)) return nullptr;
  if (starts_with(name, default_layer)) {
    for (const char* alternative : alternative_layers)
      if (win::HMODULE loaded = win::GetModuleHandleW(full_path(alternative).c_str())) return loaded;
    if (win::HMODULE loaded = win::GetModuleHandleW(full_path(name).c_str())) return loaded;
  }
  return win::LoadLibraryExW(full_path(name).c_str(), nullptr, safe_current_directories);
}

win::HMODULE delay_load_library(const char* name, delay_load_hook hook) {
  const delay_load_info info{name};
  if (hook)
    if (win::HMODULE module = hook(delay_load_before_library_load, &info)) return module;
  return win::LoadLibraryExA(name, nullptr, 0);
}

win::HMODULE threading_layer_module() {
  std::call_once(module_once, [] {
    module_handle = delay_load_library(threading_layer_file, threading_layer_preload_hook);
    if (module_handle == nullptr) module_not_found(threading_layer_file);
  });
  return module_handle;
}

}  // namespace ulmara::qez::gpu

// ---------------------------------------------------------------------------
// Stubs, one per row of the import table.

using ulmara::qez::gpu::resolve;

extern "C" {

#define QEZ_THREADING_IMPORT(ret, name, params, args)                    \
  ret name params {                                                      \
    using fn = ret(*) params;                                            \
    static std::atomic<fn> slot{nullptr};                                \
    return ulmara::qez::gpu::resolve(slot, #name) args;                  \
  }
#include "gpu/service/threading_layer_imports.inc"
#undef QEZ_THREADING_IMPORT

// The printing functions take `count` string arguments after the fixed ones;
// the stubs pass them on as they came.
constexpr int max_string_arguments = 8;

int qez_serv_format_print(int stream, const char* format, int count, ...) {
  using fn = int (*)(int, const char*, int, ...);
  static std::atomic<fn> slot{nullptr};
  const char* s[max_string_arguments] = {};
  va_list args;
  va_start(args, count);
  for (int i = 0; i < count && i < max_string_arguments; ++i) s[i] = va_arg(args, const char*);
  va_end(args);
  return resolve(slot, "qez_serv_format_print")(stream, format, count, s[0], s[1], s[2], s[3], s[4],
                                                s[5], s[6], s[7]);
}

void qez_serv_print(int reserved, int message, int count, ...) {
  using fn = void (*)(int, int, int, ...);
  static std::atomic<fn> slot{nullptr};
  const char* s[max_string_arguments] = {};
  va_list args;
  va_start(args, count);
  for (int i = 0; i < count && i < max_string_arguments; ++i) s[i] = va_arg(args, const char*);
  va_end(args);
  resolve(slot, "qez_serv_print")(reserved, message, count, s[0], s[1], s[2], s[3], s[4], s[5], s[6],
                                  s[7]);
}

}  // extern "C"
