// Error handlers of the vector-math routines, shared as value types with the
// product's other libraries: this library exports their special members.
#pragma once

#include <complex>
#include <cstdint>

#include <sycl/sycl.hpp>

namespace ulmara {
namespace qez {
namespace vm {
namespace enums {
enum class status : std::int32_t {};
}  // namespace enums

namespace detail {

class error_handler_base {
public:
  error_handler_base();
  error_handler_base(const error_handler_base&);
  error_handler_base& operator=(const error_handler_base&);
  virtual ~error_handler_base();
};

template <class T>
class error_handler : public error_handler_base {
public:
  error_handler(sycl::buffer<enums::status, 1> statuses, bool first_flag, bool second_flag,
                std::uint64_t first_word, std::uint64_t second_word, std::uint32_t third_word,
                T value, bool last_flag);
  error_handler(const error_handler& other);
  error_handler(error_handler&& other);
  error_handler& operator=(const error_handler& other);
  error_handler& operator=(error_handler&& other);
  ~error_handler() override;

  bool first_flag() const { return first_flag_; }
  bool second_flag() const { return second_flag_; }
  const sycl::buffer<enums::status, 1>& statuses() const { return statuses_; }
  std::uint64_t first_word() const { return first_word_; }
  std::uint64_t second_word() const { return second_word_; }
  std::uint32_t third_word() const { return third_word_; }
  const T& value() const { return value_; }
  bool last_flag() const { return last_flag_; }

private:
  void copy_fields(const error_handler& other);

  std::uint8_t first_flag_;
  std::uint8_t second_flag_;
  sycl::buffer<enums::status, 1> statuses_;
  std::uint64_t first_word_;
  std::uint64_t second_word_;
  std::uint32_t third_word_;
  T value_;
  std::uint8_t last_flag_;
};

extern template class error_handler<sycl::half>;
extern template class error_handler<float>;
extern template class error_handler<double>;
extern template class error_handler<std::complex<float>>;
extern template class error_handler<std::complex<double>>;

}  // namespace detail
}  // namespace vm
}  // namespace qez
}  // namespace ulmara
