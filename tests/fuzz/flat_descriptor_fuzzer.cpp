// Fuzzes the flat descriptor copy: any 1048 bytes taken as a copy from a
// caller or from the CPU engine are turned into a record (or refused), the
// record is flattened again and must give back what it was built from, and
// it is destroyed.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dft/api/descriptor_node.hpp"
#include "dft/api/status_codes.hpp"

namespace dft = ulmara::qez::dft;

namespace {

// Lengths large enough for the engine to plan would make each run slow and
// tell nothing more about the copy; they are folded into a small range.
void fold_lengths(dft::flat_dim_list& list) {
  const int count = list.count < 0 || list.count > dft::flat_list_capacity ? 0 : list.count;
  for (int k = 0; k < count; ++k) list.records[k].length = list.records[k].length % 64;
}

bool same_list(const dft::flat_dim_list& a, const dft::flat_dim_list& b) {
  if (a.count != b.count) return false;
  return std::memcmp(a.records, b.records, sizeof a.records[0] * a.count) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(dft::sycl_descriptor)) return -1;
  dft::sycl_descriptor flat;
  std::memcpy(&flat, data, sizeof flat);
  if (size > sizeof flat && (data[sizeof flat] & 1) != 0) flat.magic = dft::descriptor_magic;
  fold_lengths(flat.work_lengths);

  DFTI_DESCRIPTOR* record = nullptr;
  if (dft::from_sycl_descriptor(&record, &flat) != dft::status_success) {
    if (record != nullptr) __builtin_trap();
    return 0;
  }
  dft::sycl_descriptor again;
  dft::to_sycl_descriptor(record, &again);
  // Every field the copy carries comes back unchanged.
  if (again.domain != flat.domain || again.precision != flat.precision || again.magic != flat.magic ||
      again.in_offset != flat.in_offset || again.bwd_offset != flat.bwd_offset ||
      std::memcmp(&again.fwd_scale, &flat.fwd_scale, sizeof flat.fwd_scale) != 0 ||
      !same_list(again.lengths, flat.lengths) || !same_list(again.batch, flat.batch) ||
      !same_list(again.work_lengths, flat.work_lengths))
    __builtin_trap();
  if (dft::dfti_cpu_free_descriptor(&record) != dft::status_success || record != nullptr) __builtin_trap();
  return 0;
}
