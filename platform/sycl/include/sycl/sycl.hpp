// SYCL 2020 stand-in over OpenCL (see platform/sycl/README.md): the subset of
// SYCL the library uses, with SYCL 2020 names and semantics.
#pragma once

// Types of the interface keep default visibility, so that templates the
// library instantiates for them (information queries) are exported.
#pragma GCC visibility push(default)
#include "detail/common.hpp"
#include "detail/exception.hpp"
#include "detail/half.hpp"
#include "detail/range.hpp"
#include "detail/info.hpp"
#include "detail/property.hpp"
#include "detail/objects.hpp"
#include "detail/buffer.hpp"
#include "detail/handler.hpp"
#include "detail/queue.hpp"
#include "detail/nivolo.hpp"
#include "detail/kernel_compiler.hpp"
#include "detail/graph.hpp"
#include "detail/math.hpp"
#pragma GCC visibility pop
