// The plan cores behind every FFTW3-style planner: guru64 dimensions in, a
// committed plan record out. A core turns its arguments into a plan recipe
// (the DFTI descriptor to create and the values to set on it, in order),
// applies the recipe to a new descriptor, stores the execute operation of
// the plan's direction and placement, and commits the descriptor for its
// target: the device behind an OpenMP interop object, or the host CPU.
#pragma once

#include <cstdint>

#include "dft/api/cpu_dfti.hpp"
#include "dft/api/fftw_plan_record.hpp"

namespace ulmara::qez::dft {

// The guru64 dimension triple {length, input stride, output stride}.
struct iodim64 {
  std::int64_t n;
  std::int64_t is;
  std::int64_t os;
};

constexpr int max_plan_rank = 7;

enum class plan_kind { c2c, r2c, c2r };
enum class plan_target { offload, cpu };

// FFTW's sign of the forward transform; every other sign plans a backward one.
constexpr int fftw_forward_sign = -1;
// FFTW's "conserve memory" flag: complex plans avoid workspace.
constexpr unsigned fftw_conserve_memory_flag = 1u << 2;

// What every planner hands to a core, in guru64 form: `dims` slowest
// dimension first, at most one howmany triple {count, input distance,
// output distance}.
struct plan_request {
  plan_kind kind = plan_kind::c2c;
  int rank = 0;
  const iodim64* dims = nullptr;
  int howmany_rank = 0;
  const iodim64* howmany_dims = nullptr;
  void* in = nullptr;
  void* out = nullptr;
  int sign = fftw_forward_sign;  // read by complex plans only
  unsigned flags = 0;            // read by complex plans only
};

plan_request make_plan_request(plan_kind kind, int rank, const iodim64* dims, int howmany_rank,
                               const iodim64* howmany_dims, void* in, void* out, int sign,
                               unsigned flags);

// Rank above 7 or negative, howmany rank above 1, a missing dimension
// array, or a howmany rank of 1 without its triple: refused before anything
// is allocated. A howmany rank of 0 or below plans one transform.
bool plan_request_acceptable(const plan_request& request);

// ---------------------------------------------------------------------------
// Recipes.

enum class setting_form { value, strides };

struct plan_setting {
  dfti_parameter parameter;
  setting_form form;
  std::int64_t value;                          // setting_form::value
  std::int64_t strides[max_plan_rank + 1];     // offset, then slowest first
};

constexpr int max_plan_settings = 8;

struct plan_recipe {
  bool accepted = false;  // false: an in-place complex plan whose layouts differ
  std::uint32_t domain = dfti_complex;
  int rank = 0;
  std::int64_t lengths[max_plan_rank] = {};  // slowest first
  int setting_count = 0;
  plan_setting settings[max_plan_settings] = {};
  bool forward = true;
  bool in_place = false;
};

// The descriptor a request asks for and its settings in the order they are
// made. The request must be acceptable.
plan_recipe make_plan_recipe(const plan_request& request);

// ---------------------------------------------------------------------------
// Cores. Each returns a committed plan, or null with nothing left allocated.

template <class Real>
fftw_plan_record* build_plan(const plan_request& request, plan_target target, void* interop);

template <class Real>
fftw_plan_record* plan_guru64_dft_omp_offload(int rank, const iodim64* dims, int howmany_rank,
                                              const iodim64* howmany_dims, void* in, void* out,
                                              int sign, unsigned flags, void* interop);
template <class Real>
fftw_plan_record* plan_guru64_dft_r2c_omp_offload(int rank, const iodim64* dims,
                                                  int howmany_rank, const iodim64* howmany_dims,
                                                  void* in, void* out, unsigned flags,
                                                  void* interop);
template <class Real>
fftw_plan_record* plan_guru64_dft_c2r_omp_offload(int rank, const iodim64* dims,
                                                  int howmany_rank, const iodim64* howmany_dims,
                                                  void* in, void* out, unsigned flags,
                                                  void* interop);
template <class Real>
fftw_plan_record* plan_guru64_dft_cpu(int rank, const iodim64* dims, int howmany_rank,
                                      const iodim64* howmany_dims, void* in, void* out, int sign,
                                      unsigned flags);
template <class Real>
fftw_plan_record* plan_guru64_dft_r2c_cpu(int rank, const iodim64* dims, int howmany_rank,
                                          const iodim64* howmany_dims, void* in, void* out,
                                          unsigned flags);
template <class Real>
fftw_plan_record* plan_guru64_dft_c2r_cpu(int rank, const iodim64* dims, int howmany_rank,
                                          const iodim64* howmany_dims, void* in, void* out,
                                          unsigned flags);

}  // namespace ulmara::qez::dft
