// Bounded memory and string routines used instead of the unbounded standard
// ones wherever caller-supplied memory or text is copied, compared or
// measured, and the bounded formatted append that builds verbose lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace ulmara {
namespace qez {
namespace gpu {

constexpr std::size_t safe_memory_limit = 0x10000000;  // bytes
constexpr std::size_t safe_string_limit = 4096;        // characters

enum safe_status : int {
  safe_ok = 0,
  safe_null_pointer = 400,
  safe_zero_size = 401,
  safe_size_over_limit = 403,
  safe_overlap = 404,
  safe_no_space = 406,
};

int safe_memcpy(void* dest, std::size_t dmax, const void* src, std::size_t slen);
int safe_memmove(void* dest, std::size_t dmax, const void* src, std::size_t slen);
int safe_memcmp(const void* dest, std::size_t dmax, const void* src, std::size_t slen, int* diff);
int safe_strcpy(char* dest, std::size_t dmax, const char* src);
std::size_t safe_strnlen(const char* str, std::size_t smax);

// Formats at `position`, writing at most *free characters plus a NUL; returns
// the position of the NUL and lowers *free accordingly. A cut text leaves
// *free at 0.
char* append_format(char* position, std::size_t* free, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

[[noreturn]] void fatal_exit(std::uint32_t code);
std::FILE* open_file(const char* path, const char* mode);
int close_file(std::FILE* file);

}  // namespace gpu
}  // namespace qez
}  // namespace ulmara

namespace ulmara {
namespace qez {
namespace gpu {

// Called on every violation with "<routine>: <condition>", the destination
// (or null) and the result code. The installed handlers ignore the call;
// tests install their own to observe violations.
using constraint_handler = void (*)(const char* message, void* dest, int code);
constraint_handler set_memory_constraint_handler(constraint_handler handler);
constraint_handler set_string_constraint_handler(constraint_handler handler);

}  // namespace gpu
}  // namespace qez
}  // namespace ulmara
