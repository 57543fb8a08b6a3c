#include "dft/api/verbose_timing.hpp"

#include "gpu/service/verbose_gpu_output.hpp"
#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

constexpr int verbose_mode_timed = 2;

bool timed_mode() { return *qez_serv_verbose_mode() == verbose_mode_timed; }

// An empty kernel on the default device that opens `buffer`, so that it
// runs after every earlier use of the buffer; waited for.
void run_marker(sycl::buffer<char, 1>& buffer) {
  sycl::queue marker_queue;
  marker_queue.submit([&](sycl::handler& cgh) {
    sycl::accessor access(buffer, cgh, sycl::read_write);
    cgh.single_task([=]() { (void)access; });
  });
  marker_queue.wait();
}

// Marks the buffers in order, each after the previous marker completed. The
// walk stops at the first empty buffer (or at once outside mode 2) and then
// reports false: the pair neither times nor changes the depth.
bool run_markers(sycl::buffer<char, 1>& first, sycl::buffer<char, 1>* second) {
  if (!timed_mode() || first.size() == 0) return false;
  run_marker(first);
  if (second == nullptr) return true;
  if (second->size() == 0) return false;
  run_marker(*second);
  return true;
}

}  // namespace

verbose_depth_guard::~verbose_depth_guard() {
  if (armed_) gpu::verbose_depth_dec();
}

void verbose_start_timer(double* t, const std::vector<sycl::event>& dependencies) {
  gpu::verbose_depth_inc();
  if (!timed_mode()) return;
  verbose_depth_guard restore(true);
  for (sycl::event e : dependencies) e.wait();
  restore.dismiss();
  *t = -qez_serv_dsecnd();
}

void verbose_stop_timer(double* t, sycl::event e) {
  gpu::verbose_depth_dec();
  if (!timed_mode()) return;
  e.wait();
  *t += qez_serv_dsecnd();
}

bool verbose_buffer_start(double* t, sycl::buffer<char, 1>& first, sycl::buffer<char, 1>* second) {
  if (!run_markers(first, second)) return false;
  gpu::verbose_depth_inc();
  *t = -qez_serv_dsecnd();
  return true;
}

void verbose_buffer_end(double* t, bool started, sycl::buffer<char, 1>& first,
                        sycl::buffer<char, 1>* second) {
  {
    verbose_depth_guard restore(started);
    run_markers(first, second);
  }
  if (started) *t += qez_serv_dsecnd();
}

}  // namespace ulmara::qez::dft
