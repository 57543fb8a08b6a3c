// The names the program texts and the backends share: every program family
// (the generator writes one text per family and precision under these names)
// and the routines inside the texts. Header-only, so that the generator,
// which is built before the library, uses the same spelling as the backends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ulmara::qez::dft::kernels {

// Program families, one generated text per precision each.
inline constexpr char family_c2c_1d_def[] = "gpu_framework_c2c_1d_def";
inline constexpr char family_c2c_1d_2_facts[] = "gpu_framework_c2c_1d_2_facts";
inline constexpr char family_c2c_8k[] = "gpu_framework_c2c_8k";
inline constexpr char family_c2c_1d_n_facts_slm[] = "gpu_framework_c2c_1d_n_facts_slm";
inline constexpr char family_c2c_1d_3_facts[] = "gpu_framework_c2c_1d_3_facts";
inline constexpr char family_c2c_1d_4_facts[] = "gpu_framework_c2c_1d_4_facts";
// The four-factor program with its twiddle pass (pass 1) selected.
inline constexpr char family_c2c_1d_4_facts_twiddle[] = "gpu_framework_c2c_1d_4_facts_twiddle";
inline constexpr char family_c2c_1d_n_fact_colbatch[] = "gpu_framework_c2c_1d_n_fact_colbatch";
inline constexpr char family_r2c_1d_def[] = "gpu_framework_r2c_1d_def";
inline constexpr char family_real_pre_and_post_processing[] = "real_fft_pre_and_post_processing";
inline constexpr char family_small_md_slm[] = "gpu_framework_small_md_slm";
inline constexpr char family_c2c_3d_2_facts[] = "gpu_framework_c2c_3d_2_facts";
inline constexpr char family_c2c_2d_small[] = "gpu_framework_c2c_2d_small";
inline constexpr char family_transpose[] = "gpu_framework_transpose";
inline constexpr char family_blas_transpose[] = "blas_transpose";
inline constexpr char family_c2c_1d_2_fact_colbatch_twiddle[] = "gpu_framework_c2c_1d_2_fact_colbatch_twiddle";

// Kernel templates of the default 1D backend: printf formats (kernel name
// and sizes filled in at commit) and the prelude its programs start with.
// Their text is the same in both precisions.
inline constexpr char template_c2c_1d_def_prelude[] = "gpu_framework_c2c_1d_def_prelude";
inline constexpr char template_c2c_1d_def_registers[] = "gpu_framework_c2c_1d_def_registers_template";
inline constexpr char template_c2c_1d_def_staged_registers[] =
    "gpu_framework_c2c_1d_def_staged_registers_template";
inline constexpr char template_c2c_1d_def_generic[] = "gpu_framework_c2c_1d_def_generic_template";
inline constexpr char template_c2c_1d_def_shared_memory[] = "gpu_framework_c2c_1d_def_shared_memory_template";

// A program's name in the kernel cache: its family followed by what tells
// one backend's builds apart (usually ".<backend>_<s|d>"). Made at compile
// time, so the name is a constant like the family's.
template <std::size_t F, std::size_t S>
constexpr std::array<char, F + S - 1> cache_program_name(const char (&family)[F], const char (&suffix)[S]) {
  std::array<char, F + S - 1> name{};
  std::size_t at = 0;
  for (std::size_t i = 0; i + 1 < F; ++i) name[at++] = family[i];
  for (std::size_t i = 0; i < S; ++i) name[at++] = suffix[i];
  return name;
}

// A program's cache names in both precisions: its family followed by the
// backend's stem (".<backend>") and "_d" / "_s".
template <std::size_t N>
struct cache_program_name_pair {
  std::array<char, N> double_name;
  std::array<char, N> single_name;

  constexpr const char* of(bool double_precision) const {
    return double_precision ? double_name.data() : single_name.data();
  }
};

template <std::size_t F, std::size_t S>
constexpr cache_program_name_pair<F + S + 1> cache_program_names(const char (&family)[F], const char (&stem)[S]) {
  const std::array<char, F + S - 1> common = cache_program_name(family, stem);
  cache_program_name_pair<F + S + 1> names{};
  for (std::size_t i = 0; i + 1 < common.size(); ++i) names.double_name[i] = names.single_name[i] = common[i];
  names.double_name[common.size() - 1] = names.single_name[common.size() - 1] = '_';
  names.double_name[common.size()] = 'd';
  names.single_name[common.size()] = 's';
  return names;
}

// Cache names of the four-factor backend's two passes: pass 0 runs the
// four-factor family, pass 1 its twiddle variant.
inline constexpr char cache_c2c_1d_4_facts_transpose[] = "gpu_framework_c2c_1d_2_fact_colbatch_transpose";
inline constexpr const char* cache_c2c_1d_4_facts_twiddle = family_c2c_1d_4_facts_twiddle;

// "fft_<size>_s": the in-register codelet of one size. The letter names the
// codelet family, not the precision: one codelet text serves both.
inline std::string codelet_name(std::int64_t size) { return "fft_" + std::to_string(size) + "_s"; }

// "fft_<size>_<role>_<precision letter>": a kernel that transforms `size`
// points, e.g. "fft_4096_colbatch_8_d" (or "fft_16x16_fused_SLM_s" for sizes
// "16x16").
inline std::string kernel_name(const std::string& sizes, const std::string& role, const char* precision_letter) {
  return "fft_" + sizes + "_" + role + "_" + precision_letter;
}
inline std::string kernel_name(std::int64_t size, const std::string& role, const char* precision_letter) {
  return kernel_name(std::to_string(size), role, precision_letter);
}

// "fft_<size>_colbatch_<transforms per sub-group>_<precision letter>": the
// column-batch kernels of the four-factor backends.
inline std::string colbatch_kernel_name(std::int64_t size, std::int64_t per_sub_group, const char* precision_letter) {
  return kernel_name(size, "colbatch_" + std::to_string(per_sub_group), precision_letter);
}

// Copies a name into a fixed name field of a plan (cut to fit, terminated).
inline void copy_name(const std::string& name, char* field, std::size_t bytes) {
  std::snprintf(field, bytes, "%s", name.c_str());
}

}  // namespace ulmara::qez::dft::kernels
