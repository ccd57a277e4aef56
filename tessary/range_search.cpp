#include "range_search.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "openmp.hpp"
#include "within_set.hpp"

namespace tessary {
namespace {

using Pair = std::pair<double, double>;  // squared distance, point number

// The points a thread keeps of a block: 2 MiB of them (a squared distance
// and a number each), so that the memory is the heap's to reuse from call
// to call.
constexpr std::int64_t keptPerThread = std::int64_t{1} << 17;
constexpr std::int64_t notKept = -1;

// A block of queries, from the first one's size on, judged so that the
// points fill half the scratch (threads seldom share them evenly).
constexpr std::int32_t firstBlock = 1 << 12, smallestBlock = 1 << 8, largestBlock = 1 << 16;

}  // namespace

RangeSearch::RangeSearch(const PointIndex& index, const QueryRows& queries, const SquaredRadii& radii, bool sorted,
                         const RowMap& map)
    : index_(index),
      queries_(queries),
      radii_(radii),
      sorted_(sorted),
      map_(map),
      threads_(static_cast<std::size_t>(maxThreads())),
      stacks_(index.searchDepth() * threads_),
      keptDistances_(static_cast<std::size_t>(keptPerThread) * threads_),
      keptNumbers_(static_cast<std::size_t>(keptPerThread) * threads_) {}

std::int32_t RangeSearch::nextBlockEnd(std::int32_t first) const {
    double size = firstBlock;
    if (pointsPerQuery_ > 0) {
        const double fits = static_cast<double>(keptPerThread) * static_cast<double>(threads_) / 2 / pointsPerQuery_;
        size = std::min<double>(largestBlock, std::max<double>(smallestBlock, fits));
    }
    return static_cast<std::int32_t>(std::min<double>(queries_.count, first + size));
}

void RangeSearch::search(std::int32_t first, std::int32_t last, std::int64_t* counts) {
    blockFirst_ = first;
    keptAt_.assign(static_cast<std::size_t>(last - first), notKept);
    found_.assign(static_cast<std::size_t>(last - first), 0);
    if (index_.pointCount() == 0) {
        std::fill(counts + first, counts + last, 0);
        return;
    }
    const std::size_t depth = index_.searchDepth();
#pragma omp parallel
    {
        const auto thread = static_cast<std::size_t>(threadNumber());
        PointIndex::Pending* stack = stacks_.data() + depth * thread;
        const std::int64_t start = keptPerThread * static_cast<std::int64_t>(thread);
        std::int64_t used = 0;
#pragma omp for schedule(dynamic, 64)
        for (std::int32_t i = first; i < last; ++i) {
            double q[3];
            queries_.load(i, q);
            WithinSet set(radii_.of(i), keptDistances_.data() + start + used, keptNumbers_.data() + start + used,
                          keptPerThread - used);
            index_.findNeighbors(set, q, stack);
            counts[i] = set.size();
            if (set.size() <= keptPerThread - used) {
                keptAt_[i - first] = start + used;
                found_[i - first] = set.size();
                used += set.size();
            }
        }
    }
    double total = 0;
    for (std::int32_t i = first; i < last; ++i) total += static_cast<double>(counts[i]);
    pointsPerQuery_ = last > first ? total / (last - first) : 0;
}

// A sorted query's pairs are sorted in a buffer of its thread's own, each as
// large as the most points a query has: taken from the host's allocator
// before the parallel loop, where a failure raises the module's error. Taken
// inside the loop, a failure would end the process (an exception may not
// leave a parallel region), and the host's allocator serves its own thread
// alone.
void RangeSearch::write(std::int32_t first, std::int32_t last, const std::int64_t* counts, double* const* rows,
                        double* const* distances) {
    if (index_.pointCount() == 0) return;
    const std::size_t depth = index_.searchDepth();
    const std::int64_t most = sorted_ && first < last ? *std::max_element(counts + first, counts + last) : 0;
    const auto width = static_cast<std::size_t>(std::min<std::int64_t>(most, index_.pointCount()));
    if (sortBuffers_.size() < width * threads_) sortBuffers_.resize(width * threads_);
#pragma omp parallel
    {
        const auto thread = static_cast<std::size_t>(threadNumber());
        PointIndex::Pending* stack = stacks_.data() + depth * thread;
        Pair* found = sortBuffers_.data() + width * thread;
#pragma omp for schedule(dynamic, 256)
        for (std::int32_t i = first; i < last; ++i) {
            if (counts[i] == 0) continue;
            const std::int64_t at = keptAt_[i - blockFirst_];
            const double *fromDistances = distances[i], *fromNumbers = rows[i];
            std::size_t n;
            if (at != notKept) {
                fromDistances = keptDistances_.data() + at;
                fromNumbers = keptNumbers_.data() + at;
                n = static_cast<std::size_t>(std::min(counts[i], found_[i - blockFirst_]));
            } else {
                double q[3];
                queries_.load(i, q);
                WithinSet set(radii_.of(i), distances[i], rows[i], counts[i]);
                index_.findNeighbors(set, q, stack);
                n = static_cast<std::size_t>(std::min(counts[i], set.size()));
            }
            if (sorted_) {
                for (std::size_t j = 0; j < n; ++j) found[j] = {fromDistances[j], fromNumbers[j]};
                std::sort(found, found + n);
                for (std::size_t j = 0; j < n; ++j) {
                    distances[i][j] = std::sqrt(found[j].first);
                    rows[i][j] = map_.of(found[j].second);
                }
            } else {
                for (std::size_t j = 0; j < n; ++j) {
                    distances[i][j] = std::sqrt(fromDistances[j]);
                    rows[i][j] = map_.of(fromNumbers[j]);
                }
            }
        }
    }
}

}  // namespace tessary
