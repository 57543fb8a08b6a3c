/* Service functions of the threading-layer library: memory, locks, verbose
 * mode and output, numbered messages and timing. */
#ifndef QEZ_SERVICE_H
#define QEZ_SERVICE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Memory. Alignment is a power of two in bytes; 0 means the default (64). */
void* qez_serv_malloc(size_t size, int alignment);
void* qez_serv_calloc(size_t count, size_t size, int alignment);
void* qez_serv_realloc(void* block, size_t size);
void qez_serv_free(void* block);
void* qez_serv_allocate(size_t size, int alignment, void* context);
void qez_serv_deallocate(void* block);
int64_t qez_serv_get_cache_size(int level);

/* Spin lock on a caller-owned, zero-initialised 32-bit word. */
void qez_serv_lock(volatile uint32_t* lock_word);
void qez_serv_unlock(volatile uint32_t* lock_word);

/* Verbose mode: 0 off, 1 on, 2 on with device timing. */
int* qez_serv_verbose_mode(void);
const char* qez_serv_verbose_output_file_mode(void);
void qez_serv_print_verbose_header(int gpu_iface);
void qez_serv_print_verbose_info(int reserved, const char* line, double seconds);

/* Printing. stream 0 is ordinary output, 1 a warning. The variable part holds
 * `count` string (const char*) arguments. */
int qez_serv_format_print(int stream, const char* format, int count, ...);
void qez_serv_print(int reserved, int message, int count, ...);

/* Wall-clock seconds; only differences are meaningful. */
double qez_serv_dsecnd(void);

/* Service message numbers the library prints. */
enum qez_serv_message {
  QEZ_SERV_MSG_MISSING_ENTRY_POINT = 3,   /* one argument: the quoted name */
  QEZ_SERV_MSG_DESTRUCTOR_TABLE_FULL = 1451
};

#ifdef __cplusplus
}
#endif

#endif
