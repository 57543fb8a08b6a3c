// The DFT descriptor of the public C++ interface.
//
// A descriptor<precision, domain> describes a transform (lengths, layout,
// scales, placement), is committed to a SYCL queue and then runs forward and
// backward transforms. It is move-only; a moved-from descriptor must be
// assigned a new value before any further use.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <sycl/sycl.hpp>

#include "ulmara/qez/exceptions.hpp"

struct DFTI_DESCRIPTOR;

namespace ulmara {
namespace qez {
namespace dft {

enum class precision : std::int32_t { SINGLE = 35, DOUBLE = 36 };
enum class domain : std::int32_t { COMPLEX = 32, REAL = 33 };

enum class config_param : std::int32_t {
  FORWARD_DOMAIN = 0,
  DIMENSION = 1,
  LENGTHS = 2,
  PRECISION = 3,
  FORWARD_SCALE = 4,
  BACKWARD_SCALE = 5,
  NUMBER_OF_TRANSFORMS = 6,
  COMPLEX_STORAGE = 7,
  PLACEMENT = 8,
  FWD_DISTANCE = 9,
  BWD_DISTANCE = 10,
  WORKSPACE = 11,
  COMMIT_STATUS = 12,
  THREAD_LIMIT = 13,
  DESTROY_INPUT = 14,
  WORKSPACE_ESTIMATE_BYTES = 15,
  WORKSPACE_BYTES = 16,
  FWD_STRIDES = 17,
  BWD_STRIDES = 18,
  WORKSPACE_PLACEMENT = 19,
  WORKSPACE_EXTERNAL_BYTES = 20,
};

enum class config_value : std::int32_t {
  COMMITTED = 0,
  UNCOMMITTED = 1,
  COMPLEX_INTERLEAVED = 2,
  COMPLEX_SPLIT = 3,
  IN_PLACE = 4,
  OUT_OF_PLACE = 5,
  WORKSPACE_AUTO = 6,
  ALLOW = 7,
  DISALLOW = 8,
  WORKSPACE_LIBRARY = 9,
  WORKSPACE_EXTERNAL = 10,
};

// The CPU-committed copy of a descriptor's configuration: one record,
// created and freed inside host tasks.
struct SYCL_DFTI_DESCRIPTOR {
  DFTI_DESCRIPTOR* record;
};

struct descriptor_access;

template <precision prec, domain dom>
class descriptor {
public:
  // Lengths in row-major order, the last one varying fastest; one to three.
  descriptor(std::vector<std::int64_t> lengths);
  descriptor(std::int64_t length);
  descriptor(descriptor&& other);
  descriptor& operator=(descriptor&& other);
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  ~descriptor();

private:
  friend struct descriptor_access;

  DFTI_DESCRIPTOR* record_ = nullptr;  // owning; null once moved from
  SYCL_DFTI_DESCRIPTOR* slot_ = nullptr;  // owning; set by a commit to a CPU device
  // Over slot_; host tasks reach the slot only through it. Held in an
  // optional so that the destructor can release it where it catches errors.
  std::optional<sycl::buffer<SYCL_DFTI_DESCRIPTOR*, 1>> slot_buffer_;
};

extern template class descriptor<precision::SINGLE, domain::COMPLEX>;
extern template class descriptor<precision::SINGLE, domain::REAL>;
extern template class descriptor<precision::DOUBLE, domain::COMPLEX>;
extern template class descriptor<precision::DOUBLE, domain::REAL>;

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
