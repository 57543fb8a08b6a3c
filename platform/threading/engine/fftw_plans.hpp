// Execution of one direction of a CPU transform through FFTW3 guru64 plans.
#pragma once

#include <memory>

#include "platform/threading/engine/layout.hpp"

namespace ulmara {
namespace qez {
namespace cpu_engine {

// How a direction runs, chosen at planning.
enum class plan_route {
  direct,          // FFTW reads the caller's input and writes the caller's output
  gather_input,    // the input is first copied to a packed buffer (c2r keeps its input)
  scatter_output,  // FFTW writes a packed buffer that is then copied to the output
                   // (in-place layouts FFTW cannot serve in place)
};

// How a large transform is planned (small ones are always estimated).
enum class planning_effort {
  measure,   // FFTW measures candidates, within the planning bound
  estimate,  // FFTW's estimate alone: measuring is known to run out of time
};

class direction_plan {
public:
  virtual ~direction_plan() = default;
  // Runs the transform; `output` equals `input` for in-place transforms.
  // Returns a status: 0, or 1 when a temporary buffer cannot be allocated.
  virtual int execute(void* input, void* output) const = 0;
  virtual plan_route route() const = 0;
  // Whether FFTW's measuring ran out of the planning bound, so that the plan
  // is FFTW's estimate; a transform of the same size would run out too.
  virtual bool measuring_ran_out_of_time() const = 0;
};

// Plans one direction, or takes the plan an earlier commit made for the
// same layout and effort; large transforms run on up to `threads` threads.
// Returns 0 with *plan set, 1 when memory runs out, 6 when FFTW has no plan
// for the layout.
int make_direction_plan(const direction_layout& layout, bool double_precision,
                        bool destroy_input_allowed, int threads,
                        std::shared_ptr<const direction_plan>* plan,
                        planning_effort effort = planning_effort::measure);

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
