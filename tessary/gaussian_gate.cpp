#include "gaussian_gate.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "openmp.hpp"

namespace tessary {
namespace {

std::size_t at(std::int32_t column, int row) {
    return static_cast<std::size_t>(column) * candidatesPerPoint + static_cast<std::size_t>(row);
}

// The entry of ids for point i's candidate `row`, in either layout.
double entry(const GateQuery& query, std::int32_t i, int row) {
    if (!query.layout.rows) return query.ids[at(i, row)];
    return row < query.layout.candidates
               ? query.ids[static_cast<std::size_t>(i) + static_cast<std::size_t>(row) * query.pointCount]
               : 0.0;
}

// Coordinate d of item i of an array of `count` items, in either layout.
double coordinate(const double* data, bool rows, std::int32_t count, std::size_t i, int d) {
    return rows ? data[i + static_cast<std::size_t>(d) * static_cast<std::size_t>(count)] : data[3 * i + d];
}

Vector3 vectorAt(const double* data, bool rows, std::int32_t count, std::size_t i) {
    if (!rows) return vectorFrom(data + 3 * i);
    const double xyz[3] = {coordinate(data, true, count, i, 0), coordinate(data, true, count, i, 1),
                           coordinate(data, true, count, i, 2)};
    return vectorFrom(xyz);
}

// Candidates are scattered over the whole set: fetch those of a point a few
// steps ahead while this one is worked on.
constexpr std::int32_t prefetchDistance = 8;

void prefetchAhead(const GateQuery& query, const CandidateReader& reader, const GaussianCache& cache, std::int32_t i) {
    const std::int32_t ahead = i + prefetchDistance;
    if (ahead >= query.pointCount) return;
    for (int row = 0; row < candidatesPerPoint; ++row) {
        std::int32_t g;
        if (reader.gaussian(entry(query, ahead, row), g) && g >= 0) cache.prefetch(g);
    }
}

constexpr std::int64_t noneInvalid = std::numeric_limits<std::int64_t>::max();

// Point i's candidate numbers into g, every entry checked; false at the
// first invalid one, whose index into ids goes to `bad`.
bool readCandidates(const GateQuery& query, const CandidateReader& reader, std::int32_t i, std::int32_t* g,
                    std::int64_t& bad) {
    for (int row = 0; row < candidatesPerPoint; ++row) {
        if (!reader.valid(entry(query, i, row), g[row])) {
            bad = static_cast<std::int64_t>(at(i, row));
            return false;
        }
    }
    return true;
}

// Quadratic forms of point i under its candidates g, tried in row order;
// `decide` returns true once a candidate settles the point. A missing
// candidate gives NaN, which fails every gate, so the next row is tried.
template <typename Decide>
void tryCandidates(const GateQuery& query, const CandidateReader& reader, const GaussianCache& cache, std::int32_t i,
                   const std::int32_t* g, Decide decide) {
    prefetchAhead(query, reader, cache, i);
    const Vector3 p = vectorAt(query.points, query.layout.rows, query.pointCount, static_cast<std::size_t>(i));
    for (int row = 0; row < candidatesPerPoint; ++row) {
        const float q = g[row] < 0 ? std::numeric_limits<float>::quiet_NaN()
                                   : quadraticForm(p, cache.mean(g[row]), cache.inverse(g[row]));
        if (decide(q)) return;
    }
}

// gatePoint(i, g) for every point, in parallel, in the pass that reads and
// checks its candidates; returns the index into ids of the first invalid
// entry, or -1. Each thread takes one block of points in increasing order
// (the static schedule): once it meets an invalid entry none of its later
// ones can come first, and it gates no more.
template <typename GatePoint>
std::int64_t gatePoints(const GateQuery& query, const CandidateReader& reader, GatePoint gatePoint) {
    std::vector<std::int64_t> firsts(static_cast<std::size_t>(maxThreads()), noneInvalid);
#pragma omp parallel
    {
        std::int64_t first = noneInvalid;
#pragma omp for schedule(static)
        for (std::int32_t i = 0; i < query.pointCount; ++i) {
            std::int32_t g[candidatesPerPoint];
            if (first == noneInvalid && readCandidates(query, reader, i, g, first)) gatePoint(i, g);
        }
        firsts[static_cast<std::size_t>(threadNumber())] = first;
    }
    const std::int64_t first = *std::min_element(firsts.begin(), firsts.end());
    return first == noneInvalid ? -1 : first;
}

}  // namespace

GateLimit::GateLimit(double threshold) : largest_(-1.0f) {
    auto passes = [threshold](std::uint32_t bits) {
        float q;
        std::memcpy(&q, &bits, sizeof q);
        return threshold > static_cast<double>(static_cast<float>(std::sqrt(static_cast<double>(q))));
    };
    // Binary search over the bit patterns of 0 .. +Inf, which order like the values.
    constexpr std::uint32_t infinity = 0x7F800000u;
    if (!passes(0)) return;
    std::uint32_t low = 0, high = infinity;  // passes(low), and high is the first candidate beyond
    if (passes(infinity)) {
        low = infinity;
    } else {
        while (high - low > 1) {
            const std::uint32_t mid = low + (high - low) / 2;
            (passes(mid) ? low : high) = mid;
        }
    }
    std::memcpy(&largest_, &low, sizeof largest_);
}

GaussianCache::GaussianCache(const GateQuery& query) : entries_(static_cast<std::size_t>(query.gaussians.count)) {
    // Each thread marks the Gaussians its points name in a row of its own;
    // a Gaussian is used when any row marks it. Invalid entries are the
    // gate's to report.
    const std::int32_t count = query.gaussians.count;
    const int threads = maxThreads();
    std::vector<char> marks(static_cast<std::size_t>(count) * static_cast<std::size_t>(threads), 0);
    const auto entries = static_cast<std::int64_t>(at(query.pointCount, 0));
    const CandidateReader reader(count);
#pragma omp parallel
    {
        char* mine = marks.data() + static_cast<std::size_t>(count) * static_cast<std::size_t>(threadNumber());
#pragma omp for schedule(static)
        for (std::int64_t k = 0; k < entries; ++k) {
            std::int32_t g;
            const double e = entry(query, static_cast<std::int32_t>(k / candidatesPerPoint),
                                   static_cast<int>(k % candidatesPerPoint));
            if (reader.gaussian(e, g) && g >= 0) mine[g] = 1;
        }
    }
    const GaussianSet& set = query.gaussians;
#pragma omp parallel for schedule(static)
    for (std::int32_t g = 0; g < set.count; ++g) {
        bool used = false;
        for (int t = 0; t < threads && !used; ++t)
            used = marks[static_cast<std::size_t>(count) * static_cast<std::size_t>(t) + static_cast<std::size_t>(g)];
        if (!used) continue;
        entries_[g].inverse = regularizedInverse(covarianceFrom(set.covariances + 9 * static_cast<std::size_t>(g)));
        entries_[g].mean = vectorAt(set.means, query.layout.rows, set.count, static_cast<std::size_t>(g));
    }
}

std::int64_t gateStrict(const GateQuery& query, const GaussianCache& cache, double mahal, std::uint8_t* in) {
    const GateLimit strict(mahal);
    const CandidateReader reader(query.gaussians.count);
    return gatePoints(query, reader, [&](std::int32_t i, const std::int32_t* g) {
        std::uint8_t inside = 0;
        tryCandidates(query, reader, cache, i, g, [&](float q) { return (inside = strict.passes(q)) != 0; });
        in[i] = inside;
    });
}

std::int64_t gateTwoLevel(const GateQuery& query, const GaussianCache& cache, double mahal, double mahalUpper,
                          std::uint8_t* in, std::uint8_t* inUpper) {
    const GateLimit strict(mahal), upper(mahalUpper);
    const CandidateReader reader(query.gaussians.count);
    return gatePoints(query, reader, [&](std::int32_t i, const std::int32_t* g) {
        std::uint8_t inside = 0, insideUpper = 0;
        tryCandidates(query, reader, cache, i, g, [&](float q) {
            inside = strict.passes(q);
            insideUpper = inside || upper.passes(q);
            return insideUpper != 0;
        });
        in[i] = inside;
        if (inUpper != nullptr) inUpper[i] = insideUpper;
    });
}

std::vector<ClusterPoint> rejectedPoints(const double* points, std::int32_t pointCount, const std::uint8_t* in,
                                         bool rows) {
    std::size_t rejected = 0;
    for (std::int32_t i = 0; i < pointCount; ++i) rejected += in[i] == 0;
    std::vector<ClusterPoint> list;
    list.reserve(rejected);
    for (std::int32_t i = 0; i < pointCount; ++i) {
        if (in[i] != 0) continue;
        const auto at = static_cast<std::size_t>(i);
        list.push_back({static_cast<float>(coordinate(points, rows, pointCount, at, 0)),
                        static_cast<float>(coordinate(points, rows, pointCount, at, 1)),
                        static_cast<float>(coordinate(points, rows, pointCount, at, 2)), 0, UNCLASSIFIED});
    }
    return list;
}

}  // namespace tessary
