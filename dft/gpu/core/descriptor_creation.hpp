// Records made inside the library (child records of composite backends), the
// release hook of every record, and the installation of the method table
// and of the cache-size service.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

void install_descriptor_methods(DFTI_DESCRIPTOR* record);

// Creates a zero-filled, uncommitted record with its defaults; lengths are
// given innermost first. Returns 0, 1 or the status of a failed list step.
int create_descriptor(DFTI_DESCRIPTOR** out, std::uint32_t precision, std::uint32_t domain,
                      std::int32_t rank, const std::int64_t* lengths, void* arena);

int create_child_descriptor_r2c_md_float(DFTI_DESCRIPTOR** out, std::int32_t rank,
                                         const std::int64_t* lengths, void* arena);
int create_child_descriptor_r2c_1d_float(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena);
int create_child_descriptor_c2c_1d_float(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena);
int create_child_descriptor_r2c_md_double(DFTI_DESCRIPTOR** out, std::int32_t rank,
                                          const std::int64_t* lengths, void* arena);
int create_child_descriptor_r2c_1d_double(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena);
int create_child_descriptor_c2c_1d_double(DFTI_DESCRIPTOR** out, std::int64_t length, void* arena);

// What a child record of a composite backend takes from its parent (queue
// and offload mode) and what marks it a child: an external workspace (the
// parent hands it one), one user thread and the child marker.
inline void take_parent_settings(DFTI_DESCRIPTOR* child, const DFTI_DESCRIPTOR* parent) {
  child->queue = parent->queue;
  child->offload_mode = parent->offload_mode;
  child->workspace_internal = 0;
  child->user_threads = 1;
  child->is_child = 1;
}

// Frees the committed backend and transient state; the record is back to
// "not committed". Safe to call any number of times.
void release_backend(DFTI_DESCRIPTOR* record, void* context);

void install_cache_size_hook(DFTI_DESCRIPTOR* record);
std::int64_t hook_get_cache_size(int level);

// The service table of records made here; shared by all of them.
service_table& library_service_table();

}  // namespace ulmara::qez::dft
