// Heap accounting for one benchmark program: include it in exactly one file,
// which then replaces the global operator new and delete. Counts the bytes
// live on the heap and the most live since the last start_peak().
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace quintrel::bench {

inline std::atomic<int64_t> g_heap_live{0}, g_heap_peak{0};

inline void count_heap(int64_t delta) {
  const int64_t now = g_heap_live.fetch_add(delta, std::memory_order_relaxed) + delta;
  int64_t peak = g_heap_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_heap_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

// Starts a measurement; peak_since(start) is then the most allocated on top
// of what was live at the start.
inline int64_t start_peak() {
  const int64_t live = g_heap_live.load();
  g_heap_peak.store(live);
  return live;
}
inline int64_t peak_since(int64_t start) { return g_heap_peak.load() - start; }

}  // namespace quintrel::bench

void* operator new(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  quintrel::bench::count_heap(static_cast<int64_t>(malloc_usable_size(p)));
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  quintrel::bench::count_heap(-static_cast<int64_t>(malloc_usable_size(p)));
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
