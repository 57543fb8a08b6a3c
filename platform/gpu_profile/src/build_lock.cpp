// Builds of one program take turns, across the threads and processes of the
// machine.
//
// PoCL 3.1 caches each program it compiles in a directory named by a hash of
// the device, the build options and the program's (preprocessed) source or
// binaries. Two processes that miss the cache at once both compile; the one
// that finishes second removes the program.bc the first one wrote, then
// writes its own and renames it into place. A process that reads the file
// inside that window parses nothing (its build aborts on an assertion) or, when
// it packs the program's binary (clGetProgramInfo(CL_PROGRAM_BINARIES)),
// packs an empty entry (and aborts on another). Here a build that finds
// another build of the same program under way waits for it, then finds the
// program in the cache and reads it: no cached program is written twice, so
// none is ever removed under a reader. PoCL 6.0 and later write their cache
// safely on their own.
//
// The lock is an exclusive flock on one of a fixed set of stripe files,
// chosen by a hash of what PoCL keys its cache on, as it reaches PoCL: the
// device, the options (with POCL_EXTRA_BUILD_FLAGS, which PoCL appends, and
// their whitespace normalised, since PoCL splits them into tokens) and the
// program's source text or binaries. Builds of different programs take
// different stripes and run in parallel, unless their hashes share a stripe.
// Each acquisition opens its file anew, so two threads of one process exclude
// each other as two processes do, and the kernel drops a lock with its
// descriptor when the process ends.
//
// The key leaves out what can only make two builds of one cache entry look
// different (the header programs of a compile, the environment PoCL also
// hashes): the stripe is then shared more often than needed, never less. The
// source text is hashed as given, before the preprocessor: two texts that
// preprocess to the same program take different stripes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "profile_internal.hpp"

namespace qez_profile {
namespace {

constexpr unsigned stripe_count = 256;
// The stripe files live in "<TMPDIR or /tmp>/<stem><uid>/00" .. "ff".
constexpr const char* lock_directory_stem = "qez-gpu-profile-build-locks-";
constexpr const char* extra_build_flags_variable = "POCL_EXTRA_BUILD_FLAGS";

// The loader's calls the locks stand in front of.
struct loader_calls {
  decltype(cl_api::clBuildProgram) build = nullptr;
  decltype(cl_api::clCompileProgram) compile = nullptr;
  decltype(cl_api::clLinkProgram) link = nullptr;
  decltype(cl_api::clCreateProgramWithBinary) create_with_binary = nullptr;
  decltype(cl_api::clReleaseProgram) release = nullptr;
};
loader_calls loader;

// 64-bit FNV-1a over pieces, each preceded by its length so that no two
// sequences of pieces run together into the same bytes.
class digest {
 public:
  digest& add(const void* data, size_t n) {
    add_bytes(&n, sizeof n);
    add_bytes(data, n);
    return *this;
  }
  digest& add(const std::string& s) { return add(s.data(), s.size()); }
  digest& add(std::uint64_t v) { return add(&v, sizeof v); }
  std::uint64_t value() const { return hash_; }

 private:
  void add_bytes(const void* data, size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) hash_ = (hash_ ^ bytes[i]) * 0x100000001b3ull;
  }
  std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

// ---- what PoCL keys its cache on ----

std::string device_text(cl_device_id d, cl_device_info what) {
  return text_info([d, what](size_t n, void* v, size_t* r) { return next().clGetDeviceInfo(d, what, n, v, r); });
}

// A sub-device compiles as the device it was split from and shares its
// cache entries (the two presented GPUs are halves of one device).
cl_device_id root_of(cl_device_id d) {
  cl_device_id parent = nullptr;
  while (next().clGetDeviceInfo(d, CL_DEVICE_PARENT_DEVICE, sizeof parent, &parent, nullptr) == CL_SUCCESS &&
         parent != nullptr)
    d = parent;
  return d;
}

// The real device's identity, the same in every process (handles are not).
std::uint64_t device_digest(cl_device_id d) {
  const cl_device_id root = root_of(d);
  return digest()
      .add(device_text(root, CL_DEVICE_NAME))
      .add(device_text(root, CL_DEVICE_VENDOR))
      .add(device_text(root, CL_DRIVER_VERSION))
      .value();
}

// The options as PoCL hashes them: POCL_EXTRA_BUILD_FLAGS appended, one
// space between tokens.
std::string options_reaching_pocl(const char* options) {
  std::string all = options != nullptr ? options : "";
  if (const char* extra = std::getenv(extra_build_flags_variable)) all = all + " " + extra;
  std::string tokens;
  for (size_t i = 0; i < all.size();) {
    if (std::isspace(static_cast<unsigned char>(all[i]))) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < all.size() && !std::isspace(static_cast<unsigned char>(all[end]))) ++end;
    if (!tokens.empty()) tokens += ' ';
    tokens.append(all, i, end - i);
    i = end;
  }
  return tokens;
}

// Binaries as they reached PoCL, per program and device (a program keeps no
// text of them that could be read back unchanged before it is built).
struct binary_records {
  std::mutex mutex;
  std::map<cl_program, std::vector<std::pair<cl_device_id, std::uint64_t>>> digests;
};
// Never destroyed: programs are still released as the process exits (the
// library's kernel cache), after this library's static objects are gone.
binary_records& records() {
  static binary_records* const r = new binary_records;
  return *r;
}

void remember_binaries(cl_program p, cl_uint n, const cl_device_id* devices, const size_t* lengths,
                       const unsigned char** binaries) {
  std::vector<std::pair<cl_device_id, std::uint64_t>> digests;
  for (cl_uint i = 0; i < n; ++i) digests.emplace_back(devices[i], digest().add(binaries[i], lengths[i]).value());
  std::lock_guard<std::mutex> lock(records().mutex);
  records().digests[p] = std::move(digests);
}

// A program's handle may be reused once it is released: a record goes with
// the last reference. A program made later from source or IL on the same
// handle is keyed by its text before any record is read, and a link's
// output forgets one.
void forget_binaries(cl_program p, bool unless_still_referenced) {
  std::lock_guard<std::mutex> lock(records().mutex);
  const auto it = records().digests.find(p);
  if (it == records().digests.end()) return;
  cl_uint references = 0;
  if (unless_still_referenced &&
      next().clGetProgramInfo(p, CL_PROGRAM_REFERENCE_COUNT, sizeof references, &references, nullptr) ==
          CL_SUCCESS &&
      references > 1)
    return;
  records().digests.erase(it);
}

std::uint64_t recorded_binary(cl_program p, cl_device_id d) {
  std::lock_guard<std::mutex> lock(records().mutex);
  const auto it = records().digests.find(p);
  if (it != records().digests.end())
    for (const auto& [device, value] : it->second)
      if (device == d) return value;
  return 0;
}

std::string program_il(cl_program p) {
  size_t n = 0;
  if (next().clGetProgramInfo(p, CL_PROGRAM_IL, 0, nullptr, &n) != CL_SUCCESS || n == 0) return {};
  std::string il(n, '\0');
  if (next().clGetProgramInfo(p, CL_PROGRAM_IL, n, il.data(), nullptr) != CL_SUCCESS) return {};
  return il;
}

// The program's text, IL or binary for device `d`; 0 when none is known
// (the stripe then follows the device and the options alone).
std::uint64_t content_digest(cl_program p, cl_device_id d) {
  const std::string source = program_source(p);
  if (!source.empty()) return digest().add(source).value();
  const std::string il = program_il(p);
  if (!il.empty()) return digest().add(il).value();
  return recorded_binary(p, d);
}

// The devices a build reaches: those it names, else all of its program's
// (or, for a link, of its context).
std::vector<cl_device_id> named_or(cl_uint n, const cl_device_id* devices, std::vector<cl_device_id> all) {
  if (devices != nullptr && n > 0) return std::vector<cl_device_id>(devices, devices + n);
  return all;
}
// A list of devices that `query(size, value, size_ret)` answers; empty when
// it fails.
template <class Query>
std::vector<cl_device_id> device_list(Query query) {
  size_t n = 0;
  if (query(0, nullptr, &n) != CL_SUCCESS || n == 0) return {};
  std::vector<cl_device_id> list(n / sizeof(cl_device_id));
  if (query(n, list.data(), nullptr) != CL_SUCCESS) return {};
  return list;
}
std::vector<cl_device_id> program_devices(cl_program p) {
  return device_list([p](size_t n, void* v, size_t* r) { return next().clGetProgramInfo(p, CL_PROGRAM_DEVICES, n, v, r); });
}
std::vector<cl_device_id> context_devices(cl_context c) {
  return device_list([c](size_t n, void* v, size_t* r) { return next().clGetContextInfo(c, CL_CONTEXT_DEVICES, n, v, r); });
}

// One stripe per device the build writes a cache entry for, sorted and
// without repeats (the order in which they are taken).
std::vector<unsigned> stripes_of(const std::vector<cl_device_id>& devices, const char* options,
                                 const std::vector<cl_program>& programs) {
  const std::string tokens = options_reaching_pocl(options);
  std::vector<unsigned> stripes;
  for (cl_device_id d : devices) {
    digest key;
    key.add(device_digest(d)).add(tokens);
    for (cl_program p : programs) key.add(content_digest(p, d));
    stripes.push_back(static_cast<unsigned>(key.value() % stripe_count));
  }
  std::sort(stripes.begin(), stripes.end());
  stripes.erase(std::unique(stripes.begin(), stripes.end()), stripes.end());
  return stripes;
}

// ---- the stripe files ----

void warn_once(const std::string& what) {
  static std::once_flag warned;
  std::call_once(warned, [&] {
    std::fprintf(stderr, "qez_gpu_profile: %s: builds of one program may race in PoCL's program cache\n",
                 what.c_str());
  });
}

// The directory of the stripe files, private to this user; empty when it
// cannot be had (builds then go unlocked).
const std::string& lock_directory() {
  static const std::string directory = [] {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/" +
                            lock_directory_stem + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      warn_once("cannot make " + dir + ": " + std::strerror(errno));
      return std::string();
    }
    struct stat s {};
    if (lstat(dir.c_str(), &s) != 0 || !S_ISDIR(s.st_mode) || s.st_uid != getuid()) {
      warn_once(dir + " is not a directory of this user");
      return std::string();
    }
    return dir;
  }();
  return directory;
}

// An open descriptor holding the stripe's lock; -1 when it cannot be had.
int lock_stripe(unsigned stripe) {
  const std::string& dir = lock_directory();
  if (dir.empty()) return -1;
  char name[8];
  std::snprintf(name, sizeof name, "/%02x", stripe);
  const std::string path = dir + name;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    warn_once("cannot open " + path + ": " + std::strerror(errno));
    return -1;
  }
  int r = 0;
  while ((r = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    warn_once("cannot lock " + path + ": " + std::strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

// The stripes this thread holds: a build started inside another (from its
// notification callback) keeps them rather than waiting for itself. Plain
// bits, no allocation of the thread's own.
thread_local std::bitset<stripe_count> stripes_held;

// Holds the locks of a set of stripes for its scope, taken in ascending order.
class stripe_locks {
 public:
  explicit stripe_locks(const std::vector<unsigned>& stripes) {
    for (unsigned s : stripes) {
      if (stripes_held.test(s)) continue;
      const int fd = lock_stripe(s);
      if (fd < 0) continue;
      held_.emplace_back(s, fd);
      stripes_held.set(s);
    }
  }
  ~stripe_locks() {
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
      close(it->second);  // drops the lock
      stripes_held.reset(it->first);
    }
  }
  stripe_locks(const stripe_locks&) = delete;
  stripe_locks& operator=(const stripe_locks&) = delete;

 private:
  std::vector<std::pair<unsigned, int>> held_;
};

// ---- the calls ----

cl_int CL_API_CALL build_program(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                 const char* options, void(CL_CALLBACK* notify)(cl_program, void*), void* user_data) {
  const stripe_locks lock(stripes_of(named_or(num_devices, devices, program_devices(program)), options, {program}));
  return loader.build(program, num_devices, devices, options, notify, user_data);
}

cl_int CL_API_CALL compile_program(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                   const char* options, cl_uint num_headers, const cl_program* headers,
                                   const char** header_names, void(CL_CALLBACK* notify)(cl_program, void*),
                                   void* user_data) {
  const stripe_locks lock(stripes_of(named_or(num_devices, devices, program_devices(program)), options, {program}));
  return loader.compile(program, num_devices, devices, options, num_headers, headers, header_names, notify,
                        user_data);
}

cl_program CL_API_CALL link_program(cl_context context, cl_uint num_devices, const cl_device_id* devices,
                                    const char* options, cl_uint num_programs, const cl_program* programs,
                                    void(CL_CALLBACK* notify)(cl_program, void*), void* user_data,
                                    cl_int* errcode_ret) {
  const std::vector<cl_program> inputs(programs, programs + (programs != nullptr ? num_programs : 0));
  cl_program linked = nullptr;
  {
    const stripe_locks lock(stripes_of(named_or(num_devices, devices, context_devices(context)), options, inputs));
    linked = loader.link(context, num_devices, devices, options, num_programs, programs, notify, user_data,
                         errcode_ret);
  }
  if (linked != nullptr) forget_binaries(linked, false);
  return linked;
}

cl_program CL_API_CALL create_with_binary(cl_context context, cl_uint num_devices, const cl_device_id* devices,
                                          const size_t* lengths, const unsigned char** binaries,
                                          cl_int* binary_status, cl_int* errcode_ret) {
  cl_program p =
      loader.create_with_binary(context, num_devices, devices, lengths, binaries, binary_status, errcode_ret);
  if (p != nullptr) remember_binaries(p, num_devices, devices, lengths, binaries);
  return p;
}

cl_int CL_API_CALL release_program(cl_program p) {
  forget_binaries(p, true);
  return loader.release(p);
}

}  // namespace

void install_build_locks(cl_api& api) {
  stand_in_front(api.clBuildProgram, loader.build, build_program);
  stand_in_front(api.clCompileProgram, loader.compile, compile_program);
  stand_in_front(api.clLinkProgram, loader.link, link_program);
  stand_in_front(api.clCreateProgramWithBinary, loader.create_with_binary, create_with_binary);
  stand_in_front(api.clReleaseProgram, loader.release, release_program);
}

}  // namespace qez_profile
