// Every indexed point within a radius of each query, and the searches of
// the users' layer: queries and results as rows, point numbers mapped to
// the rows of the caller's cloud, distances Euclidean, ties by row.
#pragma once

#include <cstdint>
#include <vector>

#include "point_index.hpp"

namespace tessary {

// Queries as the rows of an m x 3 column-major matrix.
struct QueryRows {
    const double* data;
    std::int32_t count;
    void load(std::int32_t i, double* q) const {
        const std::size_t m = static_cast<std::size_t>(count);
        q[0] = data[i];
        q[1] = data[i + m];
        q[2] = data[i + 2 * m];
    }
};

// The row of the caller's cloud that each point number names: rows[n - 1],
// or n itself when rows is null (every row indexed).
struct RowMap {
    const double* rows;
    double of(double number) const { return rows == nullptr ? number : rows[static_cast<std::size_t>(number) - 1]; }
};

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

// Writes query i's points, counts[i] at most, to rows[i] (their rows of the
// cloud) and distances[i] (Euclidean), nearest first and equal squared
// distances by row when `sorted`, in the order the search meets them
// otherwise; what it finds no point for is left as it is.
void rangeCollect(const PointIndex& index, const QueryRows& queries, const SquaredRadii& radii, bool sorted,
                  const RowMap& map, const std::int64_t* counts, double* const* rows, double* const* distances);

// The k = min(K, pointCount) nearest points of every query, nearest first,
// equal squared distances by row: rows and distances m x k, column-major.
// A query for which fewer than k points were found (a NaN coordinate, or
// distances that overflow) gets rows 1 .. k and distances NaN where a
// coordinate is NaN, else Inf. `kthSquared`, when not null, gets each
// query's k-th squared distance (NaN for such a query): the squared radius
// of its ties.
void knnRows(const PointIndex& index, const QueryRows& queries, std::int32_t k, const RowMap& map, double* rows,
             double* distances, double* kthSquared);

}  // namespace tessary
