// Writing the three twiddle-table classes: one table per class and
// direction, made on the host and uploaded into a USM view or a sub-buffer
// view.
#include "dft/gpu/backends/1d_basic/eight_k/twiddles.hpp"

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/table_upload.hpp"

namespace ulmara::qez::dft::eight_k {

namespace {

sycl::detail::code_location writer_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "bkd_write_twiddle_table_on_device", line, 0);
}

// One table, made on the host over `range` (first index j, second index i)
// and uploaded: four elements per entry.
template <class T, class Writer>
sycl::event upload_writer(block<T>& b, void* view, const Writer& w, sycl::range<2> range) {
  return upload_host_table<T>(*b.queue, view, b.twiddle_views_kind == workspace_buffer, w, range, 4 * range.size(),
                              writer_location(__LINE__));
}

template <class T, table_class C>
sycl::event submit_class(block<T>& b, direction d) {
  void* view = b.tables[C][d];
  if (C == table_inter) {
    const inter_pass_table_writer<T> w{d == dir_forward ? b.fwd_scale : b.bwd_scale};
    return upload_writer<T>(b, view, w, sycl::range<2>(size_t(b.n1), size_t(b.n0)));
  }
  const bool first = C == table_n0;
  const factor_table_writer<T> w{first ? b.n0 : b.n1, first ? b.n0_fact0 : b.n1_fact0};
  return upload_writer<T>(b, view, w,
                          first ? sycl::range<2>(size_t(b.n0_fact0), size_t(b.n0_fact1))
                                : sycl::range<2>(size_t(b.n1_fact0), size_t(b.n1_fact1)));
}

template <class T, table_class C>
int write_class(block<T>& b) {
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b.directions, d)) continue;
    if (b.tables[C][d] == nullptr) return status_no_workspace;
    const sycl::event written = submit_class<T, C>(b, d);
    delete b.table_events[C][d];
    b.table_events[C][d] = new sycl::event(written);
  }
  return status_success;
}

}  // namespace

template <class T>
int bkd_write_twiddle_table_on_device(block<T>* b) {
  // Lane pairs read a table entry as one run of a sub-group.
  const std::int64_t pairs = b->subgroup_size / 2;
  if (b->n0_fact1 % pairs != 0 || b->n1_fact1 % pairs != 0) return status_not_handled;
  int status = write_class<T, table_n0>(*b);
  if (status == status_success) status = write_class<T, table_n1>(*b);
  if (status == status_success) status = write_class<T, table_inter>(*b);
  return status;
}

template int bkd_write_twiddle_table_on_device<float>(block<float>*);
template int bkd_write_twiddle_table_on_device<double>(block<double>*);

}  // namespace ulmara::qez::dft::eight_k
