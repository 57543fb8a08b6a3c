// Helpers for driving the CPU engine through its C interface and the
// operations it stores in its records.
#pragma once

#include <cstdint>
#include <vector>

#include "dft/api/descriptor_record.hpp"
#include "qez_dft_engine.h"
#include "tests/support/strided_layout.hpp"

namespace qez_engine_test {

using ulmara::qez::dft::dfti_code;

// Owns a record made by the engine.
class engine_record {
public:
  engine_record(bool double_precision, bool real, std::vector<std::int64_t> lengths_slowest_first) {
    std::vector<std::int64_t> inner_first(lengths_slowest_first.rbegin(),
                                          lengths_slowest_first.rend());
    const auto rank = static_cast<std::int64_t>(inner_first.size());
    if (double_precision)
      status_ = real ? qez_dft_dfti_create_drmd(&record_, rank, inner_first.data(), 0)
                     : qez_dft_dfti_create_dcmd(&record_, rank, inner_first.data(), 0);
    else
      status_ = real ? qez_dft_dfti_create_srmd(&record_, rank, inner_first.data(), 0)
                     : qez_dft_dfti_create_scmd(&record_, rank, inner_first.data(), 0);
    if (record_ != nullptr) qez_dft_bless_node_thr(record_);
  }
  ~engine_record() {
    if (record_ != nullptr) record_->free(record_, record_);
  }
  engine_record(const engine_record&) = delete;
  engine_record& operator=(const engine_record&) = delete;

  int status() const { return status_; }
  DFTI_DESCRIPTOR* get() const { return record_; }
  DFTI_DESCRIPTOR* operator->() const { return record_; }
  const ulmara::qez::dft::descriptor_methods& methods() const { return *record_->methods; }

private:
  DFTI_DESCRIPTOR* record_ = nullptr;
  int status_ = -1;
};

// {offset, strides innermost first}, as the record's stride setters take it.
inline std::vector<std::int64_t> record_strides(const qez_test::strided_layout& l) {
  std::vector<std::int64_t> v{l.offset};
  v.insert(v.end(), l.strides.rbegin(), l.strides.rend());
  return v;
}

}  // namespace qez_engine_test
