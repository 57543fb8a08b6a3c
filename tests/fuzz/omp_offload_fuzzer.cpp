// Fuzzes the OpenMP-offload entry points with arbitrary interop objects: a
// DFTI descriptor of tiny lengths with a few integer parameters of any
// value is committed through the C or the Fortran-callable entry for an
// interop of any runtime id, whose handles may be missing and whose
// property queries may fail, then computes forward or backward through the
// C or Fortran entries on shared, device or host memory. Every entry must
// answer with a status; crashes, leaks and sanitizer reports are findings.
//
// Input: one byte of precision, domain, rank and placement, one byte per
// length, integer parameters, then the interop (runtime, handles, failing
// properties, property 10) and the calls.
#include <CL/cl.h>

#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/cpu_dfti.hpp"
#include "dft/api/descriptor_node.hpp"
#include "qez_dfti_omp_offload.h"
#include "tests/doubles/omptarget/omptarget_double.h"
#include "tests/fuzz/fuzz_input.hpp"
#include "tests/fuzz/kernel_cache_bound.hpp"

namespace dft = ulmara::qez::dft;
using qez_fuzz::fuzz_input;

namespace {

constexpr int parameter_settings = 3;
// Properties an interop answers (the double counts -16 to 10).
constexpr int lowest_property = -16;
constexpr int property_span = 27;

enum runtime_id : std::int32_t { opencl_runtime = 3, sycl_runtime = 4, nivolo_runtime = 6 };

// Interops of the double made once: making one per input would give the
// library a new OpenCL context, and new program builds, every time.
struct interop_sources {
  sycl::queue queue{sycl::gpu_selector_v};
  void* sycl_interop = qez_omp_double_sycl_interop(&queue);
  void* opencl_interop = qez_omp_double_opencl_interop();
  void* nivolo_interop = qez_omp_double_nivolo_interop();
};

interop_sources& sources() {
  static interop_sources s;
  return s;
}

// An interop of the double with the runtime id and handles of the input,
// destroyed at the end of scope. Its handles are those of the made interop
// of the same runtime (OpenCL handles for runtimes the library does not
// know, which it must not use); any of them may be missing.
class fuzzed_interop {
public:
  explicit fuzzed_interop(fuzz_input& in) {
    const std::uint8_t form = in.byte();
    runtime_ = form % 4 == 0 ? sycl_runtime : form % 4 == 1 ? opencl_runtime : form % 4 == 2 ? nivolo_runtime
                                                                                             : in.take<std::int32_t>();
    void* source = runtime_ == sycl_runtime    ? sources().sycl_interop
                   : runtime_ == nivolo_runtime ? sources().nivolo_interop
                                                : sources().opencl_interop;
    void* targetsync = (form & 0x10) != 0 ? nullptr : qez_omp_double_targetsync(source);
    void* device = (form & 0x20) != 0 ? nullptr : qez_omp_double_device(source);
    void* context = (form & 0x40) != 0 ? nullptr : qez_omp_double_context(source);
    interop_ = qez_omp_double_interop_with(runtime_, targetsync, device, context);
    for (unsigned k = in.below(4); k > 0; --k)
      qez_omp_double_fail_property(interop_, lowest_property + static_cast<int>(in.below(property_span)));
    if ((form & 0x80) != 0) qez_omp_double_set_property_10(interop_, in.integer());
    opencl_queue_ = runtime_ == opencl_runtime ? static_cast<cl_command_queue>(targetsync) : nullptr;
  }
  ~fuzzed_interop() { qez_omp_double_destroy_interop(interop_); }
  fuzzed_interop(const fuzzed_interop&) = delete;
  fuzzed_interop& operator=(const fuzzed_interop&) = delete;

  void* get() const { return interop_; }
  // Waits for what the library queued through this interop.
  void finish() const {
    sources().queue.wait();
    if (opencl_queue_ != nullptr) clFinish(opencl_queue_);
  }

private:
  std::int32_t runtime_;
  void* interop_ = nullptr;
  cl_command_queue opencl_queue_ = nullptr;
};

// A DFTI descriptor of the CPU front end, freed at the end of scope.
struct descriptor_owner {
  DFTI_DESCRIPTOR* handle = nullptr;
  ~descriptor_owner() {
    if (handle != nullptr) dft::free_cpu_descriptor(&handle);
  }
};

// Data for the transforms: shared or device USM on the GPU queue, or host
// memory the device cannot reach; zeroed, between guard zones that must
// come back untouched where the host can read them (a device writes outside
// an array without any sanitizer seeing it); freed at the end of scope.
class offload_array {
public:
  offload_array(unsigned kind, std::size_t bytes) : kind_(kind % 3), bytes_(bytes) {
    sycl::queue& q = sources().queue;
    const std::size_t whole = bytes + 2 * qez_fuzz::guard_bytes;
    base_ = static_cast<std::uint8_t*>(kind_ == 0   ? sycl::malloc_shared(whole, q)
                                       : kind_ == 1 ? sycl::malloc_device(whole, q)
                                                    : std::malloc(whole));
    if (kind_ == 1) q.memset(base_, 0, whole).wait();
    else qez_fuzz::fill_guarded(base_, bytes_);
    data_ = base_ + qez_fuzz::guard_bytes;
  }
  ~offload_array() {
    if (kind_ != 1) qez_fuzz::check_guards(base_, bytes_);
    if (kind_ == 2) std::free(base_);
    else sycl::free(base_, sources().queue);
  }
  offload_array(const offload_array&) = delete;
  offload_array& operator=(const offload_array&) = delete;
  void* get() const { return data_; }
  void** address() { return &data_; }

private:
  unsigned kind_;
  std::size_t bytes_;
  std::uint8_t* base_ = nullptr;
  void* data_ = nullptr;
};

// USM cannot tell the library its size, so the parameters that shape the
// layout (lengths, transforms, distances) are kept to what the arrays
// hold; every other parameter takes any value.
constexpr std::int64_t largest_extent = 512;
constexpr std::int64_t largest_batch = 4;
std::int64_t within_arrays(std::int64_t parameter, std::int64_t value) {
  const auto fold = [&](std::int64_t top) { return static_cast<std::int64_t>(static_cast<std::uint64_t>(value) % (top + 1)); };
  switch (parameter) {
    case dft::dfti_param_number_of_transforms: return fold(largest_batch);
    case dft::dfti_param_lengths:
    case dft::dfti_param_input_distance:
    case dft::dfti_param_output_distance:
    case dft::dfti_param_fwd_distance:
    case dft::dfti_param_bwd_distance: return fold(largest_extent);
    default: return value;
  }
}

// Bytes every array holds: the largest batch of the largest extents, complex
// double, with room for a padded last row.
constexpr std::size_t array_bytes = (largest_batch + 1) * (largest_extent + 2) * 16;

void configure(fuzz_input& in, descriptor_owner& d) {
  const std::uint8_t shape = in.byte();
  const int domain = (shape & 2) != 0 ? 33 : 32;
  std::vector<std::int64_t> lengths(1 + (shape >> 2) % 3);
  for (auto& n : lengths) n = 1 + in.below(8);
  const std::int64_t rank = static_cast<std::int64_t>(lengths.size());
  if ((shape & 1) != 0) dft::dfti_cpu_create_single_md(&d.handle, domain, rank, lengths.data());
  else dft::dfti_cpu_create_double_md(&d.handle, domain, rank, lengths.data());
  if (d.handle == nullptr) return;
  for (unsigned k = in.below(parameter_settings + 1); k > 0; --k) {
    const std::int64_t parameter = in.integer(), value = within_arrays(parameter, in.integer());
    dft::dfti_cpu_set_value_core(&d.handle, &parameter, &value);
  }
}

std::int64_t commit(fuzz_input& in, descriptor_owner& d, const fuzzed_interop& interop) {
  if ((in.byte() & 1) != 0) return qez_dfti_commit_descriptor_external_omp_offload(&d.handle, interop.get());
  return qez_DftiCommitDescriptor_omp_offload(d.handle, interop.get());
}

std::int64_t compute(fuzz_input& in, descriptor_owner& d, const fuzzed_interop& interop) {
  const std::uint8_t form = in.byte();
  offload_array a(form, array_bytes), b(form >> 2, array_bytes);
  std::int64_t status = 0;
  const bool forward = (form & 0x10) != 0;
  switch ((form >> 5) % 5) {
    case 0:
      status = forward ? qez_DftiComputeForward_omp_offload(d.handle, a.get(), interop.get(), b.get())
                       : qez_DftiComputeBackward_omp_offload(d.handle, a.get(), interop.get(), b.get());
      break;
    case 1:
      status = forward ? qez_dfti_compute_forward_z_omp_offload(&d.handle, a.address(), interop.get())
                       : qez_dfti_compute_backward_c_omp_offload(&d.handle, a.address(), interop.get());
      break;
    case 2:
      status = forward ? qez_dfti_compute_forward_cc_omp_offload(&d.handle, a.address(), b.address(), interop.get())
                       : qez_dfti_compute_backward_zd_omp_offload(&d.handle, a.address(), b.address(), interop.get());
      break;
    case 3: {
      offload_array c(form, array_bytes), e(form, array_bytes);
      status = forward ? qez_dfti_compute_forward_dddd_omp_offload(&d.handle, a.address(), b.address(),
                                                                  c.address(), e.address(), interop.get())
                       : qez_dfti_compute_backward_ssss_omp_offload(&d.handle, a.address(), b.address(),
                                                                   c.address(), e.address(), interop.get());
      interop.finish();
      return status;
    }
    default:
      status = forward ? qez_dfti_compute_forward_sc_omp_offload(&d.handle, a.address(), b.address(), interop.get())
                       : qez_dfti_compute_backward_cs_omp_offload(&d.handle, a.address(), b.address(), interop.get());
  }
  interop.finish();
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qez_fuzz::bound_kernel_cache();
  fuzz_input in(data, size);
  descriptor_owner d;
  configure(in, d);
  fuzzed_interop interop(in);
  // A commit, then computes, in the order and number the input asks; a
  // compute without a successful commit must be refused too.
  for (unsigned k = 1 + in.below(3); k > 0 && !in.empty(); --k) {
    if ((in.byte() & 3) == 0) commit(in, d, interop);
    else compute(in, d, interop);
  }
  return 0;
}
