#include "tests/backends/md_2d/md2d_case.hpp"

#include <cstdio>

#include <gtest/gtest.h>

#include "dft/api/descriptor_node.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/reference_dft.hpp"
#include "tests/support/strided_layout.hpp"

namespace md2d_test {

namespace dft = ulmara::qez::dft;
using qez_test::cld;

namespace {

// Row stride and distance of one side.
struct side {
  std::int64_t row = 0, distance = 0;
};

side input_side(const c2c_2d_config& c) {
  const std::int64_t row = c.n0 + c.in_row_pad;
  return {row, c.n1 * row + c.in_batch_pad};
}
side output_side(const c2c_2d_config& c) {
  if (c.in_place) return input_side(c);
  const std::int64_t row = c.n0 + c.out_row_pad;
  return {row, c.n1 * row + c.out_batch_pad};
}

sycl::queue& queue_of(const c2c_2d_config& c) { return c.queue != nullptr ? *c.queue : backend_test::gpu_test_queue(); }

qez_test::strided_layout layout_of(const side& s) {
  qez_test::strided_layout l;
  l.strides = {s.row, 1};
  l.distance = s.distance;
  return l;
}

template <class T>
struct typed_run {
  static run_result run(const c2c_2d_config& c, DFTI_DESCRIPTOR* record, bool forward, container k) {
    // Forward/backward strides: the backward call reads the backward-domain
    // side. Input/output strides: every call reads the input side.
    const bool from_input = forward || c.io_convention;
    const side src = from_input ? input_side(c) : output_side(c);
    const side dst = from_input ? output_side(c) : input_side(c);
    const std::vector<std::int64_t> extents{c.n1, c.n0};
    const qez_test::strided_layout in_layout = layout_of(src), out_layout = layout_of(dst);
    const std::int64_t points = c.n0 * c.n1;
    const std::vector<cld> x = qez_test::random_complex(points * c.batch, 7 + points + (forward ? 0 : 1));

    std::vector<std::complex<T>> in_host(static_cast<size_t>(in_layout.span(extents, c.batch)));
    for (std::size_t i = 0; i < in_host.size(); ++i) in_host[i] = {T(0.25), T(-0.5)};  // padding
    qez_test::place(x, extents, c.batch, in_layout, in_host.data());
    run_result r;
    r.bounds = qez_test::bounds_for<T>(points);
    std::vector<std::complex<T>> result;
    {
      const backend_test::run_arrays<std::complex<T>> arrays(in_host, backend_test::placement_from(c.in_place), k,
                                                             out_layout.span(extents, c.batch), T(), queue_of(c));
      r.status = arrays.call(record, forward ? backend_test::direction::forward : backend_test::direction::backward);
      result = arrays.result().read();
    }
    const std::vector<cld> got = qez_test::collect<cld>(result.data(), extents, c.batch, out_layout);
    const long double scale = forward ? c.fwd_scale : c.bwd_scale;
    r.error = qez_test::measure(got, backend_test::scaled_reference_c2c(x, extents, c.batch, forward, scale));
    return r;
  }
};

void configure(DFTI_DESCRIPTOR* r, const c2c_2d_config& c) {
  const side in = input_side(c), out = output_side(c);
  const std::int64_t in_strides[3] = {0, 1, in.row};
  const std::int64_t out_strides[3] = {0, 1, out.row};
  const dft::descriptor_methods* m = r->methods;
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  m->set_number_of_transforms(r, c.batch);
  if (c.io_convention) {
    m->set_input_strides(r, in_strides);
    m->set_output_strides(r, out_strides);
    m->set_input_distance(r, in.distance);
    m->set_output_distance(r, out.distance);
  } else {
    m->set_forward_strides(r, in_strides);
    m->set_backward_strides(r, out_strides);
    m->set_forward_distance(r, in.distance);
    m->set_backward_distance(r, out.distance);
  }
  m->set_scale(r, c.fwd_scale, dft::scale_forward);
  m->set_scale(r, c.bwd_scale, dft::scale_backward);
  r->workspace_internal = c.ws == workspace::internal ? 1 : 0;
  r->directions = c.directions;
}

}  // namespace

struct c2c_2d_record::impl {
  explicit impl(sycl::queue& queue) : caller(queue) {}
  backend_test::caller_workspace caller;
};

std::string name_of(const c2c_2d_config& c) {
  std::string s = std::string(c.dbl ? "double_" : "single_") + std::to_string(c.n1) + "x" + std::to_string(c.n0) +
                  "_b" + std::to_string(c.batch) + (c.in_place ? "_inplace" : "_outofplace");
  if (c.in_row_pad || c.out_row_pad || c.in_batch_pad || c.out_batch_pad) s += "_padded";
  if (c.io_convention) s += "_io";
  if (c.ws == workspace::external_usm) s += "_wsusm";
  if (c.ws == workspace::external_buffer) s += "_wsbuffer";
  return s;
}

void PrintTo(const c2c_2d_config& c, std::ostream* os) { *os << name_of(c); }

c2c_2d_record::c2c_2d_record(const c2c_2d_config& c, const dft::backend_table* pin)
    : c_(c), impl_(std::make_unique<impl>(queue_of(c))) {
  const std::int64_t lengths[2] = {c.n1, c.n0};
  const std::int64_t created =
      dft::create_descriptor_node(&record_, c.dbl ? dft::dfti_double : dft::dfti_single, dft::dfti_complex, 2, lengths);
  if (created != 0 || record_ == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return;
  }
  c.dbl ? dft::bind_backend_list_c2c_md_double(&record_) : dft::bind_backend_list_c2c_md_float(&record_);
  record_->queue = &queue_of(c);
  configure(record_, c);
  commit_status_ = record_->methods->commit(record_);
  if (pin != nullptr && commit_status_ == 0 && record_->backend != pin)
    commit_status_ = pin->bkd_commit(pin, record_);
}

c2c_2d_record::~c2c_2d_record() {
  if (record_ != nullptr) dft::dfti_cpu_free_descriptor(&record_);
}

int c2c_2d_record::give_workspace() {
  const std::uint64_t bytes = std::max<std::uint64_t>(backend_test::workspace_bytes(record_), 1);
  if (c_.ws == workspace::external_usm) return impl_->caller.give_usm(record_, bytes);
  return impl_->caller.give_buffer(record_, bytes);
}

run_result c2c_2d_record::run(bool forward, container k) const {
  return c_.dbl ? typed_run<double>::run(c_, record_, forward, k) : typed_run<float>::run(c_, record_, forward, k);
}

bool held_by(const DFTI_DESCRIPTOR* record, const dft::backend_table* table) {
  return backend_test::committed_to(record, table);
}

const dft::backend_table* main_table(bool dbl) {
  return dbl ? &dft::dft_c2c_2d_main_gpu_bkd_table_double : &dft::dft_c2c_2d_main_gpu_bkd_table_float;
}

}  // namespace md2d_test
