// The ESIMD two-factor plan: construction, acceptance, per-pass geometry and
// kernel bundles (commit_plan), workspace sizes and release.
#include <algorithm>
#include <sstream>

#include "dft/gpu/backends/md_complex/esimd_2_facts/esimd_kernel.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_internal.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"

namespace ulmara::qez::dft {

namespace esimd_2_facts {

void pass_bundle_deleter::operator()(pass_bundle* b) const { delete b; }

namespace {

template <class T, fft_algo A>
std::vector<sycl::kernel_id> pass_kernel_ids() {
  return {sycl::get_kernel_id<qez_dft_esimd_2_facts_kernel<T, 0, A, false>>(),
          sycl::get_kernel_id<qez_dft_esimd_2_facts_kernel<T, 1, A, false>>(),
          sycl::get_kernel_id<qez_dft_esimd_2_facts_kernel<T, 0, A, true>>(),
          sycl::get_kernel_id<qez_dft_esimd_2_facts_kernel<T, 1, A, true>>()};
}

void set_pass_constants(sycl::kernel_bundle<sycl::bundle_state::input>& b, const pass_geometry& g,
                        std::uint8_t use_lsc_api) {
  b.set_specialization_constant<dft_spec_const_fact0>(g.fact0);
  b.set_specialization_constant<dft_spec_const_fact1>(g.fact1);
  b.set_specialization_constant<dft_spec_const_fwd_dist>(g.fwd_dist);
  b.set_specialization_constant<dft_spec_const_bwd_dist>(g.bwd_dist);
  b.set_specialization_constant<dft_spec_const_VL>(vector_reals);
  b.set_specialization_constant<dft_spec_const_simd_groups_before_transpose>(g.groups_before);
  b.set_specialization_constant<dft_spec_const_simd_groups_after_transpose>(groups_after_constant(g));
  b.set_specialization_constant<dft_spec_const_fact1_loop_bound>(g.loop_bound);
  b.set_specialization_constant<dft_spec_const_use_lsc_api>(use_lsc_api);
  b.set_specialization_constant<dft_spec_const_slm_size>(g.slm_bytes);
  b.set_specialization_constant<dft_num_batch_in_x_dir>(g.batches_x);
  b.set_specialization_constant<dft_num_batch_in_y_dir>(g.batches_y);
  b.set_specialization_constant<dft_dist_to_next_simd_group>(g.dist_to_next_simd_group);
  b.set_specialization_constant<dft_dist_to_next_row_in_fact0xfact1>(
      static_cast<std::uint32_t>(g.element_stride * g.fact1));
  b.set_specialization_constant<dft_dist_to_next_row_in_fact1xfact0>(
      static_cast<std::uint32_t>(g.fact0 * g.element_stride));
  b.set_specialization_constant<dft_stride_to_next_elem>(static_cast<std::uint32_t>(g.element_stride));
  b.set_specialization_constant<dft_spec_const_padfact0>(g.pad0);
  b.set_specialization_constant<dft_spec_const_padfact1>(g.pad1);
  b.set_specialization_constant<dft_num_col_batch_ffts>(g.ncol);
  b.set_specialization_constant<dft_do_twiddle>(1u);
  b.set_specialization_constant<dft_do_fft0>(1u);
  b.set_specialization_constant<dft_do_fft1>(1u);
}

}  // namespace

template <class T>
void build_pass_bundle(esimd_2_facts_plan<T>& p, std::uint64_t pass, const pass_geometry& g) {
  const sycl::context context = p.queue->get_context();
  const sycl::device device = p.queue->get_device();
  const std::vector<sycl::kernel_id> ids = g.column_batch ? pass_kernel_ids<T, fft_algo::column_batch>()
                                                          : pass_kernel_ids<T, fft_algo::row>();
  auto input = sycl::get_kernel_bundle<sycl::bundle_state::input>(context, {device}, ids);
  set_pass_constants(input, g, p.use_lsc_api);
  p.bundles[pass].reset(new pass_bundle{sycl::build(input)});
}

template void build_pass_bundle(esimd_2_facts_plan<float>&, std::uint64_t, const pass_geometry&);
template void build_pass_bundle(esimd_2_facts_plan<double>&, std::uint64_t, const pass_geometry&);

}  // namespace esimd_2_facts

using namespace esimd_2_facts;

template <class T>
esimd_2_facts_plan<T>::esimd_2_facts_plan(const std::vector<std::int64_t>& lengths_in, T backward_scale_in,
                                          std::uint64_t transforms_in, std::uint64_t forward_distance_in,
                                          std::uint64_t backward_distance_in, const std::int64_t* input_strides_in,
                                          const std::int64_t* output_strides_in, bool use_lsc_api_in)
    : rank(lengths_in.size()),
      lengths(lengths_in),
      backward_scale(backward_scale_in),
      forward_scale(T(1)),
      transforms(transforms_in),
      forward_distance(forward_distance_in),
      backward_distance(backward_distance_in),
      input_strides{},
      output_strides{},
      table_pointers{},
      slice_bytes{},
      vl(vector_length),
      local_size{},
      global_size{},
      dims{1, 1, 1},
      work_groups_per_chunk{},
      batch_multiplier(0),
      fact0{},
      fact1{},
      use_lsc_api(use_lsc_api_in ? 1 : 0),
      column_batch{},
      internal_workspace(1),
      container_kind(container_not_fixed),
      workspace_bytes{},
      internal_allocations{},
      events(2 * rank),
      queue(nullptr) {
  // Only the strides of the dimensions the plan can hold are kept; a larger
  // rank is declined by commit_plan.
  const std::uint64_t kept = std::min<std::uint64_t>(rank, max_rank);
  for (std::uint64_t d = 0; d < kept; ++d) {
    input_strides[d] = input_strides_in ? input_strides_in[d] : 0;
    output_strides[d] = output_strides_in ? output_strides_in[d] : 0;
  }
}

template <class T>
esimd_2_facts_plan<T>::~esimd_2_facts_plan() {
  if (queue) {
    events.clear();
    delete_internal_allocations(2);
  }
  queue = nullptr;
  for (int d = max_rank - 1; d >= 0; --d) bundles[d].reset();
}

namespace {

template <class T>
bool layout_accepted(const esimd_2_facts_plan<T>& p) {
  if (p.rank < 1 || p.rank > max_rank) return false;
  if (p.input_strides[0] != 1 || p.output_strides[0] != 1) return false;
  if (p.rank >= 2 && (p.input_strides[1] != p.lengths[0] || p.output_strides[1] != p.input_strides[1])) return false;
  if (p.rank == 3 &&
      (p.input_strides[2] != p.lengths[0] * p.lengths[1] || p.output_strides[2] != p.input_strides[2]))
    return false;
  return true;
}

template <class T>
bool distances_accepted(const esimd_2_facts_plan<T>& p) {
  if (p.transforms < 2) return true;
  std::uint64_t points = 1;
  for (std::int64_t n : p.lengths) points *= static_cast<std::uint64_t>(n);
  return p.forward_distance == points && p.backward_distance == points;
}

template <class T>
bool sizes_accepted(const esimd_2_facts_plan<T>& p) {
  if (esimd_lengths_excluded(p.rank, p.lengths.data())) return false;
  return std::is_same<T, double>::value ? size_rules_accept_double(p.rank, p.lengths.data())
                                        : size_rules_accept_single(p.rank, p.lengths.data());
}

}  // namespace

template <class T>
std::uint64_t esimd_2_facts_plan<T>::commit_plan(sycl::queue* q) {
  for (std::int64_t n : lengths)
    if (n < 1) return 1;
  if (!layout_accepted(*this) || !distances_accepted(*this) || !sizes_accepted(*this)) return 1;
  queue = q;
  batch_multiplier = batch_multiplier_for(rank, lengths.data(), complex_bytes<T>());
  for (std::uint64_t d = 0; d < max_rank; ++d) dims[d] = d < rank ? static_cast<std::uint64_t>(lengths[d]) : 1;
  const plan_shape shape{rank,
                         lengths.data(),
                         forward_distance,
                         backward_distance,
                         batch_multiplier,
                         complex_bytes<T>(),
                         queue->get_device().get_info<sycl::info::device::local_mem_size>()};
  workspace_bytes[0] = 0;
  for (std::uint64_t d = 0; d < rank; ++d) {
    pass_geometry g{};
    if (!plan_pass(shape, d, &g)) return 1;
    fact0[d] = g.fact0;
    fact1[d] = g.fact1;
    column_batch[d] = g.column_batch ? 1 : 0;
    local_size[d] = g.local_size;
    work_groups_per_chunk[d] = g.work_groups;
    global_size[d] = g.global_size;
    for (int direction = 0; direction < 2; ++direction) {
      slice_bytes[slice_of(d, direction)] = pad_to_base_addr_align(g.table_bytes, queue);
      workspace_bytes[0] += slice_bytes[slice_of(d, direction)];
    }
    build_pass_bundle(*this, d, g);
  }
  workspace_bytes[0] += workspace_offset_slack(sizeof(T));
  workspace_bytes[1] = 0;
  return internal_workspace ? create_and_initialize_internal_workspaces() : 0;
}

template <class T>
std::uint64_t esimd_2_facts_plan<T>::get_workspace_bytes(std::int32_t kind) const {
  switch (kind) {
    case 0: return workspace_bytes[0];
    case 1: return workspace_bytes[1];
    case 2: return workspace_bytes[0] + workspace_bytes[1];
    default: return 0;
  }
}

template <class T>
std::string esimd_2_facts_plan<T>::describe() const {
  std::ostringstream s;
  s << "esimd_2_facts " << (std::is_same<T, double>::value ? "double" : "float") << " rank " << rank << " [";
  for (std::uint64_t d = 0; d < rank; ++d) s << (d ? "x" : "") << lengths[d];
  s << "] transforms " << transforms << " m " << batch_multiplier;
  for (std::uint64_t d = 0; d < std::min<std::uint64_t>(rank, max_rank); ++d)
    s << " | pass " << d << ": " << fact0[d] << "x" << fact1[d] << (column_batch[d] ? " col-batch" : " row")
      << " local " << local_size[d] << " groups " << work_groups_per_chunk[d];
  s << " | workspace " << workspace_bytes[0];
  return s.str();
}

template class esimd_2_facts_plan<float>;
template class esimd_2_facts_plan<double>;

}  // namespace ulmara::qez::dft
