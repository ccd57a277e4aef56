// DBSCAN of the caller's points with the caller's parameters, in double
// precision, labelled as MATLAB's dbscan labels them.
#pragma once

#include <cstdint>

namespace tessary {

// The radii the rule below is kept for. Within them epsilon squared, and the
// squares of any two points near epsilon apart, are normal doubles far from
// either end of the range, so the rounded rule answers as the geometry the
// grid relies on does (two points of one cell, less than epsilon apart, are
// never tested). Beyond them a square overflows or loses its digits to
// underflow, and the rule and the geometry part.
constexpr double densityEpsilonLow = 1e-150, densityEpsilonHigh = 1e150;
inline bool densityEpsilonFits(double epsilon) {
    return epsilon >= densityEpsilonLow && epsilon <= densityEpsilonHigh;
}

// `rows`: an m x 3 column-major matrix, one point per row. Whether every
// finite coordinate lies close enough to the origin, relative to epsilon,
// for the grid that finds the neighbours.
bool densityClustersFit(const double* rows, std::int32_t m, double epsilon);

// Points are neighbours when sqrt((dx*dx + dy*dy) + dz*dz) in double is at
// most epsilon; a core point has at least minPts neighbours, itself counted.
// idx (m) gets -1 for noise and clusters 1, 2, ... in the order of their
// lowest-numbered core point; a border point joins the lowest-numbered
// cluster among its core neighbours. core (m) is 1 at core points. Rows
// with a NaN or infinite coordinate are noise. Requires densityClustersFit.
void densityClusters(const double* rows, std::int32_t m, double epsilon, std::uint32_t minPts, double* idx,
                     std::uint8_t* core);

}  // namespace tessary
