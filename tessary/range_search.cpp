#include "range_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "openmp.hpp"
#include "within_set.hpp"

namespace tessary {
namespace {

using Pair = std::pair<double, double>;  // squared distance, point number

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

// A sorted query's pairs are sorted in a buffer of its thread's own, each as
// large as the most points a query has: taken from the host's allocator
// before the parallel loop, where a failure raises the module's error. Taken
// inside the loop, a failure would end the process (an exception may not
// leave a parallel region), and the host's allocator serves its own thread
// alone.
void rangeCollect(const PointIndex& index, const QueryRows& queries, std::int32_t first, std::int32_t last,
                  const SquaredRadii& radii, bool sorted, const RowMap& map, const std::int64_t* counts,
                  double* const* rows, double* const* distances) {
    if (index.pointCount() == 0) return;
    const std::size_t depth = index.searchDepth();
    const auto threads = static_cast<std::size_t>(maxThreads());
    std::vector<PointIndex::Pending> stacks(depth * threads);
    const std::int64_t most = sorted && first < last ? *std::max_element(counts + first, counts + last) : 0;
    const auto width = static_cast<std::size_t>(std::min<std::int64_t>(most, index.pointCount()));
    std::vector<Pair> buffers(width * threads);
#pragma omp parallel
    {
        const auto thread = static_cast<std::size_t>(threadNumber());
        PointIndex::Pending* stack = stacks.data() + depth * thread;
        Pair* found = buffers.data() + width * thread;
#pragma omp for schedule(dynamic, 256)
        for (std::int32_t i = first; i < last; ++i) {
            if (counts[i] == 0) continue;
            double q[3];
            queries.load(i, q);
            WithinSet set(radii.of(i), distances[i], rows[i], counts[i]);
            index.findNeighbors(set, q, stack);
            const auto n = static_cast<std::size_t>(std::min(counts[i], set.size()));
            if (sorted) {
                for (std::size_t j = 0; j < n; ++j) found[j] = {distances[i][j], rows[i][j]};
                std::sort(found, found + n);
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
