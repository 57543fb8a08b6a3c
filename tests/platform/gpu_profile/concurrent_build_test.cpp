// Builds of one program by several processes at once on an empty
// PoCL program cache of their own: PoCL writes the program's cache entry
// once, however each process spells the options. A second write would first
// remove the entry under any process reading it. PoCL reports each write
// ("Writing program.bc to <path>") under POCL_DEBUG=llvm.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct build_row {
  const char* name;
  const char* kind;                  // what each process does: build or compile
  std::vector<std::string> options;  // one process each
};

void PrintTo(const build_row& row, std::ostream* os) { *os << row.name; }

// Options as the profiles pass them: the vendor option is dropped before
// PoCL sees the rest, leaving a space behind; PoCL reads options as tokens.
const build_row rows[] = {
    {"options_apart_in_spaces_and_vendor_options",
     "build",
     {"-DSCALE=3", "  -DSCALE=3 ", "-DSCALE=3 -cl-tavir-256-GRF-per-thread", "-cl-tavir-256-GRF-per-thread -DSCALE=3"}},
    {"compiles", "compile", {"-DSCALE=3", "-DSCALE=3", "-DSCALE=3"}},
};

// A program that takes PoCL long enough to compile for the builds to overlap.
std::string slow_program() {
  constexpr int functions = 300;
  std::ostringstream s;
  for (int i = 0; i < functions; ++i) s << "float f" << i << "(float x) { return x * SCALE + sin(x + " << i << ".0f); }\n";
  s << "kernel void k(global float* a) {\n  float x = a[get_global_id(0)];\n";
  for (int i = 0; i < functions; ++i) s << "  x = f" << i << "(x);\n";
  s << "  a[get_global_id(0)] = x;\n}\n";
  return s.str();
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The environment of a child: this process's, with PoCL's cache and debug
// output pointed where the test reads them.
std::vector<std::string> child_environment(const std::string& cache) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "POCL_CACHE_DIR=", 15) != 0 && std::strncmp(*e, "POCL_DEBUG=", 11) != 0) env.push_back(*e);
  env.push_back("POCL_CACHE_DIR=" + cache);
  env.push_back("POCL_DEBUG=llvm");
  return env;
}

struct child {
  pid_t pid = -1;
  int start = -1;  // its standard input: closing it starts the builds
  int ready = -1;  // its standard output
  std::string log;
};

child spawn_child(const build_row& row, const std::string& options, const std::string& source,
                  const std::vector<std::string>& env, const std::string& log) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv = {const_cast<char*>(QEZ_PROGRAM_BUILD_CHILD), const_cast<char*>(row.kind),
                             const_cast<char*>(source.c_str()),
                             const_cast<char*>(options.c_str()), nullptr};
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  child c;
  c.log = log;
  if (posix_spawn(&c.pid, QEZ_PROGRAM_BUILD_CHILD, &actions, nullptr, argv.data(), envp.data()) != 0) c.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  c.start = in[1];
  c.ready = out[0];
  return c;
}

bool says_ready(const child& c) {
  std::string said;
  char ch = 0;
  while (said.size() < 6 && read(c.ready, &ch, 1) == 1) said += ch;
  return said == "ready\n";
}

// How often each cache entry's program.bc was written, by the children's logs.
std::map<std::string, int> program_writes(const std::vector<child>& children) {
  const std::string mark = "Writing program.bc to ";
  std::map<std::string, int> writes;
  for (const child& c : children) {
    std::istringstream log(read_file(c.log));
    for (std::string line; std::getline(log, line);) {
      const size_t at = line.find(mark);
      if (at != std::string::npos) ++writes[line.substr(at + mark.size())];
    }
  }
  return writes;
}

class ConcurrentBuild : public ::testing::TestWithParam<build_row> {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "qez_concurrent_build_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

TEST_P(ConcurrentBuild, WritesEachCacheEntryOnce) {
  const build_row& row = GetParam();
  const std::string source = dir_ + "/program.cl";
  std::ofstream(source) << slow_program();
  const std::vector<std::string> env = child_environment(dir_ + "/cache");

  std::vector<child> children;
  for (size_t i = 0; i < row.options.size(); ++i)
    children.push_back(spawn_child(row, row.options[i], source, env, dir_ + "/child" + std::to_string(i) + ".log"));
  for (const child& c : children) {
    ASSERT_GT(c.pid, 0);
    EXPECT_TRUE(says_ready(c)) << read_file(c.log);
  }
  for (const child& c : children) close(c.start);
  for (const child& c : children) {
    int status = 0;
    ASSERT_EQ(waitpid(c.pid, &status, 0), c.pid);
    close(c.ready);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_file(c.log);
  }

  const std::map<std::string, int> writes = program_writes(children);
  EXPECT_EQ(writes.size(), 1u);
  for (const auto& [path, count] : writes) EXPECT_EQ(count, 1) << path;
}

INSTANTIATE_TEST_SUITE_P(Rows, ConcurrentBuild, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<build_row>& info) { return std::string(info.param.name); });

}  // namespace
