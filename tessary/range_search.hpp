// Every indexed point within a radius of each query, for the users' layer:
// queries and results as rows, point numbers mapped to the rows of the
// caller's cloud, distances Euclidean.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "point_index.hpp"
#include "query_rows.hpp"
#include "uninitialized.hpp"

namespace tessary {

// A radius per query, as the largest squared distance that is within it
// (squaredLimit), or one for all.
struct SquaredRadii {
    const double* each;  // null: `all` for every query
    double all;
    double of(std::int32_t i) const { return each == nullptr ? all : each[i]; }
};

// The search a block of queries at a time, so that the host can make each
// block's results once it knows their sizes: search() finds the points of
// a block's queries and counts them, write() puts them where the host made
// room for them. A point is within a query's radius when its squared
// distance, computed as the K-nearest search computes it ((dx*dx + dy*dy) +
// dz*dz), is at most the query's squared radius.
//
// One traversal a query finds its points and keeps them in scratch memory
// of its thread's own, as far as that holds them; write() searches again
// only for the queries it did not hold.
class RangeSearch {
public:
    // `queries`, `radii` and `map` are referred to until the last write().
    RangeSearch(const PointIndex& index, const QueryRows& queries, const SquaredRadii& radii, bool sorted,
                const RowMap& map);

    // How many queries from `first` on the next block should hold: about as
    // many as the scratch holds the points of, judged by the last block.
    std::int32_t nextBlockEnd(std::int32_t first) const;

    // Searches queries first .. last - 1: counts[i] gets how many points lie
    // within query i's radius.
    void search(std::int32_t first, std::int32_t last, std::int64_t* counts);

    // Writes the points of each query i from first to last - 1 (of the
    // block last searched), counts[i] at most, to rows[i] (their rows of the
    // cloud) and distances[i] (Euclidean): nearest first and equal squared
    // distances by row when `sorted`, in the order the search meets them
    // otherwise. What it finds no point for is left as it is.
    void write(std::int32_t first, std::int32_t last, const std::int64_t* counts, double* const* rows,
               double* const* distances);

private:
    const PointIndex& index_;
    QueryRows queries_;
    SquaredRadii radii_;
    bool sorted_;
    RowMap map_;
    std::size_t threads_;
    std::vector<PointIndex::Pending> stacks_;
    // Each thread's kept points: squared distances and point numbers.
    UninitializedVector<double> keptDistances_, keptNumbers_;
    // Per query of the block: where its points start in the kept ones (or
    // notKept), and how many were found.
    std::vector<std::int64_t> keptAt_, found_;
    std::int32_t blockFirst_ = 0;
    double pointsPerQuery_ = 0;
    std::vector<std::pair<double, double>> sortBuffers_;
};

}  // namespace tessary
