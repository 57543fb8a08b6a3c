// Host timing of transforms in verbose mode 2, and the nesting guard that
// keeps inner timed calls silent. The host time runs from the completion of
// everything the transform waits for to the completion of the transform.
#pragma once

#include <vector>

#include <sycl/sycl.hpp>

namespace ulmara::qez::dft {

// USM road. The start raises the thread's verbose depth in every mode (and
// lowers it again if its waits fail); in mode 2 it waits for the
// dependencies and stores minus the clock in *t. The stop lowers the depth
// and in mode 2 waits for `e` and adds the clock to *t.
void verbose_start_timer(double* t, const std::vector<sycl::event>& dependencies);
void verbose_stop_timer(double* t, sycl::event e);

// Buffer road: in mode 2 each marker runs an empty kernel per buffer that
// opens it, one buffer after the other, and waits for it; the walk stops at
// the first empty buffer. When every buffer was marked, the start raises the
// depth, stores minus the clock in *t and reports true; otherwise nothing
// else happens and it reports false. The end walks the buffers the same way
// and, given a true report, lowers the depth (also when a marker fails) and
// adds the clock to *t.
bool verbose_buffer_start(double* t, sycl::buffer<char, 1>& first,
                          sycl::buffer<char, 1>* second = nullptr);
void verbose_buffer_end(double* t, bool started, sycl::buffer<char, 1>& first,
                        sycl::buffer<char, 1>* second = nullptr);

// Lowers the verbose depth at the end of its scope unless dismissed: a
// transform that throws between its start and stop markers must not leave
// the thread's later verbose output silenced.
class verbose_depth_guard {
public:
  explicit verbose_depth_guard(bool armed) : armed_(armed) {}
  ~verbose_depth_guard();
  verbose_depth_guard(const verbose_depth_guard&) = delete;
  verbose_depth_guard& operator=(const verbose_depth_guard&) = delete;
  void dismiss() { armed_ = false; }

private:
  bool armed_;
};

}  // namespace ulmara::qez::dft
