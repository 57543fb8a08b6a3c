// SYCL stand-in: command graphs, as far as recording goes. A queue that
// records into a modifiable graph adds each command group it is given to the
// graph as a node instead of running it; the node keeps the function name of
// the submitting code. Finalising and replaying graphs is not part of the
// stand-in.
#pragma once

#include <string>
#include <vector>

#include "queue.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {
class graph_impl;
}  // namespace detail

namespace ext::ulmara::experimental {

template <>
class QEZ_SYCL_EXPORT command_graph<graph_state::modifiable> {
 public:
  using impl_type = detail::graph_impl;

  command_graph(const context& ctx, const device& dev, const property_list& props = {});
  command_graph(const command_graph&) = default;
  command_graph(command_graph&&) = default;
  command_graph& operator=(const command_graph&) = default;
  command_graph& operator=(command_graph&&) = default;
  ~command_graph() = default;
  friend bool operator==(const command_graph& a, const command_graph& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const command_graph& a, const command_graph& b) { return a.impl_ != b.impl_; }

  // `queue` records into this graph from now on; errc::invalid when it is
  // already recording (into any graph) or belongs to another context.
  void begin_recording(queue& recording_queue, const property_list& props = {});
  // Every queue recording into this graph goes back to executing.
  void end_recording();
  // `queue` goes back to executing; errc::invalid when it records into another graph.
  void end_recording(queue& recording_queue);

  // Stand-in extension: the function names of the recorded command groups, in order.
  std::vector<std::string> ext_ulmara_recorded_functions() const;

  explicit command_graph(std::shared_ptr<impl_type> impl) : impl_(std::move(impl)) {}

 private:
  template <class U>
  friend const std::shared_ptr<typename U::impl_type>& detail::get_impl(const U&);
  std::shared_ptr<impl_type> impl_;
};

}  // namespace ext::ulmara::experimental
}  // namespace _V1
}  // namespace sycl
