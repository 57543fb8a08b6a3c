// Fuzzes the descriptor's configuration surface: a descriptor of any
// precision and domain with tiny lengths takes a sequence of set_value and
// get_value calls with any parameter, value type and value, is committed to
// the host CPU device and to the GPU, and computes forward or backward, in
// place or not, on USM or buffers sized from what the committed descriptor
// reports. Every refusal must be one of the library's exceptions; anything
// else that escapes, and every sanitizer report, is a finding.
//
// Input: one byte of precision, domain and rank, one byte per length, the
// number of operations, the operations (one byte of kind, one of parameter,
// then the value), then a byte that picks devices, memory kind, direction
// and workspace.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <sycl/sycl.hpp>

#include "tests/fuzz/fuzz_input.hpp"
#include "tests/fuzz/kernel_cache_bound.hpp"
#include "ulmara/qez/dft.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace dft = ulmara::qez::dft;
using qez_fuzz::fuzz_input;

namespace {

// Bounds that keep each input cheap. Committing larger transforms tells
// nothing new about the configuration and costs program builds on the GPU;
// buffers are bounded so the harness never allocates what the configuration
// asks for without limit.
constexpr std::int64_t cpu_commit_elements = 4096;
constexpr std::int64_t gpu_commit_length = 16;
constexpr std::int64_t gpu_commit_batches = 8;
constexpr std::int64_t compute_elements = 1 << 14;
constexpr std::int64_t workspace_bytes = 1 << 20;
constexpr unsigned operations_per_input = 16;
constexpr int parameter_count = 21;

// Runs `call`; the library's own exceptions are how it refuses, so they end
// the call quietly.
template <class F>
bool refused(F&& call) {
  try {
    call();
    return false;
  } catch (const ulmara::qez::exception&) {
  } catch (const dft::allocation_failed_exception&) {
  } catch (const dft::invalid_descriptor_exception&) {
  } catch (const dft::bad_descriptor_exception&) {
  } catch (const dft::unimplemented_exception&) {
  } catch (const dft::internal_error_exception&) {
  } catch (const dft::no_workspace_exception&) {
  } catch (const dft::uncommitted_descriptor_exception&) {
  }
  return true;
}

dft::config_param any_parameter(fuzz_input& in) {
  const std::uint8_t form = in.byte();
  if (form < 0xf0) return static_cast<dft::config_param>(form % parameter_count);
  return static_cast<dft::config_param>(in.take<std::int32_t>());
}

dft::config_value any_config_value(fuzz_input& in) {
  const std::uint8_t form = in.byte();
  if (form < 0xf0) return static_cast<dft::config_value>(form % 12);
  return static_cast<dft::config_value>(in.take<std::int32_t>());
}

std::vector<std::int64_t> any_list(fuzz_input& in) {
  std::vector<std::int64_t> values(in.below(6));
  for (auto& v : values) v = in.integer();
  return values;
}

struct queues {
  sycl::queue cpu{sycl::cpu_selector_v};
  sycl::queue gpu{sycl::gpu_selector_v};
};

queues& shared_queues() {
  static queues q;
  return q;
}

template <dft::precision prec, dft::domain dom>
class configuration_run {
public:
  using real = typename dft::descriptor<prec, dom>::real_scalar_type;
  using complex = std::complex<real>;
  using forward_type = std::conditional_t<dom == dft::domain::REAL, real, complex>;

  configuration_run(fuzz_input& in, std::vector<std::int64_t> lengths) : in_(in), desc_(std::move(lengths)) {}

  void run() {
    for (unsigned k = in_.below(operations_per_input + 1); k > 0; --k) refused([&] { one_operation(); });
    const std::uint8_t plan = in_.byte();
    if ((plan & 1) != 0) commit_and_compute(shared_queues().cpu, plan >> 2);
    if ((plan & 2) != 0) commit_and_compute(shared_queues().gpu, plan >> 2);
  }

private:
  void one_operation() {
    const unsigned kind = in_.below(11);
    const dft::config_param param = any_parameter(in_);
    switch (kind) {
      case 0: desc_.set_value(param, any_config_value(in_)); break;
      case 1: desc_.set_value(param, in_.integer()); break;
      case 2: desc_.set_value(param, in_.take<real>()); break;
      case 3: desc_.set_value(param, any_list(in_)); break;
      case 4: desc_.set_value(param, in_.take<std::int32_t>()); break;
      case 5: { dft::config_value v; desc_.get_value(param, &v); break; }
      case 6: { dft::domain v; desc_.get_value(param, &v); break; }
      case 7: { dft::precision v; desc_.get_value(param, &v); break; }
      case 8: { std::int64_t v; desc_.get_value(param, &v); break; }
      case 9: { real v; desc_.get_value(param, &v); break; }
      default: { std::vector<std::int64_t> v(in_.below(6)); desc_.get_value(param, &v); break; }
    }
  }

  std::int64_t integer_value(dft::config_param param) const {
    std::int64_t v = 0;
    desc_.get_value(param, &v);
    return v;
  }

  std::vector<std::int64_t> current_lengths() const {
    std::vector<std::int64_t> lengths(static_cast<std::size_t>(integer_value(dft::config_param::DIMENSION)));
    desc_.get_value(dft::config_param::LENGTHS, &lengths);
    return lengths;
  }

  bool small_enough_to_commit(const sycl::queue& queue) const {
    const std::vector<std::int64_t> lengths = current_lengths();
    const std::int64_t batches = integer_value(dft::config_param::NUMBER_OF_TRANSFORMS);
    const bool gpu = queue.get_device().is_gpu();
    std::int64_t elements = 1;
    for (std::int64_t n : lengths) {
      if (n > cpu_commit_elements || (gpu && n > gpu_commit_length)) return false;
      elements *= n;
    }
    if (gpu && batches > gpu_commit_batches) return false;
    return batches <= cpu_commit_elements && elements <= cpu_commit_elements;
  }

  void commit_and_compute(sycl::queue& queue, unsigned choices) {
    refused([&] {
      if (!small_enough_to_commit(queue)) return;
      desc_.commit(queue);
      if ((choices & 8) != 0) hand_over_workspace();
      compute(queue, choices);
    });
  }

  void hand_over_workspace() {
    const std::int64_t bytes = integer_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES);
    if (bytes < 0 || bytes > workspace_bytes) return;
    workspace_.emplace(sycl::range<1>(static_cast<std::size_t>(bytes) / sizeof(real) + 1));
    desc_.set_workspace(*workspace_);
  }

  // The axes of one side: every dimension with its stride, then the batch.
  static std::vector<qez_fuzz::axis> side_axes(const std::vector<std::int64_t>& lengths,
                                               const std::vector<std::int64_t>& strides,
                                               std::int64_t batches, std::int64_t distance) {
    std::vector<qez_fuzz::axis> axes;
    for (std::size_t d = 0; d < lengths.size(); ++d) axes.push_back({lengths[d], strides[d + 1]});
    axes.push_back({batches, distance});
    return axes;
  }

  // The sizes in reals that the forward and backward sides reach, or
  // nothing when a side's indices leave [0, compute_elements).
  std::optional<std::pair<std::int64_t, std::int64_t>> side_sizes() const {
    std::vector<std::int64_t> lengths = current_lengths();
    const std::size_t rank = lengths.size();
    std::vector<std::int64_t> fwd_strides(rank + 1), bwd_strides(rank + 1);
    desc_.get_value(dft::config_param::FWD_STRIDES, &fwd_strides);
    desc_.get_value(dft::config_param::BWD_STRIDES, &bwd_strides);
    const std::int64_t batches = integer_value(dft::config_param::NUMBER_OF_TRANSFORMS);
    const auto fwd = qez_fuzz::elements_within(
        fwd_strides[0], side_axes(lengths, fwd_strides, batches, integer_value(dft::config_param::FWD_DISTANCE)),
        compute_elements);
    if (dom == dft::domain::REAL) lengths.back() = lengths.back() / 2 + 1;
    const auto bwd = qez_fuzz::elements_within(
        bwd_strides[0], side_axes(lengths, bwd_strides, batches, integer_value(dft::config_param::BWD_DISTANCE)),
        compute_elements);
    if (!fwd || !bwd) return std::nullopt;
    const std::int64_t fwd_reals = *fwd * static_cast<std::int64_t>(sizeof(forward_type) / sizeof(real));
    return std::make_pair(fwd_reals, 2 * *bwd);
  }

  void compute(sycl::queue& queue, unsigned choices) {
    const auto sizes = side_sizes();
    if (!sizes) return;
    dft::config_value placement;
    desc_.get_value(dft::config_param::PLACEMENT, &placement);
    const bool forward = (choices & 1) != 0;
    const bool usm = (choices & 2) != 0;
    if (placement == dft::config_value::IN_PLACE) {
      const std::int64_t reals = std::max(sizes->first, sizes->second);
      if (usm) in_place_usm(queue, reals, forward);
      else in_place_buffer(reals, forward);
    } else {
      if (usm) out_of_place_usm(queue, sizes->first, sizes->second, forward);
      else out_of_place_buffer(sizes->first, sizes->second, forward);
    }
  }

  template <class T>
  static std::size_t count_of(std::int64_t reals) {
    constexpr std::int64_t per = sizeof(T) / sizeof(real);
    return static_cast<std::size_t>((reals + per - 1) / per);
  }

  // Shared USM of `count` elements of T, filled with ones, between guard
  // zones that must come back untouched (a device writes outside an array
  // without any sanitizer seeing it); freed at the end of scope.
  template <class T>
  struct usm {
    usm(sycl::queue& q, std::size_t count)
        : queue(q),
          bytes(count * sizeof(T)),
          base(static_cast<std::uint8_t*>(sycl::malloc_shared(bytes + 2 * qez_fuzz::guard_bytes, q))),
          data(reinterpret_cast<T*>(base + qez_fuzz::guard_bytes)) {
      qez_fuzz::fill_guarded(base, bytes);
      for (std::size_t i = 0; i < count; ++i) data[i] = T(1);
    }
    ~usm() { sycl::free(base, queue); }
    void check_guards() const { qez_fuzz::check_guards(base, bytes); }
    sycl::queue& queue;
    std::size_t bytes;
    std::uint8_t* base;
    T* data;
  };

  template <class T>
  static sycl::buffer<T, 1> filled_buffer(std::size_t count) {
    sycl::buffer<T, 1> b{sycl::range<1>(count)};
    sycl::host_accessor a{b};
    for (std::size_t i = 0; i < count; ++i) a[i] = T(1);
    return b;
  }

  void in_place_usm(sycl::queue& queue, std::int64_t reals, bool forward) {
    usm<forward_type> data(queue, count_of<forward_type>(reals));
    (forward ? dft::compute_forward(desc_, data.data) : dft::compute_backward(desc_, data.data)).wait();
    data.check_guards();
  }

  void in_place_buffer(std::int64_t reals, bool forward) {
    auto data = filled_buffer<forward_type>(count_of<forward_type>(reals));
    if (forward) dft::compute_forward(desc_, data);
    else dft::compute_backward(desc_, data);
  }

  void out_of_place_usm(sycl::queue& queue, std::int64_t fwd_reals, std::int64_t bwd_reals, bool forward) {
    usm<forward_type> fwd(queue, count_of<forward_type>(fwd_reals));
    usm<complex> bwd(queue, count_of<complex>(bwd_reals));
    (forward ? dft::compute_forward(desc_, fwd.data, bwd.data) : dft::compute_backward(desc_, bwd.data, fwd.data))
        .wait();
    fwd.check_guards();
    bwd.check_guards();
  }

  void out_of_place_buffer(std::int64_t fwd_reals, std::int64_t bwd_reals, bool forward) {
    auto fwd = filled_buffer<forward_type>(count_of<forward_type>(fwd_reals));
    auto bwd = filled_buffer<complex>(count_of<complex>(bwd_reals));
    if (forward) dft::compute_forward(desc_, fwd, bwd);
    else dft::compute_backward(desc_, bwd, fwd);
  }

  fuzz_input& in_;
  // Declared before the descriptor so that it outlives the descriptor's use.
  std::optional<sycl::buffer<real, 1>> workspace_;
  dft::descriptor<prec, dom> desc_;
};

template <dft::precision prec, dft::domain dom>
void run_configuration(fuzz_input& in, std::vector<std::int64_t> lengths) {
  std::optional<configuration_run<prec, dom>> run;
  if (refused([&] { run.emplace(in, std::move(lengths)); })) return;
  run->run();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qez_fuzz::bound_kernel_cache();
  fuzz_input in(data, size);
  const std::uint8_t shape = in.byte();
  std::vector<std::int64_t> lengths(1 + (shape >> 2) % 3);
  for (auto& n : lengths) n = 1 + in.below(8);
  switch (shape & 3) {
    case 0: run_configuration<dft::precision::SINGLE, dft::domain::COMPLEX>(in, lengths); break;
    case 1: run_configuration<dft::precision::SINGLE, dft::domain::REAL>(in, lengths); break;
    case 2: run_configuration<dft::precision::DOUBLE, dft::domain::COMPLEX>(in, lengths); break;
    default: run_configuration<dft::precision::DOUBLE, dft::domain::REAL>(in, lengths); break;
  }
  return 0;
}
