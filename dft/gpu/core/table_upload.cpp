#include "dft/gpu/core/table_upload.hpp"

#include <algorithm>

namespace ulmara {
namespace qez {
namespace dft {

namespace {

bool completed(const sycl::event& e) {
  return e.get_info<sycl::info::event::command_execution_status>() == sycl::info::event_command_status::complete;
}

}  // namespace

upload_sources& upload_sources::process() {
  // Never destroyed: copies may still be in flight at exit, and the events
  // must not outlive the runtime's own teardown.
  static upload_sources* const sources = new upload_sources;
  return *sources;
}

void upload_sources::hold(const sycl::event& copied, std::shared_ptr<const void> storage) {
  std::lock_guard<std::mutex> lock(mutex_);
  let_go_of_completed();
  held_.push_back(held_source{copied, std::move(storage)});
}

void upload_sources::let_go_of_completed() {
  held_.erase(std::remove_if(held_.begin(), held_.end(), [](const held_source& h) { return completed(h.copied); }),
              held_.end());
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
