// Exact K-nearest search of many query points on a PointIndex.
#pragma once

#include <cstdint>

#include "point_index.hpp"
#include "query_rows.hpp"

namespace tessary {

// Among equal distances: the point the tree search meets first, as
// nanoflann orders them, or the smaller point number first (and at the
// k-th place the smallest numbers kept).
enum class Ties { asMet, byNumber };

// For query column i of `queries` (3 x queryCount, column-major) writes
// column i of `numbers` and `squaredDistances` (k x queryCount each): the
// 1-based point numbers and squared distances of the k nearest indexed points,
// nearest first, ties as `ties` says. Slots that no point fills report number
// 0 and distance +Inf. Query points are searched in parallel; the result does
// not depend on the number of threads.
void knnSearch(const PointIndex& index, const double* queries, std::int32_t queryCount, std::int32_t k,
               double* numbers, double* squaredDistances, Ties ties = Ties::asMet);

// The users' layer's search: the k nearest points of every query (k at
// most pointCount), nearest first, equal squared distances by row, into
// rows and distances (m x k, column-major). A query for which fewer than k points were found (a NaN coordinate, or
// distances that overflow) gets rows 1 .. k and distances NaN where a
// coordinate is NaN, else Inf. `kthSquared`, when not null, gets each
// query's k-th squared distance (NaN for such a query): the squared radius
// of its ties.
void knnRows(const PointIndex& index, const QueryRows& queries, std::int32_t k, const RowMap& map, double* rows,
             double* distances, double* kthSquared);

}  // namespace tessary
