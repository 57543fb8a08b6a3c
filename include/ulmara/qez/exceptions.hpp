// Exceptions of the library's public interface.
//
// Two families: ulmara::qez::exception, whose message names the domain, the
// failing operation and a sentence, and the ulmara::qez::dft status
// exceptions, which carry only the name of a status code.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace ulmara {
namespace qez {

class exception : public std::exception {
public:
  exception(const std::string& domain, const std::string& operation, const std::string& text);
  ~exception() override;
  const char* what() const noexcept override;

private:
  std::string msg_;
};

// Each subclass prefixes the caller's text with its kind text.
#define QEZ_DECLARE_EXCEPTION_KIND(name)                                                         \
  class name : public ::ulmara::qez::exception {                                                \
  public:                                                                                        \
    name(const std::string& domain, const std::string& operation, const std::string& text);     \
  };
QEZ_DECLARE_EXCEPTION_KIND(invalid_argument)
QEZ_DECLARE_EXCEPTION_KIND(uninitialized)
QEZ_DECLARE_EXCEPTION_KIND(unimplemented)
QEZ_DECLARE_EXCEPTION_KIND(computation_error)
QEZ_DECLARE_EXCEPTION_KIND(batch_error)
QEZ_DECLARE_EXCEPTION_KIND(unsupported_device)
QEZ_DECLARE_EXCEPTION_KIND(host_bad_alloc)
QEZ_DECLARE_EXCEPTION_KIND(device_bad_alloc)
#undef QEZ_DECLARE_EXCEPTION_KIND

namespace lapack {

// Non-polymorphic part shared by the lapack exceptions: info, detail and the
// object's own ulmara::qez::exception base, through which what() answers.
class exception {
public:
  exception(const ::ulmara::qez::exception* base, std::int64_t info, std::int64_t detail)
      : base_(base), info_(info), detail_(detail) {}
  std::int64_t info() const { return info_; }
  std::int64_t detail() const { return detail_; }
  const char* what() const { return base_->what(); }

protected:
  exception(const exception&) = default;
  exception& operator=(const exception&) = default;
  void rebind(const ::ulmara::qez::exception* base) { base_ = base; }

private:
  const ::ulmara::qez::exception* base_;
  std::int64_t info_;
  std::int64_t detail_;
};

class computation_error : public ::ulmara::qez::computation_error, public lapack::exception {
public:
  computation_error(const std::string& operation, const std::string& text, std::int64_t info);
  computation_error(const computation_error& other);
  computation_error& operator=(const computation_error& other);
  using ::ulmara::qez::computation_error::what;
};

class invalid_argument : public ::ulmara::qez::invalid_argument, public lapack::exception {
public:
  invalid_argument(const std::string& operation, const std::string& text, std::int64_t info,
                   std::int64_t detail);
  invalid_argument(const invalid_argument& other);
  invalid_argument& operator=(const invalid_argument& other);
  using ::ulmara::qez::invalid_argument::what;
};

class batch_error : public ::ulmara::qez::batch_error, public lapack::exception {
public:
  batch_error(const std::string& operation, const std::string& text, std::int64_t info,
              std::vector<std::int64_t> ids, std::vector<std::exception_ptr> exceptions);
  batch_error(const batch_error& other);
  batch_error& operator=(const batch_error& other);
  using ::ulmara::qez::batch_error::what;
  const std::vector<std::int64_t>& ids() const { return ids_; }
  const std::vector<std::exception_ptr>& exceptions() const { return exceptions_; }

private:
  std::vector<std::int64_t> ids_;
  std::vector<std::exception_ptr> exceptions_;
};

}  // namespace lapack

namespace dft {

// Status exceptions: what() is the name of the status code.
#define QEZ_DECLARE_STATUS_EXCEPTION(name)                                                       \
  class name : public std::runtime_error {                                                      \
  public:                                                                                        \
    name();                                                                                      \
    name(const name&) = default;                                                                 \
  };
QEZ_DECLARE_STATUS_EXCEPTION(allocation_failed_exception)
QEZ_DECLARE_STATUS_EXCEPTION(invalid_descriptor_exception)
QEZ_DECLARE_STATUS_EXCEPTION(bad_descriptor_exception)
QEZ_DECLARE_STATUS_EXCEPTION(unimplemented_exception)
QEZ_DECLARE_STATUS_EXCEPTION(internal_error_exception)
QEZ_DECLARE_STATUS_EXCEPTION(no_workspace_exception)
QEZ_DECLARE_STATUS_EXCEPTION(uncommitted_descriptor_exception)
#undef QEZ_DECLARE_STATUS_EXCEPTION

// Turns a status of a record, the CPU engine or a GPU backend into the
// matching status exception; returns for success and for codes it does not
// map.
void throw_on_dfti_status(std::int64_t status);

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
