// Asks the processor to fetch memory that will be needed soon, where the
// compiler offers a way to; elsewhere it does nothing.
#pragma once

#if !defined(__GNUC__) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#endif

namespace tessary {

inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#elif defined(_M_X64) || defined(_M_IX86)
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
    (void)address;
#endif
}

}  // namespace tessary
