// exp and log from additions, multiplications and exact scalings only.
// The C library's exp and log differ in the last bit from one platform's
// library to another's (glibc, the Windows runtimes, Apple's); these give
// the same bits everywhere a double rounds as IEEE 754 says. Accurate to
// about one unit in the last place, which is all registration needs.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tessary {

// ln 2 in two parts: the first has zeros in its low bits, so that k * it is
// exact for every |k| < 2^11.
constexpr double ln2High = 6.93147180369123816490e-01;
constexpr double ln2Low = 1.90821492927058770002e-10;

constexpr double factorial(int n) { return n <= 1 ? 1.0 : n * factorial(n - 1); }

// 1 / n! for n = 0 .. 14, each rounded once, at compile time.
struct InverseFactorials {
    double value[15] = {};
    constexpr InverseFactorials() {
        for (int n = 0; n < 15; ++n) value[n] = 1.0 / factorial(n);
    }
};
constexpr InverseFactorials inverseFactorials{};

// 2^k for -1022 <= k <= 1023, from its bits.
inline double powerOfTwo(int k) {
    const std::uint64_t bits = static_cast<std::uint64_t>(k + 1023) << 52;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// e^x; 0 below the smallest subnormal, +Inf above the largest double.
inline double portableExp(double x) {
    if (!(x == x)) return x;
    if (x < -746.0) return 0.0;
    if (x > 710.0) return std::numeric_limits<double>::infinity();
    // x = k ln 2 + r, |r| <= ln 2 / 2, then Taylor's series of e^r to r^14
    // (the next term is below 2^-60 of the sum), by Horner's rule.
    // k rounded to the nearest integer, ties to even, as nearbyint rounds
    // it, by adding and subtracting 1.5 * 2^52, without a call.
    constexpr double rounder = 6755399441055744.0;
    const double k = (x * 1.44269504088896338700 + rounder) - rounder;
    const double r = (x - k * ln2High) - k * ln2Low;
    double sum = inverseFactorials.value[14];
    for (int n = 13; n >= 0; --n) sum = sum * r + inverseFactorials.value[n];
    // Two scalings by powers of two within the normal range: the first is
    // exact, the second exact or rounded once, as ldexp would round.
    const int half = static_cast<int>(k) / 2;
    return sum * powerOfTwo(half) * powerOfTwo(static_cast<int>(k) - half);
}

// ln x for finite positive x; NaN for negative or NaN, -Inf at 0.
inline double portableLog(double x) {
    if (!(x > 0.0)) return x == 0.0 ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    if (x == std::numeric_limits<double>::infinity()) return x;
    // x = m 2^e with m in [sqrt(1/2), sqrt(2)), then ln m = 2 atanh(s) with
    // s = (m - 1) / (m + 1), |s| < 0.172: its odd series to s^41.
    int e;
    double m = std::frexp(x, &e);
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        --e;
    }
    const double s = (m - 1.0) / (m + 1.0), s2 = s * s;
    double sum = 0.0;
    for (int n = 41; n >= 3; n -= 2) sum = (sum + 1.0 / n) * s2;
    const double lnM = 2.0 * s + 2.0 * s * sum;
    return (e * ln2High + lnM) + e * ln2Low;
}

}  // namespace tessary
