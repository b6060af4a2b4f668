#include "alloc_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace quintrel::fixture {
namespace {
std::atomic<long> g_allocations_left{-1};
}  // namespace

void fail_allocation_after(long n) { g_allocations_left = n; }

}  // namespace quintrel::fixture

void* operator new(size_t n) {
  auto& left = quintrel::fixture::g_allocations_left;
  if (left.load(std::memory_order_relaxed) >= 0 && left.fetch_sub(1) == 0) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
// The nothrow forms too (std::stable_sort's buffer uses them): left to the
// sanitizer's allocator, their blocks would be freed by the delete above.
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return operator new(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
