// Every indexed point within a radius of each query, for the users' layer:
// queries and results as rows, point numbers mapped to the rows of the
// caller's cloud, distances Euclidean.
#pragma once

#include <cstdint>
#include <vector>

#include "point_index.hpp"
#include "query_rows.hpp"

namespace tessary {

// A radius per query, as the largest squared distance that is within it
// (squaredLimit), or one for all.
struct SquaredRadii {
    const double* each;  // null: `all` for every query
    double all;
    double of(std::int32_t i) const { return each == nullptr ? all : each[i]; }
};

// The points within each query's radius: their squared distance, computed
// as the K-nearest search computes it ((dx*dx + dy*dy) + dz*dz), is at
// most the query's squared radius. counts[i] gets how many.
void rangeCount(const PointIndex& index, const QueryRows& queries, const SquaredRadii& radii, std::int64_t* counts);

// Writes the points of each query i from first to last - 1, counts[i] at
// most, to rows[i] (their rows of the cloud) and distances[i] (Euclidean),
// nearest first and equal squared distances by row when `sorted`, in the
// order the search meets them otherwise; what it finds no point for is left
// as it is.
void rangeCollect(const PointIndex& index, const QueryRows& queries, std::int32_t first, std::int32_t last,
                  const SquaredRadii& radii, bool sorted, const RowMap& map, const std::int64_t* counts,
                  double* const* rows, double* const* distances);

}  // namespace tessary
