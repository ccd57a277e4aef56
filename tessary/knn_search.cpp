#include "knn_search.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "nearest_set.hpp"
#include "openmp.hpp"
#include "prefetch.hpp"

namespace tessary {
namespace {

constexpr int cellBits = 5;  // per axis: a curve through 2^15 cells

// Below this many queries ordering them costs more than it saves.
constexpr std::int32_t orderFrom = 1 << 12;

// Queries that stay in a cell of the curve for this many on average are
// searched in their own order.
constexpr std::int32_t coherentRun = 4;

// In curve order the queries and their output columns are scattered over
// memory: fetch those a few searches ahead while this one runs.
constexpr std::int32_t prefetchDistance = 8;

std::uint32_t spreadBits(std::uint32_t v) {
    v = (v | (v << 16)) & 0x030000FFu;
    v = (v | (v << 8)) & 0x0300F00Fu;
    v = (v | (v << 4)) & 0x030C30C3u;
    v = (v | (v << 2)) & 0x09249249u;
    return v;
}

// A Morton curve through 2^(3 cellBits) cells over the index's bounding
// box; queries outside it are clamped, non-finite ones go last.
class Curve {
public:
    explicit Curve(const PointIndex& index) {
        for (int d = 0; d < 3; ++d) {
            const double span = index.high(d) - index.low(d);
            low_[d] = index.low(d);
            cellsPerUnit_[d] = span > 0 ? ((1u << cellBits) - 1) / span : 0.0;
        }
    }

    std::uint16_t key(const double* q) const {
        std::uint32_t key = 0;
        for (int d = 0; d < 3; ++d) {
            const double cell = (q[d] - low_[d]) * cellsPerUnit_[d];
            if (!(cell == cell)) return std::numeric_limits<std::uint16_t>::max();
            key |= spreadBits(static_cast<std::uint32_t>(std::min(std::max(cell, 0.0), double{(1u << cellBits) - 1})))
                   << d;
        }
        return static_cast<std::uint16_t>(key);
    }

private:
    double low_[3], cellsPerUnit_[3];
};

// Queries in curve order, so that consecutive searches walk the same part of
// the tree and find it in cache: one counting sort over the curve's cells.
// Empty when the queries come in such an order already (a scan in the order
// the sensor took it): consecutive ones mostly share a cell.
std::vector<std::int32_t> curveOrder(const PointIndex& index, const double* queries, std::int32_t count) {
    const Curve curve(index);
    // Judged on pairs of neighbours spread over the whole set first.
    constexpr std::int32_t samples = 1024;
    const std::int32_t stride = (count - 1) / samples;
    std::int32_t cellChanges = 0;
    for (std::int32_t k = 0; k < samples; ++k) {
        const double* q = queries + 3 * static_cast<std::size_t>(k) * static_cast<std::size_t>(stride);
        cellChanges += curve.key(q) != curve.key(q + 3);
    }
    if (cellChanges < samples / coherentRun) return {};
    std::vector<std::uint16_t> keys(static_cast<std::size_t>(count));
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < count; ++i) keys[i] = curve.key(queries + 3 * static_cast<std::size_t>(i));
    std::vector<std::size_t> start(std::size_t{1} << 16, 0);
    for (std::uint16_t key : keys) ++start[key];
    std::size_t sum = 0;
    for (auto& s : start) sum += std::exchange(s, sum);
    std::vector<std::int32_t> order(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) order[start[keys[i]]++] = i;
    return order;
}

constexpr double unfilled = std::numeric_limits<double>::infinity();

// Each query's search straight into its output column; unfilled entries
// last.
template <int Fixed>
void searchColumns(const PointIndex& index, const double* queries, const std::vector<std::int32_t>& order,
                   std::int32_t queryCount, std::int32_t k, std::int32_t capacity, double* numbers,
                   double* squaredDistances) {
    const int threads = maxThreads();
    const std::size_t depth = index.searchDepth();
    std::vector<PointIndex::Pending> stacks(depth * static_cast<std::size_t>(threads));

    // Some stretches of the curve cost many times more than others (queries
    // far from the points): handed out in runs, so that no thread idles.
#pragma omp parallel for schedule(dynamic, 1024)
    for (std::int32_t t = 0; t < queryCount; ++t) {
        const std::int32_t i = order.empty() ? t : order[t];
        if (!order.empty() && t + prefetchDistance < queryCount) {
            const std::size_t ahead = static_cast<std::size_t>(order[t + prefetchDistance]);
            prefetch(queries + 3 * ahead);
            prefetch(squaredDistances + ahead * static_cast<std::size_t>(k));
            prefetch(numbers + ahead * static_cast<std::size_t>(k));
        }
        const std::size_t column = static_cast<std::size_t>(i) * static_cast<std::size_t>(k);
        double* columnNumbers = numbers + column;
        double* columnDistances = squaredDistances + column;
        const auto thread = static_cast<std::size_t>(threadNumber());
        NearestSet<Fixed> set(columnDistances, columnNumbers, capacity);
        index.findNeighbors(set, queries + 3 * static_cast<std::size_t>(i), stacks.data() + depth * thread);
        for (std::int32_t j = set.size(); j < k; ++j) {
            columnNumbers[j] = 0.0;
            columnDistances[j] = unfilled;
        }
    }
}

}  // namespace

void knnSearch(const PointIndex& index, const double* queries, std::int32_t queryCount, std::int32_t k,
               double* numbers, double* squaredDistances) {
    // No more than pointCount slots can be filled, and a smaller result set
    // finds the same neighbours: while it is not full nothing is pruned.
    const std::int32_t capacity = std::min(k, index.pointCount());
    if (capacity == 0) {
        std::fill(numbers, numbers + static_cast<std::size_t>(k) * queryCount, 0.0);
        std::fill(squaredDistances, squaredDistances + static_cast<std::size_t>(k) * queryCount, unfilled);
        return;
    }
    // Empty: the queries in their own order.
    const std::vector<std::int32_t> order =
        queryCount >= orderFrom ? curveOrder(index, queries, queryCount) : std::vector<std::int32_t>();
    switch (capacity) {
        case 1: return searchColumns<1>(index, queries, order, queryCount, k, capacity, numbers, squaredDistances);
        case 2: return searchColumns<2>(index, queries, order, queryCount, k, capacity, numbers, squaredDistances);
        case 3: return searchColumns<3>(index, queries, order, queryCount, k, capacity, numbers, squaredDistances);
        default: return searchColumns<0>(index, queries, order, queryCount, k, capacity, numbers, squaredDistances);
    }
}

}  // namespace tessary
