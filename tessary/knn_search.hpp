// Exact K-nearest search of many query points on a PointIndex.
#pragma once

#include <cstdint>

#include "point_index.hpp"

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

}  // namespace tessary
