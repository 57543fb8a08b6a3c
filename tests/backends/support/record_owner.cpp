#include "tests/backends/support/record_owner.hpp"

#include <array>
#include <map>
#include <mutex>
#include <utility>

#include <gtest/gtest.h>

#include "dft/api/descriptor_node.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"

namespace backend_test {

namespace dft = ulmara::qez::dft;

const dft::backend_table* const* solo_backend_list(const dft::backend_table* mine, bool double_precision) {
  using list = std::array<const dft::backend_table*, 3>;
  static std::mutex guard;
  static std::map<const dft::backend_table*, list>* lists = new std::map<const dft::backend_table*, list>();
  const std::lock_guard<std::mutex> lock(guard);
  const dft::backend_table* terminator = double_precision ? &dft::terminator_backend_double
                                                          : &dft::terminator_backend_float;
  auto it = lists->emplace(mine, list{mine, terminator, nullptr}).first;
  return it->second.data();
}

namespace {

// The distances of both sides in the fields of the convention.
void set_distances(DFTI_DESCRIPTOR* r, distance_convention convention, std::int64_t first, std::int64_t second) {
  const bool io = convention == distance_convention::input_output;
  const dft::descriptor_methods* m = r->methods;
  ASSERT_EQ((io ? m->set_input_distance : m->set_forward_distance)(r, first), 0);
  ASSERT_EQ((io ? m->set_output_distance : m->set_backward_distance)(r, second), 0);
}

}  // namespace

void set_count_and_distances(DFTI_DESCRIPTOR* r, std::int64_t count, distance_convention convention,
                             std::int64_t first, std::int64_t second) {
  ASSERT_EQ(r->methods->set_number_of_transforms(r, count), 0);
  set_distances(r, convention, first, second);
}

void set_strided_batch(DFTI_DESCRIPTOR* r, std::int64_t count, distance_convention convention,
                       const std::int64_t (&first_strides)[2], const std::int64_t (&second_strides)[2],
                       std::int64_t first_distance, std::int64_t second_distance) {
  const bool io = convention == distance_convention::input_output;
  const dft::descriptor_methods* m = r->methods;
  ASSERT_EQ(m->set_number_of_transforms(r, count), 0);
  ASSERT_EQ((io ? m->set_input_strides : m->set_forward_strides)(r, first_strides), 0);
  ASSERT_EQ((io ? m->set_output_strides : m->set_backward_strides)(r, second_strides), 0);
  set_distances(r, convention, first_distance, second_distance);
}

void set_outer_batch(DFTI_DESCRIPTOR* r, distance_convention convention, std::int64_t count,
                     std::int64_t first_distance, std::int64_t second_distance) {
  ASSERT_GE(r->batch.count, 2);
  r->batch.records[1] = convention == distance_convention::input_output
                            ? dft::dim_record{count, first_distance, second_distance, 0, 0}
                            : dft::dim_record{count, 0, 0, first_distance, second_distance};
}

void set_scales(DFTI_DESCRIPTOR* r, double fwd_scale, double bwd_scale) {
  ASSERT_EQ(r->methods->set_scale(r, fwd_scale, dft::scale_forward), 0);
  ASSERT_EQ(r->methods->set_scale(r, bwd_scale, dft::scale_backward), 0);
}

void set_placement(DFTI_DESCRIPTOR* r, bool in_place, std::uint32_t directions, bool internal_workspace) {
  r->placement = in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = directions;
  r->workspace_internal = internal_workspace ? 1 : 0;
}

record_owner::~record_owner() {
  if (record_ != nullptr) record_->free(record_, record_);
  queue_.wait();
}

bool record_owner::create_child(bool double_precision, std::int64_t length) {
  const int created = double_precision ? dft::create_child_descriptor_c2c_1d_double(&record_, length, nullptr)
                                       : dft::create_child_descriptor_c2c_1d_float(&record_, length, nullptr);
  if (created != 0 || record_ == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return false;
  }
  record_->queue = &queue_;
  return true;
}

bool record_owner::create_listed(bool double_precision, std::int64_t length) {
  return create_listed_c2c_1d_record(&record_, double_precision, length, &queue_);
}

void record_owner::bind_library_list(bool double_precision) {
  double_precision ? dft::bind_backend_list_c2c_1d_double(&record_) : dft::bind_backend_list_c2c_1d_float(&record_);
}

int record_owner::commit(bool bless) {
  if (bless && qez_dft_bless_node_thr(record_) != 0) ADD_FAILURE() << "blessing failed";
  commit_status_ = record_->methods->commit(record_);
  return commit_status_;
}

bool record_owner::committed_here_to(const dft::backend_table* mine) const {
  return record_ != nullptr && commit_status_ == 0 && committed_to(record_, mine);
}

}  // namespace backend_test
