#include "tests/kernels/test_program.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "dft/gpu/kernels/program_texts.hpp"

namespace qez_kernels_test {

namespace {

// One kernel for every codelet size (a switch on the size): the device
// compiler then generates one kernel instead of 64; a second one calls the
// split forms.
std::string codelet_kernel() {
  std::ostringstream s;
  s << "kernel void run_codelet(const global ftype *src, global ftype *dst, const uint size)\n"
    << "{\n    const size_t base = get_global_id(0) * size;\n    ptype v[64];\n"
    << "    for (uint i = 0; i < size; ++i) v[i] = vload2(base + i, src);\n"
    << "    switch (size) {\n";
  for (int size = 1; size <= 64; ++size)
    s << "    case " << size << ": fft_" << size << "_s(v, (ftype)1); break;\n";
  s << "    }\n    for (uint i = 0; i < size; ++i) vstore2(v[i], base + i, dst);\n}\n";
  // The same through the split forms, real and imaginary parts apart.
  s << "kernel void run_split_codelet(const global ftype *src, global ftype *dst, const uint size)\n"
    << "{\n    const size_t base = get_global_id(0) * size;\n    ftype re[64], im[64];\n"
    << "    for (uint i = 0; i < size; ++i) {\n        re[i] = src[2 * (base + i)];\n"
    << "        im[i] = src[2 * (base + i) + 1];\n    }\n"
    << "    switch (size) {\n";
  for (int size = 1; size <= 64; ++size)
    s << "    case " << size << ": fft_" << size << "_s_split(re, im); break;\n";
  s << "    }\n    for (uint i = 0; i < size; ++i) vstore2((ftype2)(re[i], im[i]), base + i, dst);\n}\n";
  return s.str();
}

const char helper_kernels[] = R"(
kernel void run_odd_default(const global ftype *src, global ftype *dst, const uint fact,
                            const uint is, const uint os)
{
    const size_t b = get_global_id(0);
    ODD_DEFAULT_FUNC(fact, is, os, src + 2 * b * fact * is, dst + 2 * b * fact * os);
}

kernel void run_even_default(const global ftype *src, global ftype *dst, const uint fact,
                             const uint is, const uint os)
{
    const size_t b = get_global_id(0);
    EVEN_DEFAULT_FUNC(fact, is, os, src + 2 * b * fact * is, dst + 2 * b * fact * os);
}

/* Four arguments per work-item: the one-value and the four-value forms of
 * qez_cossinpi and the built-ins, each as (cos, sin) pairs. */
kernel void run_cossinpi(const global ftype *args, global ftype *ours, global ftype *ours4,
                         global ftype *builtin)
{
    const size_t i = get_global_id(0);
    ftype4 c4, s4;
    qez_cossinpi4(vload4(i, args), &c4, &s4);
    for (uint k = 0; k < 4; ++k) {
        const size_t e = 4 * i + k;
        const ftype a = args[e];
        ftype c, s;
        qez_cossinpi(a, &c, &s);
        vstore2((ftype2)(c, s), e, ours);
        vstore2((ftype2)(cospi(a), sinpi(a)), e, builtin);
    }
    vstore4(c4, 2 * i, ours4);
    vstore4(s4, 2 * i + 1, ours4);
}

/* qez_twiddle_cossin(p[i], size[i]) as a (cos, sin) pair. */
kernel void run_twiddle_cossin(const global ulong *p, const global ulong *size, global ftype *ours)
{
    const size_t i = get_global_id(0);
    ftype c, s;
    qez_twiddle_cossin(p[i], size[i], &c, &s);
    vstore2((ftype2)(c, s), i, ours);
}

kernel void run_twiddle(const global ftype *src, const global ftype *twiddles,
                        global ftype *product, global ftype *swapped)
{
    const size_t i = get_global_id(0);
    ptype v = vload2(i, src);
    vstore2(swapReIm(v), i, swapped);
    TWIDL_MULT_INPLACE(twiddles[2 * i], twiddles[2 * i + 1], v);
    vstore2(v, i, product);
}
)";

struct accuracy_summary : ::testing::Environment {
  struct worst {
    long double ratio = 0;
    std::string what;
  };
  worst by_kind[2];
  void TearDown() override {
    for (int k = 0; k < 2; ++k)
      if (!by_kind[k].what.empty())
        std::cout << "[ accuracy ] worst " << (k ? "double" : "single") << " error: "
                  << static_cast<double>(by_kind[k].ratio) << " of its bound (" << by_kind[k].what
                  << ")\n";
  }
};

accuracy_summary* summary() {
  static accuracy_summary* s = static_cast<accuracy_summary*>(
      ::testing::AddGlobalTestEnvironment(new accuracy_summary));
  return s;
}

// Registered before the tests start so its TearDown runs at the end.
accuracy_summary* const registered_summary = summary();


std::string direction_options(direction d) {
  const bool forward = d == direction::forward;
  return "-DNONSUBGRP -DFWD_DIR=" + std::to_string(forward) + " -DBWD_DIR=" + std::to_string(!forward);
}

std::string copy_layout_options() {
  const copy_layout& c = test_copy_layout;
  std::ostringstream s;
  s << " -DIDIST=" << c.idist << " -DISTRIDE=" << c.istride << " -DOSTRIDE=" << c.ostride;
  for (int i = 0; i < 3; ++i) s << " -DBATCH" << i + 1 << '=' << c.batch[i];
  for (int i = 0; i < 3; ++i) s << " -DODIST_Z" << i + 1 << '=' << c.odist_z[i];
  return s.str();
}

const char* text_of(real_kind k) {
  return ulmara::qez::dft::kernels::program_text_c2c_1d_def(k == real_kind::double_precision);
}

cl_program built(const std::string& source, const std::string& options) {
  std::string log;
  cl_program p = opencl_runner::instance().program(source, options, &log);
  if (p == nullptr) throw std::runtime_error("build failed:\n" + log.substr(0, 4000));
  return p;
}

}  // namespace

cl_program codelet_program(real_kind k, direction d) {
  return built(text_of(k) + codelet_kernel(), direction_options(d) + " -DNEED_FFT_FUNC(S)=1");
}

cl_program helper_program(real_kind k, direction d) {
  return built(text_of(k) + std::string(helper_kernels),
               direction_options(d) + " -DNEED_ODD_DEFAULT -DNEED_EVEN_DEFAULT -DNEED_COPY_OUTPUT" +
                   copy_layout_options());
}

void record_accuracy(real_kind k, const std::string& what, const qez_test::accuracy& a,
                     const qez_test::accuracy_bounds& b) {
  const long double ratio = std::max(a.relative_l2 / b.relative_l2, a.relative_max / b.relative_max);
  accuracy_summary::worst& w = summary()->by_kind[k == real_kind::double_precision];
  if (ratio >= w.ratio) w = {ratio, what};
}

}  // namespace qez_kernels_test
