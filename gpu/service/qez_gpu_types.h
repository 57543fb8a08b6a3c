/* Types of the GPU service layer shared with the product's other libraries
 * and with the binary-kernel probe: architecture and backend numbers and the
 * per-device record. */
#ifndef QEZ_GPU_TYPES_H
#define QEZ_GPU_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* GPU architecture: 0 for a device that is not recognised. */
typedef uint32_t qez_gpu_arch_t;
enum qez_gpu_arch {
  QEZ_GPU_ARCH_UNKNOWN = 0,
  QEZ_GPU_ARCH_VEMRA = 1,
  QEZ_GPU_ARCH_SUTAL = 2,
  QEZ_GPU_ARCH_DORIK = 3,
  QEZ_GPU_ARCH_FENWA = 4,
  QEZ_GPU_ARCH_GULON = 5,
  QEZ_GPU_ARCH_HARIX = 6,
  QEZ_GPU_ARCH_JORVA = 7,
  QEZ_GPU_ARCH_LUMET = 8,
  QEZ_GPU_ARCH_NOPRA = 9
};

/* Backend of a device as the registry records it. */
typedef int32_t qez_gpu_backend_t;
enum qez_gpu_backend {
  QEZ_GPU_BACKEND_OTHER = -1,
  QEZ_GPU_BACKEND_OPENCL = 0,
  QEZ_GPU_BACKEND_NIVOLO = 1
};

/* Device flag bits filled by architecture detection. */
enum qez_gpu_device_flag {
  QEZ_GPU_DEVICE_FLAG_GENERATION = 1u << 0, /* by generation (and family for one) */
  QEZ_GPU_DEVICE_FLAG_FAMILY = 1u << 1      /* by product family */
};

/* One record per device, created by the device registry and never moved.
 * `record_lock` is a service lock word guarding the architecture and probe
 * fields; the hardware numbers never change after creation. */
typedef struct qez_gpu_device_record {
  uint64_t device_id;
  uint32_t record_lock;
  uint32_t architecture_detected;
  qez_gpu_arch_t architecture;
  uint32_t stepping;
  uint8_t probe_done;
  uint8_t probe_result;
  uint32_t tile_count;
  uint32_t eu_count;
  uint32_t max_work_group_size;
  uint32_t device_flags;
  qez_gpu_backend_t backend;
} qez_gpu_device_record_t;

/* A caller's copy of a record: the same fields, record_lock 0. */
typedef qez_gpu_device_record_t qez_gpu_device_info_t;

#ifdef __cplusplus
}  /* extern "C" */

#include <cstddef>
static_assert(offsetof(qez_gpu_device_record_t, record_lock) == 8, "record layout");
static_assert(offsetof(qez_gpu_device_record_t, architecture) == 16, "record layout");
static_assert(offsetof(qez_gpu_device_record_t, probe_done) == 24, "record layout");
static_assert(offsetof(qez_gpu_device_record_t, probe_result) == 25, "record layout");
static_assert(offsetof(qez_gpu_device_record_t, tile_count) == 28, "record layout");
static_assert(offsetof(qez_gpu_device_record_t, backend) == 44, "record layout");
static_assert(sizeof(qez_gpu_device_record_t) == 48, "record layout");
#endif

#endif /* QEZ_GPU_TYPES_H */
