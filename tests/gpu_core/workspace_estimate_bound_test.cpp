// The estimate a caller reads before commit must cover what the committed
// GPU backend then asks for: a caller sizes an external workspace from it.
// Each configuration is asked for its estimate, committed on the GPU queue
// of the profile this process runs under, and its committed workspace
// compared with the estimate. One ctest entry per profile and precision.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using P = qd::config_param;

// The estimator class that stands for each backend, by its tables.
using class_estimate = std::int64_t (*)(const qd::dft_estimate_config&);
struct class_row {
  const qd::backend_table* single_table;
  const qd::backend_table* double_table;
  class_estimate single_estimate;
  class_estimate double_estimate;
};

#define QEZ_CLASS_ROW(name)                                                                    \
  class_row {                                                                                  \
    &qd::name##_table_float, &qd::name##_table_double,                                         \
        [](const qd::dft_estimate_config& c) { return qd::name<float>().workspace_estimate(c); }, \
        [](const qd::dft_estimate_config& c) { return qd::name<double>().workspace_estimate(c); } \
  }

const class_row class_rows[] = {
    QEZ_CLASS_ROW(dft_c2c_default_gpu_bkd),   QEZ_CLASS_ROW(dft_c2c_2_facts_gpu_bkd),
    QEZ_CLASS_ROW(dft_c2c_8k_2_facts_gpu_bkd), QEZ_CLASS_ROW(dft_c2c_3_facts_gpu_bkd),
    QEZ_CLASS_ROW(dft_c2c_4_facts_gpu_bkd),   QEZ_CLASS_ROW(dft_c2c_2_facts_colbatch_gpu_bkd),
    QEZ_CLASS_ROW(dft_c2c_4_facts_colbatch_gpu_bkd), QEZ_CLASS_ROW(dft_c2c_n_facts_gpu_bkd),
    QEZ_CLASS_ROW(dft_c2c_large_1d_gpu_bkd),  QEZ_CLASS_ROW(dft_c2c_2d_main_gpu_bkd),
    QEZ_CLASS_ROW(dft_c2c_3d_padded_gpu_bkd), QEZ_CLASS_ROW(dft_c2c_3d_main_gpu_bkd),
    QEZ_CLASS_ROW(dft_small_md_gpu_bkd),      QEZ_CLASS_ROW(dft_r2c_1d_main_gpu_bkd),
    QEZ_CLASS_ROW(dft_r2c_2d_main_gpu_bkd),   QEZ_CLASS_ROW(dft_r2c_3d_main_gpu_bkd),
};
#undef QEZ_CLASS_ROW

// The estimate of the class standing for the committed backend; -2 when
// the backend has no class of its own (it needs no workspace of its own).
std::int64_t estimate_of_class(const qd::backend_table* committed, bool double_precision,
                               const qd::dft_estimate_config& c) {
  for (const class_row& row : class_rows) {
    if (committed == (double_precision ? row.double_table : row.single_table))
      return double_precision ? row.double_estimate(c) : row.single_estimate(c);
  }
  return -2;
}

struct sweep_case {
  qd::domain dom;
  std::vector<std::int64_t> lengths;  // slowest dimension first
  std::int64_t batch;
  bool in_place;
  // Complex 1D only: the transforms lie as columns (stride = batch,
  // distance 1), the layout of the column-batch backends.
  bool columns = false;
};

std::string name_of(const sweep_case& c) {
  std::ostringstream s;
  s << (c.dom == qd::domain::REAL ? "real_" : "complex_");
  for (std::size_t k = 0; k < c.lengths.size(); ++k) s << (k ? "x" : "") << c.lengths[k];
  s << "_batch" << c.batch << (c.columns ? "_columns" : "") << (c.in_place ? "_inplace" : "_outofplace");
  return s.str();
}

std::vector<sweep_case> sweep() {
  std::vector<sweep_case> cases;
  const qd::domain C = qd::domain::COMPLEX;
  const qd::domain R = qd::domain::REAL;
  // Complex 1D: every length class a backend keys on (two, three and
  // n-factor splits, 8192, the shared-memory powers of two up to 65536,
  // lengths with a large prime factor, batch-capped small lengths).
  const std::int64_t complex_lengths[] = {2,    3,    12,   48,   100,   128,   210,   500,   512,
                                          1000, 1024, 2048, 3000, 4096,  6000,  8192,  12288, 16384,
                                          32768, 65536, 67,  1018, 20000};
  bool flip = false;
  for (std::int64_t n : complex_lengths)
    for (std::int64_t m : {1, 3}) cases.push_back({C, {n}, m, flip = !flip});
  cases.push_back({C, {16}, 5000, false});
  // Column batches (two- and n-factor and four-factor column-batch sizes),
  // and a large power of two.
  for (std::int64_t n : {64, 1000, 3000, 4096})
    for (std::int64_t m : {4, 16}) cases.push_back({C, {n}, m, false, true});
  cases.push_back({C, {std::int64_t{1} << 21}, 1, false});
  cases.push_back({C, {8}, 2, true});
  // Real 1D: odd and even lengths, batches.
  for (std::int64_t n : {7, 16, 30, 64, 250, 1000, 4096, 8192, 10000})
    for (std::int64_t m : {1, 2}) cases.push_back({R, {n}, m, flip = !flip});
  // Complex and real 2D and 3D.
  const std::vector<std::vector<std::int64_t>> md = {
      {8, 8}, {12, 16}, {64, 64}, {30, 100}, {256, 256}, {8, 8, 8}, {10, 12, 16}, {32, 32, 32}};
  for (const auto& l : md)
    for (qd::domain d : {C, R}) cases.push_back({d, l, 2, flip = !flip});
  cases.push_back({C, {128, 256}, 1, false});
  cases.push_back({R, {64, 128}, 1, true});
  return cases;
}

// What one case gave; `committed_on_gpu` is false when no GPU backend took
// the configuration (the front end then refuses the workspace query).
struct outcome {
  std::int64_t estimate = -1;
  std::int64_t class_estimate = -2;
  std::int64_t committed = -1;
  bool committed_on_gpu = false;
  std::string refusal;
};

template <qd::precision prec, qd::domain dom>
outcome run_case(const sweep_case& c, sycl::queue& queue) {
  qd::descriptor<prec, dom> desc(c.lengths);
  desc.set_value(P::NUMBER_OF_TRANSFORMS, c.batch);
  std::int64_t elements = 1;
  for (std::int64_t l : c.lengths) elements *= l;
  if (dom == qd::domain::REAL) {
    const std::int64_t inner = c.lengths.back();
    const std::int64_t rows = elements / inner;
    const std::int64_t complex_row = inner / 2 + 1;
    desc.set_value(P::FWD_DISTANCE, rows * (c.in_place ? 2 * complex_row : inner));
    desc.set_value(P::BWD_DISTANCE, rows * complex_row);
    if (c.lengths.size() > 1) {
      std::vector<std::int64_t> fwd(c.lengths.size() + 1, 0), bwd(c.lengths.size() + 1, 0);
      std::int64_t sf = 1, sb = 1;
      for (std::size_t k = c.lengths.size(); k-- > 0;) {
        fwd[k + 1] = sf;
        bwd[k + 1] = sb;
        const bool innermost = k + 1 == c.lengths.size();
        sf *= innermost ? (c.in_place ? 2 * complex_row : inner) : c.lengths[k];
        sb *= innermost ? complex_row : c.lengths[k];
      }
      desc.set_value(P::FWD_STRIDES, fwd);
      desc.set_value(P::BWD_STRIDES, bwd);
    }
  } else if (c.columns) {
    desc.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, c.batch});
    desc.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, c.batch});
    desc.set_value(P::FWD_DISTANCE, std::int64_t{1});
    desc.set_value(P::BWD_DISTANCE, std::int64_t{1});
  } else {
    desc.set_value(P::FWD_DISTANCE, elements);
    desc.set_value(P::BWD_DISTANCE, elements);
  }
  desc.set_value(P::PLACEMENT, c.in_place ? qd::config_value::IN_PLACE : qd::config_value::OUT_OF_PLACE);
  outcome o;
  desc.get_value(P::WORKSPACE_ESTIMATE_BYTES, &o.estimate);
  const qd::dft_estimate_config config = qd::estimate_config_of(qd::descriptor_access::record(desc));
  try {
    desc.commit(queue);
    desc.get_value(P::WORKSPACE_BYTES, &o.committed);
    o.committed_on_gpu = true;
    o.class_estimate = estimate_of_class(qd::descriptor_access::record(desc)->backend,
                                         prec == qd::precision::DOUBLE, config);
  } catch (const std::exception& e) {
    // No GPU backend took it (or it fell back to the CPU road).
    o.committed_on_gpu = false;
    o.refusal = e.what();
  }
  return o;
}

template <qd::precision prec>
outcome run_case(const sweep_case& c, sycl::queue& queue) {
  return c.dom == qd::domain::REAL ? run_case<prec, qd::domain::REAL>(c, queue)
                                   : run_case<prec, qd::domain::COMPLEX>(c, queue);
}

sycl::queue& gpu_queue() {
  static sycl::queue* queue = new sycl::queue(sycl::gpu_selector_v);
  return *queue;
}

bool double_precision_entry() {
  const char* p = std::getenv("ESTIMATE_BOUND_PRECISION");
  return p != nullptr && std::string(p) == "double";
}

TEST(WorkspaceEstimateBound, EstimateCoversTheCommittedWorkspace) {
  int on_gpu = 0, total = 0;
  for (const sweep_case& c : sweep()) {
    ++total;
    const outcome o = double_precision_entry() ? run_case<qd::precision::DOUBLE>(c, gpu_queue())
                                               : run_case<qd::precision::SINGLE>(c, gpu_queue());
    if (!o.committed_on_gpu) {
      std::printf("not on the GPU: %s (%s)\n", name_of(c).c_str(), o.refusal.c_str());
      continue;
    }
    ++on_gpu;
    EXPECT_GE(o.estimate, o.committed) << name_of(c);
    // The committed backend's own class must take the configuration and
    // cover it too, not only the largest class of the combination.
    if (o.class_estimate != -2) {
      EXPECT_GE(o.class_estimate, o.committed) << name_of(c) << " (its class)";
    }
  }
  // The sweep is meant for GPU commits: most of it must reach a GPU backend.
  EXPECT_GE(on_gpu, total * 3 / 4) << on_gpu << " of " << total << " committed on the GPU";
}

}  // namespace
