#include "gaussian_gate.hpp"

#include <cmath>
#include <cstddef>

namespace tessary {
namespace {

std::size_t at(std::int32_t column, int row) {
    return static_cast<std::size_t>(column) * candidatesPerPoint + static_cast<std::size_t>(row);
}

// Distances of point i to its candidates, tried in row order; `decide`
// returns true once a candidate settles the point. A missing candidate
// fails every gate, so the next row is tried.
template <typename Decide>
void tryCandidates(const GateQuery& query, const GaussianCache& cache, std::int32_t i, Decide decide) {
    const Vector3 p = vectorFrom(query.points + 3 * static_cast<std::size_t>(i));
    for (int row = 0; row < candidatesPerPoint; ++row) {
        const std::int32_t g = candidateNumber(query.ids[at(i, row)]);
        const double distance =
            g < 0 ? std::nan("") : static_cast<double>(mahalanobisDistance(p, cache.mean(g), cache.inverse(g)));
        if (decide(distance)) return;
    }
}

}  // namespace

std::int32_t candidateNumber(double entry) { return static_cast<std::int32_t>(entry - 1.0); }

std::int64_t findInvalidCandidate(const GateQuery& query) {
    const std::size_t count = at(query.pointCount, 0);
    const double last = static_cast<double>(query.gaussians.count) - 1.0;
    for (std::size_t k = 0; k < count; ++k) {
        const double number = std::trunc(query.ids[k] - 1.0);
        if (!(number >= -1.0 && number <= last)) return static_cast<std::int64_t>(k);
    }
    return -1;
}

GaussianCache::GaussianCache(const GateQuery& query)
    : inverses_(static_cast<std::size_t>(query.gaussians.count)), means_(static_cast<std::size_t>(query.gaussians.count)) {
    std::vector<char> used(static_cast<std::size_t>(query.gaussians.count), 0);
    const std::size_t count = at(query.pointCount, 0);
    for (std::size_t k = 0; k < count; ++k) {
        const std::int32_t g = candidateNumber(query.ids[k]);
        if (g >= 0) used[g] = 1;
    }
    const GaussianSet& set = query.gaussians;
#pragma omp parallel for schedule(static)
    for (std::int32_t g = 0; g < set.count; ++g) {
        if (!used[g]) continue;
        inverses_[g] = regularizedInverse(covarianceFrom(set.covariances + 9 * static_cast<std::size_t>(g)));
        means_[g] = vectorFrom(set.means + 3 * static_cast<std::size_t>(g));
    }
}

void gateStrict(const GateQuery& query, const GaussianCache& cache, double mahal, std::uint8_t* in) {
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < query.pointCount; ++i) {
        std::uint8_t inside = 0;
        tryCandidates(query, cache, i, [&](double distance) { return (inside = mahal > distance) != 0; });
        in[i] = inside;
    }
}

void gateTwoLevel(const GateQuery& query, const GaussianCache& cache, double mahal, double mahalUpper,
                  std::uint8_t* in, std::uint8_t* inUpper) {
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < query.pointCount; ++i) {
        std::uint8_t inside = 0, insideUpper = 0;
        tryCandidates(query, cache, i, [&](double distance) {
            inside = mahal > distance;
            insideUpper = inside || mahalUpper > distance;
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
