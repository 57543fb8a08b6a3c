// Small operations on the dimension lists of a DFTI_DESCRIPTOR that both the
// front end and the CPU engine need: sizing a list, releasing it, copying
// one. Arrays come from the service allocator, 64-byte aligned, so that any
// component sharing the record can free them.
#pragma once

#include <cstring>

#include "dft/api/descriptor_record.hpp"
#include "qez_service.h"

namespace ulmara::qez::dft {

inline void release_dim_list(dim_list& list) {
  qez_serv_free(list.records);
  list.records = nullptr;
}

// Gives the list `count` records, all zero. False when memory runs out (the
// list then holds no array and its count is 0).
inline bool size_dim_list(dim_list& list, std::int32_t count) {
  release_dim_list(list);
  list.count = 0;
  if (count <= 0) return true;
  void* array = qez_serv_calloc(static_cast<std::size_t>(count), sizeof(dim_record),
                                static_cast<int>(descriptor_record_alignment));
  if (array == nullptr) return false;
  list.records = static_cast<dim_record*>(array);
  list.count = count;
  return true;
}

// Makes `target` an independent copy of `source`. False when memory runs out.
inline bool copy_dim_list(dim_list& target, const dim_list& source) {
  if (&target == &source) return true;
  if (!size_dim_list(target, source.count)) return false;
  if (source.count > 0)
    std::memcpy(target.records, source.records,
                static_cast<std::size_t>(source.count) * sizeof(dim_record));
  return true;
}

}  // namespace ulmara::qez::dft
