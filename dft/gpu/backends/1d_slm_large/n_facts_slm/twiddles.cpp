// Writing the twiddle tables: made on the host and uploaded into a USM
// table or a sub-buffer.
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/twiddles.hpp"

#include "dft/gpu/core/table_upload.hpp"

namespace ulmara::qez::dft::n_facts_slm {

namespace {

sycl::detail::code_location location(const char* operation, unsigned long line) {
  return sycl::detail::code_location(__FILE__, operation, line, 0);
}

}  // namespace

template <class T>
sycl::event init_or_copy_simple_twiddles_on_device(void* table, std::uint32_t kind, std::int64_t a, std::int64_t f,
                                                   sycl::queue& q) {
  const simple_table_writer<T> w{a * f, f};
  const sycl::range<2> range(static_cast<size_t>(a), static_cast<size_t>(f));
  return upload_host_table<T>(q, table, kind == workspace_buffer, w, range, static_cast<std::size_t>(2 * a * f),
                              location("init_or_copy_simple_twiddles_on_device", __LINE__));
}

template <class T>
sycl::event init_or_copy_main_twiddle_on_device(void* table, std::uint32_t kind, T scale, const block<T>& b,
                                                sycl::queue& q) {
  const main_table_writer<T> w{b.max_fact * b.subgroup_size * 2, b.subgroup_size, b.fft_len,
                               b.fft_len / b.max_fact, scale};
  const sycl::range<2> range(static_cast<size_t>(b.subgroup_count), static_cast<size_t>(b.max_fact));
  return upload_host_table<T>(q, table, kind == workspace_buffer, w, range,
                              static_cast<std::size_t>(b.subgroup_count * b.max_fact * 2 * b.subgroup_size),
                              location("init_or_copy_main_twiddle_on_device", __LINE__));
}

#define QEZ_INSTANTIATE(T)                                                                                   \
  template sycl::event init_or_copy_simple_twiddles_on_device<T>(void*, std::uint32_t, std::int64_t,        \
                                                                 std::int64_t, sycl::queue&);               \
  template sycl::event init_or_copy_main_twiddle_on_device<T>(void*, std::uint32_t, T, const block<T>&,     \
                                                              sycl::queue&);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::n_facts_slm
