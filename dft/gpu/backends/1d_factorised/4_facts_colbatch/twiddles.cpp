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
// host and uploaded; the float instance takes all four from the core
// library's sincospif when len1 is 64 or 128.
#include <vector>

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

// The cross table, made on the host over its 2-D range and uploaded into a
// USM table (kind 2) or a byte sub-buffer.
template <class T>
sycl::event upload_cross(void* target, std::uint32_t kind, const cross_table_writer<T>& w, sycl::range<2> range,
                         sycl::queue& q) {
  return upload_host_table<T>(q, target, kind != workspace_usm, w, range, range.size() * w.fa * 2 * w.lanes);
}

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
// The float host road: every table computed on the host with the core
// library's sincospif, then copied to its slice.

float sinpi_cospi_angle(std::uint64_t m, std::uint64_t n) {
  return -2.0f * static_cast<float>(m % n) / static_cast<float>(n);
}

void host_pass_table(const block<float>& s, pass p, std::vector<float>* out) {
  const std::uint64_t fa = static_cast<std::uint64_t>(s.passes[p].fact0);
  const std::uint64_t fb = static_cast<std::uint64_t>(s.passes[p].fact1);
  const std::uint64_t f = fa * fb;
  out->assign(2 * f, 0.0f);
  for (std::uint64_t j = 0; j < fb; ++j)
    for (std::uint64_t i = 0; i < fa; ++i) {
      float sn, c;
      qez_serv_libm_sincospif(sinpi_cospi_angle(i * j, f), &sn, &c);
      (*out)[2 * (j * fa + i)] = c;
      (*out)[2 * (j * fa + i) + 1] = sn;
    }
}

void host_cross_table(const block<float>& s, direction d, std::vector<float>* out) {
  const cross_table_writer<float> w = cross_writer(s, d);
  out->assign(static_cast<size_t>(s.len1) * w.fb * w.fa * 2 * w.lanes, 0.0f);
  for (std::uint64_t k1 = 0; k1 < static_cast<std::uint64_t>(s.len1); ++k1)
    for (std::uint64_t sub = 0; sub < w.fb; ++sub)
      for (std::uint64_t i = 0; i < w.fa; ++i) {
        float sn, c;
        qez_serv_libm_sincospif(sinpi_cospi_angle(k1 * (sub + w.fb * i), w.points), &sn, &c);
        float* row = out->data() + ((k1 * w.fb + sub) * w.fa + i) * 2 * w.lanes;
        for (std::uint64_t l = 0; l < w.lanes; ++l) {
          row[l] = w.scale * c;
          row[w.lanes + l] = (l % 2 == 0 ? w.scale : -w.scale) * sn;
        }
      }
}

void upload_into_slot(block<float>* s, int slot, std::vector<float> values) {
  const table_targets t = targets_of(*s);
  keep_event(s->twiddle_event[slot], upload_table<float>(*s->queue, t.table[slot], s->workspace_kind != workspace_usm,
                                                         std::move(values), table_writer_location(__LINE__)));
}

int write_host_tables(block<float>* s) {
  const table_targets t = targets_of(*s);
  for (pass p : {pass_0, pass_1}) {
    if (t.table[p] == nullptr) return status_no_workspace;
    std::vector<float> values;
    host_pass_table(*s, p, &values);
    upload_into_slot(s, p == pass_0 ? event_table_1 : event_table_2, std::move(values));
  }
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s->directions, d)) continue;
    const int slot = d == dir_forward ? event_cross_forward : event_cross_backward;
    if (t.table[slot] == nullptr) return status_no_workspace;
    std::vector<float> values;
    host_cross_table(*s, d, &values);
    upload_into_slot(s, slot, std::move(values));
  }
  return status_success;
}

template <class T>
bool tables_on_host(const block<T>& s) {
  return !is_double<T>() && (s.len1 == 64 || s.len1 == 128);
}

template <class T>
int write_host_tables_if_float(block<T>*) {
  return status_internal_error;
}
template <>
int write_host_tables_if_float<float>(block<float>* s) {
  return write_host_tables(s);
}

}  // namespace

template <class T>
int bkd_write_twiddle_table_on_device(block<T>* s) {
  if (tables_on_host(*s)) return write_host_tables_if_float(s);
  const table_targets t = targets_of(*s);
  const std::uint32_t kind = s->workspace_kind == workspace_usm ? workspace_usm : workspace_buffer;
  for (pass p : {pass_0, pass_1}) {
    if (t.table[p] == nullptr) return status_no_workspace;
    const four_factor::table_view view = kind == workspace_usm
                                             ? four_factor::table_view{kind, t.table[p], nullptr}
                                             : four_factor::table_view{kind, nullptr, static_cast<byte_buffer*>(t.table[p])};
    keep_event(s->twiddle_event[p == pass_0 ? event_table_1 : event_table_2],
               four_factor::write_sub_length_table<T>(*s->queue, view, s->passes[p].fact0, s->passes[p].fact1));
  }
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s->directions, d)) continue;
    const int slot = d == dir_forward ? event_cross_forward : event_cross_backward;
    if (t.table[slot] == nullptr) return status_no_workspace;
    keep_event(s->twiddle_event[slot],
               upload_cross<T>(t.table[slot], kind, cross_writer(*s, d), cross_range(*s), *s->queue));
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T) template int bkd_write_twiddle_table_on_device<T>(block<T>*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::four_factor_colbatch
