// SYCL stand-in: the runtime's kernel compiler. A device that answers
// ext_ulmara_can_compile(source_language::opencl) takes OpenCL C source text
// at run time: create_kernel_bundle_from_source makes a bundle in source
// state from it, and build compiles that bundle for its devices into an
// executable bundle. On the Nivolo backend (the only one with a compiler
// here) the executable bundle holds one driver module per device, so its
// kernels come out as kernels of any Nivolo bundle do (get_native, then the
// driver's kernels and make_kernel).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kernel_bundle.hpp"

namespace sycl {
inline namespace _V1 {

namespace ext::ulmara::experimental {

enum class source_language : int { opencl = 0 };

// Build properties: compiler options (each string one option, passed on in
// order), where to save the compiler's log, and kernel names to register.
struct build_options {
  std::vector<std::string> options;
  build_options(std::vector<std::string> list) : options(std::move(list)) {}
  build_options(std::string option) : options{std::move(option)} {}
};
struct save_log {
  std::string* log;
};
struct registered_names {
  std::vector<std::string> names;
};

class properties {
 public:
  template <class... P>
  explicit properties(P... props) {
    (take(std::move(props)), ...);
  }
  const std::vector<std::string>& options() const { return options_; }
  std::string* log() const { return log_; }
  const std::vector<std::string>& names() const { return names_; }

 private:
  void take(build_options p) { options_ = std::move(p.options); }
  void take(save_log p) { log_ = p.log; }
  void take(registered_names p) { names_ = std::move(p.names); }
  std::vector<std::string> options_;
  std::string* log_ = nullptr;
  std::vector<std::string> names_;
};

}  // namespace ext::ulmara::experimental

namespace detail {
QEZ_SYCL_EXPORT std::shared_ptr<kernel_bundle_impl> bundle_from_source(const context& ctx,
                                                                       ext::ulmara::experimental::source_language lang,
                                                                       const std::string& source);
QEZ_SYCL_EXPORT std::shared_ptr<kernel_bundle_impl> bundle_build_source(
    const kernel_bundle_impl& source, const std::vector<device>& devs,
    const ext::ulmara::experimental::properties& props);
}  // namespace detail

namespace ext::ulmara::experimental {

// errc::invalid when a device of the context cannot compile the language.
inline kernel_bundle<bundle_state::ext_ulmara_source> create_kernel_bundle_from_source(const context& ctx,
                                                                                      source_language lang,
                                                                                      const std::string& source) {
  return kernel_bundle<bundle_state::ext_ulmara_source>(detail::bundle_from_source(ctx, lang, source));
}

// errc::build, with the compiler's log in the message, when the source does
// not build for a device; errc::invalid for a device not of the bundle.
inline kernel_bundle<bundle_state::executable> build(const kernel_bundle<bundle_state::ext_ulmara_source>& source,
                                                     const std::vector<device>& devs,
                                                     const properties& props = properties{}) {
  return kernel_bundle<bundle_state::executable>(
      detail::bundle_build_source(*detail::get_impl(source), devs, props));
}
inline kernel_bundle<bundle_state::executable> build(const kernel_bundle<bundle_state::ext_ulmara_source>& source,
                                                     const properties& props = properties{}) {
  return build(source, source.get_devices(), props);
}

}  // namespace ext::ulmara::experimental

}  // namespace _V1
}  // namespace sycl
