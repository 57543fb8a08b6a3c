// SYCL stand-in: host-run kernels.
//
// range kernels run as loops over chunks of the index space on the host
// threads. An nd-range work-group runs its work-items as cooperative fibers
// on one thread: each runs until it meets a barrier (or ends), then the
// next; when all have arrived, each resumes in turn. A fiber gets a stack
// only when it starts, and gives it back when it ends, so work-groups
// without barriers reuse one stack.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "runtime.hpp"
#include "worker_blocks.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define QEZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEZ_ASAN 1
#endif
#endif
#ifdef QEZ_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

// ---- Context switch (x86-64 System V) --------------------------------------------
// qez_sycl_fiber_switch(void** save_sp, void* load_sp): saves the callee-saved
// registers and the FP control words on the current stack, stores the stack
// pointer in *save_sp, and continues on load_sp.
extern "C" void qez_sycl_fiber_switch(void** save_sp, void* load_sp);
extern "C" void qez_sycl_fiber_trampoline();
asm(R"(
  .text
  .globl qez_sycl_fiber_switch
  .hidden qez_sycl_fiber_switch
  .type qez_sycl_fiber_switch, @function
qez_sycl_fiber_switch:
  pushq %rbp
  pushq %rbx
  pushq %r12
  pushq %r13
  pushq %r14
  pushq %r15
  subq $16, %rsp
  stmxcsr 8(%rsp)
  fnstcw (%rsp)
  movq %rsp, (%rdi)
  movq %rsi, %rsp
  fldcw (%rsp)
  ldmxcsr 8(%rsp)
  addq $16, %rsp
  popq %r15
  popq %r14
  popq %r13
  popq %r12
  popq %rbx
  popq %rbp
  ret
  .size qez_sycl_fiber_switch, .-qez_sycl_fiber_switch

  .globl qez_sycl_fiber_trampoline
  .hidden qez_sycl_fiber_trampoline
  .type qez_sycl_fiber_trampoline, @function
qez_sycl_fiber_trampoline:
  .cfi_startproc
  .cfi_undefined rip
  movq %r12, %rdi
  callq *%r13
  ud2
  .cfi_endproc
  .size qez_sycl_fiber_trampoline, .-qez_sycl_fiber_trampoline
)");

namespace sycl {
inline namespace _V1 {
namespace detail {
namespace {

size_t fiber_stack_bytes() {
  static const size_t bytes = [] {
    size_t kb = 256;
#ifdef QEZ_ASAN
    kb = 1024;
#endif
    if (const char* v = std::getenv("STANDIN_SYCL_FIBER_STACK_KB"))
      if (long n = std::atol(v); n >= 16) kb = static_cast<size_t>(n);
    return kb * 1024;
  }();
  return bytes;
}

struct stack_block {
  char* base = nullptr;  // lowest usable address (a guard page lies below)
  size_t size = 0;
};

// Per-thread cache of fiber stacks, unmapped when the thread ends.
struct stack_cache {
  std::vector<stack_block> free;
  ~stack_cache() {
    for (auto& s : free) munmap(s.base - 4096, s.size + 4096);
  }
  stack_block take() {
    if (!free.empty()) {
      stack_block s = free.back();
      free.pop_back();
#ifdef QEZ_ASAN
      __asan_unpoison_memory_region(s.base, s.size);
#endif
      return s;
    }
    const size_t size = fiber_stack_bytes();
    void* p = mmap(nullptr, size + 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK,
                   -1, 0);
    if (p == MAP_FAILED) throw_error(errc::memory_allocation, "cannot map a fiber stack");
    mprotect(p, 4096, PROT_NONE);
    return stack_block{static_cast<char*>(p) + 4096, size};
  }
  void give(stack_block s) {
    worker_block_scope kept_by_the_thread;
    free.push_back(s);
  }
};
thread_local stack_cache t_stacks;

struct fiber {
  void* sp = nullptr;
  stack_block stack;
  bool started = false;
  bool finished = false;
  nd_item_state state;
#ifdef QEZ_ASAN
  void* fake_stack = nullptr;
#endif
};

// The work-group a thread is running.
struct group_run {
  const host_kernel* k = nullptr;
  std::vector<fiber> fibers;
  fiber* current = nullptr;
  void* scheduler_sp = nullptr;
  std::exception_ptr error;
#ifdef QEZ_ASAN
  void* scheduler_fake = nullptr;
  const void* scheduler_bottom = nullptr;
  size_t scheduler_size = 0;
#endif
};
thread_local group_run* t_group = nullptr;
thread_local std::vector<std::vector<char>> t_local_blocks;
thread_local void* t_local_bases[64];
thread_local std::vector<void*> t_local_more;

void to_scheduler(group_run& g, fiber& f, bool ending) {
#ifdef QEZ_ASAN
  __sanitizer_start_switch_fiber(ending ? nullptr : &f.fake_stack, g.scheduler_bottom, g.scheduler_size);
#else
  (void)ending;
#endif
  qez_sycl_fiber_switch(&f.sp, g.scheduler_sp);
#ifdef QEZ_ASAN
  __sanitizer_finish_switch_fiber(f.fake_stack, &g.scheduler_bottom, &g.scheduler_size);
#endif
}

void fiber_main(void* arg) {
  group_run& g = *t_group;
  fiber& f = *static_cast<fiber*>(arg);
#ifdef QEZ_ASAN
  __sanitizer_finish_switch_fiber(nullptr, &g.scheduler_bottom, &g.scheduler_size);
#endif
  try {
    g.k->run_item(g.k->functor.get(), f.state);
  } catch (...) {
    if (!g.error) g.error = std::current_exception();
  }
  f.finished = true;
  to_scheduler(g, f, true);
  __builtin_trap();
}

void resume(group_run& g, fiber& f) {
  if (!f.started) {
    f.started = true;
    f.stack = t_stacks.take();
    // Initial frame for qez_sycl_fiber_switch: FP control words, r15..r12,
    // rbx, rbp, then the return address (the trampoline).
    auto top = reinterpret_cast<uintptr_t>(f.stack.base + f.stack.size) & ~uintptr_t(15);
    auto* frame = reinterpret_cast<uint64_t*>(top - 88);
    frame[0] = 0x037F;              // x87 control word
    frame[1] = 0x1F80;              // MXCSR
    frame[2] = 0;                   // r15
    frame[3] = 0;                   // r14
    frame[4] = reinterpret_cast<uint64_t>(&fiber_main);  // r13: entry
    frame[5] = reinterpret_cast<uint64_t>(&f);           // r12: argument
    frame[6] = 0;                   // rbx
    frame[7] = 0;                   // rbp
    frame[8] = reinterpret_cast<uint64_t>(&qez_sycl_fiber_trampoline);
    f.sp = frame;
  }
  g.current = &f;
#ifdef QEZ_ASAN
  __sanitizer_start_switch_fiber(&g.scheduler_fake, f.stack.base, f.stack.size);
#endif
  qez_sycl_fiber_switch(&g.scheduler_sp, f.sp);
#ifdef QEZ_ASAN
  __sanitizer_finish_switch_fiber(g.scheduler_fake, nullptr, nullptr);
#endif
  g.current = nullptr;
  if (f.finished) {
    t_stacks.give(f.stack);
    f.stack = stack_block{};
  }
}

void set_local_memory(const std::vector<size_t>& sizes) {
  worker_block_scope kept_by_the_thread;
  if (t_local_blocks.size() < sizes.size()) t_local_blocks.resize(sizes.size());
  t_local_more.resize(sizes.size() > 64 ? sizes.size() : 0);
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (t_local_blocks[i].size() < sizes[i] + 64) t_local_blocks[i].assign(sizes[i] + 64, 0);
    // 64-byte alignment, as device local memory would have.
    auto p = reinterpret_cast<uintptr_t>(t_local_blocks[i].data());
    void* a = reinterpret_cast<void*>((p + 63) & ~uintptr_t(63));
    if (i < 64) t_local_bases[i] = a;
    else t_local_more[i] = a;
  }
}

void run_group(const host_kernel& k, size_t group_linear, const std::vector<size_t>& local_sizes) {
  const int dims = k.dims;
  nd_item_state base{};
  size_t local_total = 1;
  for (int d = 0; d < 3; ++d) {
    base.global_range[d] = d < dims ? k.global[d] : 1;
    base.local_range[d] = d < dims ? k.local[d] : 1;
    base.group_range[d] = base.global_range[d] / base.local_range[d];
    base.offset[d] = d < dims ? k.offset[d] : 0;
  }
  for (int d = 0; d < dims; ++d) local_total *= base.local_range[d];
  // Group id from the linear index, last dimension fastest.
  size_t rest = group_linear;
  for (int d = dims - 1; d >= 0; --d) {
    base.group_id[d] = rest % base.group_range[d];
    rest /= base.group_range[d];
  }
  set_local_memory(local_sizes);
  auto local_id = [&](size_t lin, nd_item_state& s) {
    for (int d = dims - 1; d >= 0; --d) {
      s.local_id[d] = lin % base.local_range[d];
      lin /= base.local_range[d];
    }
  };

  group_run g;
  g.k = &k;
  g.fibers.resize(local_total);
  for (size_t i = 0; i < local_total; ++i) {
    g.fibers[i].state = base;
    local_id(i, g.fibers[i].state);
  }
  group_run* outer = t_group;
  t_group = &g;
  struct restore {
    group_run* outer;
    ~restore() { t_group = outer; }
  } restore_guard{outer};
  // Rounds: every unfinished work-item runs to its next barrier or its end.
  for (;;) {
    bool any = false;
    for (auto& f : g.fibers)
      if (!f.finished) {
        resume(g, f);
        any = true;
        if (g.error) break;
      }
    if (g.error || !any) break;
    bool all_done = true;
    for (auto& f : g.fibers) all_done = all_done && f.finished;
    if (all_done) break;
  }
  for (auto& f : g.fibers)
    if (f.stack.base) t_stacks.give(f.stack);  // abandoned after an error
  if (g.error) std::rethrow_exception(g.error);
}

}  // namespace

void work_group_barrier() {
  group_run* g = t_group;
  if (!g || !g->current) return;  // a work-group of one work-item
  to_scheduler(*g, *g->current, false);
}

void* local_memory(size_t slot) { return slot < 64 ? t_local_bases[slot] : t_local_more[slot]; }

void run_host_kernel(const host_kernel& k, const std::vector<size_t>& local_sizes) {
  if (!k.nd) {
    size_t total = 1;
    for (int d = 0; d < k.dims; ++d) total *= k.global[d];
    if (total == 0) return;
    const size_t chunks = std::min<size_t>(total, host_concurrency() * 4);
    const size_t per = (total + chunks - 1) / chunks;
    parallel_loop((total + per - 1) / per, [&](size_t c) {
      specialization_scope constants(k.spec_constants.get());
      k.run_range(k.functor.get(), k.global, k.offset, c * per, std::min(total, (c + 1) * per));
    });
    return;
  }
  size_t groups = 1;
  for (int d = 0; d < k.dims; ++d) groups *= k.global[d] / k.local[d];
  if (groups == 0) return;
  parallel_loop(groups, [&](size_t g) {
    specialization_scope constants(k.spec_constants.get());
    run_group(k, g, local_sizes);
  });
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
