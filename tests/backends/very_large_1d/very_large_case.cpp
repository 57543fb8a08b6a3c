#include "tests/backends/very_large_1d/very_large_case.hpp"

#include <cmath>
#include <cstring>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"
#include "tests/support/accuracy.hpp"

namespace very_large_test {

namespace {

const dft::backend_table* const very_large_only[] = {&dft::dft_c2c_very_large_1d_gpu_bkd_table_float,
                                                      &dft::terminator_backend_float, nullptr};

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  ASSERT_EQ(m->set_number_of_transforms(r, c.count), 0);
  if (c.first_distance != 0 || c.second_distance != 0) {
    if (c.io_distances) {
      ASSERT_EQ(m->set_input_distance(r, c.first_distance), 0);
      ASSERT_EQ(m->set_output_distance(r, c.second_distance), 0);
    } else {
      ASSERT_EQ(m->set_forward_distance(r, c.first_distance), 0);
      ASSERT_EQ(m->set_backward_distance(r, c.second_distance), 0);
    }
  }
  r->fwd_scale = c.fwd_scale;
  r->bwd_scale = c.bwd_scale;
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = c.directions;
  r->workspace_internal = c.internal_workspace ? 1 : 0;
  r->is_child = c.child_mark ? 1 : 0;
}

}  // namespace

committed_record::committed_record(const record_config& c) : workspace_(backend_test::gpu_test_queue()) {
  const int created = c.real ? dft::create_child_descriptor_r2c_1d_float(&record_, c.length, nullptr)
                             : dft::create_child_descriptor_c2c_1d_float(&record_, c.length, nullptr);
  if (created != 0 || record_ == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return;
  }
  if (!c.library_list) record_->backend_list = very_large_only;
  record_->queue = &backend_test::gpu_test_queue();
  configure(record_, c);
  qez_dft_bless_node_thr(record_);
  commit_status_ = record_->methods->commit(record_);
}

committed_record::~committed_record() {
  if (record_ != nullptr) record_->free(record_, record_);
  backend_test::gpu_test_queue().wait();
}

bool committed_record::committed_here() const {
  return record_ != nullptr && commit_status_ == 0 &&
         backend_test::committed_to(record_, &dft::dft_c2c_very_large_1d_gpu_bkd_table_float);
}

std::string committed_record::child_name(int stage, int j) const {
  const DFTI_DESCRIPTOR* c = child(stage, j);
  return c == nullptr ? std::string() : std::string(c->name, strnlen(c->name, sizeof c->name));
}

bool stage_children_available() {
  static const bool available = [] {
    const vl::factor_row& row = vl::factor_rows().front();
    const vl::child_layout l = vl::stage_child_layout(row, vl::row_padding(row), 0, 0);
    DFTI_DESCRIPTOR* r = nullptr;
    if (dft::create_child_descriptor_c2c_1d_float(&r, l.length, nullptr) != 0) return false;
    r->queue = &backend_test::gpu_test_queue();
    r->lengths.records[0] = dft::dim_record{l.length, l.input_stride, l.output_stride, 0, 0};
    r->batch.records[0] = l.batch[0];
    r->batch.records[1] = l.batch[1];
    r->set_flags |= dft::set_flag_input_strides | dft::set_flag_output_strides | dft::set_flag_input_distance |
                    dft::set_flag_output_distance;
    r->placement = l.placement;
    r->fused_twiddle_length = l.post_twiddle_batch;
    r->workspace_internal = 0;
    qez_dft_bless_node_thr(r);
    const bool ok = r->methods->commit(r) == 0;
    r->free(r, r);
    return ok;
  }();
  return available;
}

void expect_single_precision_accuracy(const error_sum& e, std::int64_t n) {
  const qez_test::accuracy_bounds b = qez_test::bounds_for<float>(n);
  const qez_test::accuracy a = e.result();
  EXPECT_TRUE(qez_test::within(a, b)) << qez_test::describe(a, b);
  backend_test::report_in_bound_units(a, b);
}

std::vector<float> random_floats(std::int64_t count, std::uint64_t seed) {
  std::vector<float> v(static_cast<size_t>(count));
  std::uint64_t state = seed * 0x9e3779b97f4a7c15ULL + 1;
  for (float& x : v) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    x = static_cast<float>(static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0);
  }
  return v;
}

}  // namespace very_large_test
