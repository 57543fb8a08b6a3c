// Kernel finalisation: turns a finished generator into a loadable qxbin
// image. Labels are resolved, the scoreboard step runs where the generation
// has one, the per-thread skip offset is taken from the prologue, the qxinfo
// metadata is written and everything is packed (qxbin_image.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/scoreboard_step.hpp"

namespace ulmara::qez::zorn {

// The three per-generation parameters of finalisation.
struct FinalizationSettings {
  // The scoreboard analysis to run; none on Vemra and Sutal.
  std::optional<ScoreboardParameters> scoreboard;
  // Gulon and newer: the prologue's per_thread_skip_label target becomes the
  // interface's per-thread data skip offset.
  bool per_thread_skip_offset = false;
  // Descriptor of the image's compatibility note.
  std::uint32_t core_family = 0;
};

// Runs the whole finalisation and returns the image. Throws
// unfinished_stream_exception, dangling_label_exception, the errors of the
// scoreboard step and of write_qxinfo, and invalid_section_name_exception;
// a finalisation that throws produces no image.
std::vector<std::uint8_t> finalize_kernel_image(CodeGenerator& generator, const FinalizationSettings& settings);

}  // namespace ulmara::qez::zorn
