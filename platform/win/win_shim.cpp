// Loader and process calls on dlopen, dlsym, dladdr and _exit.
#include "platform/win/win_shim.hpp"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace win {
namespace {

// Target names whose stand-ins do not follow the generic pattern.
struct name_mapping {
  const char* target;
  const char* here;
};
constexpr name_mapping special_names[] = {
    {"opencl.dll", "libqez_gpu_profile.so"},  // the GPU profile layer over PoCL
    {"qx_loader.dll", "libqez_qx_loader.so"}, // no Nivolo driver here; tests supply a double
    {"omptarget.dll", "libqez_omptarget.so"}, // no offload runtime here; tests supply a double
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string narrow(const wchar_t* wide) {
  std::string text;
  for (; wide && *wide; ++wide) {
    const auto c = static_cast<std::uint32_t>(*wide);
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (c >> 18));
      text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

// Splits "dir\\name.dll" or "dir/name.dll" into directory and file name.
void split_path(const std::string& path, std::string* dir, std::string* file) {
  const auto slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    dir->clear();
    *file = path;
  } else {
    *dir = path.substr(0, slash);
    std::replace(dir->begin(), dir->end(), '\\', '/');
    *file = path.substr(slash + 1);
  }
}

std::string directory_of_this_module() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&directory_of_this_module), &info) == 0 ||
      info.dli_fname == nullptr)
    return std::string();
  std::string dir, file;
  split_path(info.dli_fname, &dir, &file);
  return dir;
}

HMODULE open_at(const std::string& dir, const std::string& file) {
  const std::string path = dir.empty() ? file : dir + "/" + file;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

std::string mapped_library_name(const std::string& name) {
  const std::string key = lower(name);
  for (const auto& m : special_names)
    if (key == m.target) return m.here;
  // "name.3.dll" -> "libname.so.3", "name.dll" -> "libname.so"
  if (!ends_with(key, ".dll")) return name;
  std::string stem = name.substr(0, name.size() - 4);
  const auto dot = stem.find_last_of('.');
  if (dot != std::string::npos && dot + 1 < stem.size() &&
      std::all_of(stem.begin() + dot + 1, stem.end(), ::isdigit))
    return "lib" + stem.substr(0, dot) + ".so" + stem.substr(dot);
  return "lib" + stem + ".so";
}

std::string system_directory() {
  if (const char* dir = std::getenv("STANDIN_SYSTEM_DIR")) return dir;
  return "/nonexistent-system-directory";
}

HMODULE LoadLibraryExA(const char* name, HANDLE, DWORD flags) {
  if (name == nullptr || *name == '\0') return nullptr;
  std::string dir, file;
  split_path(name, &dir, &file);
  file = mapped_library_name(file);
  if (!dir.empty()) return open_at(dir, file);
  if (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) return open_at(system_directory(), file);
  // Default order: the calling library's own directory, then the loader's
  // usual search path.
  if (HMODULE module = open_at(directory_of_this_module(), file)) return module;
  return open_at(std::string(), file);
}

HMODULE LoadLibraryExW(const wchar_t* name, HANDLE reserved, DWORD flags) {
  if (name == nullptr) return nullptr;
  return LoadLibraryExA(narrow(name).c_str(), reserved, flags);
}

BOOL FreeLibrary(HMODULE module) { return module && dlclose(module) == 0; }

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

HMODULE GetModuleHandleA(const char* name) {
  if (name == nullptr) return dlopen(nullptr, RTLD_NOW);
  std::string dir, file;
  split_path(name, &dir, &file);
  file = mapped_library_name(file);
  const std::string path = dir.empty() ? file : dir + "/" + file;
  HMODULE module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module) dlclose(module);  // a module handle does not hold a reference
  return module;
}

HMODULE GetModuleHandleW(const wchar_t* name) {
  if (name == nullptr) return GetModuleHandleA(nullptr);
  return GetModuleHandleA(narrow(name).c_str());
}

BOOL GetModuleHandleExW(DWORD flags, const wchar_t* name_or_address, HMODULE* module) {
  if (module == nullptr) return 0;
  *module = nullptr;
  if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(name_or_address), &info) == 0) return 0;
    *module = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    // The executable itself is not reachable by its path, only as "null".
    if (*module == nullptr) *module = dlopen(nullptr, RTLD_NOW);
    // dlopen took a reference; drop it unless the caller asked to keep one.
    if (*module && (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) dlclose(*module);
    return *module != nullptr;
  }
  *module = GetModuleHandleW(name_or_address);
  return *module != nullptr;
}

DWORD GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  std::string path;
  link_map* map = nullptr;
  if (module != nullptr && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name &&
      map->l_name[0] != '\0') {
    path = map->l_name;
  } else {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return 0;
    path.assign(exe, static_cast<std::size_t>(n));
  }
  // Like the target: cut to size - 1 characters, NUL-terminated, and return
  // size when the name did not fit.
  const std::size_t n = std::min<std::size_t>(path.size(), size - 1);
  for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<unsigned char>(path[i]);
  buffer[n] = L'\0';
  return path.size() >= size ? size : static_cast<DWORD>(n);
}

int MultiByteToWideChar(UINT, DWORD, const char* text, int length, wchar_t* wide,
                        int wide_length) {
  if (text == nullptr) return 0;
  const std::size_t n = length < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
  // Decode UTF-8 (ASCII in practice: driver and library paths).
  std::wstring out;
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::uint32_t code = c;
    std::size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (i + extra >= n) extra = 0;  // a cut sequence passes as one unit
    if (extra) code = c & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k)
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out += static_cast<wchar_t>(code);
    i += 1 + extra;
  }
  if (wide_length == 0) return static_cast<int>(out.size());
  if (wide == nullptr || out.size() > static_cast<std::size_t>(wide_length)) return 0;
  std::copy(out.begin(), out.end(), wide);
  return static_cast<int>(out.size());
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

BOOL TerminateProcess(HANDLE, UINT exit_code) { _exit(static_cast<int>(exit_code)); }

}  // namespace win
