// The descriptor class: construction over a new record, move by exchange of
// records and slot contents, destruction that frees the CPU-committed copy
// in a host task ordered after every task that still uses it, and the
// members that forward to the shared bodies of configuration, commit and
// workspace.
#include <utility>

#include "dft/api/commit.hpp"
#include "dft/api/configuration.hpp"
#include "dft/api/descriptor_access.hpp"
#include "dft/api/descriptor_node.hpp"
#include "dft/api/workspace.hpp"
#include "dft/api/compute.hpp"
#include "qez_service.h"
#include "ulmara/qez/dft.hpp"

namespace ulmara::qez::dft {

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
      if (queue != nullptr && queue->get_device().is_gpu()) {
        // Kernels in flight use the backend's memory, which goes with the
        // record; the backend still uses the queue while it is released.
        try {
          queue->wait();
        } catch (const std::exception&) {
        }
        dfti_cpu_free_descriptor(&record_);
        delete queue;
      } else if (queue != nullptr) {
        cpu_host_free(*slot_buffer_, *queue);  // its event is not waited for here
        destroy_record_queue(record_);
      }
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

// ---------------------------------------------------------------------------
// Configuration.

template <precision prec, domain dom>
void descriptor<prec, dom>::set_value(config_param param, config_value value) {
  set_config_value(record_, *slot_buffer_, param, value);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::set_value(config_param param, std::int64_t value) {
  set_int64_value(record_, *slot_buffer_, param, value);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::set_value(config_param param, real_scalar_type value) {
  // NaN is no scale a float can carry exactly; a double NaN is stored as given.
  set_scale_value(record_, *slot_buffer_, param, static_cast<double>(value),
                  prec == precision::SINGLE);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::set_value(config_param param, const std::vector<std::int64_t>& values) {
  set_vector_value(record_, *slot_buffer_, param, values);
}

template <precision prec, domain dom>
void descriptor<prec, dom>::get_value(config_param param, config_value* value) const {
  get_config_value(record_, param, value);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::get_value(config_param param, domain* value) const {
  get_domain_value(record_, param, value);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::get_value(config_param param, precision* value) const {
  get_precision_value(record_, param, value);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::get_value(config_param param, std::int64_t* value) const {
  get_int64_value(record_, param, value);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::get_value(config_param param, real_scalar_type* value) const {
  get_scale_value(record_, param, value);
}
template <precision prec, domain dom>
void descriptor<prec, dom>::get_value(config_param param, std::vector<std::int64_t>* values) const {
  get_vector_value(record_, param, values);
}

// ---------------------------------------------------------------------------
// Commit and workspace.

template <precision prec, domain dom>
void descriptor<prec, dom>::commit(sycl::queue& queue) {
  commit_descriptor(record_, *slot_buffer_, queue);
}

template <precision prec, domain dom>
template <class T>
void descriptor<prec, dom>::set_workspace(sycl::buffer<T, 1>& workspace) {
  sycl::buffer<char, 1> view = byte_view(workspace);
  set_buffer_workspace(record_, view, workspace.is_sub_buffer());
}

template <precision prec, domain dom>
template <class T>
void descriptor<prec, dom>::set_workspace(T* workspace) {
  set_usm_workspace(record_, workspace);
}

#define QEZ_INSTANTIATE_DESCRIPTOR(P, D)                                                  \
  template class descriptor<P, D>;                                                        \
  template void descriptor<P, D>::set_workspace<float>(sycl::buffer<float, 1>&);          \
  template void descriptor<P, D>::set_workspace<double>(sycl::buffer<double, 1>&);        \
  template void descriptor<P, D>::set_workspace<float>(float*);                           \
  template void descriptor<P, D>::set_workspace<double>(double*);
QEZ_INSTANTIATE_DESCRIPTOR(precision::SINGLE, domain::COMPLEX)
QEZ_INSTANTIATE_DESCRIPTOR(precision::SINGLE, domain::REAL)
QEZ_INSTANTIATE_DESCRIPTOR(precision::DOUBLE, domain::COMPLEX)
QEZ_INSTANTIATE_DESCRIPTOR(precision::DOUBLE, domain::REAL)
#undef QEZ_INSTANTIATE_DESCRIPTOR

}  // namespace ulmara::qez::dft
