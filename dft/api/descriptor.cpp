// The descriptor class: construction over a new record, move by exchange of
// records and slot contents, destruction that frees the CPU-committed copy
// in a host task ordered after every task that still uses it.
#if __has_include(<sycl/sycl.hpp>)

#include <utility>

#include "dft/api/descriptor_access.hpp"
#include "dft/api/descriptor_node.hpp"
#include "qez_service.h"
#include "ulmara/qez/dft.hpp"

namespace ulmara {
namespace qez {
namespace dft {

sycl::event cpu_host_free(slot_buffer_type& slot_buffer, sycl::queue& queue) {
  return queue.submit([&](sycl::handler& cgh) {
    sycl::accessor slot(slot_buffer, cgh, sycl::read_write);
    cgh.host_task([=]() {
      SYCL_DFTI_DESCRIPTOR* holder = slot[0];
      if (holder == nullptr) return;
      if (holder->record != nullptr) dfti_cpu_free_descriptor(&holder->record);
      qez_serv_free(holder);
      slot[0] = nullptr;
    });
  });
}

template <precision prec, domain dom>
descriptor<prec, dom>::descriptor(std::vector<std::int64_t> lengths) {
  slot_buffer_.emplace(&slot_, sycl::range<1>(1));
  const std::vector<std::int64_t> copy(lengths);
  throw_on_dfti_status(create_descriptor_node(&record_, static_cast<std::uint32_t>(prec),
                                              static_cast<std::uint32_t>(dom), copy.size(),
                                              copy.data()));
}

template <precision prec, domain dom>
descriptor<prec, dom>::descriptor(std::int64_t length)
    : descriptor(std::vector<std::int64_t>{length}) {}

template <precision prec, domain dom>
descriptor<prec, dom>::descriptor(descriptor&& other) {
  slot_buffer_.emplace(&slot_, sycl::range<1>(1));
  *this = std::move(other);
}

template <precision prec, domain dom>
descriptor<prec, dom>& descriptor<prec, dom>::operator=(descriptor&& other) {
  // An exchange with itself changes nothing; two host accessors on one
  // buffer would only wait on each other.
  if (this == &other) return *this;
  {
    sycl::host_accessor mine(*slot_buffer_, sycl::read_write);
    sycl::host_accessor theirs(*other.slot_buffer_, sycl::read_write);
    std::swap(mine[0], theirs[0]);
  }
  std::swap(record_, other.record_);
  return *this;
}

template <precision prec, domain dom>
descriptor<prec, dom>::~descriptor() {
  try {
    if (record_ != nullptr) {
      sycl::queue* queue = record_queue(record_);
      if (queue != nullptr && !queue->get_device().is_gpu()) {
        cpu_host_free(*slot_buffer_, *queue);  // its event is not waited for here
      }
      if (queue != nullptr) destroy_record_queue(record_);
      if (record_ != nullptr) dfti_cpu_free_descriptor(&record_);
    }
  } catch (const std::exception&) {
  }
  // Releasing the buffer waits for the host tasks that still use the slot.
  try {
    slot_buffer_.reset();
  } catch (const std::exception&) {
  }
}

template class descriptor<precision::SINGLE, domain::COMPLEX>;
template class descriptor<precision::SINGLE, domain::REAL>;
template class descriptor<precision::DOUBLE, domain::COMPLEX>;
template class descriptor<precision::DOUBLE, domain::REAL>;

}  // namespace dft
}  // namespace qez
}  // namespace ulmara

#endif
