// What a plan's DFTI descriptor was configured with, read back through the
// descriptor's own getters and fields, with lists slowest dimension first as
// the FFTW-style callers write them.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "dft/api/fftw_plan_record.hpp"
#include "qez_fftw3.h"

namespace qez_test {

struct descriptor_settings {
  std::uint32_t domain = 0;
  std::uint32_t precision = 0;
  std::vector<std::int64_t> lengths;      // slowest first
  std::vector<std::int64_t> fwd_strides;  // offset, then slowest first
  std::vector<std::int64_t> bwd_strides;
  std::uint64_t transforms = 0;
  std::int64_t fwd_distance = 0;
  std::int64_t bwd_distance = 0;
  std::uint32_t placement = 0;
  std::int64_t thread_limit = 0;
  std::uint32_t workspace = 0;
  std::uint32_t conjugate_even_storage = 0;
};

bool operator==(const descriptor_settings& a, const descriptor_settings& b);
std::ostream& operator<<(std::ostream& os, const descriptor_settings& s);

descriptor_settings read_settings(const DFTI_DESCRIPTOR* descriptor);

inline const ulmara::qez::dft::fftw_plan_record* record_of(qez_fftw_plan plan) {
  return reinterpret_cast<const ulmara::qez::dft::fftw_plan_record*>(plan);
}

// Owns a plan and destroys it through its own destroy operation.
struct plan_owner {
  qez_fftw_plan plan = nullptr;
  plan_owner() = default;
  explicit plan_owner(qez_fftw_plan p) : plan(p) {}
  plan_owner(const plan_owner&) = delete;
  plan_owner& operator=(const plan_owner&) = delete;
  ~plan_owner() { qez_fftw_destroy_plan(plan); }
  const ulmara::qez::dft::fftw_plan_record* record() const { return record_of(plan); }
  descriptor_settings settings() const { return read_settings(record()->descriptor); }
};

}  // namespace qez_test
