// Kernel finalisation, in order: stream check and label resolution,
// scoreboard step, per-thread skip offset, qxinfo, packing.
#include "gpu/zorn/kernel_finalization.hpp"

#include <string>

#include "gpu/zorn/qxbin_image.hpp"
#include "gpu/zorn/qxinfo.hpp"

namespace ulmara::qez::zorn {
namespace {

// The code after labels and, where the generation has one, the scoreboard
// analysis. Analysis state lives only inside the step; what survives is the
// map that moves label positions along with the inserted instructions.
ScoreboardResult finished_code(CodeGenerator& generator, const FinalizationSettings& settings) {
  std::vector<std::uint8_t> code = resolve_label_fixups(generator);
  if (settings.scoreboard && has_scoreboard_markers(code)) return run_scoreboard_analysis(code, *settings.scoreboard);
  return ScoreboardResult{std::move(code), {}};
}

// The skip offset is the label's byte position in the finished code: a sync
// inserted before it moves it, so the position goes through the rewrite's map.
void store_per_thread_skip_offset(CodeGenerator& generator, const ScoreboardResult& code) {
  const Label& label = generator.per_thread_skip_label;
  if (!label.is_used()) return;
  const std::uint32_t target = generator.labels.target(static_cast<std::uint32_t>(label.handle));
  if (target == LabelManager::unplaced) return;
  generator.interface.per_thread_data_skip_offset = static_cast<std::int32_t>(code.relocate_offset(target));
}

}  // namespace

std::vector<std::uint8_t> finalize_kernel_image(CodeGenerator& generator, const FinalizationSettings& settings) {
  const ScoreboardResult code = finished_code(generator, settings);
  if (settings.per_thread_skip_offset) store_per_thread_skip_offset(generator, code);
  const std::string qxinfo = write_qxinfo(generator.interface);
  return pack_qxbin_image(generator.interface.kernel_name, qxinfo, code.code, settings.core_family);
}

}  // namespace ulmara::qez::zorn
