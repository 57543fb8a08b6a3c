// Guard zones around the arrays a compute writes: the array on the device
// holds `guard_elements` values of a pattern after the caller's data and,
// for USM (whose pointer may point anywhere inside an allocation), as many
// before it; a buffer argument starts at its first byte, so buffers get the
// trailing zone only. After the compute, every position that belongs to no
// transform, guards and gaps between transforms alike, must still hold what
// it held before.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include <sycl/sycl.hpp>

#include "tests/backends/support/record_harness.hpp"
#include "tests/backends/support/run_words.hpp"

namespace backend_test {

// Values on each side of the caller's data.
inline constexpr std::int64_t guard_elements = 64;

// A value no transform of the tests' data in [-1, 1] produces by chance.
template <class T>
std::complex<T> guard_pattern() {
  return {T(1234.5), T(-4321.25)};
}

// The caller's array of `data.size()` values inside its guard zones.
template <class T>
class guarded_array {
 public:
  guarded_array(const std::vector<T>& data, const T& pattern, container kind, sycl::queue& queue = gpu_test_queue())
      : lead_(is_usm(kind) ? guard_elements : 0),
        size_(static_cast<std::int64_t>(data.size())),
        initial_(with_guards(data, pattern, lead_)),
        array_(initial_, kind, queue) {}
  guarded_array(const guarded_array&) = delete;
  guarded_array& operator=(const guarded_array&) = delete;

  // Values of the caller's data.
  std::int64_t size() const { return size_; }
  // What a compute entry takes: the USM pointer past the leading zone, or
  // the byte buffer.
  void* argument() const { return lead_ != 0 ? static_cast<void*>(array_.usm() + lead_) : array_.argument(); }
  // The device contents of the caller's data.
  std::vector<T> read() const { return data_of(array_.read()); }
  // Positions of the whole array (both zones, and the data positions that
  // `owned` does not mark) whose contents changed since construction.
  std::int64_t changed_outside(const std::vector<bool>& owned) const {
    const std::vector<T> now = array_.read();
    std::int64_t changed = 0;
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(now.size()); ++k) {
      const std::int64_t at = k - lead_;
      const bool mine = at >= 0 && at < size_ && owned[static_cast<size_t>(at)];
      if (!mine && now[static_cast<size_t>(k)] != initial_[static_cast<size_t>(k)]) ++changed;
    }
    return changed;
  }
  // The same, with only the first `transforms_end` data positions owned.
  std::int64_t changed_outside(std::int64_t transforms_end) const {
    std::vector<bool> owned(static_cast<size_t>(size_), false);
    for (std::int64_t k = 0; k < transforms_end; ++k) owned[static_cast<size_t>(k)] = true;
    return changed_outside(owned);
  }

 private:
  static std::vector<T> with_guards(const std::vector<T>& data, const T& pattern, std::int64_t lead) {
    std::vector<T> all(static_cast<size_t>(lead), pattern);
    all.insert(all.end(), data.begin(), data.end());
    all.insert(all.end(), static_cast<size_t>(guard_elements), pattern);
    return all;
  }
  std::vector<T> data_of(const std::vector<T>& all) const {
    return std::vector<T>(all.begin() + lead_, all.begin() + lead_ + size_);
  }

  std::int64_t lead_;
  std::int64_t size_;
  std::vector<T> initial_;
  device_array<T> array_;
};

// The input of a compute and, out of place, its output filled with the
// guard pattern; both inside guard zones.
template <class T>
class guarded_run_arrays {
 public:
  using value = std::complex<T>;
  guarded_run_arrays(const std::vector<value>& input, placement where, container kind, std::int64_t output_values,
                     sycl::queue& queue = gpu_test_queue())
      : kind_(kind), in_(input, guard_pattern<T>(), kind, queue) {
    if (!is_in_place(where))
      out_ = std::make_unique<guarded_array<value>>(
          std::vector<value>(static_cast<size_t>(output_values), guard_pattern<T>()), guard_pattern<T>(), kind,
          queue);
  }
  const guarded_array<value>& result() const { return out_ ? *out_ : in_; }
  // One call of the record's compute entry of the direction on these arrays.
  int call(DFTI_DESCRIPTOR* record, direction d) const {
    return call_compute_entry(record, d, in_.argument(), result().argument(), kind_);
  }

 private:
  container kind_;
  guarded_array<value> in_;
  std::unique_ptr<guarded_array<value>> out_;
};

}  // namespace backend_test
