#include "knn_search.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

namespace tessary {
namespace {

constexpr int cellBits = 10;  // per axis: a curve through 2^30 cells

std::uint32_t spreadBits(std::uint32_t v) {
    v = (v | (v << 16)) & 0x030000FFu;
    v = (v | (v << 8)) & 0x0300F00Fu;
    v = (v | (v << 4)) & 0x030C30C3u;
    v = (v | (v << 2)) & 0x09249249u;
    return v;
}

// Position of a query on a Morton curve over the index's bounding box;
// queries outside it are clamped, non-finite ones go last.
std::uint32_t curveKey(const double* q, const PointIndex& index) {
    const auto& box = index.tree().index->root_bbox;
    std::uint32_t key = 0;
    for (int d = 0; d < 3; ++d) {
        const double span = box[d].high - box[d].low;
        const double t = span > 0 ? (q[d] - box[d].low) / span : 0.0;
        if (!(t == t)) return std::numeric_limits<std::uint32_t>::max();
        const double cell = std::min(std::max(t, 0.0), 1.0) * ((1u << cellBits) - 1);
        key |= spreadBits(static_cast<std::uint32_t>(cell)) << d;
    }
    return key;
}

// Queries in curve order, so that consecutive searches walk the same part of
// the tree and find it in cache. Two passes of a 16-bit counting sort.
std::vector<std::int32_t> curveOrder(const PointIndex& index, const double* queries, std::int32_t count) {
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < count; ++i) keys[i] = curveKey(queries + 3 * static_cast<std::size_t>(i), index);
    std::vector<std::int32_t> order(static_cast<std::size_t>(count)), scratch(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) scratch[i] = i;
    std::vector<std::size_t> start(1u << 16);
    for (int shift : {0, 16}) {
        std::fill(start.begin(), start.end(), 0);
        for (std::int32_t i = 0; i < count; ++i) ++start[(keys[i] >> shift) & 0xFFFFu];
        std::size_t sum = 0;
        for (auto& s : start) sum += std::exchange(s, sum);
        for (std::int32_t i : scratch) order[start[(keys[i] >> shift) & 0xFFFFu]++] = i;
        std::swap(order, scratch);
    }
    return scratch;
}

}  // namespace

void knnSearch(const PointIndex& index, const double* queries, std::int32_t queryCount, std::int32_t k,
               double* numbers, double* squaredDistances) {
    using Slot = PointIndex::Slot;
    // No more than pointCount slots can be filled, and a smaller result set
    // finds the same neighbours: while it is not full nothing is pruned.
    const std::int32_t capacity = std::min(k, index.pointCount());
    constexpr double unfilled = std::numeric_limits<double>::infinity();
    if (capacity == 0) {
        std::fill(numbers, numbers + static_cast<std::size_t>(k) * queryCount, 0.0);
        std::fill(squaredDistances, squaredDistances + static_cast<std::size_t>(k) * queryCount, unfilled);
        return;
    }
    const std::vector<std::int32_t> order = curveOrder(index, queries, queryCount);
    const int threads = omp_get_max_threads();
    std::vector<Slot> slots(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(threads));

#pragma omp parallel for schedule(static)
    for (std::int32_t t = 0; t < queryCount; ++t) {
        const std::int32_t i = order[t];
        const std::size_t column = static_cast<std::size_t>(i) * static_cast<std::size_t>(k);
        double* columnNumbers = numbers + column;
        double* columnDistances = squaredDistances + column;
        Slot* found = slots.data() + static_cast<std::size_t>(capacity) * omp_get_thread_num();
        nanoflann::KNNResultSet<double, Slot> result(static_cast<std::size_t>(capacity));
        result.init(found, columnDistances);
        index.tree().index->findNeighbors(result, queries + 3 * static_cast<std::size_t>(i), nanoflann::SearchParams());
        const std::size_t filled = result.size();
        for (std::size_t j = 0; j < filled; ++j) columnNumbers[j] = static_cast<double>(index.pointNumber(found[j]) + 1);
        for (std::size_t j = filled; j < static_cast<std::size_t>(k); ++j) {
            columnNumbers[j] = 0.0;
            columnDistances[j] = unfilled;
        }
    }
}

}  // namespace tessary
