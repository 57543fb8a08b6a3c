// Whole-program pieces: the sections a program text is assembled from, in
// dependence order. Each writes OpenCL C for one precision; a program family
// is a list of them (families.hpp).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "emitter.hpp"

namespace qez_codelets {

using section_writer = void (*)(std::ostream& out, precision p);

// ftype and its vector types, fp64 enabled for double.
void write_real_types(std::ostream& out, precision p);
// ptype, swapReIm and TWIDL_MULT_INPLACE in the two lane forms: a complex
// value per work-item under NONSUBGRP (and wherever the sub-group extension
// is missing), a lane pair of a sub-group otherwise (LANE_PAIRS defined).
void write_lane_forms(std::ostream& out, precision p);

// Cache hints of the portable form on a CPU (after the lane forms):
// STREAMED_STORES, STREAMS_PAST_CACHE, STREAM_STORE and drain_streams store
// results larger than the last-level cache past the caches (x86);
// PREFETCHES, HAS_NEXT_GROUP, PREFETCH_LINE_VALUES and PREFETCH ask for cache
// lines ahead of the loads (x86-64, AArch64).
void write_cache_hints(std::ostream& out, precision p);

// A kernel's macros that differ between the two lane forms: with LANE_PAIRS
// one lane holds one component of a complex value, without it a work-item
// holds the whole value. An empty definition leaves the macro out of that
// form; a note (a whole comment) goes on the lines ahead of it.
struct lane_form_macro {
  std::string name;  // with its parameters, e.g. "CB_LOAD(p, e, comp)"
  std::string lane_pairs;
  std::string portable;
  std::string lane_pairs_note = {};
  std::string portable_note = {};
};
// PREFIX_ACTIVE(lane): whether the work-item holds data (every lane in lane
// pairs, the even work-item in the portable form).
lane_form_macro lane_active_macro(const std::string& prefix, const std::string& lane);
// PREFIX_PM_ONE(lane): the pmOne of the codelets, the lane sign times
// `direction_sign` in lane pairs and 1 in the portable form.
lane_form_macro lane_pm_one_macro(const std::string& prefix, const std::string& lane,
                                  const std::string& direction_sign);
// NAME(v, pointer, e, comp) and NAME(pointer, e, comp): store and load of
// complex element e of a ftype array, one component per lane in lane pairs,
// the whole value (vstore2/vload2) in the portable form.
lane_form_macro lane_element_store_macro(const std::string& name, const std::string& pointer);
lane_form_macro lane_element_load_macro(const std::string& name, const std::string& pointer);
// PREFIX_ATTRIBUTES: the kernel attributes, the required work-group size
// (macro `work_group_size`) and, in lane pairs, the required sub-group size.
lane_form_macro lane_attributes_macro(const std::string& prefix, const std::string& work_group_size);
// The lane-form macros of a kernel whose lane number is `lane`:
// PREFIX_ACTIVE, PREFIX_PM_ONE (times `direction_sign`), the kernel's `own`
// macros, then PREFIX_ATTRIBUTES where `work_group_size` names its required
// work-group size (none where it is empty).
std::vector<lane_form_macro> kernel_lane_forms(const std::string& prefix, const std::string& direction_sign,
                                               std::vector<lane_form_macro> own = {},
                                               const std::string& work_group_size = {});
// The lane-form macros of a kernel whose lane number is `lid`:
// PREFIX_ACTIVE, the kernel's `component_access` macros, then PREFIX_PM_ONE
// (times `direction_sign`).
std::vector<lane_form_macro> lid_kernel_lane_forms(const std::string& prefix, const std::string& direction_sign,
                                                   std::vector<lane_form_macro> component_access);
// `text` with its line "$LANE_FORMS" replaced by the macros in both forms
// (#ifdef LANE_PAIRS ... #else ... #endif).
std::string with_lane_form_macros(const std::string& text, const std::vector<lane_form_macro>& macros);

// NEED_FFT_FUNC(S), unless the build options define it.
void write_need_fft_func(std::ostream& out, precision p);
// fft_1_s .. fft_64_s.
void write_codelets_1_to_64(std::ostream& out, precision p);
// ODD_DEFAULT_FUNC and EVEN_DEFAULT_FUNC: direct DFTs of any size between
// global arrays, under NONSUBGRP and NEED_ODD_DEFAULT / NEED_EVEN_DEFAULT.
void write_generic_default_funcs(std::ostream& out, precision p);
// copy_output_d / copy_output_s under NEED_COPY_OUTPUT.
void write_copy_output(std::ostream& out, precision p);

}  // namespace qez_codelets
