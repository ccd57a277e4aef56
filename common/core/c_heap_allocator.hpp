// Standard allocator over the C heap. The module's static state uses it so
// that nothing static ever holds host memory: the host may already have torn
// down its allocator when a module's static destructors run at exit.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>

namespace common {

template <typename T>
struct CHeapAllocator {
    using value_type = T;

    CHeapAllocator() = default;
    template <typename U>
    CHeapAllocator(const CHeapAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* block = std::malloc(n * sizeof(T));
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }

    void deallocate(T* block, std::size_t) noexcept { std::free(block); }

    template <typename U>
    bool operator==(const CHeapAllocator<U>&) const noexcept { return true; }
    template <typename U>
    bool operator!=(const CHeapAllocator<U>&) const noexcept { return false; }
};

}  // namespace common
