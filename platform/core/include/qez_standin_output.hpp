/* Where the stand-ins print: the standard streams, or an in-memory text while
 * a test captures output. */
#ifndef QEZ_STANDIN_OUTPUT_H
#define QEZ_STANDIN_OUTPUT_H

#include <stddef.h>

#ifdef __cplusplus
#include <cstdarg>
#include <string>

namespace qez_standin {
// stream 0: standard output; 1: warnings (standard error).
void emit(int stream, const std::string& text);
std::string vformat(const char* format, va_list args);
}  // namespace qez_standin

extern "C" {
#endif

/* While capture is on, everything the stand-ins print goes to an in-memory
 * text instead of the standard streams. */
void qez_standin_capture_output(int on);
/* Copies the captured text (NUL-terminated, cut to size - 1) and returns its
 * full length. */
size_t qez_standin_captured_output(char* buffer, size_t size);
void qez_standin_clear_captured_output(void);

#ifdef __cplusplus
}
#endif

#endif
