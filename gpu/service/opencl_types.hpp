// OpenCL types and constants (Khronos headers) as the library sees them. The
// library never links the OpenCL loader; its calls go through the stubs of
// opencl_loader.hpp.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>
