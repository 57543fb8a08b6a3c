#include "tests/backends/four_factor/four_factor_case.hpp"

#include <algorithm>
#include <complex>
#include <memory>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_lists.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "qez_dft_engine.h"

namespace four_factor_test {

namespace {

// Earlier backends of the library's lists take many of these lengths; these
// records try the four-factor backend alone.
const dft::backend_table* const four_factor_only_float[] = {&dft::dft_c2c_4_facts_gpu_bkd_table_float,
                                                            &dft::terminator_backend_float, nullptr};
const dft::backend_table* const four_factor_only_double[] = {&dft::dft_c2c_4_facts_gpu_bkd_table_double,
                                                             &dft::terminator_backend_double, nullptr};

std::int64_t in_distance_of(const record_config& c) { return c.in_distance != 0 ? c.in_distance : c.length; }
std::int64_t out_distance_of(const record_config& c) { return c.out_distance != 0 ? c.out_distance : c.length; }

void configure(DFTI_DESCRIPTOR* r, const record_config& c) {
  const dft::descriptor_methods* m = r->methods;
  ASSERT_EQ(m->set_number_of_transforms(r, c.count), 0);
  if (c.io_distances) {
    ASSERT_EQ(m->set_input_distance(r, in_distance_of(c)), 0);
    ASSERT_EQ(m->set_output_distance(r, out_distance_of(c)), 0);
  } else {
    ASSERT_EQ(m->set_forward_distance(r, in_distance_of(c)), 0);
    ASSERT_EQ(m->set_backward_distance(r, out_distance_of(c)), 0);
  }
  r->fwd_scale = c.fwd_scale;
  r->bwd_scale = c.bwd_scale;
  r->placement = c.in_place ? dft::dfti_inplace : dft::dfti_not_inplace;
  r->directions = c.directions;
  r->workspace_internal = c.internal_workspace ? 1 : 0;
}

// The input side reads with the forward-domain (or input) distance going
// forward.
struct side_distances {
  std::int64_t read, write;
};
side_distances distances_for(const record_config& c, bool forward) {
  if (c.io_distances || forward) return {in_distance_of(c), out_distance_of(c)};
  return {out_distance_of(c), in_distance_of(c)};
}

template <class T>
std::vector<std::complex<T>> random_values(std::int64_t count, std::uint64_t seed) {
  std::vector<std::complex<T>> v(static_cast<size_t>(count));
  std::uint64_t state = seed;
  const auto next = [&state]() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<T>(static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0);
  };
  for (std::complex<T>& x : v) x = std::complex<T>(next(), next());
  return v;
}

template <class T>
run_result run_typed(const committed_record& rec, bool forward, bool usm, const std::vector<std::int64_t>& sample) {
  const record_config& c = rec.config();
  const std::int64_t n = c.length;
  const side_distances dist = distances_for(c, forward);
  const std::int64_t values = std::max(dist.read, dist.write) * (c.count - 1) + n;
  const std::vector<std::complex<T>> host = random_values<T>(values, static_cast<std::uint64_t>(n * 7919 + c.count));

  sycl::queue& q = backend_test::gpu_test_queue();
  backend_test::device_array<std::complex<T>> in_dev(q, host, usm);
  std::unique_ptr<backend_test::device_array<std::complex<T>>> out_dev;
  if (!c.in_place)
    out_dev = std::make_unique<backend_test::device_array<std::complex<T>>>(
        q, std::vector<std::complex<T>>(static_cast<size_t>(values)), usm);
  const backend_test::device_array<std::complex<T>>& result = c.in_place ? in_dev : *out_dev;

  run_result out;
  out.status = backend_test::call_compute_entry(rec.record(), forward, in_dev.argument(), result.argument(), usm);
  if (out.status != 0) return out;
  const std::vector<std::complex<T>> got_all = result.read();

  std::vector<std::int64_t> measured = sample;
  if (measured.empty())
    for (std::int64_t t = 0; t < c.count; ++t) measured.push_back(t);
  const long double scale = forward ? c.fwd_scale : c.bwd_scale;
  std::vector<qez_test::cld> got, reference;
  for (std::int64_t t : measured) {
    std::vector<qez_test::cld> one;
    for (std::int64_t k = 0; k < n; ++k) {
      const std::complex<T> v = host[static_cast<size_t>(t * dist.read + k)];
      one.emplace_back(v.real(), v.imag());
      const std::complex<T> g = got_all[static_cast<size_t>(t * dist.write + k)];
      got.emplace_back(g.real(), g.imag());
    }
    const std::vector<qez_test::cld> ref = backend_test::scaled_reference_c2c(one, {n}, 1, forward, scale);
    reference.insert(reference.end(), ref.begin(), ref.end());
  }
  out.error = qez_test::measure(got, reference);
  return out;
}

}  // namespace

const dft::backend_table* table_of(bool double_precision) {
  return double_precision ? &dft::dft_c2c_4_facts_gpu_bkd_table_double : &dft::dft_c2c_4_facts_gpu_bkd_table_float;
}

committed_record::committed_record(const record_config& c) : config_(c), workspace_(backend_test::gpu_test_queue()) {
  const int created = c.double_precision ? dft::create_child_descriptor_c2c_1d_double(&record_, c.length, nullptr)
                                         : dft::create_child_descriptor_c2c_1d_float(&record_, c.length, nullptr);
  if (created != 0 || record_ == nullptr) {
    ADD_FAILURE() << "record creation failed: " << created;
    return;
  }
  if (c.library_list)
    c.double_precision ? dft::bind_backend_list_c2c_1d_double(&record_) : dft::bind_backend_list_c2c_1d_float(&record_);
  else
    record_->backend_list = c.double_precision ? four_factor_only_double : four_factor_only_float;
  record_->queue = c.queue != nullptr ? c.queue : &backend_test::gpu_test_queue();
  configure(record_, c);
  qez_dft_bless_node_thr(record_);
  commit_status_ = record_->methods->commit(record_);
}

committed_record::~committed_record() {
  if (record_ != nullptr) record_->free(record_, record_);
  backend_test::gpu_test_queue().wait();
}

bool committed_record::committed_here() const {
  return record_ != nullptr && commit_status_ == 0 && backend_test::committed_to(record_, table_of(config_.double_precision));
}

std::string committed_record::description() const {
  if (!committed_here()) return "not committed to the four-factor backend";
  return config_.double_precision ? ff::describe(plan<double>()) : ff::describe(plan<float>());
}

run_result run_and_measure(const committed_record& r, bool forward, bool usm, const std::vector<std::int64_t>& sample) {
  return r.config().double_precision ? run_typed<double>(r, forward, usm, sample)
                                     : run_typed<float>(r, forward, usm, sample);
}

qez_test::accuracy_bounds bounds_of(bool double_precision, std::int64_t length) {
  return double_precision ? qez_test::bounds_for<double>(length) : qez_test::bounds_for<float>(length);
}

std::int64_t estimator_of(const record_config& cfg) {
  dft::dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = cfg.length;
  c.fwd_strides[0] = c.bwd_strides[0] = 1;
  c.input_strides[0] = c.output_strides[0] = 1;
  c.number_of_transforms = cfg.count;
  c.fwd_distance = in_distance_of(cfg);
  c.bwd_distance = out_distance_of(cfg);
  c.direction_count = cfg.directions == dft::directions_both ? 2 : 1;
  c.in_place = cfg.in_place;
  return cfg.double_precision ? dft::dft_c2c_4_facts_gpu_bkd<double>().workspace_estimate(c)
                              : dft::dft_c2c_4_facts_gpu_bkd<float>().workspace_estimate(c);
}

}  // namespace four_factor_test
