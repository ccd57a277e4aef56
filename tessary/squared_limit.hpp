// The largest square whose rounded square root is at most a radius: the
// square root rounds monotonically, so s <= squaredLimit(r) is the same test
// as sqrt(s), rounded, being at most r, without a square root.
#pragma once

#include <cmath>
#include <limits>

namespace tessary {

// `within(s)`: whether sqrt(s), rounded as the caller rounds it, is at most
// the radius, whose square is `square`. An infinite radius holds every
// square, +Inf included; a negative or NaN one holds none, so the result is
// -Inf. (The walks below would not end for either.)
template <typename T, typename Within>
T squaredLimitOf(T square, Within within) {
    constexpr T inf = std::numeric_limits<T>::infinity();
    if (within(inf)) return inf;
    if (!within(T{0})) return -inf;
    T s = square;
    while (!within(s)) s = std::nextafter(s, T{0});
    while (within(std::nextafter(s, inf))) s = std::nextafter(s, inf);
    return s;
}

// For double distances: sqrt(s) <= radius exactly when s <= the result.
inline double squaredLimit(double radius) {
    return squaredLimitOf(radius * radius, [radius](double s) { return radius >= std::sqrt(s); });
}

}  // namespace tessary
