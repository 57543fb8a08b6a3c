// The record a backend test commits: how it is made (a child record, or one
// as the front end makes it), which list it tries, how its batch, scales,
// placement and workspace mode are set, and the owner that commits it,
// hands it a caller workspace and frees it.
#pragma once

#include <cstdint>
#include <string>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/backends/support/run_words.hpp"

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

// The count, then the strides (offset first) and the distances of both
// sides through the record's method table, as input/output or as
// forward/backward; stops at the first setter that refuses its value.
void set_strided_batch(DFTI_DESCRIPTOR* record, std::int64_t count, distance_convention convention,
                       const std::int64_t (&first_strides)[2], const std::int64_t (&second_strides)[2],
                       std::int64_t first_distance, std::int64_t second_distance);

// A second batch dimension of `count` transforms with the distances of both
// sides in the fields of the convention (the record must hold two).
void set_outer_batch(DFTI_DESCRIPTOR* record, distance_convention convention, std::int64_t count,
                     std::int64_t first_distance, std::int64_t second_distance);

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
  // Binds the record to the library's complex one-dimensional list.
  void bind_library_list(bool double_precision);
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

// Whether a configuration is of double precision, whichever way it says so.
template <class Config>
auto config_is_double(const Config& c) -> decltype(bool(c.double_precision)) {
  return c.double_precision;
}
template <class Config>
auto config_is_double(const Config& c) -> decltype(is_double(c.p)) {
  return is_double(c.p);
}

// How a case makes its record and which list the record tries.
enum class road {
  // A child record (blessed for the thread before commit) that tries only
  // the backend under test and the terminator: earlier backends of the
  // library's lists would take many of the tests' layouts.
  solo_list,
  // A child record (blessed) on the library's complex one-dimensional list.
  child_on_library_list,
  // A child record (blessed) on the list its creation gave it.
  child_as_created,
  // A record as the front end makes it, on the library's list.
  front_end,
};

// The backend under test: its private block `Plan<T>` and its tables of
// both precisions. A plan's description comes from describe(plan), found in
// the plan's namespace.
template <template <class> class Plan, const ulmara::qez::dft::backend_table& DoubleTable,
          const ulmara::qez::dft::backend_table& FloatTable>
struct backend_of {
  template <class T>
  using plan = Plan<T>;
  static const ulmara::qez::dft::backend_table* table(bool double_precision) {
    return double_precision ? &DoubleTable : &FloatTable;
  }
};

// A record owner that keeps the configuration it was made from, commits the
// record on a road, and reads the plan of `Backend` (a backend_of).
template <class Backend, class Config>
class backend_case : public record_owner {
 public:
  using config_type = Config;

  const Config& config() const { return config_; }
  bool double_precision() const { return config_is_double(config_); }
  template <class T>
  typename Backend::template plan<T>& plan() const {
    return backend_data<typename Backend::template plan<T>>();
  }
  // Committed, and to the backend under test in the record's precision.
  bool committed_here() const { return committed_here_to(Backend::table(double_precision())); }
  std::string description() const {
    if (!committed_here())
      return "not committed to the backend under test (status " + std::to_string(commit_status()) + ")";
    return double_precision() ? describe(plan<double>()) : describe(plan<float>());
  }

 protected:
  backend_case(const Config& c, sycl::queue& queue) : record_owner(queue), config_(c) {}
  // Makes the record of `length` on the road, has `configure(record)` set
  // it up, and commits it; nothing after a failed creation.
  template <class Configure>
  void make_and_commit(road r, std::int64_t length, const Configure& configure) {
    const bool dp = double_precision();
    if (r == road::front_end ? !create_listed(dp, length) : !create_child(dp, length)) return;
    if (r == road::solo_list) record()->backend_list = solo_backend_list(Backend::table(dp), dp);
    if (r == road::child_on_library_list) bind_library_list(dp);
    configure(record());
    commit(r != road::front_end);
  }

  Config config_;
};

}  // namespace backend_test
