// Global allocation operators: every block comes from the host's allocator and
// is made persistent at once, so objects outlive the call that made them and
// every block is handed back with mxFree. The host allocator is not
// thread-safe: nothing may allocate through here inside a parallel region.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "mex.h"

namespace {

// The first allocation comes from the host's calling thread (a module's
// static initialisation allocates nothing through here).
const std::thread::id& hostThread() {
    static const std::thread::id caller = std::this_thread::get_id();
    return caller;
}

// A block taken or freed on a worker thread would corrupt the host's
// allocator; stop at once rather than crash later somewhere else.
void requireHostThread() {
    if (std::this_thread::get_id() == hostThread()) return;
    std::fputs("allocation through the host's allocator on a worker thread\n", stderr);
    std::abort();
}

void* hostAllocate(std::size_t size) {
    requireHostThread();
    void* block = mxMalloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    mexMakeMemoryPersistent(block);
    return block;
}

void hostRelease(void* block) noexcept {
    if (block == nullptr) return;
    requireHostThread();
    mxFree(block);
}

// Over-aligned blocks keep the host block's address just before the aligned
// address they return.
void* alignedAllocate(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    if (size > SIZE_MAX - align - sizeof(void*)) throw std::bad_alloc();
    void* raw = hostAllocate(size + align + sizeof(void*));
    const auto start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    void* aligned = reinterpret_cast<void*>((start + align - 1) & ~(std::uintptr_t{align} - 1));
    static_cast<void**>(aligned)[-1] = raw;
    return aligned;
}

void alignedRelease(void* block) noexcept {
    if (block != nullptr) hostRelease(static_cast<void**>(block)[-1]);
}

template <typename Allocate>
void* withoutThrowing(Allocate allocate) noexcept {
    try {
        return allocate();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

void* operator new(std::size_t size) { return hostAllocate(size); }
void* operator new[](std::size_t size) { return hostAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return withoutThrowing([=] { return hostAllocate(size); });
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return withoutThrowing([=] { return hostAllocate(size); });
}
void* operator new(std::size_t size, std::align_val_t alignment) { return alignedAllocate(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return alignedAllocate(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return withoutThrowing([=] { return alignedAllocate(size, alignment); });
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return withoutThrowing([=] { return alignedAllocate(size, alignment); });
}

void operator delete(void* block) noexcept { hostRelease(block); }
void operator delete[](void* block) noexcept { hostRelease(block); }
void operator delete(void* block, std::size_t) noexcept { hostRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { hostRelease(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { hostRelease(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { hostRelease(block); }
void operator delete(void* block, std::align_val_t) noexcept { alignedRelease(block); }
void operator delete[](void* block, std::align_val_t) noexcept { alignedRelease(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { alignedRelease(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { alignedRelease(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { alignedRelease(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { alignedRelease(block); }
