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

// Quadratic forms of point i under its candidates, tried in row order;
// `decide` returns true once a candidate settles the point. A missing
// candidate gives NaN, which fails every gate, so the next row is tried.
// Candidates are scattered over the whole set: fetch those of a point a few
// steps ahead while this one is worked on.
constexpr std::int32_t prefetchDistance = 8;

void prefetchAhead(const GateQuery& query, const GaussianCache& cache, std::int32_t i) {
    const std::int32_t ahead = i + prefetchDistance;
    if (ahead >= query.pointCount) return;
    for (int row = 0; row < candidatesPerPoint; ++row) {
        const std::int32_t g = candidateNumber(query.ids[at(ahead, row)]);
        if (g >= 0) cache.prefetch(g);
    }
}

template <typename Decide>
void tryCandidates(const GateQuery& query, const GaussianCache& cache, std::int32_t i, Decide decide) {
    prefetchAhead(query, cache, i);
    const Vector3 p = vectorFrom(query.points + 3 * static_cast<std::size_t>(i));
    for (int row = 0; row < candidatesPerPoint; ++row) {
        const std::int32_t g = candidateNumber(query.ids[at(i, row)]);
        const float q = g < 0 ? std::numeric_limits<float>::quiet_NaN() : quadraticForm(p, cache.mean(g), cache.inverse(g));
        if (decide(q)) return;
    }
}

}  // namespace

std::int32_t candidateNumber(double entry) { return static_cast<std::int32_t>(entry - 1.0); }

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

std::int64_t findInvalidCandidate(const GateQuery& query) {
    const auto count = static_cast<std::int64_t>(at(query.pointCount, 0));
    const double last = static_cast<double>(query.gaussians.count) - 1.0;
    // Each thread's first invalid entry; the first of all is the least. (The
    // OpenMP of Visual C++ has no min reduction.)
    std::vector<std::int64_t> firsts(static_cast<std::size_t>(maxThreads()), count);
#pragma omp parallel
    {
        std::int64_t& first = firsts[static_cast<std::size_t>(threadNumber())];
#pragma omp for schedule(static)
        for (std::int64_t k = 0; k < count; ++k) {
            // In range for the conversion first, which then truncates as
            // std::trunc would, without the call std::trunc is on plain x86-64.
            const double entry = query.ids[k] - 1.0;
            const bool valid = entry > -2.0 && entry < last + 1.0 && static_cast<std::int32_t>(entry) <= last;
            if (!valid && k < first) first = k;
        }
    }
    const std::int64_t first = *std::min_element(firsts.begin(), firsts.end());
    return first == count ? -1 : first;
}

GaussianCache::GaussianCache(const GateQuery& query) : entries_(static_cast<std::size_t>(query.gaussians.count)) {
    // Each thread marks the Gaussians its points name in a row of its own;
    // a Gaussian is used when any row marks it.
    const std::size_t count = static_cast<std::size_t>(query.gaussians.count);
    const int threads = maxThreads();
    std::vector<char> marks(count * static_cast<std::size_t>(threads), 0);
    const auto entries = static_cast<std::int64_t>(at(query.pointCount, 0));
#pragma omp parallel
    {
        char* mine = marks.data() + count * static_cast<std::size_t>(threadNumber());
#pragma omp for schedule(static)
        for (std::int64_t k = 0; k < entries; ++k) {
            const std::int32_t g = candidateNumber(query.ids[k]);
            if (g >= 0) mine[g] = 1;
        }
    }
    const GaussianSet& set = query.gaussians;
#pragma omp parallel for schedule(static)
    for (std::int32_t g = 0; g < set.count; ++g) {
        bool used = false;
        for (int t = 0; t < threads && !used; ++t) used = marks[count * static_cast<std::size_t>(t) + static_cast<std::size_t>(g)];
        if (!used) continue;
        entries_[g].inverse = regularizedInverse(covarianceFrom(set.covariances + 9 * static_cast<std::size_t>(g)));
        entries_[g].mean = vectorFrom(set.means + 3 * static_cast<std::size_t>(g));
    }
}

void gateStrict(const GateQuery& query, const GaussianCache& cache, double mahal, std::uint8_t* in) {
    const GateLimit strict(mahal);
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < query.pointCount; ++i) {
        std::uint8_t inside = 0;
        tryCandidates(query, cache, i, [&](float q) { return (inside = strict.passes(q)) != 0; });
        in[i] = inside;
    }
}

void gateTwoLevel(const GateQuery& query, const GaussianCache& cache, double mahal, double mahalUpper,
                  std::uint8_t* in, std::uint8_t* inUpper) {
    const GateLimit strict(mahal), upper(mahalUpper);
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < query.pointCount; ++i) {
        std::uint8_t inside = 0, insideUpper = 0;
        tryCandidates(query, cache, i, [&](float q) {
            inside = strict.passes(q);
            insideUpper = inside || upper.passes(q);
            return insideUpper != 0;
        });
        in[i] = inside;
        if (inUpper != nullptr) inUpper[i] = insideUpper;
    }
}

std::vector<ClusterPoint> rejectedPoints(const double* points, std::int32_t pointCount, const std::uint8_t* in) {
    std::size_t rejected = 0;
    for (std::int32_t i = 0; i < pointCount; ++i) rejected += in[i] == 0;
    std::vector<ClusterPoint> list;
    list.reserve(rejected);
    for (std::int32_t i = 0; i < pointCount; ++i) {
        if (in[i] != 0) continue;
        const double* p = points + 3 * static_cast<std::size_t>(i);
        list.push_back({static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]), 0, UNCLASSIFIED});
    }
    return list;
}

}  // namespace tessary
