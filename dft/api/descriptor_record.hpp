// The implementation record behind every DFT descriptor, DFTI_DESCRIPTOR, and
// the types it embeds or points to: dimension records and lists, the method
// table with its slot numbering, the service-hook table and the backend table.
//
// The record's layout is shared between this library (front end, GPU core,
// backends) and the CPU DFT engine of the threading-layer library, which
// creates the records. Every offset below is an interface; the static_asserts
// pin them. Bytes without a named field belong to the shared layout and are
// left as created.
#pragma once

#include <cstddef>
#include <cstdint>

struct DFTI_DESCRIPTOR;

namespace ulmara {
namespace qez {
namespace dft {

// ---------------------------------------------------------------------------
// DFTI codes stored in the record.

enum dfti_code : std::uint32_t {
  dfti_committed = 30,
  dfti_uncommitted = 31,
  dfti_complex = 32,
  dfti_real = 33,
  dfti_single = 35,
  dfti_double = 36,
  dfti_complex_complex = 39,  // interleaved complex values
  dfti_complex_real = 40,
  dfti_real_complex = 41,
  dfti_real_real = 42,  // real and imaginary parts in separate arrays
  dfti_inplace = 43,
  dfti_not_inplace = 44,
  dfti_ordered = 48,
  dfti_backward_scrambled = 49,
  dfti_other_scrambled = 50,  // a further scrambled ordering, never computed
  dfti_allow = 51,
  dfti_avoid = 52,
  dfti_none = 53,
  dfti_ccs_format = 54,
  dfti_pack_format = 55,
  dfti_perm_format = 56,
  dfti_cce_format = 57,
};

constexpr std::uint32_t descriptor_magic = 0x544644;  // "DFT" and a zero byte
constexpr std::size_t descriptor_record_bytes = 816;
constexpr std::size_t descriptor_record_alignment = 64;

// Bits of the record's set-flags word.
enum set_flag : std::uint32_t {
  set_flag_released = 0x1,  // cleared by every release of a committed plan
  set_flag_input_strides = 0x20,
  set_flag_output_strides = 0x40,
  set_flag_forward_strides = 0x80,
  set_flag_backward_strides = 0x100,
  set_flag_input_distance = 0x200,
  set_flag_output_distance = 0x400,
  set_flag_forward_distance = 0x800,
  set_flag_backward_distance = 0x1000,
  set_flag_derived_fb_strides = 0x2000,    // derived at GPU commit
  set_flag_derived_fb_distances = 0x4000,  // derived at GPU commit
};
// The ten layout bits, in ascending order (the flat copy carries them one by one).
constexpr std::uint32_t layout_set_flags[10] = {
    set_flag_input_strides,     set_flag_output_strides,     set_flag_forward_strides,
    set_flag_backward_strides,  set_flag_input_distance,     set_flag_output_distance,
    set_flag_forward_distance,  set_flag_backward_distance,  set_flag_derived_fb_strides,
    set_flag_derived_fb_distances};
constexpr std::uint32_t io_set_flags = set_flag_input_strides | set_flag_output_strides |
                                       set_flag_input_distance | set_flag_output_distance;
constexpr std::uint32_t fb_set_flags = set_flag_forward_strides | set_flag_backward_strides |
                                       set_flag_forward_distance | set_flag_backward_distance;
constexpr std::uint32_t fb_stride_flags =
    set_flag_forward_strides | set_flag_backward_strides | set_flag_derived_fb_strides;
constexpr std::uint32_t fb_distance_flags =
    set_flag_forward_distance | set_flag_backward_distance | set_flag_derived_fb_distances;
constexpr std::uint32_t explicit_layout_flags = 0x1fe0;  // 0x20 .. 0x1000

// Option bits.
enum option_bit : std::uint32_t { option_destroy_input = 0x10 };

// Container kind word given to compute entries and stored by set_workspace.
enum container_kind : std::uint64_t { container_buffer = 1, container_usm = 2 };

// ---------------------------------------------------------------------------
// Dimension records and lists.

// One dimension (or one batch dimension): length or count, then the stride or
// distance of each of the four sides, in elements of that side's data type.
// A zero stride means "not given".
struct dim_record {
  std::int64_t length;
  std::int64_t input;
  std::int64_t output;
  std::int64_t forward;
  std::int64_t backward;
};
static_assert(sizeof(dim_record) == 40, "dim_record is five 64-bit values");

// Field index of a dim_record, for tables over the four sides.
enum dim_field : int {
  dim_length = 0,
  dim_input = 1,
  dim_output = 2,
  dim_forward = 3,
  dim_backward = 4
};

inline std::int64_t& dim_value(dim_record& r, dim_field f) { return (&r.length)[f]; }
inline std::int64_t dim_value(const dim_record& r, dim_field f) { return (&r.length)[f]; }

// A counted array of dim_records; the list owns its (64-byte aligned) array.
struct dim_list {
  std::int32_t count;
  std::uint32_t padding;
  dim_record* records;
};
static_assert(sizeof(dim_list) == 16, "dim_list is a count and a pointer");
static_assert(offsetof(dim_list, records) == 8, "dim_list array pointer at 8");

// ---------------------------------------------------------------------------
// Operations stored in the record.

// Compute entry: (record, input, output, address of a std::vector<sycl::event>
// of dependencies or null, address of the container-kind word, address of a
// sycl::event for the result or null) -> status.
using compute_entry = int (*)(DFTI_DESCRIPTOR* record, void* input, void* output,
                              void* dependencies, std::uint64_t* container_kind,
                              void* result_event);
// Releases a committed plan; the context is the descriptor's slot buffer when
// the front end's uncommit path calls it, else null.
using release_hook = void (*)(DFTI_DESCRIPTOR* record, void* context);
// Destroys a record; called as (record, record).
using free_hook = void (*)(DFTI_DESCRIPTOR* record, DFTI_DESCRIPTOR* same_record);
using cleanup_hook = void (*)(DFTI_DESCRIPTOR* record);

// One backend and precision: {bkd_commit, bkd_free, add_workspace}.
struct backend_table {
  int (*bkd_commit)(const backend_table* table, DFTI_DESCRIPTOR* record);
  int (*bkd_free)(const backend_table* table, DFTI_DESCRIPTOR* record);
  int (*add_workspace)(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                       std::uint32_t part, void* events);
};
// A null-terminated array of backend tables, in trial order.
using backend_list = const backend_table* const*;

// The record's method table: 31 operations selected by slot index.
enum method_slot : int {
  slot_commit = 0,
  slot_recommit = 1,
  slot_get_input_strides = 2,
  slot_get_output_strides = 3,
  slot_set_input_strides = 4,
  slot_set_output_strides = 5,
  slot_get_lengths = 6,
  slot_get_name = 7,
  slot_set_name = 8,
  slot_get_scale = 9,
  slot_set_scale = 10,
  slot_copy_descriptor = 11,
  slot_get_input_distance = 12,
  slot_get_output_distance = 13,
  slot_get_number_of_transforms = 14,
  slot_set_input_distance = 15,
  slot_set_output_distance = 16,
  slot_set_number_of_transforms = 17,
  slot_get_thread_limit = 18,
  slot_set_thread_limit = 19,
  slot_get_rank = 20,
  slot_set_forward_distance = 21,
  slot_set_backward_distance = 22,
  slot_free_descriptor = 23,
  slot_set_workspace = 24,
  slot_get_forward_distance = 25,
  slot_get_backward_distance = 26,
  slot_get_forward_strides = 27,
  slot_get_backward_strides = 28,
  slot_set_forward_strides = 29,
  slot_set_backward_strides = 30,
  method_slot_count = 31
};

// Scale selectors of slots 9 and 10.
enum scale_selector : int { scale_forward = 4, scale_backward = 5 };

// Stride arrays hold rank + 1 values: the first-element offset, then one
// stride per dimension, innermost dimension first.
struct descriptor_methods {
  int (*commit)(DFTI_DESCRIPTOR* record);
  int (*recommit)(DFTI_DESCRIPTOR* record);
  int (*get_input_strides)(const DFTI_DESCRIPTOR* record, std::int64_t* strides);
  int (*get_output_strides)(const DFTI_DESCRIPTOR* record, std::int64_t* strides);
  int (*set_input_strides)(DFTI_DESCRIPTOR* record, const std::int64_t* strides);
  int (*set_output_strides)(DFTI_DESCRIPTOR* record, const std::int64_t* strides);
  int (*get_lengths)(const DFTI_DESCRIPTOR* record, std::int64_t* lengths);
  int (*get_name)(const DFTI_DESCRIPTOR* record, char* name, std::size_t size);
  int (*set_name)(DFTI_DESCRIPTOR* record, const char* name, std::size_t size, int fill);
  int (*get_scale)(const DFTI_DESCRIPTOR* record, double* scale, int which);
  int (*set_scale)(DFTI_DESCRIPTOR* record, double scale, int which);
  int (*copy_descriptor)(const DFTI_DESCRIPTOR* record, DFTI_DESCRIPTOR** copy);
  int (*get_input_distance)(const DFTI_DESCRIPTOR* record, std::int64_t* distance);
  int (*get_output_distance)(const DFTI_DESCRIPTOR* record, std::int64_t* distance);
  int (*get_number_of_transforms)(const DFTI_DESCRIPTOR* record, std::uint64_t* count);
  int (*set_input_distance)(DFTI_DESCRIPTOR* record, std::int64_t distance);
  int (*set_output_distance)(DFTI_DESCRIPTOR* record, std::int64_t distance);
  int (*set_number_of_transforms)(DFTI_DESCRIPTOR* record, std::int64_t count);
  int (*get_thread_limit)(const DFTI_DESCRIPTOR* record, std::int64_t* threads);
  int (*set_thread_limit)(DFTI_DESCRIPTOR* record, std::int64_t threads);
  int (*get_rank)(const DFTI_DESCRIPTOR* record, std::int64_t* rank);
  int (*set_forward_distance)(DFTI_DESCRIPTOR* record, std::int64_t distance);
  int (*set_backward_distance)(DFTI_DESCRIPTOR* record, std::int64_t distance);
  void (*free_descriptor)(DFTI_DESCRIPTOR* record, DFTI_DESCRIPTOR* same_record);
  int (*set_workspace)(DFTI_DESCRIPTOR* record, void* container, std::uint32_t kind);
  int (*get_forward_distance)(const DFTI_DESCRIPTOR* record, std::int64_t* distance);
  int (*get_backward_distance)(const DFTI_DESCRIPTOR* record, std::int64_t* distance);
  int (*get_forward_strides)(const DFTI_DESCRIPTOR* record, std::int64_t* strides);
  int (*get_backward_strides)(const DFTI_DESCRIPTOR* record, std::int64_t* strides);
  int (*set_forward_strides)(DFTI_DESCRIPTOR* record, const std::int64_t* strides);
  int (*set_backward_strides)(DFTI_DESCRIPTOR* record, const std::int64_t* strides);
};
static_assert(sizeof(descriptor_methods) == method_slot_count * sizeof(void*),
              "the method table is 31 operation pointers");
#define QEZ_CHECK_SLOT(member, slot)                                                      \
  static_assert(offsetof(descriptor_methods, member) == (slot) * sizeof(void*),          \
                #member " sits in its slot")
QEZ_CHECK_SLOT(commit, slot_commit);
QEZ_CHECK_SLOT(recommit, slot_recommit);
QEZ_CHECK_SLOT(get_input_strides, slot_get_input_strides);
QEZ_CHECK_SLOT(get_output_strides, slot_get_output_strides);
QEZ_CHECK_SLOT(set_input_strides, slot_set_input_strides);
QEZ_CHECK_SLOT(set_output_strides, slot_set_output_strides);
QEZ_CHECK_SLOT(get_lengths, slot_get_lengths);
QEZ_CHECK_SLOT(get_name, slot_get_name);
QEZ_CHECK_SLOT(set_name, slot_set_name);
QEZ_CHECK_SLOT(get_scale, slot_get_scale);
QEZ_CHECK_SLOT(set_scale, slot_set_scale);
QEZ_CHECK_SLOT(copy_descriptor, slot_copy_descriptor);
QEZ_CHECK_SLOT(get_input_distance, slot_get_input_distance);
QEZ_CHECK_SLOT(get_output_distance, slot_get_output_distance);
QEZ_CHECK_SLOT(get_number_of_transforms, slot_get_number_of_transforms);
QEZ_CHECK_SLOT(set_input_distance, slot_set_input_distance);
QEZ_CHECK_SLOT(set_output_distance, slot_set_output_distance);
QEZ_CHECK_SLOT(set_number_of_transforms, slot_set_number_of_transforms);
QEZ_CHECK_SLOT(get_thread_limit, slot_get_thread_limit);
QEZ_CHECK_SLOT(set_thread_limit, slot_set_thread_limit);
QEZ_CHECK_SLOT(get_rank, slot_get_rank);
QEZ_CHECK_SLOT(set_forward_distance, slot_set_forward_distance);
QEZ_CHECK_SLOT(set_backward_distance, slot_set_backward_distance);
QEZ_CHECK_SLOT(free_descriptor, slot_free_descriptor);
QEZ_CHECK_SLOT(set_workspace, slot_set_workspace);
QEZ_CHECK_SLOT(get_forward_distance, slot_get_forward_distance);
QEZ_CHECK_SLOT(get_backward_distance, slot_get_backward_distance);
QEZ_CHECK_SLOT(get_forward_strides, slot_get_forward_strides);
QEZ_CHECK_SLOT(get_backward_strides, slot_get_backward_strides);
QEZ_CHECK_SLOT(set_forward_strides, slot_set_forward_strides);
QEZ_CHECK_SLOT(set_backward_strides, slot_set_backward_strides);
#undef QEZ_CHECK_SLOT

// Service queries that come with a record. The threading layer's blessing
// fills the empty query slots; the GPU core fills the cache-size slot.
enum service_slot : int {
  service_thread_query = 0,   // stored in service_count at every commit
  service_max_threads = 2,    // default and upper bound of the thread count
  service_cache_size = 5,     // forwards to qez_serv_get_cache_size
  service_single_thread = 12, // non-zero: only one thread may be used
  service_slot_count = 16
};

struct service_table {
  using query = int (*)();
  using cache_query = std::int64_t (*)(int level);
  using unused = void (*)();

  query thread_query;
  unused reserved_1;
  query max_threads;
  unused reserved_3;
  unused reserved_4;
  cache_query cache_size;
  unused reserved_6[6];
  query single_thread;
  unused reserved_13[3];
};
static_assert(sizeof(service_table) == service_slot_count * sizeof(void*), "16 service slots");
static_assert(offsetof(service_table, thread_query) == service_thread_query * sizeof(void*), "");
static_assert(offsetof(service_table, max_threads) == service_max_threads * sizeof(void*), "");
static_assert(offsetof(service_table, cache_size) == service_cache_size * sizeof(void*), "");
static_assert(offsetof(service_table, single_thread) == service_single_thread * sizeof(void*),
              "");

// One service table serves every record that names it, and its empty slots
// are filled when some record is blessed or committed, while other threads
// may be asking the same table on records of their own: every read and
// write of a slot is atomic.
template <class Slot>
Slot service_slot(const service_table* table, Slot service_table::*slot) {
  return table != nullptr ? __atomic_load_n(&(table->*slot), __ATOMIC_ACQUIRE) : nullptr;
}

// Fills the slot when it is empty; a slot once filled keeps its query.
template <class Slot>
void fill_empty_service_slot(service_table* table, Slot service_table::*slot, Slot query) {
  Slot empty = nullptr;
  __atomic_compare_exchange_n(&(table->*slot), &empty, query, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara

// ---------------------------------------------------------------------------
// The record itself. 816 bytes, allocated 64-byte aligned and zero-filled.

struct DFTI_DESCRIPTOR {
  using dim_list = ulmara::qez::dft::dim_list;

  ulmara::qez::dft::compute_entry compute_fwd;        // 0
  ulmara::qez::dft::compute_entry compute_bwd;        // 8
  const ulmara::qez::dft::backend_table* backend;     // 16: committed GPU backend
  void* bkd_data;                                     // 24: its private block
  void* alloc_ctx;                                    // 32
  ulmara::qez::dft::backend_list backend_list;        // 40: bound GPU list
  std::uint32_t data_arrays;                          // 48: data addresses per compute call
  std::uint32_t set_flags;                            // 52
  std::uint32_t magic;                                // 56
  std::uint32_t commit_status;                        // 60: 30 committed, 31 not
  dim_list lengths;                                   // 64: innermost dimension first
  dim_list batch;                                     // 80
  std::int32_t created_rank;                          // 96: rank as configured
  std::int32_t merged_rank;                           // 100
  dim_list work_lengths;                              // 104
  dim_list work_batch;                                // 120
  std::uint64_t shared_136;                           // 136
  std::uint64_t shared_144;                           // 144
  void* shared_152;                                   // 152
  ulmara::qez::dft::release_hook release;             // 160
  ulmara::qez::dft::free_hook free;                   // 168
  const ulmara::qez::dft::descriptor_methods* methods;  // 176
  ulmara::qez::dft::service_table* services;          // 184
  char name[10];                                      // 192
  std::uint8_t unused_202[2];
  std::uint32_t domain;                               // 204
  std::uint32_t precision;                            // 208
  std::uint8_t unused_212[4];
  std::int64_t first_count;                           // 216
  std::uint32_t complex_storage;                      // 224
  std::uint32_t real_storage;                         // 228
  std::uint32_t conjugate_even_storage;               // 232
  std::uint32_t placement;                            // 236
  std::uint32_t packed_format;                        // 240
  std::uint8_t unused_244[4];
  std::int64_t first_in_stride;                       // 248
  std::int64_t first_out_stride;                      // 256
  std::uint32_t workspace_use;                        // 264
  std::uint32_t ordering;                             // 268
  std::uint32_t transpose;                            // 272
  std::uint8_t unused_276[12];
  std::int64_t first_length;                          // 288
  std::uint8_t unused_296[24];
  double scale_copy[2];                               // 320
  float scale_f32[2];                                 // 336
  double fwd_scale;                                   // 344
  double bwd_scale;                                   // 352
  std::uint8_t unused_360[8];
  std::int64_t in_offset;                             // 368
  std::int64_t out_offset;                            // 376
  std::int64_t first_in_distance;                     // 384
  std::int64_t first_out_distance;                    // 392
  std::uint8_t unused_400[24];
  DFTI_DESCRIPTOR* chain_next;                        // 424
  DFTI_DESCRIPTOR* linked_descriptor;                 // 432: also the next record of a CPU chain
  void* engine_state;                                 // 440: private state of the CPU engine
  std::uint8_t engine_area[232];                      // 448: reserved for the CPU engine
  std::uint64_t shared_680;                           // 680
  std::uint64_t shared_688;                           // 688
  std::uint32_t user_threads;                         // 696
  std::int32_t threads;                               // 700: effective thread count
  std::int32_t thread_limit;                          // 704: requested thread count
  std::uint32_t options;                              // 708
  std::uint32_t shared_712;                           // 712
  std::uint8_t unused_716[4];
  std::uint64_t cleanup_arg;                          // 720
  ulmara::qez::dft::cleanup_hook cleanup_fn;          // 728
  std::int32_t service_count;                         // 736: queried thread count
  std::uint8_t unused_740[4];
  void* queue;                                        // 744: heap sycl::queue copy
  std::uint32_t directions;                           // 752
  std::uint32_t offload_mode;                         // 756
  std::uint32_t workspace_internal;                   // 760
  std::uint8_t unused_764[4];
  std::uint64_t workspace_bytes[2];                   // 768
  std::uint32_t workspace_kind;                       // 784
  std::uint32_t is_child;                             // 788
  std::int64_t fwd_offset;                            // 792
  std::int64_t bwd_offset;                            // 800
  std::int64_t fused_twiddle_length;                  // 808
};

#define QEZ_CHECK_FIELD(field, offset)                                                  \
  static_assert(offsetof(DFTI_DESCRIPTOR, field) == (offset), #field " at " #offset)
QEZ_CHECK_FIELD(compute_fwd, 0);
QEZ_CHECK_FIELD(compute_bwd, 8);
QEZ_CHECK_FIELD(backend, 16);
QEZ_CHECK_FIELD(bkd_data, 24);
QEZ_CHECK_FIELD(alloc_ctx, 32);
QEZ_CHECK_FIELD(backend_list, 40);
QEZ_CHECK_FIELD(data_arrays, 48);
QEZ_CHECK_FIELD(set_flags, 52);
QEZ_CHECK_FIELD(magic, 56);
QEZ_CHECK_FIELD(commit_status, 60);
QEZ_CHECK_FIELD(lengths, 64);
QEZ_CHECK_FIELD(lengths.records, 72);
QEZ_CHECK_FIELD(batch, 80);
QEZ_CHECK_FIELD(batch.records, 88);
QEZ_CHECK_FIELD(created_rank, 96);
QEZ_CHECK_FIELD(merged_rank, 100);
QEZ_CHECK_FIELD(work_lengths, 104);
QEZ_CHECK_FIELD(work_lengths.records, 112);
QEZ_CHECK_FIELD(work_batch, 120);
QEZ_CHECK_FIELD(work_batch.records, 128);
QEZ_CHECK_FIELD(shared_136, 136);
QEZ_CHECK_FIELD(shared_144, 144);
QEZ_CHECK_FIELD(shared_152, 152);
QEZ_CHECK_FIELD(release, 160);
QEZ_CHECK_FIELD(free, 168);
QEZ_CHECK_FIELD(methods, 176);
QEZ_CHECK_FIELD(services, 184);
QEZ_CHECK_FIELD(name, 192);
QEZ_CHECK_FIELD(domain, 204);
QEZ_CHECK_FIELD(precision, 208);
QEZ_CHECK_FIELD(first_count, 216);
QEZ_CHECK_FIELD(complex_storage, 224);
QEZ_CHECK_FIELD(real_storage, 228);
QEZ_CHECK_FIELD(conjugate_even_storage, 232);
QEZ_CHECK_FIELD(placement, 236);
QEZ_CHECK_FIELD(packed_format, 240);
QEZ_CHECK_FIELD(first_in_stride, 248);
QEZ_CHECK_FIELD(first_out_stride, 256);
QEZ_CHECK_FIELD(workspace_use, 264);
QEZ_CHECK_FIELD(ordering, 268);
QEZ_CHECK_FIELD(transpose, 272);
QEZ_CHECK_FIELD(first_length, 288);
QEZ_CHECK_FIELD(scale_copy, 320);
QEZ_CHECK_FIELD(scale_f32, 336);
QEZ_CHECK_FIELD(fwd_scale, 344);
QEZ_CHECK_FIELD(bwd_scale, 352);
QEZ_CHECK_FIELD(in_offset, 368);
QEZ_CHECK_FIELD(out_offset, 376);
QEZ_CHECK_FIELD(first_in_distance, 384);
QEZ_CHECK_FIELD(first_out_distance, 392);
QEZ_CHECK_FIELD(chain_next, 424);
QEZ_CHECK_FIELD(linked_descriptor, 432);
QEZ_CHECK_FIELD(engine_state, 440);
QEZ_CHECK_FIELD(shared_680, 680);
QEZ_CHECK_FIELD(shared_688, 688);
QEZ_CHECK_FIELD(user_threads, 696);
QEZ_CHECK_FIELD(threads, 700);
QEZ_CHECK_FIELD(thread_limit, 704);
QEZ_CHECK_FIELD(options, 708);
QEZ_CHECK_FIELD(shared_712, 712);
QEZ_CHECK_FIELD(cleanup_arg, 720);
QEZ_CHECK_FIELD(cleanup_fn, 728);
QEZ_CHECK_FIELD(service_count, 736);
QEZ_CHECK_FIELD(queue, 744);
QEZ_CHECK_FIELD(directions, 752);
QEZ_CHECK_FIELD(offload_mode, 756);
QEZ_CHECK_FIELD(workspace_internal, 760);
QEZ_CHECK_FIELD(workspace_bytes, 768);
QEZ_CHECK_FIELD(workspace_kind, 784);
QEZ_CHECK_FIELD(is_child, 788);
QEZ_CHECK_FIELD(fwd_offset, 792);
QEZ_CHECK_FIELD(bwd_offset, 800);
QEZ_CHECK_FIELD(fused_twiddle_length, 808);
#undef QEZ_CHECK_FIELD
static_assert(sizeof(DFTI_DESCRIPTOR) == ulmara::qez::dft::descriptor_record_bytes,
              "the record is 816 bytes");

namespace ulmara {
namespace qez {
namespace dft {

using ::DFTI_DESCRIPTOR;

// A record is usable when it is present and carries the magic.
inline bool is_live_record(const DFTI_DESCRIPTOR* record) {
  return record != nullptr && record->magic == descriptor_magic;
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
