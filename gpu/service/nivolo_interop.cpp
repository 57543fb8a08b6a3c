// Nivolo interoperability over the SYCL runtime.
#include "gpu/service/nivolo_interop.hpp"

namespace ulmara {
namespace qez {
namespace gpu {
namespace {

constexpr const char* no_nivolo_interop = "Nivolo interoperability is not available";

// The runtime offers no Nivolo handles, bundles or kernels: an object that
// claims the backend cannot be served.
[[noreturn]] void throw_no_interop() {
  throw sycl::exception(sycl::make_error_code(sycl::errc::feature_not_supported), no_nivolo_interop);
}

template <class Object>
void require_nivolo(const Object& object) {
  if (object.get_backend() != sycl::backend::ext_ulmara_nivolo) throw_backends_mismatch();
}

}  // namespace

// The program type exists only as a handle; no code path can make one here.
struct nivolo_program {};

qx_device_handle_t nivolo_native_device(const sycl::device& device) {
  require_nivolo(device);
  throw_no_interop();
}

qx_context_handle_t nivolo_native_context(const sycl::context& context) {
  require_nivolo(context);
  throw_no_interop();
}

std::vector<qx_module_handle_t> nivolo_program_modules(const nivolo_program*) {
  throw_backends_mismatch();
}

nivolo_program* make_nivolo_program(qx_module_handle_t, const sycl::context& context) {
  require_nivolo(context);
  throw_no_interop();
}

nivolo_program* compile_nivolo_program(const char*, const char*, const sycl::context& context) {
  require_nivolo(context);
  throw_no_interop();
}

bool runtime_can_compile_opencl(const sycl::device&) { return false; }

sycl::kernel* make_nivolo_kernel(qx_kernel_handle_t, const nivolo_program*,
                                 const sycl::context& context) {
  require_nivolo(context);
  throw_no_interop();
}

void destroy_nivolo_program(nivolo_program* program) { delete program; }

}  // namespace gpu
}  // namespace qez
}  // namespace ulmara
