// Support of the binary-kernel probe tests.
#include "tests/probe/probe_test_support.hpp"

#include <cstdlib>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "gpu/service/device_registry.hpp"
#include "ulmara/qez/gpu/binary_kernels.hpp"

namespace probe_test {

std::string profile_name() {
  const char* name = std::getenv("STANDIN_GPU_PROFILE");
  return name != nullptr && *name != '\0' ? name : "gulon";
}

// The architecture numbers the GPU profiles present (their README).
qez_gpu_arch_t profile_architecture() {
  static const std::map<std::string, qez_gpu_arch_t> numbers = {
      {"vemra", QEZ_GPU_ARCH_VEMRA}, {"sutal", QEZ_GPU_ARCH_SUTAL}, {"dorik", QEZ_GPU_ARCH_DORIK},
      {"fenwa", QEZ_GPU_ARCH_FENWA}, {"gulon", QEZ_GPU_ARCH_GULON}, {"harix", QEZ_GPU_ARCH_HARIX},
      {"jorva", QEZ_GPU_ARCH_JORVA}, {"lumet", QEZ_GPU_ARCH_LUMET}, {"nopra", QEZ_GPU_ARCH_NOPRA},
  };
  const auto found = numbers.find(profile_name());
  return found == numbers.end() ? qez_gpu_arch_t{QEZ_GPU_ARCH_UNKNOWN} : found->second;
}

bool profile_has_generator() {
  switch (profile_architecture()) {
    case QEZ_GPU_ARCH_VEMRA:
    case QEZ_GPU_ARCH_SUTAL:
    case QEZ_GPU_ARCH_DORIK:
    case QEZ_GPU_ARCH_GULON:
    case QEZ_GPU_ARCH_HARIX:
    case QEZ_GPU_ARCH_JORVA:
    case QEZ_GPU_ARCH_LUMET: return true;
    default: return false;
  }
}

ProbeCall probe(sycl::queue& queue, int* status) {
  testing::internal::CaptureStdout();
  bool answer = false;
  try {
    answer = ulmara::qez::gpu::have_binary_kernels(status, &queue);
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
  return {answer, testing::internal::GetCapturedStdout()};
}

ProbeCall probe(sycl::queue& queue) {
  int status = 0;
  return probe(queue, &status);
}

ConcurrentProbes probe_from_threads(sycl::queue& queue, int callers) {
  ConcurrentProbes result{std::vector<int>(static_cast<std::size_t>(callers), -1), {}};
  testing::internal::CaptureStdout();
  {
    std::vector<std::thread> threads;
    for (int i = 0; i < callers; ++i)
      threads.emplace_back([&, i] {
        sycl::queue own{queue.get_context(), queue.get_device()};
        int status = 0;
        result.answers[static_cast<std::size_t>(i)] = ulmara::qez::gpu::have_binary_kernels(&status, &own) ? 1 : 0;
      });
    for (auto& thread : threads) thread.join();
  }
  result.output = testing::internal::GetCapturedStdout();
  return result;
}

qez_gpu_device_record_t* record_of(sycl::queue& queue) {
  int status = 0;
  return ulmara::qez::gpu::get_device_record(&status, &queue);
}

bool record_unlocked(sycl::queue& queue) {
  return __atomic_load_n(&record_of(queue)->record_lock, __ATOMIC_ACQUIRE) == 0;
}

}  // namespace probe_test
