// The plain algorithms the fast paths must agree with bit for bit: the
// gate evaluating the whole kernel per (point, candidate) pair, and DBSCAN
// with linear-scan region queries.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "density_clusterer.hpp"
#include "gaussian_gate.hpp"
#include "gaussian_kernel.hpp"

namespace reference {

using tessary::ClusterPoint;

// Per point: `in`, `inUpper`, both from the two-level gate.
inline void gatePerPair(const tessary::GateQuery& q, double mahal, double mahalUpper, std::vector<std::uint8_t>& in,
                        std::vector<std::uint8_t>& inUpper, std::vector<std::uint8_t>& strict) {
    in.assign(q.pointCount, 0);
    inUpper.assign(q.pointCount, 0);
    strict.assign(q.pointCount, 0);
    for (std::int32_t i = 0; i < q.pointCount; ++i) {
        const double* p = q.points + 3 * i;
        bool decided = false;
        for (int j = 0; j < 3; ++j) {
            const auto g = static_cast<std::int32_t>(q.ids[3 * i + j] - 1.0);  // valid entries only
            const double d = g < 0 ? std::nan("")
                                   : static_cast<double>(tessary::gaussianDistance(p, q.gaussians.means + 3 * g,
                                                                                   q.gaussians.covariances + 9 * g));
            if (!decided) {
                if (mahal > d) {
                    in[i] = inUpper[i] = 1;
                    decided = true;
                } else if (mahalUpper > d) {
                    inUpper[i] = 1;
                    decided = true;
                }
            }
            if (mahal > d) strict[i] = 1;
        }
    }
}

inline std::vector<std::int32_t> regionQuery(const std::vector<ClusterPoint>& list, std::int32_t p) {
    std::vector<std::int32_t> result;
    const float eps = 0.75f;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(list.size()); ++i) {
        if (i == p) continue;
        const float dx = list[p].x - list[i].x, dy = list[p].y - list[i].y, dz = list[p].z - list[i].z;
        const float s = (dy * dy + dx * dx) + dz * dz;
        const float d = static_cast<float>(std::sqrt(static_cast<double>(s)));
        if (eps >= d) result.push_back(i);
    }
    return result;
}

// Labels of the linear-scan DBSCAN over `count` points whose neighbours,
// the point itself left out, `region(i)` lists in ascending order; and the
// number of clusters.
template <class Region>
std::vector<std::int32_t> dbscanWith(std::int32_t count, std::uint32_t minPts, Region region,
                                     std::int32_t* clusters = nullptr) {
    std::vector<std::int32_t> labels(static_cast<std::size_t>(count), tessary::UNCLASSIFIED);
    std::int32_t last = -1;
    for (std::int32_t i = 0; i < count; ++i) {
        if (labels[i] != tessary::UNCLASSIFIED) continue;
        std::vector<std::int32_t> seeds = region(i);
        if (seeds.size() + 1 < minPts) {
            labels[i] = tessary::NOISE;
            continue;
        }
        labels[i] = ++last;
        while (!seeds.empty()) {
            const std::int32_t c = seeds.back();
            seeds.pop_back();
            if (labels[c] == tessary::NOISE) labels[c] = last;
            if (labels[c] != tessary::UNCLASSIFIED) continue;
            labels[c] = last;
            const std::vector<std::int32_t> nb = region(c);
            if (nb.size() + 1 >= minPts) seeds.insert(seeds.end(), nb.begin(), nb.end());
        }
    }
    if (clusters != nullptr) *clusters = last + 1;
    return labels;
}

// "kd"'s clustering: float32, eps 0.75, 5 points.
inline std::vector<std::int32_t> dbscan(const std::vector<ClusterPoint>& list, std::int32_t* clusters = nullptr) {
    return dbscanWith(static_cast<std::int32_t>(list.size()), 5, [&](std::int32_t i) { return regionQuery(list, i); },
                      clusters);
}

// densityClusters' rule on m x 3 rows (column-major): neighbours when
// sqrt((dx*dx + dy*dy) + dz*dz), in double, is at most eps; labels as it
// gives them, -1 for noise and clusters from 1.
inline std::vector<double> dbscanRows(const std::vector<double>& rows, double eps, std::uint32_t minPts) {
    const auto m = static_cast<std::int32_t>(rows.size() / 3);
    const auto region = [&](std::int32_t p) {
        std::vector<std::int32_t> result;
        for (std::int32_t i = 0; i < m; ++i) {
            const double dx = rows[p] - rows[i], dy = rows[p + m] - rows[i + m], dz = rows[p + 2 * m] - rows[i + 2 * m];
            if (i != p && std::sqrt((dx * dx + dy * dy) + dz * dz) <= eps) result.push_back(i);
        }
        return result;
    };
    std::vector<double> labels;
    for (const std::int32_t label : dbscanWith(m, minPts, region)) labels.push_back(label < 0 ? -1.0 : label + 1.0);
    return labels;
}

}  // namespace reference
