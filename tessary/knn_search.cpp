#include "knn_search.hpp"

#include <omp.h>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

namespace tessary {

void knnSearch(const PointIndex& index, const double* queries, std::int32_t queryCount, std::int32_t k,
               double* numbers, double* squaredDistances) {
    using Slot = Eigen::Index;
    // No more than pointCount slots can be filled, and a smaller result set
    // finds the same neighbours: while it is not full nothing is pruned.
    const std::int32_t capacity = std::min(k, index.pointCount());
    const int threads = omp_get_max_threads();
    std::vector<Slot> slots(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(threads));
    constexpr double unfilled = std::numeric_limits<double>::infinity();

#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < queryCount; ++i) {
        const std::size_t column = static_cast<std::size_t>(i) * static_cast<std::size_t>(k);
        double* columnNumbers = numbers + column;
        double* columnDistances = squaredDistances + column;
        Slot* found = slots.data() + static_cast<std::size_t>(capacity) * omp_get_thread_num();
        std::size_t filled = 0;
        if (capacity > 0) {
            nanoflann::KNNResultSet<double, Slot> result(static_cast<std::size_t>(capacity));
            result.init(found, columnDistances);
            index.tree().index->findNeighbors(result, queries + 3 * static_cast<std::size_t>(i),
                                              nanoflann::SearchParams());
            filled = result.size();
        }
        for (std::size_t j = 0; j < filled; ++j) columnNumbers[j] = static_cast<double>(found[j] + 1);
        for (std::size_t j = filled; j < static_cast<std::size_t>(k); ++j) {
            columnNumbers[j] = 0.0;
            columnDistances[j] = unfilled;
        }
    }
}

}  // namespace tessary
