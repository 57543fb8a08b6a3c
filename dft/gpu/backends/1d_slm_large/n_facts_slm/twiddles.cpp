// Writing the twiddle tables: SYCL kernels into a USM table or a sub-buffer,
// or, for the float plans of the prebuilt kernels, the host computing the
// table and copying it over.
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/twiddles.hpp"

#include <cstring>
#include <vector>

#include "dft/gpu/backends/1d_slm_large/n_facts_slm/prebuilt.hpp"
#include "dft/gpu/core/kernel_name_trait.hpp"

// Names of the writer kernels: form, table, precision.
class usmSimpleTwiddleGenerationNFactSLM_d;
class bufSimpleTwiddleGenerationNFactSLM_d;
class usmSimpleTwiddleGenerationNFactSLM_s;
class bufSimpleTwiddleGenerationNFactSLM_s;
class usmMainTwiddleGenerationNFactSLM_d;
class bufMainTwiddleGenerationNFactSLM_d;
class usmMainTwiddleGenerationNFactSLM_s;
class bufMainTwiddleGenerationNFactSLM_s;

namespace ulmara::qez::dft::n_facts_slm {

namespace {

enum table_type : int { simple_table = 0, main_table = 1 };

template <class T, table_type table, bool usm>
struct writer_name;
QEZ_KERNEL_NAME_OF(writer_name, usmSimpleTwiddleGenerationNFactSLM_d, double, simple_table, true)
QEZ_KERNEL_NAME_OF(writer_name, bufSimpleTwiddleGenerationNFactSLM_d, double, simple_table, false)
QEZ_KERNEL_NAME_OF(writer_name, usmSimpleTwiddleGenerationNFactSLM_s, float, simple_table, true)
QEZ_KERNEL_NAME_OF(writer_name, bufSimpleTwiddleGenerationNFactSLM_s, float, simple_table, false)
QEZ_KERNEL_NAME_OF(writer_name, usmMainTwiddleGenerationNFactSLM_d, double, main_table, true)
QEZ_KERNEL_NAME_OF(writer_name, bufMainTwiddleGenerationNFactSLM_d, double, main_table, false)
QEZ_KERNEL_NAME_OF(writer_name, usmMainTwiddleGenerationNFactSLM_s, float, main_table, true)
QEZ_KERNEL_NAME_OF(writer_name, bufMainTwiddleGenerationNFactSLM_s, float, main_table, false)

sycl::detail::code_location location(const char* operation, unsigned long line) {
  return sycl::detail::code_location(__FILE__, operation, line, 0);
}

// One writer over `range` (first index, second index) into a USM table or
// a sub-buffer.
template <class T, table_type table, class Writer>
sycl::event submit_writer(void* view, std::uint32_t kind, const Writer& w, sycl::range<2> range, sycl::queue& q,
                          const char* operation) {
  if (kind == workspace_buffer) {
    auto* bytes_buffer = static_cast<byte_buffer*>(view);
    return q.submit(
        [&](sycl::handler& cgh) {
          sycl::accessor<char, 1, sycl::access_mode::write, sycl::target::device> bytes(*bytes_buffer, cgh);
          cgh.parallel_for<typename writer_name<T, table, false>::type>(range, [=](sycl::id<2> i) {
            w.write(reinterpret_cast<T*>(&bytes[0]), static_cast<std::int64_t>(i[0]),
                    static_cast<std::int64_t>(i[1]));
          });
        },
        location(operation, __LINE__));
  }
  T* values = static_cast<T*>(view);
  return q.submit(
      [&](sycl::handler& cgh) {
        cgh.parallel_for<typename writer_name<T, table, true>::type>(range, [=](sycl::id<2> i) {
          w.write(values, static_cast<std::int64_t>(i[0]), static_cast<std::int64_t>(i[1]));
        });
      },
      location(operation, __LINE__));
}

// The host road: the writer run on the host over `range`, the table then
// copied into the USM table or written through a host accessor.
template <class T, class Writer>
sycl::event write_on_host(void* view, std::uint32_t kind, const Writer& w, sycl::range<2> range,
                          std::size_t values, sycl::queue& q) {
  std::vector<T> host(values, T(0));
  for (size_t i = 0; i < range[0]; ++i)
    for (size_t j = 0; j < range[1]; ++j)
      w.write(host.data(), static_cast<std::int64_t>(i), static_cast<std::int64_t>(j));
  const std::size_t bytes = values * sizeof(T);
  if (kind == workspace_buffer) {
    sycl::host_accessor<char, 1, sycl::access_mode::write> table(*static_cast<byte_buffer*>(view));
    std::memcpy(&table[0], host.data(), bytes);
    return sycl::event();
  }
  sycl::event copied = q.memcpy(view, host.data(), bytes, std::vector<sycl::event>{}, location("copy", __LINE__));
  copied.wait();
  return copied;
}

bool simple_table_on_host(std::int64_t a, std::int64_t f) { return (a == 8 || a == 64) && f == 8; }

}  // namespace

template <class T>
sycl::event init_or_copy_simple_twiddles_on_device(void* table, std::uint32_t kind, std::int64_t a, std::int64_t f,
                                                   sycl::queue& q) {
  const simple_table_writer<T> w{a * f, f};
  const sycl::range<2> range(static_cast<size_t>(a), static_cast<size_t>(f));
  if (!is_double<T>() && simple_table_on_host(a, f))
    return write_on_host<T>(table, kind, w, range, static_cast<std::size_t>(2 * a * f), q);
  return submit_writer<T, simple_table>(table, kind, w, range, q, "init_or_copy_simple_twiddles_on_device");
}

template <class T>
sycl::event init_or_copy_main_twiddle_on_device(void* table, std::uint32_t kind, T scale, const block<T>& b,
                                                sycl::queue& q) {
  const main_table_writer<T> w{b.max_fact * b.subgroup_size * 2, b.subgroup_size, b.fft_len,
                               b.fft_len / b.max_fact, scale};
  const sycl::range<2> range(static_cast<size_t>(b.subgroup_count), static_cast<size_t>(b.max_fact));
  if (!is_double<T>() && main_table_on_host(b.fft_len, b.max_fact, b.subgroup_size, b.subgroup_count))
    return write_on_host<T>(table, kind, w, range,
                            static_cast<std::size_t>(b.subgroup_count * b.max_fact * 2 * b.subgroup_size), q);
  return submit_writer<T, main_table>(table, kind, w, range, q, "init_or_copy_main_twiddle_on_device");
}

#define QEZ_INSTANTIATE(T)                                                                                   \
  template sycl::event init_or_copy_simple_twiddles_on_device<T>(void*, std::uint32_t, std::int64_t,        \
                                                                 std::int64_t, sycl::queue&);               \
  template sycl::event init_or_copy_main_twiddle_on_device<T>(void*, std::uint32_t, T, const block<T>&,     \
                                                              sycl::queue&);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::n_facts_slm
