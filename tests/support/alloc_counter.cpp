#include "support/alloc_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define QV_ALLOC_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ALLOC_ASAN 1
#endif
#endif

namespace {

std::atomic<uint64_t> g_allocations{0};
std::atomic<int> g_traceLeft{0};

}  // namespace

uint64_t AllocationCount() { return g_allocations.load(std::memory_order_relaxed); }

void TraceNextAllocations(int n) { g_traceLeft.store(n, std::memory_order_relaxed); }

#ifdef QV_ALLOC_ASAN
// The sanitizer runtime's own interface (its headers are not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
extern "C" void __sanitizer_print_stack_trace();

namespace {
thread_local bool g_inTrace = false;

void OnMalloc(const volatile void*, size_t) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  // Printing a stack allocates itself: one level only.
  if (g_traceLeft.load(std::memory_order_relaxed) > 0 && !g_inTrace) {
    g_inTrace = true;
    g_traceLeft.fetch_sub(1);
    std::fprintf(stderr, "--- traced allocation:\n");
    __sanitizer_print_stack_trace();
    g_inTrace = false;
  }
}
void OnFree(const volatile void*) {}
[[maybe_unused]] const int g_hooks = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t m) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
}
#endif
