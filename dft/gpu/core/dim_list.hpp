// Dimension lists: counted arrays of dim_records holding a descriptor's
// lengths, strides and batch layout, and the operations commit uses to bring
// them to a canonical, minimal form.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

// Copy modes of dim_list_copy.
enum dim_copy_mode : int {
  dim_copy_all = 0,
  // {length, input, input, forward, forward}: an in-place complex layout
  // whose output and backward sides follow the input and forward ones.
  dim_copy_inplace = 1,
};

// Sets the count (also when allocation fails) and allocates the array.
// Returns 0, or 1 when the list has no array afterwards.
int dim_list_init(dim_list* list, std::int32_t count, void* arena);
// Frees the array; the count stays.
void dim_list_free(dim_list* list);
// Copies source into target, reusing target's array when it is large enough.
// Returns 0, or 1 (target unchanged) when memory runs out.
int dim_list_copy(dim_list* target, const dim_list* source, int mode, void* arena);
// Orders records by increasing stride of the populated convention.
void dim_list_sort(dim_list* list);
// Removes records of length 1, keeping at least one record.
void dim_list_drop_unit(dim_list* list);
// Merges adjacent records whose strides continue each other.
void dim_list_merge(dim_list* list);

}  // namespace ulmara::qez::dft
