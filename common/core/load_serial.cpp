#include "load_serial.hpp"

#include <chrono>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace common {
namespace {

// The finaliser of splitmix64: every input bit reaches every output bit.
std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

std::uint64_t processId() {
#if defined(_WIN32)
    return static_cast<std::uint64_t>(_getpid());
#else
    return static_cast<std::uint64_t>(getpid());
#endif
}

// Where the module's data lies, which address-space randomisation moves.
const char anchor = 0;

}  // namespace

std::uint32_t loadSerial() {
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&anchor));
    return static_cast<std::uint32_t>(mix(mix(ticks ^ (processId() << 40)) ^ address));
}

}  // namespace common
