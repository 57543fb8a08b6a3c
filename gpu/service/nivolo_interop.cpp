// Nivolo interoperability over the SYCL runtime's Nivolo backend.
#include "gpu/service/nivolo_interop.hpp"

namespace ulmara {
namespace qez {
namespace gpu {
namespace {

constexpr sycl::backend nivolo_backend = sycl::backend::ext_ulmara_nivolo;
constexpr const char* no_source_compiler = "The SYCL runtime cannot compile OpenCL C for this device";

template <class Object>
void require_nivolo(const Object& object) {
  if (object.get_backend() != nivolo_backend) throw_backends_mismatch();
}

}  // namespace

// An executable kernel bundle of the Nivolo backend.
struct nivolo_program {
  sycl::kernel_bundle<sycl::bundle_state::executable> bundle;
};

qx_device_handle_t nivolo_native_device(const sycl::device& device) {
  require_nivolo(device);
  return sycl::get_native<nivolo_backend>(device);
}

qx_context_handle_t nivolo_native_context(const sycl::context& context) {
  require_nivolo(context);
  return sycl::get_native<nivolo_backend>(context);
}

std::vector<qx_module_handle_t> nivolo_program_modules(const nivolo_program* program) {
  require_nivolo(program->bundle);
  return sycl::get_native<nivolo_backend>(program->bundle);
}

nivolo_program* make_nivolo_program(qx_module_handle_t module, const sycl::context& context) {
  require_nivolo(context);
  // Until the runtime holds the module it is ours: a refusal must not leak it.
  std::optional<sycl::kernel_bundle<sycl::bundle_state::executable>> bundle;
  try {
    bundle.emplace(sycl::make_kernel_bundle<nivolo_backend, sycl::bundle_state::executable>(
        {module, sycl::ext::ulmara::nivolo::ownership::transfer}, context));
  } catch (...) {
    qez_qxModuleDestroy(module);
    throw;
  }
  return new nivolo_program{std::move(*bundle)};
}

// The runtime has no OpenCL C compiler for Nivolo devices; source takes the
// road through the OpenCL twin of the device (runtime_can_compile_opencl).
nivolo_program* compile_nivolo_program(const char*, const char*, const sycl::context& context) {
  require_nivolo(context);
  throw sycl::exception(sycl::make_error_code(sycl::errc::feature_not_supported), no_source_compiler);
}

bool runtime_can_compile_opencl(const sycl::device&) { return false; }

sycl::kernel* make_nivolo_kernel(qx_kernel_handle_t native, const nivolo_program* program,
                                 const sycl::context& context) {
  require_nivolo(context);
  require_nivolo(program->bundle);
  return new sycl::kernel(sycl::make_kernel<nivolo_backend>(
      {program->bundle, native, sycl::ext::ulmara::nivolo::ownership::transfer}, context));
}

void destroy_nivolo_program(nivolo_program* program) { delete program; }

}  // namespace gpu
}  // namespace qez
}  // namespace ulmara
