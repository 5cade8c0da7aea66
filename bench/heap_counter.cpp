// The replaced global operator new and delete. Each block's size is what malloc_usable_size
// says, so that delete, which is not always told the size, subtracts what new added.
#include "heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Written by every thread that allocates (the benchmarks run on one thread, but the stand-in
// and the board may start others).
std::atomic<size_t> liveBytes{0};
std::atomic<size_t> peakBytes{0};

void Count(void* block) {
    const size_t size = malloc_usable_size(block);
    const size_t live = liveBytes.fetch_add(size) + size;
    size_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
}

void Uncount(void* block) { liveBytes.fetch_sub(malloc_usable_size(block)); }

void* Allocate(size_t size, size_t alignment) {
    if (size == 0) size = 1;
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size);
    } else if (posix_memalign(&block, alignment, size) != 0) {
        block = nullptr;
    }
    if (block != nullptr) Count(block);
    return block;
}

void Release(void* block) {
    if (block == nullptr) return;
    Uncount(block);
    std::free(block);
}

void* AllocateOrThrow(size_t size, size_t alignment) {
    void* block = Allocate(size, alignment);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

constexpr size_t kPlain = alignof(std::max_align_t);

}  // namespace

size_t HeapLiveBytes() { return liveBytes.load(); }

size_t HeapPeakBytes() { return peakBytes.load(); }

void ResetHeapPeak() { peakBytes.store(liveBytes.load()); }

void* operator new(size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new[](size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new(size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return Allocate(size, static_cast<size_t>(alignment));
}

void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    Release(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    Release(block);
}
