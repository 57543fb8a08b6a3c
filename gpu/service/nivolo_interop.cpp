// Nivolo interoperability over the SYCL runtime's Nivolo backend.
#include "gpu/service/nivolo_interop.hpp"

#include <string>

namespace ulmara {
namespace qez {
namespace gpu {
namespace {

constexpr sycl::backend nivolo_backend = sycl::backend::ext_ulmara_nivolo;
namespace kernel_compiler = sycl::ext::ulmara::experimental;

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

// The options text goes to the compiler whole, as one option. Errors of the
// runtime reach the caller as the runtime raised them.
nivolo_program* compile_nivolo_program(const char* source, const char* options, const sycl::context& context) {
  require_nivolo(context);
  const auto source_bundle =
      kernel_compiler::create_kernel_bundle_from_source(context, kernel_compiler::source_language::opencl, source);
  const kernel_compiler::properties build_properties{
      kernel_compiler::build_options{std::vector<std::string>{options ? options : ""}}};
  return new nivolo_program{
      kernel_compiler::build(source_bundle, source_bundle.get_devices(), build_properties)};
}

bool runtime_can_compile_opencl(const sycl::device& device) {
  return device.ext_ulmara_can_compile(kernel_compiler::source_language::opencl);
}

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
