// The binary-kernel probe: builds the "binary_test" kernel for a device's
// generation, has the GPU runtime services load and run it once with known
// arguments, checks the flag it writes and caches the answer in the device
// record (the exported have_binary_kernels).
#pragma once

#include <cstddef>
#include <cstdint>

#include <sycl/sycl.hpp>

#include "gpu/service/qez_gpu_types.h"
#include "ulmara/qez/gpu/binary_kernels.hpp"

namespace ulmara::qez::gpu {

// Values the probe passes to "binary_test" and the kernel checks.
namespace binary_test_values {
constexpr std::uint32_t src0 = 0xBEEFCAFEu;
constexpr std::uint64_t src1 = 0x3141592653589793u;
constexpr std::uint16_t src2 = 0xBEADu;
constexpr std::uint16_t src3 = 0xFACEu;
constexpr std::uint64_t src4 = 0x0123456789ABCDEFu;
constexpr std::uint64_t src5 = 0xFEDCBA9876543210u;
constexpr std::uint32_t input_word = 0xABADFEEDu;
// One work-group, fastest-varying dimension first.
constexpr std::size_t work_group[3] = {4, 2, 1};
// Bytes of each of the two buffers ("src_ptr" and "ok").
constexpr std::size_t buffer_bytes = 4;
}  // namespace binary_test_values

// The warning printed once per device when a binary was built but failed.
constexpr const char* incompatible_driver_warning =
    "QEZ Warning: Incompatible OpenCL driver version. GPU performance may be reduced.\n";

// Builds, loads, runs and checks the test kernel once. Every service call
// gets `local_status`. `*no_binary` stays 1 unless an image was built;
// `*check_result` is 1 only when the kernel stored its success word. Exceptions
// other than those of loading the image reach the caller, after everything
// obtained has been released.
void run_binary_test(int* local_status, sycl::queue* queue, std::uint8_t* check_result, std::uint8_t* no_binary,
                     qez_gpu_arch_t arch);

}  // namespace ulmara::qez::gpu
