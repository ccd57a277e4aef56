#include "range_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "c_heap_allocator.hpp"
#include "openmp.hpp"
#include "within_set.hpp"

namespace tessary {
namespace {

using Pair = std::pair<double, double>;  // squared distance, point number
using PairBuffer = std::vector<Pair, common::CHeapAllocator<Pair>>;

}  // namespace

void rangeCount(const PointIndex& index, const QueryRows& queries, const SquaredRadii& radii, std::int64_t* counts) {
    if (index.pointCount() == 0) {
        std::fill(counts, counts + queries.count, 0);
        return;
    }
    const std::size_t depth = index.searchDepth();
    std::vector<PointIndex::Pending> stacks(depth * static_cast<std::size_t>(maxThreads()));
#pragma omp parallel for schedule(dynamic, 256)
    for (std::int32_t i = 0; i < queries.count; ++i) {
        double q[3];
        queries.load(i, q);
        WithinSet set(radii.of(i), nullptr, nullptr, 0);
        index.findNeighbors(set, q, stacks.data() + depth * static_cast<std::size_t>(threadNumber()));
        counts[i] = set.size();
    }
}

// The buffers of the parallel loop grow on the C heap, which every thread
// may use; the host's allocator is for the calling thread alone.
void rangeCollect(const PointIndex& index, const QueryRows& queries, const SquaredRadii& radii, bool sorted,
                  const RowMap& map, const std::int64_t* counts, double* const* rows, double* const* distances) {
    if (index.pointCount() == 0) return;
    const std::size_t depth = index.searchDepth();
    std::vector<PointIndex::Pending> stacks(depth * static_cast<std::size_t>(maxThreads()));
#pragma omp parallel
    {
        PairBuffer found;
        PointIndex::Pending* stack = stacks.data() + depth * static_cast<std::size_t>(threadNumber());
#pragma omp for schedule(dynamic, 256)
        for (std::int32_t i = 0; i < queries.count; ++i) {
            if (counts[i] == 0) continue;
            double q[3];
            queries.load(i, q);
            WithinSet set(radii.of(i), distances[i], rows[i], counts[i]);
            index.findNeighbors(set, q, stack);
            const auto n = static_cast<std::size_t>(std::min(counts[i], set.size()));
            if (sorted) {
                found.resize(n);
                for (std::size_t j = 0; j < n; ++j) found[j] = {distances[i][j], rows[i][j]};
                std::sort(found.begin(), found.end());
                for (std::size_t j = 0; j < n; ++j) {
                    distances[i][j] = found[j].first;
                    rows[i][j] = found[j].second;
                }
            }
            for (std::size_t j = 0; j < n; ++j) {
                distances[i][j] = std::sqrt(distances[i][j]);
                rows[i][j] = map.of(rows[i][j]);
            }
        }
    }
}

}  // namespace tessary
