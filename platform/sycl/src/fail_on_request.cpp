// SYCL stand-in: failures on request, for tests of what callers do when the
// runtime fails them. The variables are read at every call, so a test
// process may set and clear them between calls (with no such call running
// on another thread); unset, nothing changes.
//
// STANDIN_SYCL_FAIL_BUFFER=<function>[#<n>]: making a buffer from code in
//   <function> (the buffer's code location) throws errc::memory_allocation;
//   with #<n>, only the n-th such buffer, counted while the variable names
//   that function.
// STANDIN_SYCL_FAIL_SUBMIT=<function>[#<n>]: submitting a command group from
//   <function> (the submission's code location) throws errc::runtime after
//   the group's function has run and before anything is enqueued, as a
//   driver that refuses the command; with #<n>, only the n-th such group,
//   counted since a submission last read the variable with another value
//   (or unset).
// STANDIN_SYCL_FAIL_WAIT=<function>: event::wait() on the event of a command
//   group submitted from <function> waits for the command, then throws
//   errc::runtime, as a driver whose wait call fails.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {
namespace {

constexpr const char* fail_buffer_variable = "STANDIN_SYCL_FAIL_BUFFER";
constexpr const char* fail_submit_variable = "STANDIN_SYCL_FAIL_SUBMIT";
constexpr const char* fail_wait_variable = "STANDIN_SYCL_FAIL_WAIT";

// "<function>[#<n>]": the function, and n (0: every buffer or command group
// it makes).
struct counted_request {
  std::string function;
  unsigned long nth = 0;
};

bool read_counted_request(const char* variable, counted_request* request) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0') return false;
  const char* hash = std::strchr(value, '#');
  request->function = hash != nullptr ? std::string(value, hash) : std::string(value);
  request->nth = hash != nullptr ? std::strtoul(hash + 1, nullptr, 10) : 0;
  return true;
}

bool names(const char* variable_value, const code_location& loc) {
  return variable_value != nullptr && loc.functionName() != nullptr &&
         std::strcmp(variable_value, loc.functionName()) == 0;
}

// Buffers made so far by each function a request named.
std::mutex counts_mutex;
std::map<std::string, unsigned long> buffers_made;

// Command groups submitted by the function the submission request names,
// since the variable last took its present value.
std::string submit_request_seen;
unsigned long groups_submitted = 0;

// Counts a submission from `loc` against the request; true when it is the
// one to fail.
bool submission_fails(const code_location& loc) {
  const char* value = std::getenv(fail_submit_variable);
  const std::string seen = value != nullptr ? value : "";
  counted_request request;
  const bool requested = read_counted_request(fail_submit_variable, &request);
  std::lock_guard<std::mutex> lk(counts_mutex);
  if (seen != submit_request_seen) {
    submit_request_seen = seen;
    groups_submitted = 0;
  }
  if (!requested || !names(request.function.c_str(), loc)) return false;
  ++groups_submitted;
  return request.nth == 0 || groups_submitted == request.nth;
}

}  // namespace

void fail_submit_on_request(const code_location& loc) {
  if (submission_fails(loc))
    throw_error(errc::runtime, std::string("queue::submit: the command was refused (") + fail_submit_variable + ")");
}

void fail_buffer_on_request(const code_location& loc) {
  counted_request request;
  if (!read_counted_request(fail_buffer_variable, &request) || !names(request.function.c_str(), loc)) return;
  unsigned long made = 0;
  {
    std::lock_guard<std::mutex> lk(counts_mutex);
    made = ++buffers_made[request.function];
  }
  if (request.nth == 0 || made == request.nth)
    throw_error(errc::memory_allocation,
                std::string("cannot allocate buffer storage (") + fail_buffer_variable + ")");
}

void fail_wait_on_request(const event_impl& e) {
  if (names(std::getenv(fail_wait_variable), e.loc))
    throw_error(errc::runtime, std::string("event::wait: the wait failed (") + fail_wait_variable + ")");
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
