// The record a backend test commits: how it is made (a child record, or one
// as the front end makes it), which list it tries, how its batch, scales,
// placement and workspace mode are set, and the owner that commits it,
// hands it a caller workspace and frees it.
#pragma once

#include <cstdint>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/record_harness.hpp"

namespace backend_test {

// A list holding only `mine` and the terminator of its precision (earlier
// backends of the library's lists would take many of the tests' lengths);
// it lives as long as the process.
const ulmara::qez::dft::backend_table* const* solo_backend_list(const ulmara::qez::dft::backend_table* mine,
                                                                bool double_precision);

// Which pair of distances a test sets.
enum class distance_convention { forward_backward, input_output };

// The number of transforms, then the distances of the first side (forward
// domain, or input) and the second side (backward domain, or output).
void set_count_and_distances(DFTI_DESCRIPTOR* record, std::int64_t count, distance_convention convention,
                             std::int64_t first, std::int64_t second);

// Both scales through the record's method table.
void set_scales(DFTI_DESCRIPTOR* record, double fwd_scale, double bwd_scale);

// Placement, directions and who owns the workspace.
void set_placement(DFTI_DESCRIPTOR* record, bool in_place, std::uint32_t directions, bool internal_workspace);

// Owns a test's record: makes it, commits it, hands it a caller workspace
// and frees it (then waits for the queue, so that the caller workspace goes
// after the record's work).
class record_owner {
 public:
  explicit record_owner(sycl::queue& queue) : queue_(queue), workspace_(queue) {}
  ~record_owner();
  record_owner(const record_owner&) = delete;
  record_owner& operator=(const record_owner&) = delete;

  int commit_status() const { return commit_status_; }
  DFTI_DESCRIPTOR* record() const { return record_; }
  caller_workspace& workspace() { return workspace_; }
  sycl::buffer<char, 1>* buffer_workspace() const { return workspace_.buffer(); }
  void* usm_workspace() const { return workspace_.usm(); }
  std::uint64_t workspace_bytes() const { return backend_test::workspace_bytes(record_); }

  // A caller workspace of the committed size, handed over.
  int give_buffer_workspace() { return workspace_.give_buffer(record_, workspace_bytes()); }
  int give_usm_workspace() { return workspace_.give_usm(record_, workspace_bytes()); }

 protected:
  // A rank-1 complex child record of `length`, given the queue; false (and
  // a test failure) when creation fails.
  bool create_child(bool double_precision, std::int64_t length);
  // A rank-1 complex record as the front end makes it, bound to the
  // library's complex one-dimensional list and given the queue.
  bool create_listed(bool double_precision, std::int64_t length);
  // Blesses the record (when asked) for the calling thread, then commits it.
  int commit(bool bless);
  // Committed (status 0 and the record's state), and to `mine`.
  bool committed_here_to(const ulmara::qez::dft::backend_table* mine) const;
  template <class Data>
  Data& backend_data() const {
    return *static_cast<Data*>(record_->bkd_data);
  }

 private:
  sycl::queue& queue_;
  caller_workspace workspace_;  // outlives the record
  DFTI_DESCRIPTOR* record_ = nullptr;
  int commit_status_ = -1;
};

// A record owner that keeps the configuration it was made from and reads
// the committed backend's plan of a precision as `Plan<T>`.
template <class Config, template <class> class Plan>
class committed_case : public record_owner {
 public:
  const Config& config() const { return config_; }
  template <class T>
  Plan<T>& plan() const {
    return backend_data<Plan<T>>();
  }

 protected:
  committed_case(const Config& c, sycl::queue& queue) : record_owner(queue), config_(c) {}
  Config config_;
};

}  // namespace backend_test
