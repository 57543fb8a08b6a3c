// The transpose kernel of the large one-dimensional backend and its compute
// road: for each transform, the scaled transpose into the workspace matrix,
// the row child in place on the matrix, the column child from the matrix
// into the output; one chain of events from the caller's dependencies to the
// last column pass.
#include <stdexcept>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/large_1d/plan.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/submitted_work.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::large_1d {

namespace {

constexpr const char* transpose_program = kernels::family_blas_transpose;
constexpr std::size_t tile = 16;

struct transpose_build {
  const char* entry;
  const char* options;
};
constexpr transpose_build double_transpose{"qez_dft_zomatcopy_batch_strided_kernel_t",
                                           "-DCOMPLEX16 -DTRANSPOSE -DOUT_OF_PLACE -DBATCHED_STRIDED"};
constexpr transpose_build single_transpose{
    "qez_dft_comatcopy_batch_strided_kernel_t",
    "-DSINGLE_PRECISION -DCOMPLEX -DTRANSPOSE -DOUT_OF_PLACE -DBATCHED_STRIDED"};

// Arguments of the transpose kernel, by index.
enum transpose_argument : int {
  arg_m = 0,
  arg_n,
  arg_alpha_r,
  arg_alpha_i,
  arg_a,
  arg_offseta,
  arg_lda,
  arg_stridea,
  arg_b,
  arg_offsetb,
  arg_ldb,
  arg_strideb,
  arg_kernel_batchsize,
  arg_total_batchsize,
  arg_offset_batch,
};

std::size_t round_up_to_tile(std::int64_t x) {
  return (static_cast<std::size_t>(x) + tile - 1) / tile * tile;
}

// One transform's data: views of the caller's arrays (buffer form) or
// addresses in them (USM form). Views are released when the chunk ends.
struct chunk_views {
  void* input = nullptr;
  void* output = nullptr;
  byte_buffer* owned_input = nullptr;
  byte_buffer* owned_output = nullptr;

  chunk_views() = default;
  chunk_views(const chunk_views&) = delete;
  chunk_views& operator=(const chunk_views&) = delete;
  ~chunk_views() {
    delete owned_input;
    delete owned_output;
  }
};

byte_buffer* view_of(void* whole, std::int64_t offset, std::int64_t bytes) {
  return new byte_buffer(*static_cast<byte_buffer*>(whole), sycl::id<1>(static_cast<size_t>(offset)),
                         sycl::range<1>(static_cast<size_t>(bytes)), compute_submission_location(__LINE__));
}

template <class T>
void make_views(const block<T>& b, void* in, void* out, bool in_place, std::int64_t kind,
                std::int64_t chunk, chunk_views* v) {
  const std::int64_t offset = chunk * b.chunk_bytes;
  if (kind == workspace_usm) {
    v->input = static_cast<char*>(in) + offset;
    v->output = static_cast<char*>(in_place ? in : out) + offset;
    return;
  }
  v->owned_input = view_of(in, offset, b.chunk_bytes);
  v->input = v->owned_input;
  if (in_place) {
    v->output = v->input;
    return;
  }
  v->owned_output = view_of(out, offset, b.chunk_bytes);
  v->output = v->owned_output;
}

// The scaled transpose of one transform into the matrix.
template <class T>
sycl::event submit_large_1d_transpose(const block<T>& b, void* input, void* matrix, std::int64_t kind,
                                      T scale, const std::vector<sycl::event>& wait_for) {
  return b.queue->submit(
      [&](sycl::handler& cgh) {
        cgh.depends_on(wait_for);
        const std::int64_t n = b.length;
        cgh.set_arg(arg_m, std::int64_t{b.n_small});
        cgh.set_arg(arg_n, std::int64_t{b.n_large});
        cgh.set_arg(arg_alpha_r, scale);
        cgh.set_arg(arg_alpha_i, T(0));
        dft_set_arg(cgh, arg_a, input, kind);
        cgh.set_arg(arg_offseta, std::int64_t{0});
        cgh.set_arg(arg_lda, std::int64_t{b.n_small});
        cgh.set_arg(arg_stridea, n);
        dft_set_arg_with<sycl::access_mode::write>(cgh, arg_b, matrix, kind);
        cgh.set_arg(arg_offsetb, std::int64_t{0});
        cgh.set_arg(arg_ldb, row_pitch(b));
        cgh.set_arg(arg_strideb, n);
        cgh.set_arg(arg_kernel_batchsize, std::int64_t{1});
        cgh.set_arg(arg_total_batchsize, std::int64_t{b.chunk_transforms});
        cgh.set_arg(arg_offset_batch, std::int64_t{0});
        // The last range dimension is the kernel's dimension 0.
        const sycl::nd_range<3> range(
            sycl::range<3>(static_cast<size_t>(b.chunk_transforms), round_up_to_tile(b.n_large),
                           round_up_to_tile(b.n_small)),
            sycl::range<3>(1, tile, tile));
        cgh.parallel_for(range, *b.matcopy_kernel);
      },
      compute_submission_location(__LINE__));
}

int run_child(DFTI_DESCRIPTOR* child, direction d, void* input, void* output, std::int64_t kind,
              sycl::event* last) {
  std::uint64_t container = static_cast<std::uint64_t>(kind);
  const std::vector<sycl::event> after{*last};
  const compute_entry entry = d == dir_forward ? child->compute_fwd : child->compute_bwd;
  if (entry == nullptr) return status_invalid_configuration;
  return entry(child, input, output, const_cast<std::vector<sycl::event>*>(&after), &container, last);
}

bool is_sub_buffer(void* data) { return static_cast<byte_buffer*>(data)->is_sub_buffer(); }

// What the first transpose waits for: on USM, the caller's events and the
// end of the latest compute on this plan (the two share the matrix, which
// no accessor guards); buffers are ordered by their accessors.
template <class T>
std::vector<sycl::event> first_dependencies(const block<T>& b, std::int64_t kind,
                                            const std::vector<sycl::event>* caller) {
  std::vector<sycl::event> events;
  if (kind != workspace_usm) return events;
  if (caller != nullptr) events = *caller;
  if (b.last_compute != nullptr) events.push_back(*b.last_compute);
  return events;
}

// The children compute on the queue the parent computes on.
template <class T>
void hand_queue_to_children(const DFTI_DESCRIPTOR* record, block<T>* b) {
  for (DFTI_DESCRIPTOR* child : {b->col_child, b->row_child}) {
    child->queue = record->queue;
    child->offload_mode = record->offload_mode;
  }
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* in, void* out, void* dependencies, void* result_event,
                   std::int64_t kind, direction d) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const int ready = workspace_status_before_compute(record, b->internal_first, b->internal_second,
                                                    (b->workspace_kind & kind) != 0);
  if (ready != status_success) return ready;
  if (b->matcopy_kernel == nullptr || b->col_child == nullptr || b->row_child == nullptr)
    return status_invalid_configuration;
  // A direction the children were not committed for is refused before the
  // first transpose: once submitted, it would go on reading the caller's
  // data after the refusal, with no event handed back to wait for.
  if (!serves(b->row_child->directions, d) || !serves(b->col_child->directions, d))
    return status_invalid_configuration;
  const T scale = d == dir_forward ? b->fwd_scale : b->bwd_scale;
  void* matrix = kind == workspace_usm ? b->ws_usm : static_cast<void*>(b->ws_buffer);
  if (matrix == nullptr) return status_no_workspace;
  hand_queue_to_children(record, b);

  if (kind == workspace_buffer && (is_sub_buffer(in) || is_sub_buffer(out)))
    throw std::invalid_argument("Sub-buffer inputs are not supported for this size. See Qezlib release notes.");

  const bool in_place = record->placement != dfti_not_inplace;
  std::vector<sycl::event> before = first_dependencies(*b, kind, dependency_list(dependencies));
  sycl::event last;
  submitted_work work;
  for (std::int64_t c = 0; c < b->chunk_count; ++c) {
    chunk_views v;
    make_views(*b, in, out, in_place, kind, c, &v);
    last = work.add(submit_large_1d_transpose(*b, v.input, matrix, kind, scale, before));
    if (int status = run_child(b->row_child, d, matrix, matrix, kind, &last)) return work.settle(status);
    work.add(last);
    if (int status = run_child(b->col_child, d, matrix, v.output, kind, &last)) return work.settle(status);
    work.add(last);
    before.assign(1, last);
  }
  remember_event(b->last_compute, last);
  hand_back_event(result_event, last);
  return work.settle(status_success);
}

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  const std::int64_t kind =
      is_buffer_form(container_kind) ? std::int64_t{workspace_buffer} : std::int64_t{workspace_usm};
  return compute_1d_xwd<T>(record, input, output, dependencies, result_event, kind, d);
}

}  // namespace

template <class T>
int build_kernels(block<T>* b) {
  const transpose_build& t = is_double<T>() ? double_transpose : single_transpose;
  const char* source = kernels::program_text(transpose_program, is_double<T>());
  if (source == nullptr) return status_internal_error;
  // A commit without its transpose would fail every compute: it fails here.
  return build_cached_kernel({b->queue, transpose_program, source, t.entry, t.options}, b->matcopy_kernel,
                             build_check::kernel_only);
}

template int build_kernels<float>(block<float>*);
template int build_kernels<double>(block<double>*);

QEZ_DEFINE_COMPUTE_ENTRIES(compute_entry<T>, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::large_1d
