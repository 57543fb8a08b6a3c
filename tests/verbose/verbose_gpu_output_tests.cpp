// The GPU verbose printer: time formats, the per-thread depth and timed
// events, device times from profiling data (and when there is none), the
// once-per-process GPU header with its failure cases, and the output file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gpu/service/verbose_gpu_output.hpp"
#include "qez_service_control.h"
#include "tests/api/verbose_capture.hpp"

namespace {

namespace gpu = ulmara::qez::gpu;
using qez_api_test::verbose_capture;

std::string formatted(double seconds) {
  char text[64] = {};
  std::size_t free = sizeof text - 1;
  gpu::format_verbose_time(seconds, text, &free);
  return text;
}

TEST(VerboseTime, Formats) {
  EXPECT_EQ(formatted(0.0), "N/A");
  EXPECT_EQ(formatted(-1.0), "N/A");
  EXPECT_EQ(formatted(1.5), "1.50s");
  EXPECT_EQ(formatted(1.0), "1000.00ms");
  EXPECT_EQ(formatted(1.52e-3), "1.52ms");
  EXPECT_EQ(formatted(874.03e-6), "874.03us");
  EXPECT_EQ(formatted(0.5e-6), "500ns");
  EXPECT_EQ(formatted(800e-9), "800ns");
}

TEST(VerboseLabels, ArchitecturesAndBackends) {
  EXPECT_STREQ(gpu::verbose_arch_label(1), "Tavir(R)_Vemra");
  EXPECT_STREQ(gpu::verbose_arch_label(5), "Tavir(R)_Gulon");
  EXPECT_STREQ(gpu::verbose_arch_label(9), "Tavir(R)_Nopra");
  EXPECT_STREQ(gpu::verbose_arch_label(0), "Unknown_GPU");
  EXPECT_STREQ(gpu::verbose_arch_label(10), "Unknown_GPU");
  EXPECT_STREQ(gpu::verbose_backend_label(0), "OpenCL");
  EXPECT_STREQ(gpu::verbose_backend_label(1), "Nivolo");
  EXPECT_STREQ(gpu::verbose_backend_label(-1), "Unknown_backend");
  EXPECT_EQ(gpu::verbose_demangle("launch_kernel_1D"), "launch_kernel_1D");
}

TEST(VerboseIface, OnlyOneChangesIt) {
  EXPECT_EQ(gpu::verbose_gpu_iface(), 2);
  gpu::set_verbose_gpu_iface(3);
  EXPECT_EQ(gpu::verbose_gpu_iface(), 2);
  gpu::set_verbose_gpu_iface(1);
  EXPECT_EQ(gpu::verbose_gpu_iface(), 1);
}

sycl::queue& gpu_queue() {
  static sycl::queue q(sycl::gpu_selector_v);
  return q;
}
sycl::queue& profiling_queue() {
  static sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::enable_profiling());
  return q;
}

TEST(VerbosePrint, ModeZeroPrintsNothingAndKeepsNoEvents) {
  verbose_capture capture(0);
  gpu::verbose_register_event(profiling_queue().single_task([] {}));
  EXPECT_EQ(gpu::verbose_registered_event_count(), 0u);
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(x)", 1.0);
  EXPECT_EQ(capture.text(), "");
  profiling_queue().wait();
}

TEST(VerbosePrint, ModeOneShowsNoDeviceTime) {
  verbose_capture capture(1);
  gpu::verbose_register_event(profiling_queue().single_task([] {}));
  EXPECT_EQ(gpu::verbose_registered_event_count(), 0u) << "mode 1 collects nothing";
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(x)", 1.52e-3);
  EXPECT_NE(capture.text().find("QEZ_VERBOSE FFT(x) host:1.52ms device:N/A GPU0\n"),
            std::string::npos)
      << capture.text();
  profiling_queue().wait();
}

TEST(VerbosePrint, ModeTwoDeviceTimeSpansTheRegisteredEvents) {
  verbose_capture capture(2);
  sycl::event a = profiling_queue().single_task([] {});
  sycl::event b = profiling_queue().single_task([] {});
  gpu::verbose_register_event(a);
  gpu::verbose_register_event(b);
  EXPECT_EQ(gpu::verbose_registered_event_count(), 2u);
  a.wait();
  b.wait();
  using start = sycl::info::event_profiling::command_start;
  using end = sycl::info::event_profiling::command_end;
  const double expected =
      1e-9 * static_cast<double>(std::max(a.get_profiling_info<end>(), b.get_profiling_info<end>()) -
                                 std::min(a.get_profiling_info<start>(), b.get_profiling_info<start>()));
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(y)", 0.25);
  EXPECT_EQ(gpu::verbose_registered_event_count(), 0u);
  std::smatch m;
  const std::string text = capture.text();
  ASSERT_TRUE(std::regex_search(text, m,
                                std::regex("QEZ_VERBOSE FFT\\(y\\) host:250.00ms device:([0-9.]+)(s|ms|us|ns) GPU0\n")))
      << text;
  const double unit = m[2] == "s" ? 1 : m[2] == "ms" ? 1e-3 : m[2] == "us" ? 1e-6 : 1e-9;
  EXPECT_NEAR(std::stod(m[1]) * unit, expected, unit * 0.006);
}

TEST(VerbosePrint, EventsWithoutProfilingShowNoDeviceTimeAndAreCleared) {
  verbose_capture capture(2);
  gpu::verbose_register_event(gpu_queue().single_task([] {}));
  EXPECT_NO_THROW(gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(z)", 0.002));
  EXPECT_EQ(gpu::verbose_registered_event_count(), 0u);
  EXPECT_NE(capture.text().find("QEZ_VERBOSE FFT(z) host:2.00ms device:N/A GPU0\n"), std::string::npos)
      << capture.text();
  // The next line is unaffected.
  gpu::verbose_register_event(profiling_queue().single_task([] {}));
  profiling_queue().wait();
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(w)", 0.002);
  EXPECT_TRUE(std::regex_search(capture.text(), std::regex("FFT\\(w\\) host:2.00ms device:[0-9.]+(s|ms|us|ns) GPU0")))
      << capture.text();
}

TEST(VerbosePrint, NestedCallsStaySilentAndLeaveTheirEvents) {
  verbose_capture capture(2);
  gpu::verbose_depth_inc();
  gpu::verbose_register_event(profiling_queue().single_task([] {}));
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(inner)", 1.0);
  EXPECT_EQ(gpu::verbose_registered_event_count(), 1u);
  gpu::verbose_depth_dec();
  profiling_queue().wait();
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(outer)", 1.0);
  const std::string text = capture.text();
  EXPECT_EQ(text.find("FFT(inner)"), std::string::npos);
  EXPECT_TRUE(std::regex_search(text, std::regex("FFT\\(outer\\) host:1000.00ms device:[0-9.]+")))
      << text;
}

TEST(VerbosePrint, EventsOfCallsThatNeverPrintStayBounded) {
  verbose_capture capture(2);
  sycl::event e = profiling_queue().single_task([] {});
  e.wait();
  for (int i = 0; i < 1000; ++i) gpu::verbose_register_event(e);
  EXPECT_LE(gpu::verbose_registered_event_count(), gpu::verbose_event_capacity);
  // The folded events still count for the next line.
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(many)", 1.0);
  EXPECT_TRUE(std::regex_search(capture.text(), std::regex("FFT\\(many\\) host:1000.00ms device:[0-9.]+")))
      << capture.text();
}

// GPUs the process is meant to see: STANDIN_GPU_DEVICE_COUNT=2 shows the
// device as two.
std::size_t expected_gpu_count() {
  const char* v = std::getenv("STANDIN_GPU_DEVICE_COUNT");
  return v != nullptr && std::string(v) == "2" ? 2 : 1;
}

// The header the default profile (Gulon, 512 EUs, one tile) gives for
// every GPU of the process, followed by its empty line.
std::string expected_header() {
  const std::vector<sycl::device> gpus = sycl::device::get_devices(sycl::info::device_type::gpu);
  std::ostringstream expected;
  for (std::size_t k = 0; k < gpus.size(); ++k)
    expected << "QEZ_VERBOSE Detected GPU" << k << " Tavir(R)_Gulon Backend:OpenCL VE:512 Stack:1 maxWGsize:"
             << gpus[k].get_info<sycl::info::device::max_work_group_size>() << "\n";
  expected << "\n";
  return expected.str();
}

TEST(VerboseHeader, ListsTheGpusOnce) {
  ASSERT_EQ(sycl::device::get_devices(sycl::info::device_type::gpu).size(), expected_gpu_count());
  gpu::reset_verbose_gpu_header();
  verbose_capture capture(1);
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(a)", 0.0);
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(b)", 0.0);
  const std::string text = capture.text();
  const std::string header = expected_header();
  const std::size_t at = text.find(header);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.find("Detected GPU0", at + header.size()), std::string::npos) << "printed once";
  EXPECT_LT(at, text.find("FFT(a)"));
}

TEST(VerboseHeader, EachLineNamesTheGpuOfItsQueue) {
  const std::vector<sycl::device> gpus = sycl::device::get_devices(sycl::info::device_type::gpu);
  ASSERT_EQ(gpus.size(), expected_gpu_count());
  gpu::reset_verbose_gpu_header();
  verbose_capture capture(1);
  for (std::size_t k = 0; k < gpus.size(); ++k) {
    sycl::queue q(gpus[k]);
    gpu::print_verbose_gpu_info(&q, ("FFT(q" + std::to_string(k) + ")").c_str(), 0.0);
  }
  const std::string text = capture.text();
  EXPECT_EQ(text.find(expected_header()), text.find("QEZ_VERBOSE Detected GPU0")) << text;
  for (std::size_t k = 0; k < gpus.size(); ++k) {
    const std::string line =
        "QEZ_VERBOSE FFT(q" + std::to_string(k) + ") host:N/A device:N/A GPU" + std::to_string(k) + "\n";
    EXPECT_NE(text.find(line), std::string::npos) << text;
  }
}

// Registry answers for the failure cases of the header.
sycl::queue* calling_queue = nullptr;
qez_gpu_backend_t other_backend_for_caller(sycl::queue* q) { return q == calling_queue ? -1 : 0; }
qez_gpu_arch_t failing_architecture(int*, sycl::queue*) { throw std::runtime_error("no IP version"); }
int failing_count(sycl::queue*) { throw std::runtime_error("no answer"); }

class header_queries {
public:
  explicit header_queries(const gpu::verbose_device_queries& q)
      : previous_(gpu::set_verbose_device_queries(q)) {
    gpu::reset_verbose_gpu_header();
  }
  ~header_queries() {
    gpu::set_verbose_device_queries(previous_);
    gpu::reset_verbose_gpu_header();
  }

private:
  gpu::verbose_device_queries previous_;
};

TEST(VerboseHeader, UndeterminedArchitectureIsUnknownAndNothingThrows) {
  gpu::verbose_device_queries q = gpu::default_verbose_device_queries();
  q.architecture = failing_architecture;
  q.eu_count = failing_count;
  header_queries scope(q);
  verbose_capture capture(1);
  EXPECT_NO_THROW(gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(u)", 0.0));
  EXPECT_TRUE(std::regex_search(capture.text(),
                                std::regex("QEZ_VERBOSE Detected GPU0 Unknown_GPU Backend:OpenCL VE:0 Stack:1 maxWGsize:[0-9]+\n")))
      << capture.text();
  // The header lock was released: resetting takes it again.
  gpu::reset_verbose_gpu_header();
}

TEST(VerboseHeader, CallerOfAnotherBackendListsNoGpu) {
  gpu::verbose_device_queries q = gpu::default_verbose_device_queries();
  q.backend = other_backend_for_caller;
  header_queries scope(q);
  calling_queue = &gpu_queue();
  verbose_capture capture(1);
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(o)", 0.0);
  const std::string text = capture.text();
  EXPECT_EQ(text.find("Detected GPU"), std::string::npos) << text;
  // The header is an empty line; the line has no GPU number.
  EXPECT_NE(text.find("\nQEZ_VERBOSE FFT(o) host:N/A device:N/A\n"), std::string::npos) << text;
  calling_queue = nullptr;
}

TEST(VerboseOutput, GoesToTheNamedFile) {
  char path[] = "/tmp/qez_verbose_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  gpu::reset_verbose_gpu_header();
  qez_standin_set_verbose_mode(1);
  qez_standin_set_verbose_output_file(path);
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(file)", 0.0);
  qez_standin_set_verbose_output_file("");
  qez_standin_set_verbose_mode(0);
  std::ifstream in(path);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(content.find("QEZ_VERBOSE FFT(file) host:N/A device:N/A GPU0\n"), std::string::npos)
      << content;
  // The header goes where the lines go.
  EXPECT_NE(content.find(expected_header()), std::string::npos) << content;
  std::remove(path);
}

TEST(VerboseOutput, UnopenableFileWarnsAndPrintsToStandardOutput) {
  verbose_capture capture(1);
  qez_standin_set_verbose_output_file("/nonexistent-directory/verbose.txt");
  gpu::print_verbose_gpu_info(&gpu_queue(), "FFT(warn)", 0.0);
  qez_standin_set_verbose_output_file("");
  const std::string text = capture.text();
  EXPECT_NE(text.find("QEZ_VERBOSE WARNING: unable to open output file. Print to STDOUT\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("QEZ_VERBOSE FFT(warn) host:N/A device:N/A GPU0\n"), std::string::npos) << text;
}

}  // namespace
