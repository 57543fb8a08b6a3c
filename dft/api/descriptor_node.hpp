// Creation and destruction of descriptor records, and their flat copy
// `sycl_descriptor`, which carries a record's configuration by value into a
// host task.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

// Capacity of each list of the flat copy.
constexpr int flat_list_capacity = 7;

struct flat_dim_list {
  std::int32_t count;
  std::uint32_t padding;
  dim_record records[flat_list_capacity];
};
static_assert(sizeof(flat_dim_list) == 288, "count then seven records");

// A pointer-free copy of one record.
struct sycl_descriptor {
  std::uint32_t domain;
  std::uint32_t precision;
  std::int64_t first_count;  // the engine word at record offset 216
  std::uint32_t complex_storage;
  std::uint32_t real_storage;
  std::uint32_t conjugate_even_storage;
  std::uint32_t placement;
  std::uint32_t packed_format;
  std::uint32_t workspace_use;
  std::uint32_t ordering;
  std::uint32_t transpose;  // the engine word at record offset 272
  std::int64_t in_offset;
  std::int64_t out_offset;
  std::int64_t fwd_offset;
  std::int64_t bwd_offset;
  std::int64_t first_in_distance;   // record offset 384
  std::int64_t first_out_distance;  // record offset 392
  std::int64_t rank;
  std::uint32_t options;
  std::uint32_t data_arrays;  // the factor word
  std::uint32_t magic;
  std::uint32_t user_threads;
  std::uint32_t thread_limit;
  std::uint32_t layout_flags[10];  // set-flag bits 0x20 .. 0x4000, each 0 or 1
  double fwd_scale;
  double bwd_scale;
  flat_dim_list work_lengths;
  flat_dim_list lengths;
  flat_dim_list batch;
};
static_assert(sizeof(sycl_descriptor) == 1048, "the flat copy is 1048 bytes");
static_assert(offsetof(sycl_descriptor, first_count) == 8, "");
static_assert(offsetof(sycl_descriptor, in_offset) == 48, "");
static_assert(offsetof(sycl_descriptor, rank) == 96, "");
static_assert(offsetof(sycl_descriptor, layout_flags) == 124, "");
static_assert(offsetof(sycl_descriptor, fwd_scale) == 168, "");
static_assert(offsetof(sycl_descriptor, work_lengths) == 184, "");
static_assert(offsetof(sycl_descriptor, lengths) == 472, "");
static_assert(offsetof(sycl_descriptor, batch) == 760, "");

// Creates a record through the CPU engine with the front end's defaults.
// `lengths` holds `rank` lengths in the caller's order (slowest first).
// Status 3 for a null handle, the engine's status when creation fails, else
// 0. Throws ulmara::qez::invalid_argument for rank 0 and
// ulmara::qez::unimplemented for a rank above 3.
std::int64_t create_descriptor_node(DFTI_DESCRIPTOR** handle, std::uint32_t precision,
                                    std::uint32_t domain, std::uint64_t rank,
                                    const std::int64_t* lengths);

// Flattens a record: 0, or 5 when it has no dimensions or not exactly one
// complete stride convention.
int to_sycl_descriptor(const DFTI_DESCRIPTOR* record, sycl_descriptor* flat);

// Builds a new record in *handle from a flat copy (destroying the record it
// held). Status 0, 3 (null argument, a rank outside 1..3 or a list beyond
// the flat capacity), 5 (a copy without the magic), or that of the record
// creation.
int from_sycl_descriptor(DFTI_DESCRIPTOR** handle, const sycl_descriptor* flat);

// Destroy a record of this layout: 3 for a null handle, 5 for a missing
// record or one without the magic, else 0 with *handle set to null.
std::int64_t dfti_cpu_free_descriptor(DFTI_DESCRIPTOR** handle);
std::int64_t free_cpu_descriptor(DFTI_DESCRIPTOR** handle);

}  // namespace ulmara::qez::dft
