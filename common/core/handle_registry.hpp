// The live objects of one module, keyed by the 32-bit token that a handle
// carries. The token's top byte is the module's tag, so a handle of another
// module or a made-up one names no object here; a deleted object's token is
// never handed out again until the 24-bit serial wraps around. Serials count
// up from the one the registry is given, which each load of a module draws
// afresh, so that a handle kept from another load or process names no object
// of this one unless its serial lies among those handed out here.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>

#include "c_heap_allocator.hpp"

namespace common {

class HandleRegistry {
public:
    // `firstSerial`: the serial of the first token; its low 24 bits are
    // taken, and 0, which no token carries, stands for 1.
    HandleRegistry(std::uint8_t tag, std::uint32_t firstSerial);

    // Throws std::length_error when every serial is in use, std::bad_alloc
    // when the table cannot grow; the registry is unchanged then.
    std::uint32_t add(void* object);

    // The object behind `token`, or nullptr when it names no live object.
    void* find(std::uint32_t token) const;

    // Forgets `token`; returns its object, or nullptr when it was not live.
    void* remove(std::uint32_t token);

    std::size_t size() const { return live_.size(); }

    static constexpr std::uint32_t serialMask = 0x00FFFFFFu;

private:
    using Entry = std::pair<const std::uint32_t, void*>;
    std::uint8_t tag_;
    std::uint32_t nextSerial_;
    std::unordered_map<std::uint32_t, void*, std::hash<std::uint32_t>, std::equal_to<std::uint32_t>,
                       CHeapAllocator<Entry>>
        live_;
};

}  // namespace common
