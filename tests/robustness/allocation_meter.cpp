#include "robustness/allocation_meter.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (declared here: gcc ships the runtime without its headers).
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace calvex::testing {
namespace {

std::atomic<std::int64_t> held{0};
std::atomic<std::int64_t> base{0};
std::atomic<std::int64_t> peak{0};
std::atomic<std::int64_t> largest{0};
std::atomic<bool> metering{false};

void Allocated(std::int64_t bytes) {
  const std::int64_t now = held.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  if (!metering.load(std::memory_order_relaxed)) return;
  std::int64_t p = peak.load(std::memory_order_relaxed);
  while (now > p && !peak.compare_exchange_weak(p, now, std::memory_order_relaxed)) {
  }
  std::int64_t l = largest.load(std::memory_order_relaxed);
  while (bytes > l && !largest.compare_exchange_weak(l, bytes, std::memory_order_relaxed)) {
  }
}

void Freed(std::int64_t bytes) {
  held.fetch_sub(bytes, std::memory_order_relaxed);
}

}  // namespace

AllocationMeter::AllocationMeter() {
  base = held.load();
  peak = base.load();
  largest = 0;
  metering = true;
}

AllocationMeter::~AllocationMeter() {
  metering = false;
}

std::int64_t AllocationMeter::PeakBytes() const {
  return peak.load() - base.load();
}

std::int64_t AllocationMeter::LargestBlock() const {
  return largest.load();
}

}  // namespace calvex::testing

#if defined(__SANITIZE_ADDRESS__)

// AddressSanitizer calls these for every allocation and release of the process.
extern "C" void __sanitizer_malloc_hook(const volatile void*, std::size_t size) {
  calvex::testing::Allocated(static_cast<std::int64_t>(size));
}
extern "C" void __sanitizer_free_hook(const volatile void* p) {
  calvex::testing::Freed(static_cast<std::int64_t>(__sanitizer_get_allocated_size(p)));
}

#else

// The global operator new and delete of the test program, counting what they hand out.
namespace {

void* Allocate(std::size_t size, std::size_t alignment) {
  void* p = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    p = std::malloc(size == 0 ? 1 : size);
  } else if (posix_memalign(&p, alignment, size == 0 ? alignment : size) != 0) {
    p = nullptr;
  }
  if (p != nullptr) calvex::testing::Allocated(static_cast<std::int64_t>(malloc_usable_size(p)));
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  calvex::testing::Freed(static_cast<std::int64_t>(malloc_usable_size(p)));
  std::free(p);
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  void* p = Allocate(size, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t size) {
  return AllocateOrThrow(size, 0);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a) {
  return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
  Release(p);
}
void operator delete[](void* p) noexcept {
  Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  Release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  Release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  Release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  Release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(p);
}

#endif
