// Shared helpers of the ESIMD engine tests: plans made as the owning
// backends make them, and transforms run through a plan on USM or buffers
// and compared with the long-double reference.
#pragma once

#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/backends/md_complex/esimd_2_facts/esimd_2_facts_plan.hpp"
#include "tests/backends/support/run_words.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"

namespace esimd_test {

using ulmara::qez::dft::esimd_2_facts_plan;
using lengths_t = std::vector<std::int64_t>;  // innermost first, as the plan takes them

using backend_test::container;
using backend_test::placement;

std::uint64_t points(const lengths_t& l);

// A plan with packed layout and both distances the transform size, as the
// 2D and 3D main backends construct it; not committed.
template <class T>
std::unique_ptr<esimd_2_facts_plan<T>> make_plan(const lengths_t& lengths, std::uint64_t transforms,
                                                 T forward_scale = T(1), T backward_scale = T(1),
                                                 bool internal_workspace = true);

// Makes and commits a plan; null (with a test failure) when it declines.
template <class T>
std::unique_ptr<esimd_2_facts_plan<T>> committed_plan(sycl::queue& q, const lengths_t& lengths,
                                                      std::uint64_t transforms, T forward_scale = T(1),
                                                      T backward_scale = T(1));

// Runs direction `direction` of `plan` on `input` (packed transforms) and
// returns the output; the plan's queue is waited on with wait_and_throw.
template <class T>
std::vector<std::complex<T>> run(const esimd_2_facts_plan<T>& plan, int direction, container c, placement p,
                                 const std::vector<std::complex<T>>& input);

template <class T>
std::vector<std::complex<T>> to_precision(const std::vector<qez_test::cld>& v);
template <class T>
std::vector<qez_test::cld> to_long_double(const std::vector<std::complex<T>>& v);

// The reference of `input` (transforms of the plan's lengths), times `scale`.
std::vector<qez_test::cld> reference(const std::vector<qez_test::cld>& input, const lengths_t& lengths,
                                     std::int64_t transforms, int direction, long double scale);

// Checks `got` against `expected` with the bounds of the precision.
template <class T>
void expect_accurate(const std::vector<std::complex<T>>& got, const std::vector<qez_test::cld>& expected,
                     std::uint64_t transform_points, const std::string& what);

// Rewrites a committed plan's batch multiplier (and with it the work-groups
// and global sizes of a chunk), so that small batches run in several chunks.
template <class T>
void rechunk(esimd_2_facts_plan<T>& plan, std::uint64_t m);

std::string name_of(const lengths_t& l);

// Commits a plan and checks every direction, container and placement of it
// against the reference.
template <class T>
void check_all_forms(sycl::queue& q, const lengths_t& lengths, std::uint64_t transforms, T forward_scale,
                     T backward_scale);

}  // namespace esimd_test
