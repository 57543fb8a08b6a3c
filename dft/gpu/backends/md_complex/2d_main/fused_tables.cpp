// The four twiddle tables of the fused strategy, made on the host and
// uploaded, with the writers of the fused line kernels (fused_2_facts.hpp):
// the row tables of dimension 0 carry the direction's scale, the two column tables of
// dimension 1 are equal and unscaled.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"

namespace ulmara::qez::dft::c2c_2d_main {

namespace {

template <class T>
int write_tables(block& b) {
  const bool usm = b.workspace_kind == plan_basics::workspace_usm;
  fused_2_facts::table_target targets[table_count];
  for (int t = 0; t < table_count; ++t) {
    if (usm)
      targets[t].usm = b.tables_usm[t];
    else
      targets[t].view = b.tables_buf[t].get();
    if (!targets[t].present()) return status_no_workspace;
  }
  const dim_plan& d0 = b.dims[0];
  const dim_plan& d1 = b.dims[1];
  const std::int64_t sg = b.subgroup_size;
  const auto u = [](std::int64_t v) { return static_cast<size_t>(v); };
  const sycl::range<2> row_range(u(d0.fact0), u(d0.fact1));
  const sycl::range<2> column_range(u(d1.fact1), u(d1.fact0));
  sycl::queue& q = *b.queue;
  for (int t : {row_table_fwd, row_table_bwd}) {
    const T scale = static_cast<T>(b.scales[t == row_table_fwd ? plan_basics::dir_forward : plan_basics::dir_backward]);
    const fused_2_facts::row_table_writer<T> rows{sg / 2, d0.fact0, d0.length, sg, scale};
    remember_event(b.table_events[t], fused_2_facts::upload_line_table<T>(q, rows, row_range, targets[t]));
  }
  const fused_2_facts::column_table_writer<T> columns{d1.fact0, sg, d1.length};
  for (int t : {col_table_a, col_table_b})
    remember_event(b.table_events[t], fused_2_facts::upload_line_table<T>(q, columns, column_range, targets[t]));
  return status_success;
}

}  // namespace

int bkd_write_twiddle_table_on_device(block& b) {
  return b.double_precision ? write_tables<double>(b) : write_tables<float>(b);
}

}  // namespace ulmara::qez::dft::c2c_2d_main
