// The ESIMD compute: for each chunk of m transforms, one launch per pass on
// the plan's queue (pass 0 from the input into the output, later passes in
// place in the output), each with its pass's kernel bundle and twiddle table.
// USM launches are chained by events (the first waits for the caller's
// dependencies), buffer launches by their accessors; every launch waits for
// the writing of its table.
#include "dft/gpu/backends/md_complex/esimd_2_facts/esimd_kernel.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_internal.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft {

using namespace esimd_2_facts;

namespace {

sycl::detail::code_location compute_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "qez_dft_gpu_dft_esimd_2_facts_compute", line, 0);
}

// The launch of pass i for the chunk that starts at transform s.
struct launch {
  sycl::nd_range<1> range;
  std::int64_t group_offset;
  bool column_batch;
};

template <class T>
launch launch_of(const esimd_2_facts_plan<T>& p, std::uint64_t pass, std::uint64_t s) {
  const std::uint64_t m = p.batch_multiplier, t = p.transforms;
  const std::int64_t groups_per_transform =
      static_cast<std::int64_t>(p.work_groups_per_chunk[pass]) / static_cast<std::int64_t>(m);
  const std::uint64_t local = p.local_size[pass];
  const std::uint64_t global =
      s + m <= t ? p.global_size[pass] : (t - s) * local * static_cast<std::uint64_t>(groups_per_transform);
  return launch{sycl::nd_range<1>(sycl::range<1>(global), sycl::range<1>(local)),
                groups_per_transform * static_cast<std::int64_t>(s), pass >= 1 && p.column_batch[pass] != 0};
}

template <class T, int D, bool buffered, class In, class Table, class Out>
void launch_kernel(sycl::handler& cgh, const launch& l, In in, Table table, Out out) {
  if (l.column_batch)
    cgh.parallel_for(l.range, qez_dft_esimd_2_facts_kernel<T, D, fft_algo::column_batch, buffered>{
                                  in, table, out, l.group_offset});
  else
    cgh.parallel_for(l.range,
                     qez_dft_esimd_2_facts_kernel<T, D, fft_algo::row, buffered>{in, table, out, l.group_offset});
}

// Calls submit(pass, launch, table event) chunk by chunk, pass by pass. A
// submission that throws waits for the launches submitted before it.
template <int D, class T, class Submit>
sycl::event for_each_launch(const esimd_2_facts_plan<T>& p, Submit submit) {
  submitted_work work;
  sycl::event last;
  for (std::uint64_t s = 0; s < p.transforms; s += p.batch_multiplier)
    for (std::uint64_t i = 0; i < p.rank; ++i)
      last = work.add(submit(i, launch_of(p, i, s), p.events[event_of(p.rank, i, D)], s == 0 && i == 0, last));
  work.settle(status_success);
  return last;
}

}  // namespace

template <int D, class T>
sycl::event qez_dft_gpu_dft_esimd_2_facts_compute(const esimd_2_facts_plan<T>& p, T* input, T* output,
                                                  const std::vector<sycl::event>& dependencies) {
  return for_each_launch<D>(p, [&](std::uint64_t i, const launch& l, const sycl::event& table_written, bool first,
                                   const sycl::event& previous) {
    return p.queue->submit(
        [&](sycl::handler& cgh) {
          if (first) cgh.depends_on(dependencies);
          else cgh.depends_on(previous);
          cgh.depends_on(table_written);
          cgh.use_kernel_bundle(p.bundles[i]->bundle);
          launch_kernel<T, D, false>(cgh, l, i == 0 ? input : output, p.table_pointers[slice_of(i, D)], output);
        },
        compute_location(__LINE__));
  });
}

template <int D, class T>
sycl::event qez_dft_gpu_dft_esimd_2_facts_compute(const esimd_2_facts_plan<T>& p, sycl::buffer<T, 1>& input,
                                                  sycl::buffer<T, 1>& output) {
  using read_accessor = sycl::accessor<T, 1, sycl::access_mode::read, sycl::target::device>;
  using output_accessor = sycl::accessor<T, 1, sycl::access_mode::read_write, sycl::target::device>;
  return for_each_launch<D>(p, [&](std::uint64_t i, const launch& l, const sycl::event& table_written, bool,
                                   const sycl::event&) {
    return p.queue->submit(
        [&](sycl::handler& cgh) {
          cgh.depends_on(table_written);
          cgh.use_kernel_bundle(p.bundles[i]->bundle);
          read_accessor in(i == 0 ? input : output, cgh);
          read_accessor table(*p.table_buffers[slice_of(i, D)], cgh);
          output_accessor out(output, cgh);
          launch_kernel<T, D, true>(cgh, l, in, table, out);
        },
        compute_location(__LINE__));
  });
}

#define QEZ_INSTANTIATE(T, D)                                                                                   \
  template sycl::event qez_dft_gpu_dft_esimd_2_facts_compute<D, T>(const esimd_2_facts_plan<T>&, T*, T*,        \
                                                                   const std::vector<sycl::event>&);            \
  template sycl::event qez_dft_gpu_dft_esimd_2_facts_compute<D, T>(const esimd_2_facts_plan<T>&,                \
                                                                   sycl::buffer<T, 1>&, sycl::buffer<T, 1>&);
QEZ_INSTANTIATE(float, 0)
QEZ_INSTANTIATE(float, 1)
QEZ_INSTANTIATE(double, 0)
QEZ_INSTANTIATE(double, 1)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft
