// SYCL stand-in: shared local memory of ESIMD kernels (ext/tavir/esimd.hpp).
// A thread runs one work-group at a time (its work-items as fibers), so the
// work-group's SLM is a block of the thread, grown on demand and kept for
// the next group, like the memory of a hardware sub-slice.
#include <sycl/ext/tavir/esimd.hpp>

#include <vector>

#include "runtime.hpp"
#include "worker_blocks.hpp"

namespace sycl {
inline namespace _V1 {
namespace ext::tavir::esimd::detail {
namespace {
thread_local std::vector<char> t_slm;
thread_local uint32_t t_slm_reserved = 0;
}  // namespace

void slm_reserve(uint32_t bytes) {
  sycl::detail::worker_block_scope kept_by_the_thread;
  if (t_slm.size() < bytes) t_slm.resize(bytes);
  t_slm_reserved = bytes;
}

char* slm_checked(uint32_t byte_offset, uint32_t bytes) {
  if (static_cast<uint64_t>(byte_offset) + bytes > t_slm_reserved)
    sycl::detail::throw_error(errc::kernel, "SLM access of " + std::to_string(bytes) + " bytes at offset " +
                                                std::to_string(byte_offset) + " outside the " +
                                                std::to_string(t_slm_reserved) + " bytes reserved by slm_init");
  return t_slm.data() + byte_offset;
}

}  // namespace ext::tavir::esimd::detail
}  // namespace _V1
}  // namespace sycl
