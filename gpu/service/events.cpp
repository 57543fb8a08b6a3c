// Merging, releasing and waiting for events.
#include "gpu/service/events.hpp"

#include <memory>
#include <stdexcept>
#include <vector>

#include "gpu/service/code_location.hpp"

namespace ulmara::qez::gpu {
namespace {

// Takes the list's events over: copies them and frees the heap events.
std::vector<sycl::event> take_events(qez_gpu_event_list_t* list) {
  std::vector<sycl::event> events;
  if (list->count < 0) throw std::length_error("vector too long");
  events.reserve(static_cast<std::size_t>(list->count));
  for (std::int32_t i = 0; i < list->count; ++i) {
    std::unique_ptr<sycl::event> owned(list->events[i]);
    if (owned) events.push_back(*owned);
  }
  return events;
}

sycl::event* merge(sycl::queue* queue, qez_gpu_event_list_t* list, bool honour_no_dependencies,
                   const sycl::detail::code_location& location) {
  if (list == nullptr || (honour_no_dependencies && list->no_dependencies)) return new sycl::event();
  const std::vector<sycl::event> events = take_events(list);
  return new sycl::event(queue->ext_ulmara_submit_barrier(events, location));
}

}  // namespace

sycl::event* coalesce_events(int*, sycl::queue* queue, qez_gpu_event_list_t* list) {
  return merge(queue, list, true, submitted_by("coalesce_events"));
}

sycl::event* coalesce_events_usm(int*, sycl::queue* queue, qez_gpu_event_list_t* list) {
  return merge(queue, list, false, submitted_by("coalesce_events_usm"));
}

void release_event(int*, sycl::event* event) { delete event; }

void release_event_usm(int* status, sycl::event* event) { release_event(status, event); }

void host_wait(int*, sycl::event* event) {
  if (event != nullptr) event->wait();
}

void host_wait_usm(int* status, sycl::event* event) { host_wait(status, event); }

}  // namespace ulmara::qez::gpu
