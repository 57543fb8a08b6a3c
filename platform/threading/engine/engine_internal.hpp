// Pieces of the CPU engine shared between its files.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

namespace ulmara {
namespace qez {
namespace cpu_engine {

// Creates a record of the engine's defaults. Lengths innermost first.
// Status 0, 1 (out of memory), 2 (precision, domain, rank or a length out
// of range), 3 (null handle or lengths).
int create_record(DFTI_DESCRIPTOR** handle, std::uint32_t precision, std::uint32_t domain,
                  std::int64_t rank, const std::int64_t* lengths);

// The engine's method table, installed on every record it creates.
extern const dft::descriptor_methods engine_method_table;

// The engine's service queries.
dft::service_table* engine_services();

// The CPUs this process may run on (its affinity mask), at least 1: the
// default thread count, as a threading layer sizes its team.
int available_cpus();

// Release hook: frees whatever a commit built (the engine's plans, or a GPU
// backend committed on the record) and leaves the record uncommitted.
void release_committed(DFTI_DESCRIPTOR* record, void* context);

// Destroy hook and method slot 23.
void free_record(DFTI_DESCRIPTOR* record, DFTI_DESCRIPTOR* same_record);

// Method slot 0: plans both directions and installs the compute entries.
int commit_record(DFTI_DESCRIPTOR* record);

// Frees the engine's plans of a record, if any.
void release_engine_state(DFTI_DESCRIPTOR* record);

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
