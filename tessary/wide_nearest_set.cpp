#include "wide_nearest_set.hpp"

#if TESSARY_WIDE_SET && !defined(__GNUC__)
#include <intrin.h>
#endif

namespace tessary {

bool wideSetUsable() {
#if TESSARY_WIDE_SET && defined(__GNUC__)
    // Checks the system's saving of the wide registers (XGETBV) too.
    static const bool usable = __builtin_cpu_supports("avx2");
    return usable;
#elif TESSARY_WIDE_SET
    const auto check = [] {
        int r[4];
        __cpuid(r, 0);
        if (r[0] < 7) return false;
        __cpuid(r, 1);
        constexpr int osxsave = 1 << 27, avx = 1 << 28;
        if ((r[2] & (osxsave | avx)) != (osxsave | avx) || (_xgetbv(0) & 6) != 6) return false;
        __cpuidex(r, 7, 0);
        return (r[1] & (1 << 5)) != 0;
    };
    static const bool usable = check();
    return usable;
#else
    return false;
#endif
}

}  // namespace tessary
