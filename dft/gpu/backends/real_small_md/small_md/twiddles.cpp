// Factor tables of the small multi-dimensional backend: their sizes, their
// placement in part 0 of the workspace (add_workspace) and their entries,
// computed on the host and uploaded.
//
// Layouts (h = SUBGROUP_SIZE / 2, N the complex length of dimension 0):
//   main row (slots 0, 1): scale x exp(-2 pi i k j / N), k < f0, j < P, in
//     column blocks of h columns: reals (wr, wr) and (wi, -wi);
//   factor rows (slots 2, 3) and the dimension-1 table (slot 5):
//     exp(+2 pi i a b / (A E)) at complex element b A + a;
//   real factors (slot 4): exp(-pi i m / N) in blocks of h, (c, c), (s, -s).
#include <cmath>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/small_md/plan.hpp"
#include "dft/gpu/core/table_upload.hpp"

namespace ulmara::qez::dft::small_md {

namespace {

enum class family { main_row, factor_row, real_factors, colbatch };

constexpr long double pi_l = 3.141592653589793238462643383279502884L;

// cos(pi x) and sin(pi x) of a T argument, exact at multiples of 1/2.
template <class T>
T cospi_of(T x) {
  const long double r = std::fmod(static_cast<long double>(x), 2.0L);
  if (r == 0.5L || r == -0.5L || r == 1.5L || r == -1.5L) return T(0);
  return static_cast<T>(std::cos(pi_l * r));
}
template <class T>
T sinpi_of(T x) {
  const long double r = std::fmod(static_cast<long double>(x), 2.0L);
  if (r == 0 || r == 1.0L || r == -1.0L) return T(0);
  return static_cast<T>(std::sin(pi_l * r));
}

// The shape of one table.
struct table_shape {
  family kind;
  std::int64_t slow, fast;  // range of the writer
  std::int64_t h;           // half the sub-group size
  std::int64_t f0, n;       // main row: rows and complex length; real: c and N
  std::int64_t q;           // real factors: Q
  auto key_fields() const { return std::make_tuple(kind, slow, fast, h, f0, n, q); }
};

table_shape shape_of(const small_md_kernel_config& c, int slot) {
  const std::int64_t h = c.sub_group_size / 2, k0 = c.factor_counts[0];
  const std::int64_t n = c2c_length(c), f0 = c.factors[0][0];
  table_shape s{family::main_row, f0, n / f0, h, f0, n, 0};
  if (slot == slot_second_factor || slot == slot_third_factor) {
    const int j = slot - 1;
    std::int64_t after = 1;
    for (int i = j + 1; i < k0; ++i) after *= c.factors[0][i];
    s = {family::factor_row, c.factors[0][j], after, h, 0, 0, 0};
  } else if (slot == slot_real_factors) {
    const std::int64_t g1 = c.rank == 2 ? dim1_length(c) : 1;
    const std::int64_t share = std::max<std::int64_t>(1, c.threads_per_group / (c.batch_per_group * g1));
    const std::int64_t q = ((n + 1) / 2 + share * h - 1) / (share * h) * h;
    s = {family::real_factors, share, q, h, share, n, q};
  } else if (slot == slot_dim1) {
    s = {family::colbatch, c.factors[1][0], c.factors[1][1], h, 0, 0, 0};
  }
  return s;
}

// One entry (slow index a, fast index b) of a table.
template <class T>
void write_entry(const table_shape& s, T scale, std::int64_t a, std::int64_t b, T* t) {
  const std::int64_t h = s.h;
  switch (s.kind) {
    case family::main_row: {
      const T x = static_cast<T>(2 * a) * static_cast<T>(-b) / static_cast<T>(s.n);
      const T wr = cospi_of(x) * scale, wi = sinpi_of(x) * scale;
      const std::int64_t p = (b / h) * 4 * h * s.f0 + a * 4 * h + 2 * (b % h);
      t[p] = wr;
      t[p + 1] = wr;
      t[p + 2 * h] = wi;
      t[p + 2 * h + 1] = -wi;
      break;
    }
    case family::factor_row:
    case family::colbatch: {
      const T x = static_cast<T>(2 * b) * static_cast<T>(a) / static_cast<T>(s.slow * s.fast);
      const std::int64_t e = b * s.slow + a;
      t[2 * e] = cospi_of(x);
      t[2 * e + 1] = sinpi_of(x);
      break;
    }
    case family::real_factors: {
      const std::int64_t m = (b / h) * h * s.f0 + a * h + b % h;
      const T x = static_cast<T>(-2 * m) / static_cast<T>(2 * s.n);
      const std::int64_t p = 4 * a * s.q + 4 * h * (b / h) + 2 * (b % h);
      const T cv = cospi_of(x), sv = sinpi_of(x);
      t[p] = cv;
      t[p + 1] = cv;
      t[p + 2 * h] = sv;
      t[p + 2 * h + 1] = -sv;
      break;
    }
  }
}

sycl::detail::code_location location_of(const char* function, unsigned long line) {
  return sycl::detail::code_location(__FILE__, function, line, 0);
}

// The entries of one table, as the host-table maker calls them.
template <class T>
struct table_writer {
  table_shape shape;
  T scale;
  auto key_fields() const { return std::make_tuple(shape, scale); }
  void write(T* t, std::size_t a, std::size_t b) const {
    write_entry<T>(shape, scale, static_cast<std::int64_t>(a), static_cast<std::int64_t>(b), t);
  }
};

// bkd_write_pre_computed_factors_on_device, one slot: the table of
// `values` elements of T made on the host and uploaded.
template <class T>
sycl::event write_table(block& b, int slot, std::uint64_t values) {
  const table_shape s = shape_of(b.config, slot);
  factor_table_record& r = *b.tables[slot];
  const T scale = slot <= slot_main_backward ? static_cast<T>(b.config.scales[slot]) : T(1);
  const sycl::range<2> range(static_cast<size_t>(s.slow), static_cast<size_t>(s.fast));
  return upload_host_table<T>(*b.queue, r.container, r.kind == plan_basics::workspace_buffer, table_writer<T>{s, scale},
                              range, static_cast<std::size_t>(values),
                              location_of("bkd_write_pre_computed_factors_on_device", __LINE__));
}

void release_sub_buffer(factor_table_record& r) {
  if (r.kind == plan_basics::workspace_buffer && r.container != nullptr) {
    try {
      delete static_cast<byte_buffer*>(r.container);
    } catch (const sycl::exception&) {
      // The view is gone for the record either way.
    }
  }
  r.container = nullptr;
}

bool has_part(std::uint32_t phase, workspace_part part) {
  return phase == workspace_part_both || phase == static_cast<std::uint32_t>(part);
}

}  // namespace

std::uint64_t exact_table_bytes(const block& b, int slot, std::uint64_t z) {
  const small_md_kernel_config& c = b.config;
  const std::int64_t k0 = c.factor_counts[0];
  const bool exists = (slot == slot_main_forward && k0 >= 2 && c.direction_enabled[0]) ||
                      (slot == slot_main_backward && k0 >= 2 && c.direction_enabled[1]) ||
                      (slot == slot_second_factor && k0 >= 3) || (slot == slot_third_factor && k0 == 4) ||
                      (slot == slot_real_factors && k0 >= 2 && c.real) ||
                      (slot == slot_dim1 && c.rank == 2 && c.factor_counts[1] == 2);
  if (!exists) return 0;
  const table_shape s = shape_of(c, slot);
  switch (s.kind) {
    case family::main_row: return static_cast<std::uint64_t>((s.fast + s.h - 1) / s.h * s.h * s.slow) * 2 * z;
    case family::real_factors: return static_cast<std::uint64_t>(s.f0 * s.q) * 2 * z;
    default: return static_cast<std::uint64_t>(s.slow * s.fast) * z;
  }
}

void bkd_free_buffers(block* b, std::uint32_t phase) {
  if (has_part(phase, workspace_part_twiddles)) {
    b->internal_persistent.reset();
    for (factor_table_record* r : b->tables)
      if (r != nullptr) {
        release_sub_buffer(*r);
        r->kind = 0;
      }
  }
  if (has_part(phase, workspace_part_scratch)) b->internal_scratch.reset();
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t phase,
                  void* events) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  bkd_free_buffers(b, phase);
  if (phase != workspace_part_twiddles && phase != workspace_part_both) return status_success;

  // assign: the tables in slot order from the offset.
  std::uint64_t o = offset;
  for (factor_table_record* r : b->tables) {
    if (r == nullptr) continue;
    if (kind != plan_basics::workspace_buffer && kind != plan_basics::workspace_usm) return status_internal_error;
    release_sub_buffer(*r);
    r->kind = static_cast<std::uint32_t>(kind);
    if (r->size != 0) {
      if (workspace == nullptr) return status_internal_error;
      if (kind == plan_basics::workspace_buffer) {
        auto* parent = static_cast<byte_buffer*>(workspace);
        if (parent->is_sub_buffer())
          throw sycl::exception(sycl::make_error_code(sycl::errc::invalid), "Cannot create sub buffer from sub buffer.");
        if (o + r->size > parent->byte_size())
          throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                                "Requested sub-buffer size exceeds the size of the parent buffer");
        r->container =
            new byte_buffer(*parent, sycl::id<1>(o), sycl::range<1>(r->size), location_of("assign", __LINE__));
      } else {
        r->container = static_cast<char*>(workspace) + o;
      }
    }
    o += r->size;
    if (o - offset > record->workspace_bytes[workspace_part_twiddles]) return status_internal_error;
  }

  for (int slot = 0; slot < slot_count; ++slot) {
    const std::uint64_t exact = exact_table_bytes(*b, slot, 2 * sizeof(T));
    if (exact == 0) continue;
    factor_table_record* r = b->tables[slot];
    if (r == nullptr || r->kind != b->workspace_kind || r->size < exact) return status_no_workspace;
    // add_workspace hands back its tables written.
    sycl::event done = write_table<T>(*b, slot, exact / sizeof(T));
    done.wait();
    *r->event = done;
  }
  if (events != nullptr) {
    auto* list = static_cast<std::vector<sycl::event>*>(events);
    for (const factor_table_record* r : b->tables)
      if (r != nullptr) list->push_back(*r->event);
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T) \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::small_md
