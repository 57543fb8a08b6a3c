// Every FFTW3-style planner and executor is exported from the main library
// under its plain (C-linkage) name, read from the library's dynamic symbol
// table; the expected names are built here from the interface's own lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Defined function symbols of the library's dynamic symbol table.
std::set<std::string> exported_functions() {
  const std::string command = std::string("nm -D --defined-only ") + QEZ_MAIN_LIBRARY_PATH;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::set<std::string> names;
  if (!pipe) return names;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name && type == "T") names.insert(name);
  }
  return names;
}

const std::vector<std::string> c_planner_forms{
    "plan_dft_1d",     "plan_dft_2d",     "plan_dft_3d",         "plan_dft",
    "plan_many_dft",   "plan_guru_dft",   "plan_guru64_dft",     "plan_dft_r2c_1d",
    "plan_dft_r2c_2d", "plan_dft_r2c_3d", "plan_dft_r2c",        "plan_many_dft_r2c",
    "plan_guru_dft_r2c", "plan_guru64_dft_r2c", "plan_dft_c2r_1d", "plan_dft_c2r_2d",
    "plan_dft_c2r_3d", "plan_dft_c2r",    "plan_many_dft_c2r",   "plan_guru_dft_c2r",
    "plan_guru64_dft_c2r"};
const std::vector<std::string> c_executor_forms{"execute", "execute_dft", "execute_dft_r2c",
                                                "execute_dft_c2r"};
const std::vector<std::string> fortran_planner_forms{
    "plan_dft_1d",     "plan_dft_2d",       "plan_dft_3d",       "plan_dft",
    "plan_many_dft",   "plan_guru_dft",     "plan_dft_r2c_1d",   "plan_dft_c2r_1d",
    "plan_dft_r2c_2d", "plan_dft_c2r_2d",   "plan_dft_r2c_3d",   "plan_dft_c2r_3d",
    "plan_dft_r2c",    "plan_dft_c2r",      "plan_many_dft_r2c", "plan_many_dft_c2r",
    "plan_guru_dft_r2c", "plan_guru_dft_c2r"};
const std::vector<std::string> fortran_suffixes{"_omp_offload_lp64", "_omp_offload_ilp64",
                                                "_cpu_lp64", "_cpu_ilp64"};
const std::vector<std::string> fortran_executors{
    "sfftw_execute_dft_omp_offload",     "dfftw_execute_dft_omp_offload",
    "sfftw_execute_dft_r2c_omp_offload", "sfftw_execute_dft_c2r_omp_offload",
    "dfftw_execute_dft_r2c_omp_offload", "dfftw_execute_dft_c2r_omp_offload",
    "sfftw_execute_omp_offload",         "dfftw_execute_omp_offload",
    "sfftw_execute_dft_cpu",             "dfftw_execute_dft_cpu",
    "sfftw_execute_dft_r2c_cpu",         "sfftw_execute_dft_c2r_cpu",
    "dfftw_execute_dft_r2c_cpu",         "dfftw_execute_dft_c2r_cpu"};

std::size_t count_matching(const std::set<std::string>& names, const std::string& pattern) {
  const std::regex re(pattern);
  std::size_t n = 0;
  for (const std::string& name : names) n += std::regex_match(name, re) ? 1 : 0;
  return n;
}

class FftwExports : public ::testing::Test {
protected:
  static void SetUpTestSuite() { names_ = new std::set<std::string>(exported_functions()); }
  static void TearDownTestSuite() { delete names_; }
  static std::set<std::string>* names_;
  void expect_exported(const std::string& name) {
    EXPECT_EQ(names_->count(name), 1u) << name << " is not exported with C linkage";
  }
};
std::set<std::string>* FftwExports::names_ = nullptr;

TEST_F(FftwExports, TheSymbolTableWasRead) { ASSERT_GT(names_->size(), 100u); }

TEST_F(FftwExports, FortyTwoCPlannersAndEightCExecutors) {
  for (const char* prefix : {"fftwf_", "fftw_"}) {
    for (const std::string& form : c_planner_forms) expect_exported(prefix + form + "_omp_offload");
    for (const std::string& form : c_executor_forms)
      expect_exported(prefix + form + "_omp_offload");
  }
  EXPECT_EQ(count_matching(*names_, "fftwf?_(plan|execute).*_omp_offload"), 50u);
}

TEST_F(FftwExports, OneHundredFortyFourFortranPlanners) {
  for (const char* prefix : {"sfftw_", "dfftw_"})
    for (const std::string& form : fortran_planner_forms)
      for (const std::string& suffix : fortran_suffixes) expect_exported(prefix + form + suffix);
  EXPECT_EQ(count_matching(*names_, "[sd]fftw_plan_.*"), 144u);
}

TEST_F(FftwExports, FourteenFortranExecutors) {
  for (const std::string& name : fortran_executors) expect_exported(name);
  EXPECT_EQ(count_matching(*names_, "[sd]fftw_execute.*"), 14u);
}

TEST_F(FftwExports, NoPlanDestructionIsExported) {
  EXPECT_EQ(count_matching(*names_, "[sd]?fftwf?_destroy.*"), 0u);
}

}  // namespace
