// The DFT descriptor of the public C++ interface.
//
// A descriptor<precision, domain> describes a transform (lengths, layout,
// scales, placement), is committed to a SYCL queue and then runs forward and
// backward transforms on USM pointers or SYCL buffers. It is move-only; a
// moved-from descriptor must be assigned a new value before any further use.
//
//   descriptor<precision::SINGLE, domain::COMPLEX> desc({64, 32});
//   desc.set_value(config_param::PLACEMENT, config_value::OUT_OF_PLACE);
//   desc.commit(queue);
//   compute_forward(desc, in, out).wait();
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <type_traits>
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

namespace detail {

template <precision prec>
using real_scalar_t = std::conditional_t<prec == precision::SINGLE, float, double>;

// Integer types that convert to std::int64_t without loss.
template <class I>
constexpr bool is_narrow_integer_v = std::is_integral_v<I> && !std::is_same_v<I, bool> &&
                                     !std::is_same_v<I, std::int64_t> &&
                                     (std::is_signed_v<I> ? sizeof(I) <= 8 : sizeof(I) < 8);

// Element types of the data a descriptor of precision `prec` transforms.
template <precision prec, class T>
constexpr bool is_element_v = std::is_same_v<T, real_scalar_t<prec>> ||
                              std::is_same_v<T, std::complex<real_scalar_t<prec>>>;

// Out-of-place pairs: the same type on both sides, or for the real domain
// real data on the forward side and complex data on the backward side.
template <precision prec, domain dom, class Forward, class Backward>
constexpr bool is_pair_v =
    (is_element_v<prec, Forward> && std::is_same_v<Forward, Backward>) ||
    (dom == domain::REAL && std::is_same_v<Forward, real_scalar_t<prec>> &&
     std::is_same_v<Backward, std::complex<real_scalar_t<prec>>>);

}  // namespace detail

template <precision prec, domain dom>
class descriptor {
public:
  using real_scalar_type = detail::real_scalar_t<prec>;

  // Lengths in row-major order, the last one varying fastest; one to three.
  descriptor(std::vector<std::int64_t> lengths);
  descriptor(std::int64_t length);
  descriptor(descriptor&& other);
  descriptor& operator=(descriptor&& other);
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  ~descriptor();

  // Configuration. A change to a committed descriptor makes it uncommitted.
  void set_value(config_param param, config_value value);
  void set_value(config_param param, std::int64_t value);
  void set_value(config_param param, real_scalar_type value);
  void set_value(config_param param, const std::vector<std::int64_t>& values);
  template <class I, std::enable_if_t<detail::is_narrow_integer_v<I>, int> = 0>
  void set_value(config_param param, I value) {
    set_value(param, static_cast<std::int64_t>(value));
  }

  void get_value(config_param param, config_value* value) const;
  void get_value(config_param param, domain* value) const;
  void get_value(config_param param, precision* value) const;
  void get_value(config_param param, std::int64_t* value) const;
  void get_value(config_param param, real_scalar_type* value) const;
  // The vector must already have the size the parameter needs.
  void get_value(config_param param, std::vector<std::int64_t>* values) const;

  // Prepares the transform for the queue's device; waits for the work of an
  // earlier commitment before releasing it.
  void commit(sycl::queue& queue);

  // Hands over the workspace of a descriptor configured with
  // WORKSPACE_PLACEMENT = WORKSPACE_EXTERNAL, after commit. T is float or
  // double.
  template <class T>
  void set_workspace(sycl::buffer<T, 1>& workspace);
  template <class T>
  void set_workspace(T* workspace);

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

// ---------------------------------------------------------------------------
// Transforms on USM pointers. They run after `dependencies` and return the
// event of the transform.

template <precision prec, domain dom, class T,
          std::enable_if_t<detail::is_element_v<prec, T>, int> = 0>
sycl::event compute_forward(descriptor<prec, dom>& desc, T* inout,
                            const std::vector<sycl::event>& dependencies = {});
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TI, TO>, int> = 0>
sycl::event compute_forward(descriptor<prec, dom>& desc, TI* in, TO* out,
                            const std::vector<sycl::event>& dependencies = {});
template <precision prec, domain dom, class T,
          std::enable_if_t<detail::is_element_v<prec, T>, int> = 0>
sycl::event compute_backward(descriptor<prec, dom>& desc, T* inout,
                             const std::vector<sycl::event>& dependencies = {});
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TO, TI>, int> = 0>
sycl::event compute_backward(descriptor<prec, dom>& desc, TI* in, TO* out,
                             const std::vector<sycl::event>& dependencies = {});

// Transforms on SYCL buffers: ordered by the buffers' accessors; the results
// are seen through host accessors or when the buffers are destroyed.

template <precision prec, domain dom, class T,
          std::enable_if_t<detail::is_element_v<prec, T>, int> = 0>
void compute_forward(descriptor<prec, dom>& desc, sycl::buffer<T, 1>& inout);
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TI, TO>, int> = 0>
void compute_forward(descriptor<prec, dom>& desc, sycl::buffer<TI, 1>& in,
                     sycl::buffer<TO, 1>& out);
template <precision prec, domain dom, class T,
          std::enable_if_t<detail::is_element_v<prec, T>, int> = 0>
void compute_backward(descriptor<prec, dom>& desc, sycl::buffer<T, 1>& inout);
template <precision prec, domain dom, class TI, class TO,
          std::enable_if_t<detail::is_pair_v<prec, dom, TO, TI>, int> = 0>
void compute_backward(descriptor<prec, dom>& desc, sycl::buffer<TI, 1>& in,
                      sycl::buffer<TO, 1>& out);

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
