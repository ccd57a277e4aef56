// The squared distance from a query to a point, worked out as nanoflann
// does and as every search here must, so that their results agree to the
// bit: nanoflann starts from 0 and adds each axis's square in turn; a square
// is +0 or more (or NaN), which 0 + leaves as it is.
#pragma once

namespace tessary {

inline double squaredDistance(const double* q, double x, double y, double z) {
    const double d0 = q[0] - x, d1 = q[1] - y, d2 = q[2] - z;
    double dist = d0 * d0;
    dist += d1 * d1;
    dist += d2 * d2;
    return dist;
}

}  // namespace tessary
