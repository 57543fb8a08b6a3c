// Bounded memory and string routines of the _s family, and the helpers that
// build verbose lines and open the verbose file.
#include "gpu/service/safe_routines.hpp"

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "platform/win/win_shim.hpp"

namespace ulmara::qez::gpu {
namespace {

void ignore_violation(const char*, void*, int) {}

std::atomic<constraint_handler> memory_handler{ignore_violation};
std::atomic<constraint_handler> string_handler{ignore_violation};

int memory_violation(const char* message, void* dest, int code) {
  memory_handler.load()(message, dest, code);
  return code;
}

int string_violation(const char* message, void* dest, int code) {
  string_handler.load()(message, dest, code);
  return code;
}

// True when one object starts strictly inside the other.
bool overlaps(const unsigned char* dest, std::size_t dmax, const unsigned char* src,
              std::size_t slen) {
  return (src > dest && src < dest + dmax) || (dest > src && dest < src + slen);
}

// Steps shared by memcpy_s and memmove_s: every check before the copy itself.
// Returns safe_ok when the copy may proceed.
int check_copy(const char* routine_checks[5], void* dest, std::size_t dmax, const void* src,
               std::size_t slen) {
  if (dest == nullptr) return memory_violation(routine_checks[0], nullptr, safe_null_pointer);
  if (dmax == 0) return memory_violation(routine_checks[1], dest, safe_zero_size);
  if (dmax > safe_memory_limit)
    return memory_violation(routine_checks[2], dest, safe_size_over_limit);
  if (src == nullptr) {
    std::memset(dest, 0, dmax);
    return memory_violation(routine_checks[3], dest, safe_null_pointer);
  }
  if (slen > dmax) {
    std::memset(dest, 0, dmax);
    return memory_violation(routine_checks[4], dest,
                            slen > safe_memory_limit ? safe_size_over_limit : safe_no_space);
  }
  return safe_ok;
}

int memcpy_s(void* dest, std::size_t dmax, const void* src, std::size_t slen) {
  if (slen == 0) return safe_ok;
  static const char* checks[5] = {"memcpy_s: dest is null", "memcpy_s: dmax is 0",
                                  "memcpy_s: dmax exceeds max", "memcpy_s: src is null",
                                  "memcpy_s: slen exceeds max"};
  if (int code = check_copy(checks, dest, dmax, src, slen)) return code;
  auto* d = static_cast<unsigned char*>(dest);
  auto* s = static_cast<const unsigned char*>(src);
  if (overlaps(d, dmax, s, slen)) {
    std::memset(dest, 0, dmax);
    return memory_violation("memcpy_s: overlap undefined", dest, safe_overlap);
  }
  if (d != s) std::memcpy(d, s, slen);
  return safe_ok;
}

int memmove_s(void* dest, std::size_t dmax, const void* src, std::size_t slen) {
  if (slen == 0) return safe_ok;
  static const char* checks[5] = {"memmove_s: dest is null", "memmove_s: dmax is 0",
                                  "memmove_s: dmax exceeds max", "memmove_s: src is null",
                                  "memmove_s: slen exceeds max"};
  if (int code = check_copy(checks, dest, dmax, src, slen)) return code;
  std::memmove(dest, src, slen);
  return safe_ok;
}

int memcmp_s(const void* dest, std::size_t dmax, const void* src, std::size_t slen, int* diff) {
  if (diff == nullptr) return memory_violation("memcmp_s: diff is null", nullptr, safe_null_pointer);
  *diff = -1;
  void* d = const_cast<void*>(dest);
  if (dest == nullptr) return memory_violation("memcmp_s: dest is null", nullptr, safe_null_pointer);
  if (src == nullptr) return memory_violation("memcmp_s: src is null", d, safe_null_pointer);
  if (dmax == 0) return memory_violation("memcmp_s: dmax is 0", d, safe_zero_size);
  if (dmax > safe_memory_limit)
    return memory_violation("memcmp_s: dmax exceeds max", d, safe_size_over_limit);
  if (slen == 0) return memory_violation("memcmp_s: slen is 0", d, safe_zero_size);
  if (slen > safe_memory_limit)
    return memory_violation("memcmp_s: slen exceeds max", d, safe_size_over_limit);
  if (slen > dmax) return memory_violation("memcmp_s: slen exceeds dmax", d, safe_no_space);
  if (dest == src) {
    *diff = 0;
    return safe_ok;
  }
  auto* a = static_cast<const unsigned char*>(dest);
  auto* b = static_cast<const unsigned char*>(src);
  *diff = 0;
  for (std::size_t i = 0; i < slen; ++i) {
    if (a[i] != b[i]) {
      *diff = a[i] < b[i] ? -1 : 1;
      break;
    }
  }
  return safe_ok;
}

int strcpy_s(char* dest, std::size_t dmax, const char* src) {
  if (dest == nullptr) return string_violation("strcpy_s: dest is null", nullptr, safe_null_pointer);
  if (dmax == 0) return string_violation("strcpy_s: dmax is 0", dest, safe_zero_size);
  if (dmax > safe_string_limit)
    return string_violation("strcpy_s: dmax exceeds max", dest, safe_size_over_limit);
  if (src == nullptr) {
    dest[0] = '\0';
    return string_violation("strcpy_s: src is null", dest, safe_null_pointer);
  }
  if (dest == src) return safe_ok;
  // Copy byte by byte, refusing as soon as the write reaches the source or
  // the read reaches the destination.
  const char* overlap_guard = dest < src ? src : dest;
  char* write = dest;
  const char* read = src;
  for (std::size_t left = dmax; left > 0; --left) {
    if ((dest < src && write == overlap_guard) || (src < dest && read == overlap_guard)) {
      dest[0] = '\0';
      return string_violation("strcpy_s: overlapping objects", dest, safe_overlap);
    }
    *write = *read;
    if (*write == '\0') return safe_ok;
    ++write;
    ++read;
  }
  dest[0] = '\0';
  return string_violation("strcpy_s: not enough space for src", dest, safe_no_space);
}

std::size_t strnlen_s(const char* str, std::size_t smax) {
  if (str == nullptr) {
    string_violation("strnlen_s: str is null", nullptr, safe_null_pointer);
    return 0;
  }
  if (smax == 0) {
    string_violation("strnlen_s: smax is 0", nullptr, safe_zero_size);
    return 0;
  }
  if (smax > safe_string_limit) {
    string_violation("strnlen_s: smax exceeds max", nullptr, safe_size_over_limit);
    return 0;
  }
  std::size_t length = 0;
  while (length < smax && str[length] != '\0') ++length;
  return length;
}

}  // namespace

constraint_handler set_memory_constraint_handler(constraint_handler handler) {
  return memory_handler.exchange(handler ? handler : ignore_violation);
}
constraint_handler set_string_constraint_handler(constraint_handler handler) {
  return string_handler.exchange(handler ? handler : ignore_violation);
}

int safe_memcpy(void* dest, std::size_t dmax, const void* src, std::size_t slen) {
  return memcpy_s(dest, dmax, src, slen);
}
int safe_memmove(void* dest, std::size_t dmax, const void* src, std::size_t slen) {
  return memmove_s(dest, dmax, src, slen);
}
int safe_memcmp(const void* dest, std::size_t dmax, const void* src, std::size_t slen, int* diff) {
  return memcmp_s(dest, dmax, src, slen, diff);
}
int safe_strcpy(char* dest, std::size_t dmax, const char* src) {
  return strcpy_s(dest, dmax, src);
}
std::size_t safe_strnlen(const char* str, std::size_t smax) { return strnlen_s(str, smax); }

char* append_format(char* position, std::size_t* free, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(position, *free + 1, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) <= *free) {
    *free -= static_cast<std::size_t>(n);
    return position + n;
  }
  // Cut or failed: the buffer holds what fit, and nothing more is added.
  char* end = position + *free;
  *end = '\0';
  *free = 0;
  return end;
}

void fatal_exit(std::uint32_t code) {
  win::TerminateProcess(win::GetCurrentProcess(), code);
  __builtin_unreachable();
}

std::FILE* open_file(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  return std::fopen(path, mode);
}

int close_file(std::FILE* file) { return std::fclose(file); }

}  // namespace ulmara::qez::gpu
