#include "knn_search.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "nearest_set.hpp"
#include "openmp.hpp"
#include "row_ordered_set.hpp"
#include "wide_nearest_set.hpp"

namespace tessary {
namespace {

constexpr int cellBits = 10;  // per axis: a curve through 2^30 cells

// Below this many queries ordering them costs more than it saves.
constexpr std::int32_t orderFrom = 1 << 12;

// Indexes of fewer points keep the nearest with the scalar insertion.
constexpr std::int32_t wideFrom = 1 << 12;

// Queries that stay in a coarse cell of the curve (the top coarseBits of
// each axis) for this many on average are searched in their own order.
constexpr int coarseBits = 5;
constexpr std::int32_t coherentRun = 4;

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
    static constexpr std::uint32_t last = (1u << (3 * cellBits)) - 1;

    explicit Curve(const PointIndex& index) {
        for (int d = 0; d < 3; ++d) {
            const double span = index.high(d) - index.low(d);
            low_[d] = index.low(d);
            cellsPerUnit_[d] = span > 0 ? ((1u << cellBits) - 1) / span : 0.0;
        }
    }

    std::uint32_t key(const double* q) const {
        std::uint32_t key = 0;
        for (int d = 0; d < 3; ++d) {
            const double cell = (q[d] - low_[d]) * cellsPerUnit_[d];
            if (!(cell == cell)) return last;
            key |= spreadBits(static_cast<std::uint32_t>(std::min(std::max(cell, 0.0), double{(1u << cellBits) - 1})))
                   << d;
        }
        return key;
    }

private:
    double low_[3], cellsPerUnit_[3];
};

// Sorts `items` (a key in the high 32 bits, a query's number in the low)
// by key, equal keys in the order they come: a counting sort per digit of
// the key, lowest first, through `spare` of the same size. Each block of
// items counts and moves its own on one thread; the blocks' counts, added in
// block order, keep the sort stable.
void sortByKey(std::vector<std::uint64_t>& items, std::vector<std::uint64_t>& spare) {
    constexpr int digitBits = 10;
    constexpr std::size_t digits = std::size_t{1} << digitBits;
    const auto blocks = static_cast<std::int32_t>(maxThreads());
    const std::size_t n = items.size();
    std::vector<std::size_t> start(digits * static_cast<std::size_t>(blocks));
    const auto begin = [&](std::int32_t b) { return n * static_cast<std::size_t>(b) / static_cast<std::size_t>(blocks); };
    for (int shift = 32; shift < 32 + 3 * cellBits; shift += digitBits) {
        const std::uint64_t* from = items.data();
        std::uint64_t* to = spare.data();
#pragma omp parallel for schedule(static)
        for (std::int32_t b = 0; b < blocks; ++b) {
            std::size_t* count = start.data() + digits * static_cast<std::size_t>(b);
            std::fill(count, count + digits, 0);
            for (std::size_t i = begin(b); i < begin(b + 1); ++i) ++count[(from[i] >> shift) & (digits - 1)];
        }
        std::size_t sum = 0;
        for (std::size_t d = 0; d < digits; ++d)
            for (std::int32_t b = 0; b < blocks; ++b) sum += std::exchange(start[digits * static_cast<std::size_t>(b) + d], sum);
#pragma omp parallel for schedule(static)
        for (std::int32_t b = 0; b < blocks; ++b) {
            std::size_t* next = start.data() + digits * static_cast<std::size_t>(b);
            for (std::size_t i = begin(b); i < begin(b + 1); ++i) to[next[(from[i] >> shift) & (digits - 1)]++] = from[i];
        }
        items.swap(spare);
    }
}

// Queries in curve order, so that consecutive searches walk the same part of
// the tree and find it in cache: each item's low 32 bits hold a query's
// number (see queryOf), the high ones its key. Empty when the queries come
// in such an order already (a scan in the order the sensor took it):
// consecutive ones mostly share a coarse cell.
std::vector<std::uint64_t> curveOrder(const PointIndex& index, const double* queries, std::int32_t count) {
    const Curve curve(index);
    // Judged on pairs of neighbours spread over the whole set first.
    constexpr std::int32_t samples = 1024;
    constexpr int coarseShift = 3 * (cellBits - coarseBits);
    const std::int32_t stride = (count - 1) / samples;
    std::int32_t cellChanges = 0;
    for (std::int32_t k = 0; k < samples; ++k) {
        const double* q = queries + 3 * static_cast<std::size_t>(k) * static_cast<std::size_t>(stride);
        cellChanges += (curve.key(q) >> coarseShift) != (curve.key(q + 3) >> coarseShift);
    }
    if (cellChanges < samples / coherentRun) return {};
    std::vector<std::uint64_t> items(static_cast<std::size_t>(count)), spare(static_cast<std::size_t>(count));
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < count; ++i)
        items[i] = std::uint64_t{curve.key(queries + 3 * static_cast<std::size_t>(i))} << 32 | std::uint32_t(i);
    sortByKey(items, spare);
    return items;
}

std::size_t queryOf(std::uint64_t item) { return static_cast<std::size_t>(item & 0xFFFFFFFFu); }

constexpr double unfilled = std::numeric_limits<double>::infinity();

// A query's search into its own output column; unfilled entries last.
template <class Set>
void searchOne(const PointIndex& index, const double* query, std::int32_t k, std::int32_t capacity, double* numbers,
               double* squaredDistances, PointIndex::Pending* stack) {
    Set set(squaredDistances, numbers, capacity);
    index.findNeighbors(set, query, stack);
    set.finish();
    for (std::int32_t j = set.size(); j < k; ++j) {
        numbers[j] = 0.0;
        squaredDistances[j] = unfilled;
    }
}

// Queries in their own order, each straight into its output column.
template <class Set>
void searchInPlace(const PointIndex& index, const double* queries, std::int32_t queryCount, std::int32_t k,
                   std::int32_t capacity, double* numbers, double* squaredDistances) {
    const std::size_t depth = index.searchDepth();
    std::vector<PointIndex::Pending> stacks(depth * static_cast<std::size_t>(maxThreads()));
    // Some stretches cost many times more than others (queries far from the
    // points): handed out in runs, so that no thread idles.
#pragma omp parallel for schedule(dynamic, 1024)
    for (std::int32_t i = 0; i < queryCount; ++i) {
        const std::size_t column = static_cast<std::size_t>(i) * static_cast<std::size_t>(k);
        searchOne<Set>(index, queries + 3 * static_cast<std::size_t>(i), k, capacity, numbers + column,
                       squaredDistances + column, stacks.data() + depth * static_cast<std::size_t>(threadNumber()));
    }
}

// Queries along the curve, a run at a time: the run's queries are gathered
// into a scratch block, searched one after the other into scratch columns,
// and their results scattered to the output columns afterwards, so that the
// searches read and write consecutive memory.
template <class Set>
void searchAlong(const PointIndex& index, const double* queries, const std::vector<std::uint64_t>& order,
                 std::int32_t k, std::int32_t capacity, double* numbers, double* squaredDistances) {
    const auto queryCount = static_cast<std::int32_t>(order.size());
    const auto width = static_cast<std::size_t>(k);
    // A run holds about as many results as fit in a core's cache.
    const std::int32_t run = std::max<std::int32_t>(1, std::min<std::int32_t>(1024, (1 << 15) / k));
    const auto threads = static_cast<std::size_t>(maxThreads());
    const std::size_t depth = index.searchDepth();
    std::vector<PointIndex::Pending> stacks(depth * threads);
    const std::size_t block = static_cast<std::size_t>(run) * (3 + 2 * width);
    std::vector<double> scratch(block * threads);
    const std::int32_t runs = (queryCount + run - 1) / run;
#pragma omp parallel for schedule(dynamic, 1)
    for (std::int32_t r = 0; r < runs; ++r) {
        const auto thread = static_cast<std::size_t>(threadNumber());
        double* gathered = scratch.data() + block * thread;
        double* runNumbers = gathered + 3 * static_cast<std::size_t>(run);
        double* runDistances = runNumbers + width * static_cast<std::size_t>(run);
        const std::int32_t first = r * run, count = std::min(run, queryCount - first);
        for (std::int32_t t = 0; t < count; ++t) {
            const double* q = queries + 3 * queryOf(order[first + t]);
            gathered[3 * t] = q[0];
            gathered[3 * t + 1] = q[1];
            gathered[3 * t + 2] = q[2];
        }
        for (std::int32_t t = 0; t < count; ++t)
            searchOne<Set>(index, gathered + 3 * t, k, capacity, runNumbers + width * t, runDistances + width * t,
                           stacks.data() + depth * thread);
        for (std::int32_t t = 0; t < count; ++t) {
            const std::size_t column = queryOf(order[first + t]) * width;
            std::copy(runNumbers + width * t, runNumbers + width * (t + 1), numbers + column);
            std::copy(runDistances + width * t, runDistances + width * (t + 1), squaredDistances + column);
        }
    }
}

// Names a result set's type where a value of it cannot be made yet.
template <class T>
struct SetKind {
    using Set = T;
};

template <class Set>
void searchColumns(const PointIndex& index, const double* queries, const std::vector<std::uint64_t>& order,
                   std::int32_t queryCount, std::int32_t k, std::int32_t capacity, double* numbers,
                   double* squaredDistances) {
    if (order.empty())
        searchInPlace<Set>(index, queries, queryCount, k, capacity, numbers, squaredDistances);
    else
        searchAlong<Set>(index, queries, order, k, capacity, numbers, squaredDistances);
}

}  // namespace

void knnSearch(const PointIndex& index, const double* queries, std::int32_t queryCount, std::int32_t k,
               double* numbers, double* squaredDistances, Ties ties) {
    // No more than pointCount slots can be filled, and a smaller result set
    // finds the same neighbours: while it is not full nothing is pruned.
    const std::int32_t capacity = std::min(k, index.pointCount());
    if (capacity == 0) {
        std::fill(numbers, numbers + static_cast<std::size_t>(k) * queryCount, 0.0);
        std::fill(squaredDistances, squaredDistances + static_cast<std::size_t>(k) * queryCount, unfilled);
        return;
    }
    // Empty: the queries in their own order.
    const std::vector<std::uint64_t> order =
        queryCount >= orderFrom ? curveOrder(index, queries, queryCount) : std::vector<std::uint64_t>();
    const auto search = [&](auto kind) {
        searchColumns<typename decltype(kind)::Set>(index, queries, order, queryCount, k, capacity, numbers,
                                                    squaredDistances);
    };
    if (ties == Ties::byNumber) {
        if (capacity == 1) return search(SetKind<RowOrderedSet<1>>{});
        if (capacity == 3) return search(SetKind<RowOrderedSet<3>>{});
        return search(SetKind<RowOrderedSet<0>>{});
    }
    if (capacity == 1) return search(SetKind<NearestSet<1>>{});
    if (capacity == 2) return search(SetKind<NearestSet<2>>{});
#if TESSARY_WIDE_SET
    // From three entries on, and on all but small indexes, the vector
    // insertion beats the scalar one (measured: 10-18 % faster at K = 10 on
    // the scan; slower below about 2,000 points, where searches are short).
    if (capacity <= WideNearestSet::most && index.pointCount() >= wideFrom && wideSetUsable())
        return search(SetKind<WideNearestSet>{});
#endif
    if (capacity == 3) return search(SetKind<NearestSet<3>>{});
    search(SetKind<NearestSet<0>>{});
}

}  // namespace tessary
