// The twiddle tables of the four-factor column-batch backend:
//   table 1 / table 2 (one per pass, F = Fa x Fb points): entry j*Fa + i =
//     exp(-2 pi i i j / F), read by the pass as twidl_N1;
//   cross table of a direction (pass 1): for block (k1, s) and row i the
//     angle a = 2 pi k1 (s + len2_fact1 i) / N, SG values sigma cos a (one per
//     lane), then SG values -sigma sin a on even lanes and +sigma sin a on odd
//     lanes, sigma the direction's scale.
// The pass tables are those of the four-factor backend's passes and come
// from its writers; the cross tables, one block per (k1, s) with the same
// value on every lane pair, from the writers here. Every table is made on the
// host (once per configuration: the host table cache keeps them) and
// uploaded; the float instance takes all four from the core library's
// sincospif when len1 is 64 or 128.
#include <tuple>
#include <type_traits>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/twiddles.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/reduced_unit_root.hpp"
#include "dft/gpu/core/table_upload.hpp"
#include "dft/gpu/core/workspace_slices.hpp"
#include "platform/core/include/qez_core.h"

namespace ulmara::qez::dft::four_factor_colbatch {

namespace {

// Cross table: item (k1, s) writes the whole block (k1, s), each value the
// scaled exact one rounded once.
template <class T>
struct cross_table_writer {
  std::uint64_t fa;  // len2_fact0
  std::uint64_t fb;  // len2_fact1
  std::uint64_t lanes;
  std::uint64_t points;
  T scale;

  auto key_fields() const { return std::make_tuple(fa, fb, lanes, points, scale); }
  void write(T* table, std::uint64_t k1, std::uint64_t s) const {
    T* block = table + (k1 * fb + s) * fa * 2 * lanes;
    for (std::uint64_t i = 0; i < fa; ++i) {
      long double c, sn;
      reduced_unit_root(k1 * (s + fb * i), points, &c, &sn);
      const T re = static_cast<T>(scale * c);
      const T im = static_cast<T>(scale * sn);
      T* row = block + i * 2 * lanes;
      for (std::uint64_t l = 0; l < lanes; ++l) {
        row[l] = re;
        row[lanes + l] = l % 2 == 0 ? im : -im;
      }
    }
  }
};

// The four targets of a state's workspace kind, in writing order.
struct table_targets {
  void* table[twiddle_event_count];
};

template <class T>
table_targets targets_of(const block<T>& s) {
  if (s.workspace_kind == workspace_usm)
    return {{s.table1_ptr, s.table2_ptr, s.cross_ptr[dir_forward], s.cross_ptr[dir_backward]}};
  return {{s.table1_buf, s.table2_buf, s.cross_buf[dir_forward], s.cross_buf[dir_backward]}};
}

template <class T>
cross_table_writer<T> cross_writer(const block<T>& s, direction d) {
  return {static_cast<std::uint64_t>(s.len2_fact0), static_cast<std::uint64_t>(s.len2_fact1),
          static_cast<std::uint64_t>(s.sub_group_size), static_cast<std::uint64_t>(s.fft_len),
          d == dir_forward ? s.fwd_scale : s.bwd_scale};
}

template <class T>
sycl::range<2> cross_range(const block<T>& s) {
  return sycl::range<2>(static_cast<size_t>(s.len1), static_cast<size_t>(s.len2_fact1));
}

// ---------------------------------------------------------------------------
// The float host road: the same tables from the core library's sincospif.

float sinpi_cospi_angle(std::uint64_t m, std::uint64_t n) {
  return -2.0f * static_cast<float>(m % n) / static_cast<float>(n);
}

// Pass table of F = fa x fb points: item (j, i) writes entry j * fa + i.
struct sincospif_pass_writer {
  std::uint64_t fa;
  std::uint64_t fb;

  auto key_fields() const { return std::make_tuple(fa, fb); }
  void write(float* table, std::uint64_t j, std::uint64_t i) const {
    float sn, c;
    qez_serv_libm_sincospif(sinpi_cospi_angle(i * j, fa * fb), &sn, &c);
    table[2 * (j * fa + i)] = c;
    table[2 * (j * fa + i) + 1] = sn;
  }
};

// Cross table: item (k1, s) writes the whole block (k1, s).
struct sincospif_cross_writer {
  cross_table_writer<float> cross;

  auto key_fields() const { return std::make_tuple(cross); }
  void write(float* table, std::uint64_t k1, std::uint64_t sub) const {
    const cross_table_writer<float>& w = cross;
    for (std::uint64_t i = 0; i < w.fa; ++i) {
      float sn, c;
      qez_serv_libm_sincospif(sinpi_cospi_angle(k1 * (sub + w.fb * i), w.points), &sn, &c);
      float* row = table + ((k1 * w.fb + sub) * w.fa + i) * 2 * w.lanes;
      for (std::uint64_t l = 0; l < w.lanes; ++l) {
        row[l] = w.scale * c;
        row[w.lanes + l] = (l % 2 == 0 ? w.scale : -w.scale) * sn;
      }
    }
  }
};

template <class T>
bool tables_on_host(const block<T>& s) {
  return std::is_same<T, float>::value && (s.len1 == 64 || s.len1 == 128);
}

// The table of pass `p` into `target`.
template <class T>
sycl::event upload_pass_table(const block<T>& s, pass p, void* target) {
  const bool into_buffer = s.workspace_kind != workspace_usm;
  const std::int64_t fa = s.passes[p].fact0, fb = s.passes[p].fact1;
  if constexpr (std::is_same<T, float>::value) {
    if (tables_on_host(s)) {
      const sincospif_pass_writer w{static_cast<std::uint64_t>(fa), static_cast<std::uint64_t>(fb)};
      return upload_host_table<float>(*s.queue, target, into_buffer, w,
                                      sycl::range<2>(static_cast<size_t>(fb), static_cast<size_t>(fa)),
                                      static_cast<std::size_t>(2 * fa * fb));
    }
  }
  const four_factor::table_view view =
      into_buffer ? four_factor::table_view{workspace_buffer, nullptr, static_cast<byte_buffer*>(target)}
                  : four_factor::table_view{workspace_usm, target, nullptr};
  return four_factor::write_sub_length_table<T>(*s.queue, view, fa, fb);
}

// The cross table of direction `d` into `target`.
template <class T>
sycl::event upload_cross_table(const block<T>& s, direction d, void* target) {
  const bool into_buffer = s.workspace_kind != workspace_usm;
  const cross_table_writer<T> w = cross_writer(s, d);
  const sycl::range<2> range = cross_range(s);
  const std::size_t values = range.size() * w.fa * 2 * w.lanes;
  if constexpr (std::is_same<T, float>::value) {
    if (tables_on_host(s))
      return upload_host_table<float>(*s.queue, target, into_buffer, sincospif_cross_writer{w}, range, values);
  }
  return upload_host_table<T>(*s.queue, target, into_buffer, w, range, values);
}

}  // namespace

template <class T>
int bkd_write_twiddle_table_on_device(block<T>* s) {
  const table_targets t = targets_of(*s);
  for (pass p : {pass_0, pass_1}) {
    if (t.table[p] == nullptr) return status_no_workspace;
    keep_event(s->twiddle_event[p == pass_0 ? event_table_1 : event_table_2], upload_pass_table(*s, p, t.table[p]));
  }
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s->directions, d)) continue;
    const int slot = d == dir_forward ? event_cross_forward : event_cross_backward;
    if (t.table[slot] == nullptr) return status_no_workspace;
    keep_event(s->twiddle_event[slot], upload_cross_table(*s, d, t.table[slot]));
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T) template int bkd_write_twiddle_table_on_device<T>(block<T>*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::four_factor_colbatch
