// Records for descriptor-core tests, owned by a guard that destroys them.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <vector>

#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_service_control.h"

namespace ulmara {
namespace qez {
namespace dft {
inline bool operator==(const dim_record& a, const dim_record& b) {
  return a.length == b.length && a.input == b.input && a.output == b.output &&
         a.forward == b.forward && a.backward == b.backward;
}
inline std::ostream& operator<<(std::ostream& os, const dim_record& r) {
  return os << "{" << r.length << ", " << r.input << ", " << r.output << ", " << r.forward << ", "
            << r.backward << "}";
}
}  // namespace dft
}  // namespace qez
}  // namespace ulmara

namespace core_test {

using namespace ulmara::qez::dft;

class record_guard {
public:
  record_guard() = default;
  explicit record_guard(DFTI_DESCRIPTOR* r) : record_(r) {}
  record_guard(const record_guard&) = delete;
  record_guard& operator=(const record_guard&) = delete;
  ~record_guard() {
    if (record_) record_->free(record_, record_);
  }
  DFTI_DESCRIPTOR* get() const { return record_; }
  DFTI_DESCRIPTOR* operator->() const { return record_; }
  DFTI_DESCRIPTOR** out() { return &record_; }
  void reset(DFTI_DESCRIPTOR* r) {
    if (record_) record_->free(record_, record_);
    record_ = r;
  }

private:
  DFTI_DESCRIPTOR* record_ = nullptr;
};

// A record of the given precision and domain, lengths innermost first, bound
// to the list of its class.
inline DFTI_DESCRIPTOR* make_record(std::uint32_t precision, std::uint32_t domain,
                                    std::vector<std::int64_t> lengths) {
  DFTI_DESCRIPTOR* r = nullptr;
  EXPECT_EQ(create_descriptor(&r, precision, domain, static_cast<std::int32_t>(lengths.size()),
                              lengths.data(), nullptr),
            0);
  const bool single = precision == dfti_single, complex = domain == dfti_complex;
  const bool one_d = lengths.size() == 1;
  if (complex)
    one_d ? (single ? bind_backend_list_c2c_1d_float(&r) : bind_backend_list_c2c_1d_double(&r))
          : (single ? bind_backend_list_c2c_md_float(&r) : bind_backend_list_c2c_md_double(&r));
  else
    one_d ? (single ? bind_backend_list_r2c_1d_float(&r) : bind_backend_list_r2c_1d_double(&r))
          : (single ? bind_backend_list_r2c_md_float(&r) : bind_backend_list_r2c_md_double(&r));
  return r;
}

inline std::vector<dim_record> records_of(const dim_list& list) {
  return std::vector<dim_record>(list.records, list.records + list.count);
}

// Turns injected allocation failures off when a test ends, whatever happens.
struct no_injection_at_exit {
  ~no_injection_at_exit() { qez_standin_fail_allocations(0, 0); }
};

}  // namespace core_test

