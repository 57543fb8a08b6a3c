// The test-kernel builder: turns a device architecture into a finished qxbin
// image of the "binary_test" kernel for the binary-kernel probe. It is the
// only place that chooses a generation for the code generator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "gpu/service/kernel_types.hpp"
#include "gpu/service/qez_gpu_types.h"
#include "gpu/zorn/code_generator.hpp"

namespace ulmara::qez::gpu {

// Architecture numbers of the GPU runtime services.
using GpuArchitectureNumber = qez_gpu_arch_t;

// The heap holder that owns an image's bytes.
using BinaryVector = std::vector<std::uint8_t>;

// Fills `binary` (the service layer's native-binary record: size, bytes not
// owned, source null, options) with the image of the "binary_test" kernel for
// `arch` and stores the holder that owns its bytes in `*holder_out`. On entry
// `binary` becomes {0, null, null, ""}; for an architecture without a generator
// (unknown, Fenwa, Nopra, anything above 8) and for any error while building,
// it stays so and `*holder_out` is not written. Never writes `status` and
// never throws.
void build_binary_test_kernel(int* status, GpuArchitectureNumber arch, qez_gpu_binary_kernel_t* binary,
                              BinaryVector** holder_out) noexcept;

// The builder with the kernel program as a parameter: `make_kernel` builds
// the generator of a generation (build_binary_test_kernel passes the
// BinaryTestKernel constructor). Same contract as build_binary_test_kernel;
// an exception from `make_kernel` is absorbed like any other.
using TestKernelFactory = std::function<std::unique_ptr<zorn::CodeGenerator>(zorn::HW)>;
void build_test_kernel_image(GpuArchitectureNumber arch, const TestKernelFactory& make_kernel,
                             qez_gpu_binary_kernel_t* binary, BinaryVector** holder_out) noexcept;

// Frees a holder returned by build_binary_test_kernel; null does nothing.
void release_binary_vector(int* status, BinaryVector* holder) noexcept;

}  // namespace ulmara::qez::gpu
