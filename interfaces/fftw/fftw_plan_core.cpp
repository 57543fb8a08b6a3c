// Plan cores of the FFTW3-style interface.
#include "interfaces/fftw/fftw_plan_core.hpp"

#include <algorithm>
#include <memory>

#include "interfaces/fftw/fftw_execute.hpp"
#include "interfaces/omp_offload/omp_offload_entry_points.hpp"

namespace ulmara::qez::dft {
namespace {

constexpr std::int64_t single_thread = 1;

// ---------------------------------------------------------------------------
// Recipe building.

class recipe_writer {
public:
  explicit recipe_writer(plan_recipe& recipe) : recipe_(recipe) {}

  void value(dfti_parameter parameter, std::int64_t value) {
    plan_setting& s = next(parameter, setting_form::value);
    s.value = value;
  }
  // The offset 0, then one stride per dimension, slowest first.
  void strides(dfti_parameter parameter, const plan_request& request, bool input_side) {
    plan_setting& s = next(parameter, setting_form::strides);
    s.strides[0] = 0;
    for (int k = 0; k < request.rank; ++k)
      s.strides[k + 1] = input_side ? request.dims[k].is : request.dims[k].os;
  }

private:
  plan_setting& next(dfti_parameter parameter, setting_form form) {
    plan_setting& s = recipe_.settings[recipe_.setting_count++];
    s = plan_setting{};
    s.parameter = parameter;
    s.form = form;
    return s;
  }
  plan_recipe& recipe_;
};

// An in-place complex transform reads and writes one layout.
bool in_place_layouts_agree(const plan_request& request) {
  for (int k = 0; k < request.rank; ++k)
    if (request.dims[k].is != request.dims[k].os) return false;
  if (request.howmany_rank == 1 && request.howmany_dims[0].is != request.howmany_dims[0].os)
    return false;
  return true;
}

// Strides and distances per domain: the input lies in the forward domain of
// a forward transform and in the backward domain of a backward one.
void write_layout(recipe_writer& w, const plan_request& request, bool forward, bool in_place,
                  bool strides_before_placement) {
  const dfti_parameter input_strides = forward ? dfti_param_fwd_strides : dfti_param_bwd_strides;
  const dfti_parameter output_strides = forward ? dfti_param_bwd_strides : dfti_param_fwd_strides;
  w.strides(input_strides, request, true);
  if (strides_before_placement) w.strides(output_strides, request, false);
  if (!in_place) w.value(dfti_param_placement, dfti_not_inplace);
  if (!strides_before_placement) w.strides(output_strides, request, false);
  if (request.howmany_rank == 1) {
    const iodim64& h = request.howmany_dims[0];
    w.value(dfti_param_number_of_transforms, h.n);
    w.value(dfti_param_fwd_distance, forward ? h.is : h.os);
    w.value(dfti_param_bwd_distance, forward ? h.os : h.is);
  }
  w.value(dfti_param_thread_limit, single_thread);
}

// ---------------------------------------------------------------------------
// Applying a recipe.

struct plan_deleter {
  void operator()(fftw_plan_record* plan) const { plan->destroy(public_plan(plan)); }
};
using owned_plan = std::unique_ptr<fftw_plan_record, plan_deleter>;

bool succeeded(std::int64_t status) { return dfti_cpu_error_class(status, 0) == 1; }

template <class Real>
struct precision_creators;
template <>
struct precision_creators<float> {
  static std::int64_t create_1d(DFTI_DESCRIPTOR** h, int domain, std::int64_t n) {
    return dfti_cpu_create_single_1d(h, domain, n);
  }
  static std::int64_t create_md(DFTI_DESCRIPTOR** h, int domain, std::int64_t rank,
                                const std::int64_t* lengths) {
    return dfti_cpu_create_single_md(h, domain, rank, lengths);
  }
};
template <>
struct precision_creators<double> {
  static std::int64_t create_1d(DFTI_DESCRIPTOR** h, int domain, std::int64_t n) {
    return dfti_cpu_create_double_1d(h, domain, n);
  }
  static std::int64_t create_md(DFTI_DESCRIPTOR** h, int domain, std::int64_t rank,
                                const std::int64_t* lengths) {
    return dfti_cpu_create_double_md(h, domain, rank, lengths);
  }
};

// Rank 1 takes the one-dimensional create; every other rank the
// multi-dimensional one, which refuses ranks outside 1..7.
template <class Real>
bool create_descriptor(const plan_recipe& recipe, DFTI_DESCRIPTOR** handle) {
  const int domain = static_cast<int>(recipe.domain);
  if (recipe.rank == 1)
    return succeeded(precision_creators<Real>::create_1d(handle, domain, recipe.lengths[0]));
  return succeeded(
      precision_creators<Real>::create_md(handle, domain, recipe.rank, recipe.lengths));
}

bool apply_setting(DFTI_DESCRIPTOR* descriptor, const plan_setting& s) {
  if (s.form == setting_form::strides)
    return succeeded(dfti_cpu_set_value(descriptor, s.parameter, s.strides));
  const std::int64_t parameter = s.parameter;
  return succeeded(dfti_cpu_set_value_core(&descriptor, &parameter, &s.value));
}

bool apply_settings(const plan_recipe& recipe, DFTI_DESCRIPTOR* descriptor) {
  for (int i = 0; i < recipe.setting_count; ++i)
    if (!apply_setting(descriptor, recipe.settings[i])) return false;
  return true;
}

// The arrays given at planning and the execute operation of the plan's
// target, direction and placement. In-place plans keep no output array.
void store_execution(fftw_plan_record* plan, const plan_request& request,
                     const plan_recipe& recipe, plan_target target) {
  plan->input = request.in;
  if (!recipe.in_place) plan->output = request.out;
  if (target == plan_target::cpu)
    plan->execute_cpu = cpu_execute_operation(recipe.forward, recipe.in_place);
  else
    plan->execute_offload = offload_execute_operation(recipe.forward, recipe.in_place);
}

bool commit_descriptor(DFTI_DESCRIPTOR* descriptor, plan_target target, void* interop) {
  if (target == plan_target::cpu) return succeeded(dfti_cpu_commit(descriptor));
  return succeeded(qez_DftiCommitDescriptor_omp_offload(descriptor, interop));
}

}  // namespace

plan_request make_plan_request(plan_kind kind, int rank, const iodim64* dims, int howmany_rank,
                               const iodim64* howmany_dims, void* in, void* out, int sign,
                               unsigned flags) {
  plan_request r;
  r.kind = kind;
  r.rank = rank;
  r.dims = dims;
  r.howmany_rank = howmany_rank;
  r.howmany_dims = howmany_dims;
  r.in = in;
  r.out = out;
  r.sign = sign;
  r.flags = flags;
  return r;
}

namespace {

// A descriptor reads a zero stride or distance as "not given" and lays that
// dimension out packed, so a triple whose zero stride the caller means
// literally (every index of the dimension on one element) would be read and
// written elsewhere, past the caller's arrays. Only a dimension of one
// element may have it.
bool strides_expressible(const iodim64& d) { return d.n == 1 || (d.is != 0 && d.os != 0); }

}  // namespace

bool plan_request_acceptable(const plan_request& r) {
  if (r.rank > max_plan_rank || r.rank < 0) return false;
  // A howmany rank of 0 or below asks for one transform and needs no triple.
  if (r.howmany_rank > 1) return false;
  if (r.dims == nullptr) return false;
  if (r.howmany_rank >= 1 && r.howmany_dims == nullptr) return false;
  for (int k = 0; k < r.rank; ++k)
    if (!strides_expressible(r.dims[k])) return false;
  return r.howmany_rank < 1 || strides_expressible(r.howmany_dims[0]);
}

plan_recipe make_plan_recipe(const plan_request& request) {
  plan_recipe recipe;
  recipe.rank = request.rank;
  for (int k = 0; k < request.rank; ++k) recipe.lengths[k] = request.dims[k].n;
  recipe.in_place = request.in == request.out;
  recipe_writer w(recipe);
  if (request.kind == plan_kind::c2c) {
    recipe.domain = dfti_complex;
    recipe.forward = request.sign == fftw_forward_sign;
    if (recipe.in_place && !in_place_layouts_agree(request)) return recipe;
    if ((request.flags & fftw_conserve_memory_flag) != 0)
      w.value(dfti_param_workspace, dfti_avoid);
    write_layout(w, request, recipe.forward, recipe.in_place, false);
  } else {
    // Real transforms keep the conjugate-even side as interleaved complex
    // values; an in-place real plan pads its real rows and so keeps
    // different strides on the two sides.
    recipe.domain = dfti_real;
    recipe.forward = request.kind == plan_kind::r2c;
    w.value(dfti_param_conjugate_even_storage, dfti_complex_complex);
    write_layout(w, request, recipe.forward, recipe.in_place, true);
  }
  recipe.accepted = true;
  return recipe;
}

template <class Real>
fftw_plan_record* build_plan(const plan_request& request, plan_target target, void* interop) {
  if (!plan_request_acceptable(request)) return nullptr;
  owned_plan plan(fftw_plan_record_alloc_hook());
  if (!plan) return nullptr;
  const plan_recipe recipe = make_plan_recipe(request);
  if (!recipe.accepted) return nullptr;
  if (!create_descriptor<Real>(recipe, &plan->descriptor)) return nullptr;
  if (!apply_settings(recipe, plan->descriptor)) return nullptr;
  store_execution(plan.get(), request, recipe, target);
  if (!commit_descriptor(plan->descriptor, target, interop)) return nullptr;
  return plan.release();
}

template <class Real>
fftw_plan_record* plan_guru64_dft_omp_offload(int rank, const iodim64* dims, int howmany_rank,
                                              const iodim64* howmany_dims, void* in, void* out,
                                              int sign, unsigned flags, void* interop) {
  const plan_request r = make_plan_request(plan_kind::c2c, rank, dims, howmany_rank,
                                           howmany_dims, in, out, sign, flags);
  return build_plan<Real>(r, plan_target::offload, interop);
}

template <class Real>
fftw_plan_record* plan_guru64_dft_r2c_omp_offload(int rank, const iodim64* dims,
                                                  int howmany_rank, const iodim64* howmany_dims,
                                                  void* in, void* out, unsigned flags,
                                                  void* interop) {
  const plan_request r = make_plan_request(plan_kind::r2c, rank, dims, howmany_rank,
                                           howmany_dims, in, out, fftw_forward_sign, flags);
  return build_plan<Real>(r, plan_target::offload, interop);
}

template <class Real>
fftw_plan_record* plan_guru64_dft_c2r_omp_offload(int rank, const iodim64* dims,
                                                  int howmany_rank, const iodim64* howmany_dims,
                                                  void* in, void* out, unsigned flags,
                                                  void* interop) {
  const plan_request r = make_plan_request(plan_kind::c2r, rank, dims, howmany_rank,
                                           howmany_dims, in, out, fftw_forward_sign, flags);
  return build_plan<Real>(r, plan_target::offload, interop);
}

template <class Real>
fftw_plan_record* plan_guru64_dft_cpu(int rank, const iodim64* dims, int howmany_rank,
                                      const iodim64* howmany_dims, void* in, void* out, int sign,
                                      unsigned flags) {
  const plan_request r = make_plan_request(plan_kind::c2c, rank, dims, howmany_rank,
                                           howmany_dims, in, out, sign, flags);
  return build_plan<Real>(r, plan_target::cpu, nullptr);
}

template <class Real>
fftw_plan_record* plan_guru64_dft_r2c_cpu(int rank, const iodim64* dims, int howmany_rank,
                                          const iodim64* howmany_dims, void* in, void* out,
                                          unsigned flags) {
  const plan_request r = make_plan_request(plan_kind::r2c, rank, dims, howmany_rank,
                                           howmany_dims, in, out, fftw_forward_sign, flags);
  return build_plan<Real>(r, plan_target::cpu, nullptr);
}

template <class Real>
fftw_plan_record* plan_guru64_dft_c2r_cpu(int rank, const iodim64* dims, int howmany_rank,
                                          const iodim64* howmany_dims, void* in, void* out,
                                          unsigned flags) {
  const plan_request r = make_plan_request(plan_kind::c2r, rank, dims, howmany_rank,
                                           howmany_dims, in, out, fftw_forward_sign, flags);
  return build_plan<Real>(r, plan_target::cpu, nullptr);
}

#define QEZ_INSTANTIATE_PLAN_CORES(Real)                                                        \
  template fftw_plan_record* build_plan<Real>(const plan_request&, plan_target, void*);        \
  template fftw_plan_record* plan_guru64_dft_omp_offload<Real>(                                 \
      int, const iodim64*, int, const iodim64*, void*, void*, int, unsigned, void*);            \
  template fftw_plan_record* plan_guru64_dft_r2c_omp_offload<Real>(                             \
      int, const iodim64*, int, const iodim64*, void*, void*, unsigned, void*);                 \
  template fftw_plan_record* plan_guru64_dft_c2r_omp_offload<Real>(                             \
      int, const iodim64*, int, const iodim64*, void*, void*, unsigned, void*);                 \
  template fftw_plan_record* plan_guru64_dft_cpu<Real>(int, const iodim64*, int,                \
                                                       const iodim64*, void*, void*, int,       \
                                                       unsigned);                               \
  template fftw_plan_record* plan_guru64_dft_r2c_cpu<Real>(int, const iodim64*, int,            \
                                                           const iodim64*, void*, void*,        \
                                                           unsigned);                           \
  template fftw_plan_record* plan_guru64_dft_c2r_cpu<Real>(int, const iodim64*, int,            \
                                                           const iodim64*, void*, void*,        \
                                                           unsigned);
QEZ_INSTANTIATE_PLAN_CORES(float)
QEZ_INSTANTIATE_PLAN_CORES(double)
#undef QEZ_INSTANTIATE_PLAN_CORES

}  // namespace ulmara::qez::dft
