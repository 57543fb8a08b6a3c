// Native handles of queues and kernel objects made from native programs.
#include "gpu/service/native_handles.hpp"

#include <memory>

#include "gpu/service/device_registry.hpp"
#include "gpu/service/nivolo_interop.hpp"
#include "gpu/service/nivolo_loader.hpp"
#include "gpu/service/opencl_interop.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/service_errors.hpp"

namespace ulmara::qez::gpu {
namespace {

void check_opencl(cl_int result) {
  if (result != CL_SUCCESS) throw_opencl_error(result);
}

template <class Object>
void require_opencl(const Object& object) {
  if (object.get_backend() != sycl::backend::opencl) throw_backends_mismatch();
}

sycl::kernel* create_opencl_kernel(sycl::queue* queue, cl_program program, const char* name) {
  cl_int error = CL_SUCCESS;
  cl_kernel native = ocl::clCreateKernel(program, name, &error);
  check_opencl(error);
  // The SYCL kernel takes its own reference; ours is dropped either way.
  std::unique_ptr<sycl::kernel> kernel;
  try {
    kernel = std::make_unique<sycl::kernel>(
        make_cl_kernel(native, queue->get_context()));
  } catch (...) {
    ocl::clReleaseKernel(native);
    throw;
  }
  check_opencl(ocl::clReleaseKernel(native));
  return kernel.release();
}

sycl::kernel* create_nivolo_kernel(sycl::queue* queue, void* program, const char* name) {
  const auto* bundle = static_cast<const nivolo_program*>(program);
  const std::vector<qx_module_handle_t> modules = nivolo_program_modules(bundle);
  if (modules.empty()) throw_backends_mismatch();
  qx_kernel_desc_t description = {QX_STRUCTURE_TYPE_KERNEL_DESC, nullptr, 0, name};
  qx_kernel_handle_t native = nullptr;
  const qx_result_t result = qez_qxKernelCreate(modules.front(), &description, &native);
  if (result != QX_RESULT_SUCCESS) throw_nivolo_error(result);
  return make_nivolo_kernel(native, bundle, queue->get_context());
}

}  // namespace

void* native_device_handle(sycl::queue* queue) {
  switch (queue->get_device().get_backend()) {
    case sycl::backend::opencl:
      return native_cl_device(queue);
    case sycl::backend::ext_ulmara_nivolo:
      return native_nivolo_device(queue);
    default:
      return nullptr;
  }
}

void* native_cl_device(sycl::queue* queue) {
  load_opencl_library();
  const sycl::device device = queue->get_device();
  require_opencl(device);
  cl_device_id native = native_cl_device(device);
  cl_device_id parent = nullptr;
  check_opencl(ocl::clGetDeviceInfo(native, CL_DEVICE_PARENT_DEVICE, sizeof parent, &parent, nullptr));
  // Sub-devices are reference counted: drop the reference the query took.
  if (parent != nullptr) check_opencl(ocl::clReleaseDevice(native));
  return native;
}

void* native_nivolo_device(sycl::queue* queue) { return nivolo_native_device(queue->get_device()); }

void* native_context_handle(void*, sycl::queue* queue, int backend) {
  if (backend == backend_of_queue) backend = get_queue_backend(queue);
  const sycl::context context = queue->get_context();
  if (backend == QEZ_GPU_BACKEND_NIVOLO) return nivolo_native_context(context);
  if (backend != QEZ_GPU_BACKEND_OPENCL) return nullptr;
  require_opencl(context);
  cl_context native = native_cl_context(context);
  check_opencl(ocl::clReleaseContext(native));
  return native;
}

sycl::kernel* create_kernel_object(int*, sycl::queue* queue, void* program, const char* name) {
  switch (get_queue_backend(queue)) {
    case QEZ_GPU_BACKEND_OPENCL:
      return create_opencl_kernel(queue, static_cast<cl_program>(program), name);
    case QEZ_GPU_BACKEND_NIVOLO:
      return create_nivolo_kernel(queue, program, name);
    default:
      return nullptr;
  }
}

void release_kernel_obj(int*, sycl::kernel* kernel) { delete kernel; }

}  // namespace ulmara::qez::gpu
