// Compute entries of the very large backend: transform by transform, the
// three child stages (input -> T, T in place, T -> output), with the
// real-domain pre-processing before a backward and the post-processing after
// a forward real transform, over SYCL byte buffers or USM pointers.
#include <memory>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/submitted_work.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::dft::very_large_1d {

namespace {

// A data object of the call (USM address or byte buffer), or a view into
// one that this call owns.
class data_view {
 public:
  data_view() = default;
  explicit data_view(void* object) : object_(object) {}
  // `count` complex values from value `first` of `base`.
  static data_view slice(void* base, std::int64_t kind, std::int64_t first, std::int64_t count) {
    data_view v;
    if (kind == kind_usm_pointer) {
      v.object_ = static_cast<char*>(base) + first * complex_bytes;
      return v;
    }
    v.owned_ = std::make_unique<byte_buffer>(*static_cast<byte_buffer*>(base),
                                             sycl::id<1>(static_cast<size_t>(first * complex_bytes)),
                                             sycl::range<1>(static_cast<size_t>(count * complex_bytes)),
                                             compute_submission_location(__LINE__));
    v.object_ = v.owned_.get();
    return v;
  }
  void* get() const { return object_; }

 private:
  void* object_ = nullptr;
  std::unique_ptr<byte_buffer> owned_;
};

bool is_sub_buffer(void* object) { return object != nullptr && static_cast<byte_buffer*>(object)->is_sub_buffer(); }

// What one call works with.
struct call {
  DFTI_DESCRIPTOR* record;
  block* b;
  direction d;
  std::int64_t kind;
  std::uint64_t* kind_word;
  void* input;
  void* output;  // the output object: the input in place
  void* intermediate;
  transform_distances distances;
  std::int64_t m;  // complex length
  bool in_place;
  compute_entry entries[stage_count][children_per_stage];
  sycl::event ev;
  std::vector<sycl::event> chain;
  const std::vector<sycl::event>* current;
  submitted_work work;  // waited for when the call fails
};

compute_entry entry_of(const DFTI_DESCRIPTOR* child, direction d) {
  return d == dir_forward ? child->compute_fwd : child->compute_bwd;
}

void hand_queue_to_children(const DFTI_DESCRIPTOR* record, block& b) {
  for (DFTI_DESCRIPTOR* child : b.children) {
    if (child == nullptr) continue;
    child->offload_mode = record->offload_mode;
    child->queue = record->queue;
  }
}

// One child compute; its event becomes the head of the chain.
int run_child(call& c, int stage, int child, void* source, void* target, const std::vector<sycl::event>* deps) {
  DFTI_DESCRIPTOR* record = c.b->children[child_slot(stage, child)];
  const int status = c.entries[stage][child](record, source, target, const_cast<std::vector<sycl::event>*>(deps),
                                             c.kind_word, &c.ev);
  if (status != status_success) return status;
  c.chain[0] = c.work.add(c.ev);
  c.current = &c.chain;
  return status_success;
}

void run_real_kernel(call& c, real_kernel_slot slot, void* source, void* target, std::int64_t rows) {
  sycl::queue& queue = *static_cast<sycl::queue*>(c.record->queue);
  c.ev = submit_real_kernel(queue, *c.b->real_kernels[slot], source, target, c.kind, rows, c.b->length, c.current);
  c.chain[0] = c.work.add(c.ev);
  c.current = &c.chain;
}

// Where transform t's stage-2 child writes: outputs that begin on an odd
// value go through the second child, whose first value sits one further on.
struct output_place {
  std::int64_t first;  // first value of the view
  int child;
};
output_place output_place_of(const call& c, std::int64_t t) {
  const std::int64_t e = t * c.distances.output;
  const std::int64_t p = c.b->batch.howmany >= 2 ? e % 2 : 0;
  if (p == 1 && c.b->children[child_slot(2, 1)] != nullptr) return {e - 1, 1};
  return {e, 0};
}

// A real backward transform out of place keeps the caller's input: its
// pre-processed values go to the output, where stage 0 reads them.
bool preprocess_into_output(const call& c) { return c.b->real && c.d == dir_backward && !c.in_place; }

int run_transform(call& c, std::int64_t t) {
  const bool batched = c.b->batch.howmany >= 2;
  const std::int64_t in_first = t * c.distances.input;
  const output_place place = output_place_of(c, t);
  const std::int64_t e = t * c.distances.output;

  // Views of this transform (the whole objects for a single transform).
  data_view source, pre_source, target;
  void* stage_0_source = nullptr;
  if (preprocess_into_output(c)) {
    pre_source = batched ? data_view::slice(c.input, c.kind, in_first, c.m + 1) : data_view(c.input);
    data_view pre_target = batched ? data_view::slice(c.output, c.kind, e, c.m) : data_view(c.output);
    run_real_kernel(c, pre_processing, pre_source.get(), pre_target.get(), 1);
    source = std::move(pre_target);
  } else {
    source = batched ? data_view::slice(c.input, c.kind, in_first, c.m) : data_view(c.input);
  }
  stage_0_source = source.get();
  void* stage_2_target = nullptr;
  if (!batched) {
    stage_2_target = c.output;
  } else if (c.in_place && place.first == in_first && !preprocess_into_output(c)) {
    stage_2_target = source.get();
  } else {
    target = data_view::slice(c.output, c.kind, place.first, c.m + (e - place.first));
    stage_2_target = target.get();
  }

  if (int status = run_child(c, 0, 0, stage_0_source, c.intermediate, c.current)) return status;
  if (int status = run_child(c, 1, 0, c.intermediate, c.intermediate, &c.chain)) return status;
  return run_child(c, 2, place.child, c.intermediate, stage_2_target, &c.chain);
}

int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies, void* result_event,
                   std::uint64_t* kind_word, direction d) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  const std::int64_t kind = is_buffer_form(kind_word) ? workspace_buffer : workspace_usm;
  const int ready = workspace_status_before_compute(record, b->internal_first, b->internal_second,
                                                    (b->workspace_kind & kind) != 0);
  if (ready != status_success) return ready;
  // A direction the plan was not made for has no children's plans nor kernels.
  if (!serves(b->directions, d)) return status_invalid_configuration;
  if (b->real && b->real_kernels[d == dir_forward ? post_processing : pre_processing] == nullptr)
    return status_invalid_configuration;

  call c{};
  c.record = record;
  c.b = b;
  c.d = d;
  c.kind = kind;
  c.kind_word = kind_word;
  c.intermediate = kind == workspace_usm ? b->intermediate_pointer : static_cast<void*>(b->intermediate_buffer);
  if (c.intermediate == nullptr) return status_no_workspace;
  hand_queue_to_children(record, *b);
  for (int s = 0; s < stage_count; ++s) {
    const DFTI_DESCRIPTOR* first = b->children[child_slot(s, 0)];
    const DFTI_DESCRIPTOR* second = b->children[child_slot(s, 1)];
    c.entries[s][0] = entry_of(first, d);
    c.entries[s][1] = entry_of(second != nullptr ? second : first, d);
  }
  c.m = b->complex_length();
  c.distances = distances_for(b->batch, b->real != 0, d);
  c.in_place = record->placement == dfti_inplace;
  if (kind == workspace_buffer && b->batch.howmany >= 2 && (is_sub_buffer(input) || is_sub_buffer(output)))
    throw ulmara::qez::invalid_argument(
        "DFT", d == dir_forward ? "compute_fwd" : "compute_bwd",
        "Sub-buffer inputs are not supported for this problem. See Qezlib release notes.");
  c.input = input;
  c.output = c.in_place ? input : output;
  c.chain.assign(1, c.ev);
  c.current = dependency_list(dependencies);

  if (b->real && d == dir_backward && c.in_place)
    run_real_kernel(c, pre_processing, c.input, c.input, b->batch.howmany);
  for (std::int64_t t = 0; t < b->batch.howmany; ++t)
    if (int status = run_transform(c, t)) return status;
  if (b->real && d == dir_forward) run_real_kernel(c, post_processing, c.output, c.output, b->batch.howmany);

  hand_back_event(result_event, c.ev);
  return c.work.settle(status_success);
}

int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  return compute_1d_xwd(record, input, output, dependencies, result_event, container_kind, d);
}

}  // namespace

int compute_1d_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute_entry(record, input, output, dependencies, container_kind, result_event, dir_forward);
}

int compute_1d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute_entry(record, input, output, dependencies, container_kind, result_event, dir_backward);
}

}  // namespace ulmara::qez::dft::very_large_1d
