// Special members of the vector-math error handlers, exported for the
// product's other libraries; nothing in this library creates a handler.
#include "ulmara/qez/vm/error_handler.hpp"

#include <exception>
#include <utility>

namespace ulmara::qez::vm::detail {

error_handler_base::error_handler_base() = default;
error_handler_base::error_handler_base(const error_handler_base&) = default;
error_handler_base& error_handler_base::operator=(const error_handler_base&) { return *this; }
error_handler_base::~error_handler_base() = default;

template <class T>
error_handler<T>::error_handler(sycl::buffer<enums::status, 1> statuses, bool first_flag,
                                bool second_flag, std::uint64_t first_word,
                                std::uint64_t second_word, std::uint32_t third_word, T value,
                                bool last_flag)
    : first_flag_(first_flag),
      second_flag_(second_flag),
      statuses_(std::move(statuses)),
      first_word_(first_word),
      second_word_(second_word),
      third_word_(third_word),
      value_(value),
      last_flag_(last_flag) {}

// Copy and move share one body: both objects then refer to one status buffer,
// and the source keeps everything it had.
template <class T>
error_handler<T>::error_handler(const error_handler& other)
    : error_handler_base(other), statuses_(other.statuses_) {
  first_flag_ = other.first_flag_;
  second_flag_ = other.second_flag_;
  copy_fields(other);
}

template <class T>
error_handler<T>::error_handler(error_handler&& other) : error_handler(static_cast<const error_handler&>(other)) {}

template <class T>
void error_handler<T>::copy_fields(const error_handler& other) {
  first_word_ = other.first_word_;
  second_word_ = other.second_word_;
  third_word_ = other.third_word_;
  value_ = other.value_;
  last_flag_ = other.last_flag_;
}

template <class T>
error_handler<T>& error_handler<T>::operator=(const error_handler& other) {
  first_flag_ = other.first_flag_;
  second_flag_ = other.second_flag_;
  statuses_ = other.statuses_;
  copy_fields(other);
  return *this;
}

template <class T>
error_handler<T>& error_handler<T>::operator=(error_handler&& other) {
  first_flag_ = other.first_flag_;
  second_flag_ = other.second_flag_;
  statuses_ = std::move(other.statuses_);
  copy_fields(other);
  return *this;
}

// Releasing the buffer may report an error of the runtime: a standard
// exception is dropped, anything else ends the process.
template <class T>
error_handler<T>::~error_handler() {
  try {
    sycl::buffer<enums::status, 1> released(std::move(statuses_));
  } catch (const std::exception&) {
  } catch (...) {
    std::terminate();
  }
}

template class error_handler<sycl::half>;
template class error_handler<float>;
template class error_handler<double>;
template class error_handler<std::complex<float>>;
template class error_handler<std::complex<double>>;

}  // namespace ulmara::qez::vm::detail
