// Kernel-argument records and the six launchers.
#include "gpu/service/kernel_launch.hpp"

#include <cstring>
#include <memory>

#include "gpu/service/code_location.hpp"
#include "gpu/service/safe_routines.hpp"
#include "gpu/service/verbose_gpu_output.hpp"

namespace ulmara::qez::gpu {
namespace {

constexpr std::uint8_t pointer_record_size = sizeof(void*);
constexpr std::size_t value_bytes = sizeof(qez_gpu_argument_t::value);

void fill_record(qez_gpu_argument_t* record, qez_gpu_argument_kind kind, const void* value, std::uint8_t size,
                 std::uint32_t access) {
  std::memset(record->value, 0, value_bytes);
  safe_memcpy(record->value, value_bytes, value, size);
  record->kind = kind;
  record->size = size;
  record->access = access;
}

template <class T>
T read_value(const qez_gpu_argument_t& record) {
  T value;
  std::memcpy(&value, record.value, sizeof(T));
  return value;
}

// Scalars are set from the value field's bytes. A 16-byte scalar would read
// past the field: it is left unset like any other size the record cannot hold.
void set_scalar(sycl::handler& cgh, int index, const qez_gpu_argument_t& record) {
  switch (record.size) {
    case 1:
      cgh.set_arg(index, read_value<std::uint8_t>(record));
      break;
    case 2:
      cgh.set_arg(index, read_value<std::uint16_t>(record));
      break;
    case 4:
      cgh.set_arg(index, read_value<std::uint32_t>(record));
      break;
    case 8:
      cgh.set_arg(index, read_value<std::uint64_t>(record));
      break;
    default:
      break;
  }
}

void set_buffer(sycl::handler& cgh, int index, const qez_gpu_argument_t& record) {
  auto* buffer = read_value<sycl::buffer<char, 1>*>(record);
  switch (record.access) {
    case qez_gpu_access_read:
      cgh.set_arg(index, sycl::accessor<char, 1, sycl::access_mode::read>(*buffer, cgh));
      break;
    case qez_gpu_access_write:
      cgh.set_arg(index, sycl::accessor<char, 1, sycl::access_mode::write>(*buffer, cgh));
      break;
    case qez_gpu_access_read_write:
      cgh.set_arg(index, sycl::accessor<char, 1, sycl::access_mode::read_write>(*buffer, cgh));
      break;
    default:
      break;
  }
}

void set_local(sycl::handler& cgh, int index, const qez_gpu_argument_t& record) {
  cgh.set_arg(index, sycl::local_accessor<char, 1>(sycl::range<1>(read_value<std::uint64_t>(record)), cgh));
}

void depend_on(sycl::handler& cgh, const qez_gpu_event_list_t* deps, bool honour_no_dependencies) {
  if (deps == nullptr || deps->count < 1) return;
  if (honour_no_dependencies && deps->no_dependencies) return;
  if (deps->events == nullptr) return;
  // A null entry names no event: nothing to wait for.
  for (std::int32_t i = 0; i < deps->count; ++i)
    if (deps->events[i] != nullptr) cgh.depends_on(*deps->events[i]);
}

// SYCL ranges list the slowest dimension first: the caller's arrays reversed.
template <int Dims>
sycl::range<Dims> sycl_range(const std::size_t* sizes) {
  sycl::range<Dims> range;
  for (int d = 0; d < Dims; ++d) range[d] = sizes[Dims - 1 - d];
  return range;
}

template <int Dims>
sycl::event* launch(sycl::queue* queue, qez_gpu_kernel_struct_t* kernel, qez_gpu_argument_t* args,
                    const std::size_t* global, const std::size_t* local, qez_gpu_event_list_t* deps,
                    argument_form form, const sycl::detail::code_location& location) {
  const sycl::nd_range<Dims> range(sycl_range<Dims>(global), sycl_range<Dims>(local));
  const sycl::kernel& object = *kernel->kernel;
  sycl::event event = queue->submit(
      [&](sycl::handler& cgh) {
        qez_gpu_cgh_set_args(object, cgh, args, form);
        depend_on(cgh, deps, form == argument_form::buffer);
        cgh.parallel_for(range, object);
      },
      location);
  verbose_register_event(event);
  return new sycl::event(event);
}

}  // namespace

void set_scalar_arg_internal(qez_gpu_argument_t* record, const void* data, std::size_t n) {
  const auto size = static_cast<std::uint8_t>(n < value_bytes ? n : value_bytes);
  fill_record(record, argument_scalar, data, size, qez_gpu_access_read_write);
}

void set_buffer_arg(qez_gpu_argument_t* record, sycl::buffer<char, 1>* buffer, qez_gpu_access_t access) {
  fill_record(record, argument_buffer, &buffer, pointer_record_size, access);
}

void qez_gpu_set_usm_arg(qez_gpu_argument_t* record, const void* pointer) {
  fill_record(record, argument_usm, &pointer, pointer_record_size, qez_gpu_access_read_write);
}

void set_buffer_arg_usm(qez_gpu_argument_t* record, char* pointer, qez_gpu_access_t) {
  qez_gpu_set_usm_arg(record, pointer);
}

void set_SLM_arg(qez_gpu_argument_t* record, std::size_t bytes) {
  const std::uint64_t count = bytes;
  fill_record(record, argument_local, &count, pointer_record_size, qez_gpu_access_read_write);
}

void qez_gpu_cgh_set_args(const sycl::kernel& kernel, sycl::handler& cgh, const qez_gpu_argument_t* args,
                          argument_form form) {
  const std::uint32_t count = kernel.get_info<sycl::info::kernel::num_args>();
  for (std::uint32_t i = 0; i < count; ++i) {
    const qez_gpu_argument_t& record = args[i];
    const int index = static_cast<int>(i);
    switch (record.kind) {
      case argument_scalar:
        set_scalar(cgh, index, record);
        break;
      case argument_buffer:
        if (form == argument_form::buffer) set_buffer(cgh, index, record);
        break;
      case argument_usm:
        cgh.set_arg(index, read_value<void*>(record));
        break;
      case argument_local:
        set_local(cgh, index, record);
        break;
      default:
        break;
    }
  }
}

#define QEZ_LAUNCHER_1D(name, form)                                                                      \
  sycl::event* name(int*, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel, qez_gpu_argument_t* args, \
                    std::size_t global, std::size_t local, qez_gpu_event_list_t* deps) {                 \
    return launch<1>(queue, kernel, args, &global, &local, deps, form, submitted_by(#name));            \
  }
#define QEZ_LAUNCHER_ND(name, dims, form)                                                                \
  sycl::event* name(int*, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel, qez_gpu_argument_t* args, \
                    const std::size_t* global, const std::size_t* local, qez_gpu_event_list_t* deps) {   \
    return launch<dims>(queue, kernel, args, global, local, deps, form, submitted_by(#name));           \
  }
QEZ_LAUNCHER_1D(launch_kernel_1D, argument_form::buffer)
QEZ_LAUNCHER_ND(launch_kernel_2D, 2, argument_form::buffer)
QEZ_LAUNCHER_ND(launch_kernel_3D, 3, argument_form::buffer)
QEZ_LAUNCHER_1D(launch_kernel_1D_usm, argument_form::usm)
QEZ_LAUNCHER_ND(launch_kernel_2D_usm, 2, argument_form::usm)
QEZ_LAUNCHER_ND(launch_kernel_3D_usm, 3, argument_form::usm)
#undef QEZ_LAUNCHER_1D
#undef QEZ_LAUNCHER_ND

}  // namespace ulmara::qez::gpu
