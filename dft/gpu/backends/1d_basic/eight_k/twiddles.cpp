// Writing the three twiddle-table classes on the device: one small kernel
// per class and direction, into a USM view or a sub-buffer view.
#include "dft/gpu/backends/1d_basic/eight_k/twiddles.hpp"

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"

// Names of the writer kernels: form (USM or sub-buffer), class, precision.
#define QEZ_DECLARE_WRITER_NAMES(form)                                                        \
  class twidlTableGen8k##form##Class1Double;                                                  \
  class twidlTableGen8k##form##Class2Double;                                                  \
  class twidlTableGen8k##form##Class3Double;                                                  \
  class twidlTableGen8k##form##Class1Float;                                                   \
  class twidlTableGen8k##form##Class2Float;                                                   \
  class twidlTableGen8k##form##Class3Float;
QEZ_DECLARE_WRITER_NAMES(Usm)
QEZ_DECLARE_WRITER_NAMES(Buf)
#undef QEZ_DECLARE_WRITER_NAMES

namespace ulmara::qez::dft::eight_k {

namespace {

template <class T, table_class C, bool usm>
struct writer_name;
#define QEZ_WRITER_NAME(T, Prec, C, number, usm, form) \
  template <>                                         \
  struct writer_name<T, C, usm> {                     \
    using type = ::twidlTableGen8k##form##Class##number##Prec; \
  };
#define QEZ_WRITER_NAMES_OF(T, Prec)                        \
  QEZ_WRITER_NAME(T, Prec, table_n0, 1, true, Usm)          \
  QEZ_WRITER_NAME(T, Prec, table_n1, 2, true, Usm)          \
  QEZ_WRITER_NAME(T, Prec, table_inter, 3, true, Usm)       \
  QEZ_WRITER_NAME(T, Prec, table_n0, 1, false, Buf)         \
  QEZ_WRITER_NAME(T, Prec, table_n1, 2, false, Buf)         \
  QEZ_WRITER_NAME(T, Prec, table_inter, 3, false, Buf)
QEZ_WRITER_NAMES_OF(double, Double)
QEZ_WRITER_NAMES_OF(float, Float)
#undef QEZ_WRITER_NAMES_OF
#undef QEZ_WRITER_NAME

sycl::detail::code_location writer_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "bkd_write_twiddle_table_on_device", line, 0);
}

// One writer submission over `range` (first index j, second index i).
template <class T, table_class C, class Writer>
sycl::event submit_writer(block<T>& b, void* view, const Writer& w, sycl::range<2> range) {
  if (b.twiddle_views_kind == workspace_buffer) {
    auto* table = static_cast<byte_buffer*>(view);
    return b.queue->submit(
        [&](sycl::handler& cgh) {
          sycl::accessor<char, 1, sycl::access_mode::read_write, sycl::target::device> bytes(*table, cgh);
          cgh.parallel_for<typename writer_name<T, C, false>::type>(range, [=](sycl::id<2> ji) {
            w.write(reinterpret_cast<T*>(&bytes[0]), static_cast<std::int64_t>(ji[0]),
                    static_cast<std::int64_t>(ji[1]));
          });
        },
        writer_location(__LINE__));
  }
  T* table = static_cast<T*>(view);
  return b.queue->submit(
      [&](sycl::handler& cgh) {
        cgh.parallel_for<typename writer_name<T, C, true>::type>(range, [=](sycl::id<2> ji) {
          w.write(table, static_cast<std::int64_t>(ji[0]), static_cast<std::int64_t>(ji[1]));
        });
      },
      writer_location(__LINE__));
}

template <class T, table_class C>
sycl::event submit_class(block<T>& b, direction d) {
  void* view = b.tables[C][d];
  if (C == table_inter) {
    const inter_pass_table_writer<T> w{d == dir_forward ? b.fwd_scale : b.bwd_scale};
    return submit_writer<T, C>(b, view, w, sycl::range<2>(size_t(b.n1), size_t(b.n0)));
  }
  const bool first = C == table_n0;
  const factor_table_writer<T> w{first ? b.n0 : b.n1, first ? b.n0_fact0 : b.n1_fact0};
  return submit_writer<T, C>(b, view, w,
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
