// SYCL stand-in: property lists and the queue, buffer and accessor
// properties the library uses.
#pragma once

#include <typeinfo>

#include "exception.hpp"

namespace sycl {
inline namespace _V1 {

namespace detail {
enum class property_kind : int {
  queue_in_order,
  queue_enable_profiling,
  buffer_use_host_ptr,
  buffer_use_mutex,
  buffer_context_bound,
  no_init,
};
struct property_base {
  property_kind kind;
};
}  // namespace detail

namespace property {
namespace queue {
struct in_order : detail::property_base {
  in_order() : property_base{detail::property_kind::queue_in_order} {}
};
struct enable_profiling : detail::property_base {
  enable_profiling() : property_base{detail::property_kind::queue_enable_profiling} {}
};
}  // namespace queue
namespace buffer {
struct use_host_ptr : detail::property_base {
  use_host_ptr() : property_base{detail::property_kind::buffer_use_host_ptr} {}
};
struct context_bound : detail::property_base {
  context_bound() : property_base{detail::property_kind::buffer_context_bound} {}
};
}  // namespace buffer
struct no_init : detail::property_base {
  no_init() : property_base{detail::property_kind::no_init} {}
};
}  // namespace property
inline const property::no_init no_init;

template <class T>
struct is_property : std::is_base_of<detail::property_base, T> {};

class property_list {
 public:
  property_list() = default;
  template <class... P, class = std::enable_if_t<(is_property<P>::value && ...)>>
  property_list(P... props) : kinds_{props.kind...} {}

  template <class P>
  bool has_property() const noexcept {
    const auto k = P().kind;
    for (auto x : kinds_)
      if (x == k) return true;
    return false;
  }
  template <class P>
  P get_property() const {
    if (!has_property<P>()) throw sycl::exception(make_error_code(errc::invalid), "property not in the list");
    return P();
  }
  const std::vector<detail::property_kind>& kinds() const { return kinds_; }

 private:
  std::vector<detail::property_kind> kinds_;
};

}  // namespace _V1
}  // namespace sycl
