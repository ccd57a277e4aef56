// Asks the processor to fetch memory that will be needed soon, where the
// compiler offers a way to; elsewhere it does nothing.
#pragma once

namespace tessary {

inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

}  // namespace tessary
