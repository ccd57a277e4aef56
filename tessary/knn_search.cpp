#include "knn_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "nearest_set.hpp"
#include "openmp.hpp"
#include "row_ordered_set.hpp"
#include "shared_candidates.hpp"
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
    // In 64 bits: n times the block number overflows a 32-bit size_t long
    // before n does.
    const auto begin = [&](std::int32_t b) {
        return static_cast<std::size_t>(static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(b) /
                                        static_cast<std::uint64_t>(blocks));
    };
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
template <class IO>
std::vector<std::uint64_t> curveOrder(const PointIndex& index, const IO& io, std::int32_t count) {
    const Curve curve(index);
    // Judged on pairs of neighbours spread over the whole set first.
    constexpr std::int32_t samples = 1024;
    constexpr int coarseShift = 3 * (cellBits - coarseBits);
    const std::int32_t stride = (count - 1) / samples;
    std::int32_t cellChanges = 0;
    for (std::int32_t k = 0; k < samples; ++k) {
        const std::size_t at = static_cast<std::size_t>(k) * static_cast<std::size_t>(stride);
        double a[3], b[3];
        cellChanges += (curve.key(io.query(at, a)) >> coarseShift) != (curve.key(io.query(at + 1, b)) >> coarseShift);
    }
    if (cellChanges < samples / coherentRun) return {};
    std::vector<std::uint64_t> items(static_cast<std::size_t>(count)), spare(static_cast<std::size_t>(count));
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < count; ++i) {
        double q[3];
        items[i] = std::uint64_t{curve.key(io.query(static_cast<std::size_t>(i), q))} << 32 | std::uint32_t(i);
    }
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

// Where a group's results go: query t's numbers at numbers + t * stride,
// its squared distances at squared + t * stride.
struct Slots {
    double* numbers;
    double* squared;
    std::size_t stride;

    Slots from(std::int32_t t) const {
        const std::size_t at = stride * static_cast<std::size_t>(t);
        return {numbers + at, squared + at, stride};
    }
};

// A group of queries, coordinates 3 apiece at `coords`: where `shared` is
// given, cut into runs of neighbours (see SharedCandidates::runEnd), and
// the queries of a run long enough through the candidates they share where
// they can share them; every other query on its own. (A group that cannot
// share, split in halves, mostly could not either: measured slower. Cut
// where a scan's beam jumps, it mostly can: 88 % of a scan's queries took
// their list's answer over its map-sized index, against 71 %.)
template <class Set>
void searchGroup(const PointIndex& index, const double* coords, std::int32_t count, std::int32_t k,
                 std::int32_t capacity, PointIndex::Pending* stack, SharedCandidates* shared, const Slots& into) {
    for (std::int32_t t = 0; t < count;) {
        const std::int32_t end = shared != nullptr ? shared->runEnd(coords, t, count) : count;
        const bool together = shared != nullptr && end - t >= SharedCandidates::shortestRun &&
                              shared->gather(index, coords + 3 * t, end - t, k, stack);
        for (; t < end; ++t) {
            const Slots out = into.from(t);
            if (!together || !shared->nearest(coords + 3 * t, out.numbers, out.squared))
                searchOne<Set>(index, coords + 3 * t, k, capacity, out.numbers, out.squared, stack);
        }
    }
}

// Queries in their own order, a group at a time: each into its output
// column where the layout has one, else through scratch of the thread's own.
template <class Set, class IO>
void searchInPlace(const PointIndex& index, const IO& io, std::int32_t queryCount, std::int32_t k,
                   std::int32_t capacity, bool grouped) {
    const std::size_t depth = index.searchDepth(), width = static_cast<std::size_t>(k);
    const std::int32_t group = grouped ? SharedCandidates::groupSize : 1;
    const std::int32_t groups = (queryCount + group - 1) / group;
    std::vector<PointIndex::Pending> stacks(depth * static_cast<std::size_t>(maxThreads()));
    // Each thread's scratch on cache lines of its own: 8 doubles apart at least.
    const std::size_t spacing = (2 * width * static_cast<std::size_t>(group) + 7) / 8 * 8 + 8;
    std::vector<double> scratch(IO::inPlace ? 0 : spacing * static_cast<std::size_t>(maxThreads()));
#pragma omp parallel
    {
        const auto thread = static_cast<std::size_t>(threadNumber());
        PointIndex::Pending* stack = stacks.data() + depth * thread;
        double* results = IO::inPlace ? nullptr : scratch.data() + spacing * thread;
        SharedCandidates shared;
        double coords[3 * SharedCandidates::groupSize];
        // Some stretches cost many times more than others (queries far from
        // the points): handed out in runs, so that no thread idles.
#pragma omp for schedule(dynamic, 1024 / group)
        for (std::int32_t g = 0; g < groups; ++g) {
            const std::int32_t first = g * group, count = std::min(group, queryCount - first);
            for (std::int32_t t = 0; t < count; ++t) {
                double* to = coords + 3 * t;
                const double* q = io.query(static_cast<std::size_t>(first + t), to);
                to[0] = q[0];
                to[1] = q[1];
                to[2] = q[2];
            }
            // The command's results are k x m; scratch holds a query's numbers
            // and then its squared distances.
            const Slots into = [&] {
                if constexpr (IO::inPlace)
                    return Slots{io.numbersOf(first), io.squaredOf(first), width};
                else
                    return Slots{results, results + width, 2 * width};
            }();
            searchGroup<Set>(index, coords, count, k, capacity, stack, grouped ? &shared : nullptr, into);
            if constexpr (!IO::inPlace)
                for (std::int32_t t = 0; t < count; ++t) {
                    const Slots out = into.from(t);
                    io.store(static_cast<std::size_t>(first + t), coords + 3 * t, out.numbers, out.squared);
                }
        }
    }
}

// Queries along the curve, a run at a time: the run's queries are gathered
// into a scratch block, searched one after the other (a group at a time)
// into scratch columns, and their results scattered to the outputs
// afterwards, so that the searches read and write consecutive memory.
template <class Set, class IO>
void searchAlong(const PointIndex& index, const IO& io, const std::vector<std::uint64_t>& order, std::int32_t k,
                 std::int32_t capacity, bool grouped) {
    const auto queryCount = static_cast<std::int32_t>(order.size());
    const auto width = static_cast<std::size_t>(k);
    // A run holds about as many results as fit in a core's cache.
    const std::int32_t run = std::max<std::int32_t>(1, std::min<std::int32_t>(1024, (1 << 15) / k));
    const std::int32_t group = grouped ? SharedCandidates::groupSize : 1;
    const auto threads = static_cast<std::size_t>(maxThreads());
    const std::size_t depth = index.searchDepth();
    std::vector<PointIndex::Pending> stacks(depth * threads);
    const std::size_t block = static_cast<std::size_t>(run) * (3 + 2 * width);
    std::vector<double> scratch(block * threads);
    const std::int32_t runs = (queryCount + run - 1) / run;
#pragma omp parallel
    {
        const auto thread = static_cast<std::size_t>(threadNumber());
        PointIndex::Pending* stack = stacks.data() + depth * thread;
        SharedCandidates shared;
#pragma omp for schedule(dynamic, 1)
        for (std::int32_t r = 0; r < runs; ++r) {
            double* gathered = scratch.data() + block * thread;
            double* runNumbers = gathered + 3 * static_cast<std::size_t>(run);
            double* runDistances = runNumbers + width * static_cast<std::size_t>(run);
            const std::int32_t first = r * run, count = std::min(run, queryCount - first);
            for (std::int32_t t = 0; t < count; ++t) {
                double* q = gathered + 3 * t;
                const double* from = io.query(queryOf(order[first + t]), q);
                q[0] = from[0];
                q[1] = from[1];
                q[2] = from[2];
            }
            for (std::int32_t g = 0; g < count; g += group)
                searchGroup<Set>(index, gathered + 3 * g, std::min(group, count - g), k, capacity, stack,
                                 grouped ? &shared : nullptr, Slots{runNumbers, runDistances, width}.from(g));
            for (std::int32_t t = 0; t < count; ++t)
                io.store(queryOf(order[first + t]), gathered + 3 * t, runNumbers + width * t, runDistances + width * t);
        }
    }
}

// Names a result set's type where a value of it cannot be made yet.
template <class T>
struct SetKind {
    using Set = T;
};

// The command's layout: queries 3 x m, results k x m.
struct Columns {
    static constexpr bool inPlace = true;
    const double* queries;
    double* numbers;
    double* squared;
    std::size_t k;

    const double* query(std::size_t i, double*) const { return queries + 3 * i; }
    double* numbersOf(std::int32_t i) const { return numbers + k * static_cast<std::size_t>(i); }
    double* squaredOf(std::int32_t i) const { return squared + k * static_cast<std::size_t>(i); }
    void store(std::size_t i, const double*, const double* n, const double* d2) const {
        std::copy(n, n + k, numbers + k * i);
        std::copy(d2, d2 + k, squared + k * i);
    }
};

// The users' layer's: queries and results as rows, rows of the cloud for
// point numbers, Euclidean distances, and the rule for lost queries.
struct Rows {
    static constexpr bool inPlace = false;
    QueryRows queries;
    RowMap map;
    double* rows;
    double* distances;
    double* kthSquared;
    std::size_t k;

    const double* query(std::size_t i, double* buffer) const {
        queries.load(static_cast<std::int32_t>(i), buffer);
        return buffer;
    }

    void store(std::size_t i, const double* q, const double* n, const double* d2) const {
        const std::size_t m = static_cast<std::size_t>(queries.count);
        const bool lost = n[k - 1] == 0.0;
        const double missing = std::isnan(q[0]) || std::isnan(q[1]) || std::isnan(q[2])
                                   ? std::numeric_limits<double>::quiet_NaN()
                                   : std::numeric_limits<double>::infinity();
        for (std::size_t j = 0; j < k; ++j) {
            rows[i + j * m] = lost ? static_cast<double>(j + 1) : map.of(n[j]);
            distances[i + j * m] = lost ? missing : std::sqrt(d2[j]);
        }
        if (kthSquared != nullptr) kthSquared[i] = lost ? std::numeric_limits<double>::quiet_NaN() : d2[k - 1];
    }
};

template <class Set, class IO>
void searchAll(const PointIndex& index, const IO& io, const std::vector<std::uint64_t>& order,
               std::int32_t queryCount, std::int32_t k, std::int32_t capacity) {
    const bool grouped = capacity == k && SharedCandidates::suits(index, k, queryCount);
    if (order.empty())
        searchInPlace<Set>(index, io, queryCount, k, capacity, grouped);
    else
        searchAlong<Set>(index, io, order, k, capacity, grouped);
}

// The search of every query with the result set that fits k, the index
// and the tie rule.
template <class IO>
void searchWith(const PointIndex& index, const IO& io, std::int32_t queryCount, std::int32_t k, std::int32_t capacity,
                Ties ties) {
    // Empty: the queries in their own order.
    const std::vector<std::uint64_t> order =
        queryCount >= orderFrom ? curveOrder(index, io, queryCount) : std::vector<std::uint64_t>();
    const auto search = [&](auto kind) {
        searchAll<typename decltype(kind)::Set>(index, io, order, queryCount, k, capacity);
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
    searchWith(index, Columns{queries, numbers, squaredDistances, static_cast<std::size_t>(k)}, queryCount, k, capacity,
               ties);
}

void knnRows(const PointIndex& index, const QueryRows& queries, std::int32_t k, const RowMap& map, double* rows,
             double* distances, double* kthSquared) {
    if (k == 0 || queries.count == 0) return;
    searchWith(index, Rows{queries, map, rows, distances, kthSquared, static_cast<std::size_t>(k)}, queries.count, k,
               k, Ties::byNumber);
}

}  // namespace tessary
