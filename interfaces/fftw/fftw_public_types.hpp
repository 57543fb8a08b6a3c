// The public C view of plan records and guru triples and the library's own
// types are the same bytes; these checks keep them so.
#pragma once

#include <cstddef>

#include "dft/api/fftw_plan_record.hpp"
#include "interfaces/fftw/fftw_plan_core.hpp"
#include "qez_fftw3.h"

namespace ulmara::qez::dft {

#define QEZ_SAME_OFFSET(field)                                                             \
  static_assert(offsetof(qez_fftw_plan_record, field) == offsetof(fftw_plan_record, field), \
                #field " has one offset in both views")
static_assert(sizeof(qez_fftw_plan_record) == sizeof(fftw_plan_record), "one record size");
QEZ_SAME_OFFSET(descriptor);
QEZ_SAME_OFFSET(input);
QEZ_SAME_OFFSET(output);
QEZ_SAME_OFFSET(buffers);
QEZ_SAME_OFFSET(execute_cpu);
QEZ_SAME_OFFSET(destroy);
QEZ_SAME_OFFSET(execute_offload);
#undef QEZ_SAME_OFFSET
static_assert(sizeof(qez_fftw_iodim64) == sizeof(iodim64) &&
                  offsetof(qez_fftw_iodim64, is) == offsetof(iodim64, is) &&
                  offsetof(qez_fftw_iodim64, os) == offsetof(iodim64, os),
              "guru64 triples have one layout");

inline const iodim64* library_dims(const qez_fftw_iodim64* dims) {
  return reinterpret_cast<const iodim64*>(dims);
}

}  // namespace ulmara::qez::dft
