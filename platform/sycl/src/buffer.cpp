// SYCL stand-in: buffer storage, dependency tracking and host access.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

namespace {
std::shared_ptr<context_impl> host_context() {
  static std::shared_ptr<context_impl>* c =
      new std::shared_ptr<context_impl>(std::make_shared<context_impl>(host_device()->platform,
                                                                       std::vector<std::shared_ptr<device_impl>>{host_device()},
                                                                       async_handler()));
  return *c;
}
void drop_complete(std::vector<std::shared_ptr<event_impl>>& v) {
  v.erase(std::remove_if(v.begin(), v.end(), [](const std::shared_ptr<event_impl>& e) { return e->is_complete(); }),
          v.end());
}
}  // namespace

// The lock under which commands are ordered against buffers and in-order queues.
std::mutex& submission_mutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

buffer_allocation::buffer_allocation(std::shared_ptr<context_impl> c, size_t bytes) : ctx(std::move(c)) {
  ptr = static_cast<char*>(ctx->raw_alloc(bytes));
  if (!ptr) throw_error(errc::memory_allocation, "cannot allocate " + std::to_string(bytes) + " bytes of buffer storage");
}
buffer_allocation::~buffer_allocation() { ctx->raw_free(ptr); }

void buffer_allocation::copy_to_host(void* to, size_t bytes) const {
  if (ctx->mirrored()) ctx->read_device(*ctx->device_memory(ptr), to, bytes);
  else std::memcpy(to, ptr, bytes);
}

void buffer_allocation::copy_from_host(const void* from, size_t bytes) {
  if (ctx->mirrored()) ctx->write_device(*ctx->device_memory(ptr), from, bytes);
  else std::memcpy(ptr, from, bytes);
}

std::vector<std::shared_ptr<event_impl>> buffer_storage::conflicts(access_mode mode) {
  std::vector<std::shared_ptr<event_impl>> r;
  if (last_write && !last_write->is_complete()) r.push_back(last_write);
  if (mode != access_mode::read) {
    drop_complete(reads);
    r.insert(r.end(), reads.begin(), reads.end());
  }
  return r;
}

void buffer_storage::record(access_mode mode, const std::shared_ptr<event_impl>& e) {
  if (mode == access_mode::read) {
    drop_complete(reads);
    reads.push_back(e);
  } else {
    last_write = e;
    reads.clear();
  }
}

std::vector<std::shared_ptr<event_impl>> buffer_storage::pending() {
  std::lock_guard<std::mutex> lk(submission_mutex());
  return conflicts(access_mode::read_write);
}

std::shared_ptr<buffer_allocation> buffer_storage::place(const std::shared_ptr<context_impl>& ctx, bool commands_done) {
  std::lock_guard<std::mutex> lk(m);
  const std::shared_ptr<context_impl>& want = ctx->is_host() ? host_context() : ctx;
  if (alloc) {
    // Host code reads every allocation of fine-grained SVM, but not the
    // buffer objects of a context without SVM; OpenCL kernels need memory of
    // their own context.
    if (alloc->ctx == want || (want->is_host() && !alloc->ctx->mirrored())) return alloc;
    if (!commands_done)
      for (const auto& e : pending()) e->wait();
    auto moved = std::make_shared<buffer_allocation>(want, bytes);
    if (!alloc->ctx->mirrored()) {
      moved->copy_from_host(alloc->ptr, bytes);
    } else if (!moved->ctx->mirrored()) {
      alloc->copy_to_host(moved->ptr, bytes);
    } else {
      std::vector<char> staging(bytes);
      alloc->copy_to_host(staging.data(), bytes);
      moved->copy_from_host(staging.data(), bytes);
    }
    alloc = moved;  // the old block lives on while accessors still hold it
    return alloc;
  }
  alloc = std::make_shared<buffer_allocation>(want, bytes);
  if (init) alloc->copy_from_host(init, bytes);
  init = nullptr;
  return alloc;
}

buffer_handle::~buffer_handle() {
  // The last user handle of a buffer: wait for its commands, then write back.
  try {
    for (const auto& e : storage->pending()) e->wait();
    std::lock_guard<std::mutex> lk(storage->m);
    if (write_back && write_back_enabled && storage->alloc && storage->bytes)
      storage->alloc->copy_to_host(write_back, storage->bytes);
  } catch (...) {
  }
}

std::shared_ptr<buffer_handle> buffer_create(size_t bytes, const void* init, void* write_back,
                                             const property_list& props, const code_location& loc) {
  fail_buffer_on_request(loc);
  auto h = std::make_shared<buffer_handle>();
  h->storage = std::make_shared<buffer_storage>();
  h->storage->bytes = bytes;
  h->storage->init = init;
  h->write_back = write_back;
  h->props = props;
  h->loc = loc;
  return h;
}
const std::shared_ptr<buffer_storage>& buffer_get_storage(const buffer_handle& h) { return h.storage; }
void buffer_set_final_data(buffer_handle& h, void* ptr) { h.write_back = ptr; }
void buffer_set_write_back(buffer_handle& h, bool flag) { h.write_back_enabled = flag; }
bool buffer_has_property(const buffer_handle& h, property_kind kind) {
  for (auto k : h.props.kinds())
    if (k == kind) return true;
  return false;
}
code_location buffer_code_location(const buffer_handle& h) { return h.loc; }

access_grant handler_require(handler& cgh, const std::shared_ptr<buffer_storage>& storage, access_mode mode) {
  if (!storage) throw_error(errc::accessor, "the accessor has no buffer");
  handler_impl& h = cgh.ext_ulmara_impl();
  auto alloc = storage->place(h.queue->ctx);
  h.reqs.push_back(requirement{storage, mode, alloc});
  return access_grant{alloc->ptr, alloc};
}

// Host access: registered like a command that completes when the last copy
// of the accessor is gone.
class host_access_guard {
 public:
  std::shared_ptr<event_impl> ev = std::make_shared<event_impl>();
  std::shared_ptr<buffer_allocation> alloc;
  ~host_access_guard() { ev->set_complete(); }
};

std::shared_ptr<host_access_guard> host_access(const std::shared_ptr<buffer_storage>& storage, access_mode mode,
                                               char** base, const code_location& loc) {
  auto g = std::make_shared<host_access_guard>();
  g->ev->loc = loc;
  std::vector<std::shared_ptr<event_impl>> deps;
  {
    std::lock_guard<std::mutex> lk(submission_mutex());
    deps = storage->conflicts(mode);
    storage->record(mode, g->ev);
  }
  for (const auto& e : deps) e->wait();
  // Its own event is pending until the access ends: the conflicting commands
  // are the ones to have waited for.
  g->alloc = storage->place(host_context(), true);
  g->ev->set_running();
  *base = g->alloc->ptr;
  return g;
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
