// Exceptions of the public interface and the status-to-exception mapping.
#include "ulmara/qez/exceptions.hpp"

#include "dft/api/status_codes.hpp"

namespace ulmara::qez {
namespace {

// "ulmara::qez", then "::domain", "::operation" and ": text", each piece only
// when it is not empty.
std::string join_message(const std::string& domain, const std::string& operation,
                         const std::string& text) {
  std::string message = "ulmara::qez";
  if (!domain.empty()) message += "::" + domain;
  if (!operation.empty()) message += "::" + operation;
  if (!text.empty()) message += ": " + text;
  return message;
}

std::string with_kind(const char* kind, const std::string& text) {
  return text.empty() ? std::string(kind) : std::string(kind) + ": " + text;
}

}  // namespace

exception::exception(const std::string& domain, const std::string& operation,
                     const std::string& text)
    : msg_(join_message(domain, operation, text)) {}

exception::~exception() = default;

const char* exception::what() const noexcept { return msg_.c_str(); }

#define QEZ_DEFINE_EXCEPTION_KIND(name, kind)                                                   \
  name::name(const std::string& domain, const std::string& operation, const std::string& text)  \
      : ::ulmara::qez::exception(domain, operation, with_kind(kind, text)) {}
QEZ_DEFINE_EXCEPTION_KIND(invalid_argument, "invalid argument")
QEZ_DEFINE_EXCEPTION_KIND(uninitialized, "uninitialized object")
QEZ_DEFINE_EXCEPTION_KIND(unimplemented, "unimplemented functionality")
QEZ_DEFINE_EXCEPTION_KIND(computation_error, "computation error")
QEZ_DEFINE_EXCEPTION_KIND(batch_error, "batch error")
QEZ_DEFINE_EXCEPTION_KIND(unsupported_device, "unsupported device")
QEZ_DEFINE_EXCEPTION_KIND(host_bad_alloc, "cannot allocate memory on host")
QEZ_DEFINE_EXCEPTION_KIND(device_bad_alloc, "cannot allocate memory on device")
#undef QEZ_DEFINE_EXCEPTION_KIND

namespace lapack {
namespace {
const char* const lapack_domain = "lapack";
}

// The lapack part always points at the ulmara::qez::exception base of the
// object that contains it, also after a copy.
computation_error::computation_error(const std::string& operation, const std::string& text,
                                     std::int64_t info)
    : ::ulmara::qez::computation_error(lapack_domain, operation, text),
      lapack::exception(this, info, 0) {}
computation_error::computation_error(const computation_error& other)
    : ::ulmara::qez::computation_error(other), lapack::exception(other) {
  rebind(this);
}
computation_error& computation_error::operator=(const computation_error& other) {
  ::ulmara::qez::computation_error::operator=(other);
  lapack::exception::operator=(other);
  rebind(this);
  return *this;
}

invalid_argument::invalid_argument(const std::string& operation, const std::string& text,
                                   std::int64_t info, std::int64_t detail)
    : ::ulmara::qez::invalid_argument(lapack_domain, operation, text),
      lapack::exception(this, info, detail) {}
invalid_argument::invalid_argument(const invalid_argument& other)
    : ::ulmara::qez::invalid_argument(other), lapack::exception(other) {
  rebind(this);
}
invalid_argument& invalid_argument::operator=(const invalid_argument& other) {
  ::ulmara::qez::invalid_argument::operator=(other);
  lapack::exception::operator=(other);
  rebind(this);
  return *this;
}

batch_error::batch_error(const std::string& operation, const std::string& text,
                         std::int64_t info, std::vector<std::int64_t> ids,
                         std::vector<std::exception_ptr> exceptions)
    : ::ulmara::qez::batch_error(lapack_domain, operation, text),
      lapack::exception(this, info, 0),
      ids_(std::move(ids)),
      exceptions_(std::move(exceptions)) {}
batch_error::batch_error(const batch_error& other)
    : ::ulmara::qez::batch_error(other),
      lapack::exception(other),
      ids_(other.ids_),
      exceptions_(other.exceptions_) {
  rebind(this);
}
batch_error& batch_error::operator=(const batch_error& other) {
  ::ulmara::qez::batch_error::operator=(other);
  lapack::exception::operator=(other);
  ids_ = other.ids_;
  exceptions_ = other.exceptions_;
  rebind(this);
  return *this;
}

}  // namespace lapack

namespace dft {

#define QEZ_DEFINE_STATUS_EXCEPTION(name, code_name) \
  name::name() : std::runtime_error(code_name) {}
QEZ_DEFINE_STATUS_EXCEPTION(allocation_failed_exception, "FFT_ALLOC_FAILED")
QEZ_DEFINE_STATUS_EXCEPTION(invalid_descriptor_exception, "FFT_INVALID_DESCRIPTOR")
QEZ_DEFINE_STATUS_EXCEPTION(bad_descriptor_exception, "FFT_BAD_DESCRIPTOR")
QEZ_DEFINE_STATUS_EXCEPTION(unimplemented_exception, "FFT_UNIMPLEMENTED")
QEZ_DEFINE_STATUS_EXCEPTION(internal_error_exception, "FFT_INTERNAL_ERROR")
QEZ_DEFINE_STATUS_EXCEPTION(no_workspace_exception, "FFT_WORKSPACE_NOT_PROVIDED")
QEZ_DEFINE_STATUS_EXCEPTION(uncommitted_descriptor_exception, "FFT_UNCOMMITTED_DESCRIPTOR")
#undef QEZ_DEFINE_STATUS_EXCEPTION

void throw_on_dfti_status(std::int64_t status) {
  switch (status) {
    case status_allocation_failed: throw allocation_failed_exception();
    case status_invalid_configuration:
    case status_invalid_descriptor: throw invalid_descriptor_exception();
    case status_bad_descriptor: throw bad_descriptor_exception();
    case status_unimplemented: throw unimplemented_exception();
    case status_internal_error: throw internal_error_exception();
    case status_no_workspace: throw no_workspace_exception();
    default: return;  // success, and codes that carry no exception
  }
}

}  // namespace dft
}  // namespace ulmara::qez
