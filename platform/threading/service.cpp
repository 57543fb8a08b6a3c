// Service functions of the threading-layer stand-in: aligned memory with
// fault injection, spin locks, verbose mode and output, numbered messages,
// timing.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

#include "qez_service.h"
#include "qez_service_control.h"
#include "qez_standin_output.hpp"

namespace {

// ---------------------------------------------------------------------------
// Memory: each block carries a header just below the address handed out, so
// that realloc keeps the alignment and free finds the raw allocation.

constexpr int default_alignment = 64;

struct block_header {
  void* raw;
  std::size_t size;
  std::size_t alignment;
  std::uint64_t magic;
};
static_assert(sizeof(block_header) == 32, "header keeps 16-byte alignment of the payload");
constexpr std::uint64_t block_magic = 0x716578736572766bULL;

std::atomic<long> live_blocks{0};
std::atomic<long> injection_skip{0};
std::atomic<long> injection_count{0};

bool injected_failure() {
  if (injection_count.load() == 0) return false;
  if (injection_skip.load() > 0) {
    injection_skip.fetch_sub(1);
    return false;
  }
  long count = injection_count.load();
  if (count > 0) injection_count.fetch_sub(1);
  return true;
}

std::size_t normalised_alignment(int alignment) {
  std::size_t a = alignment <= 0 ? default_alignment : static_cast<std::size_t>(alignment);
  if ((a & (a - 1)) != 0) return 0;  // not a power of two
  return std::max<std::size_t>(a, 16);
}

block_header* header_of(void* block) { return static_cast<block_header*>(block) - 1; }

void* aligned_block(std::size_t size, int alignment) {
  const std::size_t a = normalised_alignment(alignment);
  if (a == 0 || injected_failure()) return nullptr;
  if (size > SIZE_MAX - a - sizeof(block_header)) return nullptr;
  void* raw = std::malloc(size + a + sizeof(block_header));
  if (raw == nullptr) return nullptr;
  auto base = reinterpret_cast<std::uintptr_t>(raw) + sizeof(block_header);
  auto aligned = (base + a - 1) & ~(static_cast<std::uintptr_t>(a) - 1);
  void* block = reinterpret_cast<void*>(aligned);
  *header_of(block) = block_header{raw, size, a, block_magic};
  live_blocks.fetch_add(1);
  return block;
}

// ---------------------------------------------------------------------------
// Verbose settings, read from the environment once.

std::once_flag verbose_once;
int verbose_mode_word = 0;
std::string verbose_file;

void read_verbose_environment() {
  std::call_once(verbose_once, [] {
    if (const char* mode = std::getenv("QEZ_VERBOSE")) {
      if (std::strcmp(mode, "1") == 0) verbose_mode_word = 1;
      if (std::strcmp(mode, "2") == 0) verbose_mode_word = 2;
    }
    if (const char* file = std::getenv("QEZ_VERBOSE_OUTPUT_FILE")) verbose_file = file;
  });
}

// Same shape as the library's GPU timing text.
void format_seconds(char* out, std::size_t size, double seconds) {
  if (seconds <= 0) std::snprintf(out, size, "N/A");
  else if (seconds > 1) std::snprintf(out, size, "%.2fs", seconds);
  else if (seconds * 1e3 > 1) std::snprintf(out, size, "%.2fms", seconds * 1e3);
  else if (seconds * 1e6 > 1) std::snprintf(out, size, "%.2fus", seconds * 1e6);
  else std::snprintf(out, size, "%.0fns", seconds * 1e9);
}

// Writes a verbose line to the verbose file, or to standard output when no
// file is set or it cannot be opened.
void write_verbose_text(const std::string& text) {
  read_verbose_environment();
  if (!verbose_file.empty()) {
    if (std::FILE* f = std::fopen(verbose_file.c_str(), "a")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
      return;
    }
    qez_standin::emit(1, "QEZ_VERBOSE WARNING: unable to open output file. Print to STDOUT\n");
  }
  qez_standin::emit(0, text);
}

const char* message_text(int message) {
  switch (message) {
    case QEZ_SERV_MSG_MISSING_ENTRY_POINT: return "QEZ ERROR: Cannot load symbol %s.\n";
    case QEZ_SERV_MSG_DESTRUCTOR_TABLE_FULL:
      return "QEZ ERROR: Too many SYCL destructors registered.\n";
    default: return nullptr;
  }
}

}  // namespace

extern "C" {

void* qez_serv_malloc(size_t size, int alignment) { return aligned_block(size, alignment); }

void* qez_serv_calloc(size_t count, size_t size, int alignment) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  void* block = aligned_block(count * size, alignment);
  if (block) std::memset(block, 0, count * size);
  return block;
}

void* qez_serv_realloc(void* block, size_t size) {
  if (block == nullptr) return aligned_block(size, default_alignment);
  block_header old = *header_of(block);
  void* grown = aligned_block(size, static_cast<int>(old.alignment));
  if (grown == nullptr) return nullptr;  // the old block stays valid
  std::memcpy(grown, block, std::min(old.size, size));
  qez_serv_free(block);
  return grown;
}

void qez_serv_free(void* block) {
  if (block == nullptr) return;
  block_header* header = header_of(block);
  if (header->magic != block_magic) std::abort();  // not ours: fail loudly
  header->magic = 0;
  live_blocks.fetch_sub(1);
  std::free(header->raw);
}

void* qez_serv_allocate(size_t size, int alignment, void* /*context*/) {
  return aligned_block(size, alignment);
}

void qez_serv_deallocate(void* block) { qez_serv_free(block); }

int64_t qez_serv_get_cache_size(int level) {
  long size = -1;
  switch (level) {
    case 1: size = sysconf(_SC_LEVEL1_DCACHE_SIZE); break;
    case 2: size = sysconf(_SC_LEVEL2_CACHE_SIZE); break;
    case 3: size = sysconf(_SC_LEVEL3_CACHE_SIZE); break;
    default: break;
  }
  return size > 0 ? size : 0;
}

void qez_serv_lock(volatile uint32_t* lock_word) {
  auto* word = reinterpret_cast<std::atomic<uint32_t>*>(const_cast<uint32_t*>(lock_word));
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "lock word is a plain u32");
  for (;;) {
    uint32_t expected = 0;
    if (word->compare_exchange_weak(expected, 1, std::memory_order_acquire)) return;
    while (word->load(std::memory_order_relaxed) != 0) std::this_thread::yield();
  }
}

void qez_serv_unlock(volatile uint32_t* lock_word) {
  auto* word = reinterpret_cast<std::atomic<uint32_t>*>(const_cast<uint32_t*>(lock_word));
  word->store(0, std::memory_order_release);
}

int* qez_serv_verbose_mode(void) {
  read_verbose_environment();
  return &verbose_mode_word;
}

const char* qez_serv_verbose_output_file_mode(void) {
  read_verbose_environment();
  return verbose_file.c_str();
}

void qez_serv_print_verbose_header(int gpu_iface) {
  // Printed once per process, before the first verbose line.
  static std::once_flag header_once;
  std::call_once(header_once, [gpu_iface] {
    char text[128];
    std::snprintf(text, sizeof text, "QEZ_VERBOSE Qezlib service layer, GPU interface %d\n",
                  gpu_iface);
    write_verbose_text(text);
  });
}

void qez_serv_print_verbose_info(int /*reserved*/, const char* line, double seconds) {
  if (*qez_serv_verbose_mode() == 0 || line == nullptr) return;
  qez_serv_print_verbose_header(2);
  char time_text[32];
  format_seconds(time_text, sizeof time_text, seconds);
  write_verbose_text(std::string("QEZ_VERBOSE ") + line + " " + time_text + "\n");
}

int qez_serv_format_print(int stream, const char* format, int count, ...) {
  va_list args;
  va_start(args, count);
  std::string text = qez_standin::vformat(format, args);
  va_end(args);
  qez_standin::emit(stream, text);
  return static_cast<int>(text.size());
}

void qez_serv_print(int /*reserved*/, int message, int count, ...) {
  va_list args;
  va_start(args, count);
  const char* argument = count > 0 ? va_arg(args, const char*) : nullptr;
  va_end(args);
  char text[512];
  const char* format = message_text(message);
  if (format == nullptr) std::snprintf(text, sizeof text, "QEZ ERROR: service message %d.\n", message);
  else std::snprintf(text, sizeof text, format, argument ? argument : "");
  qez_standin::emit(0, text);
}

double qez_serv_dsecnd(void) {
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------------------
// Test controls.

void qez_standin_set_verbose_mode(int mode) {
  read_verbose_environment();
  verbose_mode_word = mode;
}

void qez_standin_set_verbose_output_file(const char* path) {
  read_verbose_environment();
  verbose_file = path ? path : "";
}

void qez_standin_fail_allocations(long skip, long count) {
  injection_skip.store(skip);
  injection_count.store(count);
}

long qez_standin_live_allocations(void) { return live_blocks.load(); }

}  // extern "C"
