// A vector whose elements start uninitialised when it is sized: for large
// arrays that are written in full right away, by several threads, so that
// their pages are first touched in parallel and only once.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tessary {

template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T>
using UninitializedVector = std::vector<T, DefaultInitAllocator<T>>;

}  // namespace tessary
