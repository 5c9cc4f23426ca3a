#include "HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {
namespace {

std::atomic<size_t> gInUse{0};
std::atomic<size_t> gPeak{0};

void Count(void* p) {
  if (p == nullptr) return;
  const size_t now = gInUse.fetch_add(malloc_usable_size(p), std::memory_order_relaxed) + malloc_usable_size(p);
  size_t peak = gPeak.load(std::memory_order_relaxed);
  while (now > peak && !gPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void Uncount(void* p) {
  if (p != nullptr) gInUse.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
}

void* Allocate(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  Count(p);
  return p;
}

void* AllocateAligned(size_t size, std::align_val_t align) {
  void* p = std::aligned_alloc(static_cast<size_t>(align),
                               (size + static_cast<size_t>(align) - 1) / static_cast<size_t>(align) *
                                   static_cast<size_t>(align));
  if (p == nullptr) throw std::bad_alloc();
  Count(p);
  return p;
}

void Free(void* p) {
  Uncount(p);
  std::free(p);
}

}  // namespace

size_t HeapInUse() { return gInUse.load(); }
size_t ResetHeapPeak() {
  const size_t now = gInUse.load();
  gPeak.store(now);
  return now;
}
size_t HeapPeak() { return gPeak.load(); }

}  // namespace bench

void* operator new(size_t size) { return bench::Allocate(size); }
void* operator new[](size_t size) { return bench::Allocate(size); }
void* operator new(size_t size, std::align_val_t align) { return bench::AllocateAligned(size, align); }
void* operator new[](size_t size, std::align_val_t align) { return bench::AllocateAligned(size, align); }
void operator delete(void* p) noexcept { bench::Free(p); }
void operator delete[](void* p) noexcept { bench::Free(p); }
void operator delete(void* p, size_t) noexcept { bench::Free(p); }
void operator delete[](void* p, size_t) noexcept { bench::Free(p); }
void operator delete(void* p, std::align_val_t) noexcept { bench::Free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { bench::Free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { bench::Free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { bench::Free(p); }
