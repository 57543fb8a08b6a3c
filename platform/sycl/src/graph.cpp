// SYCL stand-in: recording command groups into a modifiable command graph.
// A queue's recording graph is guarded by the queue's mutex and a graph's
// recorders by the graph's; no code holds both at once.
#include <algorithm>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

void graph_impl::record(const code_location& loc) {
  std::lock_guard<std::mutex> lk(m);
  recorded.emplace_back(loc.functionName() ? loc.functionName() : "");
}

std::shared_ptr<graph_impl> recording_graph_of(queue_impl& q) {
  std::lock_guard<std::mutex> lk(q.m);
  return q.recording_graph;
}

namespace {
// Sets `q` executing when it records into `g`; tells whether it did.
bool stop_recording(queue_impl& q, const graph_impl* g) {
  std::lock_guard<std::mutex> lk(q.m);
  if (q.recording_graph.get() != g) return false;
  q.recording_graph.reset();
  return true;
}
}  // namespace

}  // namespace detail

namespace ext::ulmara::experimental {

using modifiable_graph = command_graph<graph_state::modifiable>;

modifiable_graph::command_graph(const context& ctx, const device& dev, const property_list&)
    : impl_(std::make_shared<detail::graph_impl>(detail::get_impl(ctx), detail::get_impl(dev))) {
  if (!impl_->ctx->has_device(impl_->dev.get()))
    detail::throw_error(errc::invalid, "the device is not in the graph's context");
}

void modifiable_graph::begin_recording(queue& recording_queue, const property_list&) {
  const auto& q = detail::get_impl(recording_queue);
  if (q->ctx != impl_->ctx) detail::throw_error(errc::invalid, "the queue's context is not the graph's");
  {
    std::lock_guard<std::mutex> lk(q->m);
    if (q->recording_graph) detail::throw_error(errc::invalid, "the queue is already recording into a graph");
    q->recording_graph = impl_;
  }
  std::lock_guard<std::mutex> lk(impl_->m);
  impl_->recorders.push_back(q);
}

void modifiable_graph::end_recording() {
  std::vector<std::weak_ptr<detail::queue_impl>> recorders;
  {
    std::lock_guard<std::mutex> lk(impl_->m);
    recorders.swap(impl_->recorders);
  }
  for (const auto& weak : recorders)
    if (auto q = weak.lock()) detail::stop_recording(*q, impl_.get());
}

void modifiable_graph::end_recording(queue& recording_queue) {
  const auto& q = detail::get_impl(recording_queue);
  const auto current = detail::recording_graph_of(*q);
  if (current && current != impl_) detail::throw_error(errc::invalid, "the queue records into another graph");
  if (!detail::stop_recording(*q, impl_.get())) return;
  std::lock_guard<std::mutex> lk(impl_->m);
  auto& list = impl_->recorders;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const std::weak_ptr<detail::queue_impl>& w) {
                              auto locked = w.lock();
                              return !locked || locked == q;
                            }),
             list.end());
}

std::vector<std::string> modifiable_graph::ext_ulmara_recorded_functions() const {
  std::lock_guard<std::mutex> lk(impl_->m);
  return impl_->recorded;
}

}  // namespace ext::ulmara::experimental

ext::ulmara::experimental::queue_state queue::ext_ulmara_get_state() const {
  return detail::recording_graph_of(*impl_) ? ext::ulmara::experimental::queue_state::recording
                                            : ext::ulmara::experimental::queue_state::executing;
}

ext::ulmara::experimental::modifiable_graph queue::ext_ulmara_get_graph() const {
  auto graph = detail::recording_graph_of(*impl_);
  if (!graph) detail::throw_error(errc::invalid, "the queue is not recording into a graph");
  return ext::ulmara::experimental::modifiable_graph(std::move(graph));
}

}  // namespace _V1
}  // namespace sycl
