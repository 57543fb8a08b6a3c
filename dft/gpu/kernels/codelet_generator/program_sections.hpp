// Whole-program pieces: the sections a program text is assembled from, in
// dependence order. Each writes OpenCL C for one precision; a program family
// is a list of them (families.hpp).
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

using section_writer = void (*)(std::ostream& out, precision p);

// ftype and its vector types, fp64 enabled for double.
void write_real_types(std::ostream& out, precision p);
// ptype, swapReIm and TWIDL_MULT_INPLACE in the two lane forms: a complex
// value per work-item under NONSUBGRP (and wherever the sub-group extension
// is missing), a lane pair of a sub-group otherwise (LANE_PAIRS defined).
void write_lane_forms(std::ostream& out, precision p);
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
