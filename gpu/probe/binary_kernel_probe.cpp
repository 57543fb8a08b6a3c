// The binary-kernel probe.
#include "gpu/probe/binary_kernel_probe.hpp"

#include <cstdio>
#include <cstring>
#include <memory>

#include "gpu/probe/binary_test_kernel.hpp"
#include "gpu/probe/test_kernel_builder.hpp"
#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"
#include "gpu/service/events.hpp"
#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/kernel_launch.hpp"
#include "gpu/service/kernel_types.hpp"
#include "gpu/service/service_lock.hpp"
#include "gpu/service/temp_buffers.hpp"

namespace ulmara::qez::gpu {
namespace {

namespace values = binary_test_values;
using queue_state = sycl::ext::ulmara::experimental::queue_state;

constexpr std::int32_t probe_domain = 0;

// Code locations the host accessors of the check report.
constexpr const char* check_function = "run_check";
constexpr unsigned long output_clear_line = 85;
constexpr unsigned long output_clear_column = 31;
constexpr unsigned long input_write_line = 86;
constexpr unsigned long input_write_column = 31;
constexpr unsigned long output_read_line = 103;
constexpr unsigned long output_read_column = 32;

// ---- ownership of what the services hand out ----

// Gives an object back through its service release call with the probe's
// status. A release that raises leaves nothing the probe could undo.
template <class T, void (*Release)(int*, T*)>
struct released_by {
  int* status;
  void operator()(T* object) const noexcept {
    try {
      Release(status, object);
    } catch (...) {
    }
  }
};
template <class T, void (*Release)(int*, T*)>
using service_object = std::unique_ptr<T, released_by<T, Release>>;

using image_holder = service_object<BinaryVector, release_binary_vector>;
using kernel_handle = service_object<qez_gpu_kernel_struct_t, release_kernel>;
using probe_buffer = service_object<temp_buffer, free_buffer>;
using launch_event = service_object<sycl::event, release_event>;

// ---- kernel arguments ----

// The arguments of "binary_test", in kernel-argument order.
enum class binary_test_argument : std::size_t { src0, src1, src2, src3, src4, src5, src_ptr, ok, count };
constexpr std::size_t argument_count = static_cast<std::size_t>(binary_test_argument::count);
using argument_array = qez_gpu_argument_t[argument_count];

struct scalar_argument {
  binary_test_argument position;
  std::uint64_t value;
  std::size_t size;
};
constexpr scalar_argument scalar_arguments[] = {
    {binary_test_argument::src0, values::src0, sizeof values::src0},
    {binary_test_argument::src1, values::src1, sizeof values::src1},
    {binary_test_argument::src2, values::src2, sizeof values::src2},
    {binary_test_argument::src3, values::src3, sizeof values::src3},
    {binary_test_argument::src4, values::src4, sizeof values::src4},
    {binary_test_argument::src5, values::src5, sizeof values::src5},
};

qez_gpu_argument_t& argument(argument_array& args, binary_test_argument position) {
  return args[static_cast<std::size_t>(position)];
}

// The low `size` bytes of `value`, little-endian whatever the host.
void set_little_endian_scalar(qez_gpu_argument_t* record, std::uint64_t value, std::size_t size) {
  unsigned char bytes[sizeof value];
  for (std::size_t i = 0; i < sizeof value; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  set_scalar_arg_internal(record, bytes, size);
}

void fill_arguments(argument_array& args, temp_buffer* input, temp_buffer* output) {
  for (const scalar_argument& scalar : scalar_arguments)
    set_little_endian_scalar(&argument(args, scalar.position), scalar.value, scalar.size);
  set_buffer_arg(&argument(args, binary_test_argument::src_ptr), input, qez_gpu_access_read);
  set_buffer_arg(&argument(args, binary_test_argument::ok), output, qez_gpu_access_read_write);
}

// ---- the test ----

// The buffers hold one little-endian 32-bit word.
void write_word(temp_buffer& buffer, std::uint32_t value, unsigned long line, unsigned long column) {
  const sycl::detail::code_location where(__builtin_FILE(), check_function, line, column);
  sycl::host_accessor<char, 1, sycl::access_mode::write> bytes(buffer, sycl::write_only, {}, where);
  unsigned char word[sizeof value];
  for (std::size_t i = 0; i < sizeof word; ++i) word[i] = static_cast<unsigned char>(value >> (8 * i));
  std::memcpy(&bytes[0], word, sizeof word);
}

// Only the word the kernel stores when every check holds counts as success:
// the output starts at the kernel's failure value, so a kernel that never
// ran, or that stored anything else, leaves a failure.
std::uint8_t read_result_flag(temp_buffer& output) {
  const sycl::detail::code_location where(__builtin_FILE(), check_function, output_read_line, output_read_column);
  sycl::host_accessor<char, 1, sycl::access_mode::read> bytes(output, sycl::read_only, {}, where);
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < sizeof word; ++i)
    word |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  return word == binary_test_passed ? 1 : 0;
}

// Runs the loaded kernel once over one work-group and reads its flag.
std::uint8_t run_check(int* status, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel) {
  probe_buffer output(alloc_temp_buffer(status, queue, values::buffer_bytes), {status});
  if (*status != 0 || !output) return 0;
  probe_buffer input(alloc_temp_buffer(status, queue, values::buffer_bytes), {status});
  if (*status != 0 || !input) return 0;
  write_word(*output, binary_test_failed, output_clear_line, output_clear_column);
  write_word(*input, values::input_word, input_write_line, input_write_column);

  argument_array args{};
  fill_arguments(args, input.get(), output.get());
  launch_event event(launch_kernel_3D(status, queue, kernel, args, values::work_group, values::work_group, nullptr),
                     {status});
  host_wait(status, event.get());
  if (*status != 0) return 0;
  return read_result_flag(*output);
}

// The kernel made from the image, or null when the driver refuses it
// (whether by status, by a null kernel or by an exception).
kernel_handle load_kernel(int* status, sycl::queue* queue, const qez_gpu_binary_kernel_t& binary) {
  try {
    return kernel_handle(get_binary_kernel(status, queue, probe_domain, &binary, binary_probe_kernel_name),
                         {status});
  } catch (...) {
    return kernel_handle(nullptr, {status});
  }
}

// ---- the cached answer ----

// The state of one probe, threaded through the test.
struct probe_state {
  int status = 0;
  std::uint8_t check_result = 0;
  std::uint8_t no_binary = 0;
};

void run_absorbing_failures(probe_state& probe, sycl::queue* queue, qez_gpu_arch_t arch) noexcept {
  try {
    run_binary_test(&probe.status, queue, &probe.check_result, &probe.no_binary, arch);
  } catch (...) {
    probe.check_result = 0;
  }
}

// The test's own submissions must not land in a graph the caller records:
// the queue stops recording for the test and records into the same graph
// again afterwards. Only this queue stops; other queues that record into
// the graph go on recording.
void run_outside_recording(probe_state& probe, sycl::queue* queue, qez_gpu_arch_t arch) {
  if (queue->ext_ulmara_get_state() != queue_state::recording) {
    run_absorbing_failures(probe, queue, arch);
    return;
  }
  auto graph = queue->ext_ulmara_get_graph();
  graph.end_recording(*queue);
  run_absorbing_failures(probe, queue, arch);
  graph.begin_recording(*queue, sycl::property_list{});
}

// The answer is published with release ordering after the result, so that
// a reader that sees probe-done without the lock also sees the result.
bool probe_published(const qez_gpu_device_record_t& record) {
  return __atomic_load_n(&record.probe_done, __ATOMIC_ACQUIRE) != 0;
}

void publish(qez_gpu_device_record_t* record, std::uint8_t result) {
  record->probe_result = result;
  __atomic_store_n(&record->probe_done, std::uint8_t{1}, __ATOMIC_RELEASE);
}

void warn_incompatible_driver() {
  std::printf("%s", incompatible_driver_warning);
  std::fflush(stdout);
}

}  // namespace

void run_binary_test(int* local_status, sycl::queue* queue, std::uint8_t* check_result, std::uint8_t* no_binary,
                     qez_gpu_arch_t arch) {
  *check_result = 0;
  *no_binary = 1;
  qez_gpu_binary_kernel_t binary{};
  BinaryVector* built = nullptr;
  build_binary_test_kernel(local_status, arch, &binary, &built);
  const image_holder image(built, {local_status});
  if (*local_status != 0 || binary.data == nullptr) return;
  *no_binary = 0;

  const kernel_handle kernel = load_kernel(local_status, queue, binary);
  if (*local_status != 0 || !kernel) return;
  *check_result = run_check(local_status, queue, kernel.get());
}

bool have_binary_kernels(int* status, sycl::queue* queue) {
  // The architecture query takes the record lock itself, so it comes first.
  const qez_gpu_arch_t arch = get_architecture(status, queue);
  probe_state probe;
  qez_gpu_device_record_t* record = get_device_record(&probe.status, queue);
  if (probe.status != 0 || record == nullptr) return false;
  if (probe_published(*record)) return record->probe_result != 0;

  service_lock_guard lock(&record->record_lock);
  if (probe_published(*record)) return record->probe_result != 0;
  // With the caller's status already set the query gives no architecture,
  // which says nothing about the device: answer false without caching, so
  // that a later call with a clean status probes.
  if (*status != 0) return false;
  run_outside_recording(probe, queue, arch);
  const std::uint8_t result = probe.status != 0 ? 0 : probe.check_result;
  if (!probe.no_binary && !result) warn_incompatible_driver();
  publish(record, result);
  return record->probe_result != 0;
}

}  // namespace ulmara::qez::gpu
