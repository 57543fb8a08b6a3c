/*
 * GPU profiles: the OpenCL forwarding library libqez_gpu_profile.so presents
 * every OpenCL device of the system (PoCL's CPU device here) as a GPU of one
 * profile, chosen per process by the environment variable STANDIN_GPU_PROFILE.
 * This header names the profiles and the vendor device-information queries
 * the library answers, so tests, the SYCL stand-in and the platform shim can
 * refer to them.  See platform/gpu_profile/README.md.
 */
#ifndef QEZ_GPU_PROFILE_H
#define QEZ_GPU_PROFILE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* File name of the forwarding library (in <build>/lib). */
#define QEZ_GPU_PROFILE_LIBRARY_NAME "libqez_gpu_profile.so"

/* Environment: the profile name, and optional overrides of single values. */
#define QEZ_GPU_PROFILE_ENV "STANDIN_GPU_PROFILE"
#define QEZ_GPU_PROFILE_ENV_SUB_GROUP_SIZES "STANDIN_GPU_SUB_GROUP_SIZES" /* e.g. "16,32" */
#define QEZ_GPU_PROFILE_ENV_EU_COUNT "STANDIN_GPU_EU_COUNT"
#define QEZ_GPU_PROFILE_ENV_LOCAL_MEM_SIZE "STANDIN_GPU_LOCAL_MEM_SIZE"       /* bytes */
#define QEZ_GPU_PROFILE_ENV_MAX_WORK_GROUP_SIZE "STANDIN_GPU_MAX_WORK_GROUP_SIZE"
#define QEZ_GPU_PROFILE_ENV_TILE_COUNT "STANDIN_GPU_TILE_COUNT"
#define QEZ_GPU_PROFILE_ENV_DEVICE_COUNT "STANDIN_GPU_DEVICE_COUNT" /* "2": the device shown as two GPUs */
#define QEZ_GPU_PROFILE_ENV_FP64 "STANDIN_GPU_FP64"                 /* "0": no double precision */
#define QEZ_GPU_PROFILE_ENV_MAX_MEM_ALLOC_SIZE "STANDIN_GPU_MAX_MEM_ALLOC_SIZE" /* bytes */
#define QEZ_GPU_PROFILE_ENV_GLOBAL_MEM_CACHE_SIZE "STANDIN_GPU_GLOBAL_MEM_CACHE_SIZE" /* bytes */
/* Builds of every program whose source or options contain the value fail
 * (read at every build). */
#define QEZ_GPU_PROFILE_ENV_FAIL_BUILD "STANDIN_GPU_FAIL_BUILD"
#define QEZ_GPU_PROFILE_ENV_SUB_GROUPS "STANDIN_GPU_SUB_GROUPS"     /* "emulate": sub-groups emulated */

/* The profile used when STANDIN_GPU_PROFILE is unset or empty. */
#define QEZ_GPU_PROFILE_DEFAULT_NAME "gulon"

/* Vendor ("Tavir") device-information queries answered by clGetDeviceInfo. */
#define QEZ_CL_DEVICE_SUB_GROUP_SIZES 0x4108          /* size_t[] */
#define QEZ_CL_DEVICE_IP_VERSION 0x4250               /* cl_uint; fails on the "unknown" profile */
#define QEZ_CL_DEVICE_ID 0x4251                       /* cl_uint: PCI device id */
#define QEZ_CL_DEVICE_NUM_SLICES 0x4252               /* cl_uint */
#define QEZ_CL_DEVICE_NUM_SUB_SLICES_PER_SLICE 0x4253 /* cl_uint */
#define QEZ_CL_DEVICE_NUM_EUS_PER_SUB_SLICE 0x4254    /* cl_uint */
#define QEZ_CL_DEVICE_NUM_THREADS_PER_EU 0x4255       /* cl_uint */

/* The device extension naming the queries above (appended to CL_DEVICE_EXTENSIONS). */
#define QEZ_GPU_PROFILE_EXTENSION "cl_tavir_device_attribute_query"

/* Vendor id and vendor name every profile reports. */
#define QEZ_GPU_PROFILE_VENDOR_ID 0x7A71u
#define QEZ_GPU_PROFILE_VENDOR_NAME "Tavir(R) Corporation"

/* IP version word as the library decodes it: architecture in bits 22-31,
 * release in bits 14-21, revision in bits 0-5. */
#define QEZ_GPU_IP_VERSION(arch, release, revision) \
  ((uint32_t)(((uint32_t)(arch) << 22) | ((uint32_t)(release) << 14) | ((uint32_t)(revision) & 0x3Fu)))

/* Build options that only the vendor compiler knows start with this prefix;
 * the library drops them before the build reaches PoCL. */
#define QEZ_GPU_PROFILE_VENDOR_OPTION_PREFIX "-cl-tavir-"

typedef struct qez_gpu_profile {
  const char* name;        /* value of STANDIN_GPU_PROFILE */
  const char* device_name; /* CL_DEVICE_NAME */
  uint32_t arch;           /* qez_gpu_arch_t the library detects (0 unknown, 1 Vemra .. 9 Nopra) */
  int has_ip_version;      /* 0: query 0x4250 fails with CL_INVALID_VALUE */
  uint32_t ip_version;     /* answer of 0x4250 */
  uint32_t pci_device_id;  /* answer of 0x4251 */
  uint32_t eu_count;       /* CL_DEVICE_MAX_COMPUTE_UNITS */
  uint32_t slices;
  uint32_t sub_slices_per_slice;
  uint32_t eus_per_sub_slice;
  uint32_t threads_per_eu;
  uint32_t num_sub_group_sizes;
  size_t sub_group_sizes[4];   /* ascending */
  size_t max_work_group_size;  /* reported as min(this, the real device's) */
  uint64_t local_mem_size;     /* reported as min(this, the real device's) */
  uint32_t tile_count;         /* CL_DEVICE_PARTITION_MAX_SUB_DEVICES: tiles, 0 read as 1 */
  uint32_t has_fp64;           /* 0: no cl_khr_fp64, double FP config 0, programs using double fail to build */
  uint64_t max_mem_alloc_size; /* 0: the real device's; else reported as min(this, the real device's) */
  uint64_t global_mem_cache_size; /* 0: the real device's; else reported as min(this, the real device's) */
} qez_gpu_profile_t;

/* The built-in profiles, in generation order, "unknown" last. */
uint32_t qez_gpu_profile_count(void);
const qez_gpu_profile_t* qez_gpu_profile_at(uint32_t index);
/* A built-in profile by name (case-sensitive); NULL when there is none. */
const qez_gpu_profile_t* qez_gpu_profile_find(const char* name);
/* The profile of this process: STANDIN_GPU_PROFILE (default when unset)
 * with the overrides applied; NULL when the variable names no profile, in
 * which case clGetPlatformIDs reports no platform. */
const qez_gpu_profile_t* qez_gpu_profile_active(void);
/* QEZ_GPU_PROFILE_LIBRARY_NAME, for run-time loading by file name. */
const char* qez_gpu_profile_library_name(void);
/* Under STANDIN_GPU_SUB_GROUPS=emulate: the programs built so far that use
 * the emulated sub-group built-ins (their lane-pair form was compiled). */
uint32_t qez_gpu_profile_lane_pair_programs_built(void);

#ifdef __cplusplus
}
#endif

#endif /* QEZ_GPU_PROFILE_H */
