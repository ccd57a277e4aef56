// libFuzzer target for the numerical core. The first byte picks what the
// rest feeds:
//   0  raw float32 triples as points: the clustering must not crash and
//      must give the linear scan's labels;
//   1  bytes as lattice coordinates in steps of 0.125, where distances of
//      exactly eps abound: the same check;
//   2  float32 values as a point, a mean, a covariance and a threshold:
//      the kernel is only checked not to crash; the gate's test on the
//      quadratic form must agree with the test on the distance, its
//      rounded square root, at the threshold and at the distance itself;
//   3  a scale from 1e-160 to 1e155, K, then bytes as lattice coordinates
//      of points and queries, a query's coordinate possibly a rounding
//      step off its node: the K-nearest search under both tie rules and
//      the radius search must give what brute force gives;
//   4  an epsilon from 1e-150 to 1e150 and a lattice in quarters of it:
//      densityClusters must give the linear scan's labels.
#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <limits>
#include <vector>

#include "../tests/unit/brute_force_search.hpp"
#include "../tests/unit/reference_algorithms.hpp"
#include "density_clusterer.hpp"
#include "density_clusters.hpp"
#include "gaussian_gate.hpp"
#include "gaussian_kernel.hpp"

using namespace tessary;

namespace {

void checkClustering(const std::vector<ClusterPoint>& list) {
    DensityClusterer clusterer(list);
    clusterer.run();
    const std::vector<std::int32_t> expected = reference::dbscan(list);
    for (std::size_t k = 0; k < list.size(); ++k)
        if (clusterer.pointList()[k].clusterId != expected[k]) __builtin_trap();
}

void checkKernel(const float* v) {
    double point[3], mean[3], cov[9];
    for (int i = 0; i < 3; ++i) point[i] = v[i], mean[i] = v[3 + i];
    for (int i = 0; i < 9; ++i) cov[i] = v[6 + i];
    const Matrix3 inverse = regularizedInverse(covarianceFrom(cov));
    const float q = quadraticForm(vectorFrom(point), vectorFrom(mean), inverse);
    const double distance = mahalanobisDistance(vectorFrom(point), vectorFrom(mean), inverse);
    const double nextUp = std::nextafter(static_cast<float>(distance), std::numeric_limits<float>::infinity());
    for (const double threshold : {static_cast<double>(v[15]), distance, nextUp})
        if (GateLimit(threshold).passes(q) != (threshold > distance)) __builtin_trap();
}

// Byte b of the lattice: a node, or (for a query, by its top bits) a
// rounding step up or down from it.
double latticeValue(std::uint8_t b, double scale, bool query) {
    const double node = scale * (b & 0x0F);
    if (!query) return node;
    const int step = b >> 6;
    return step == 1 ? std::nextafter(node, INFINITY) : step == 2 ? std::nextafter(node, -INFINITY) : node;
}

void checkSearch(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    const double scale = std::pow(10.0, (data[0] << 8 | data[1]) % 316 - 160);  // 1e-160 .. 1e155
    const std::size_t n = 1 + data[2] % 40;
    data += 3;
    size -= 3;
    if (size < 3 * n + 4) return;
    std::vector<double> points, queries;
    for (std::size_t k = 0; k < 3 * n; ++k) points.push_back(latticeValue(data[k], scale, false));
    const auto k = static_cast<std::int32_t>(1 + data[3 * n] % (n + 3));
    const double r = scale * (data[3 * n + 1] % 8) * 0.5;
    for (std::size_t at = 3 * n + 2; at + 3 <= size && queries.size() < 3 * 600; at += 3)
        for (int d = 0; d < 3; ++d) queries.push_back(latticeValue(data[at + d], scale, true));
    const reference::BruteForceSearch search(points, queries);
    if (!search.knnAsMet(k).empty() || !search.knnByRow(k).empty() || !search.range(r).empty()) __builtin_trap();
}

void checkDensityClusters(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    const double eps = std::pow(10.0, (data[0] << 8 | data[1]) % 300 - 150) * (1 + data[2] % 9);  // 1e-150 .. 9e149
    const auto minPts = static_cast<std::uint32_t>(1 + data[2] / 9 % 5);
    const auto m = static_cast<std::int32_t>(std::min<std::size_t>((size - 3) / 3, 200));
    std::vector<double> rows(3 * static_cast<std::size_t>(m));
    for (std::size_t k = 0; k < rows.size(); ++k) rows[k] = 0.25 * eps * (data[3 + k] & 0x1F);
    std::vector<double> idx(static_cast<std::size_t>(m));
    std::vector<std::uint8_t> core(static_cast<std::size_t>(m));
    tessary::densityClusters(rows.data(), m, eps, minPts, idx.data(), core.data());
    if (idx != reference::dbscanRows(rows, eps, minPts)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0] % 5;
    ++data;
    --size;
    if (mode == 3) return checkSearch(data, size), 0;
    if (mode == 4) return checkDensityClusters(data, size), 0;
    if (mode == 2) {
        float v[16];
        if (size < sizeof v) return 0;
        std::memcpy(v, data, sizeof v);
        checkKernel(v);
        return 0;
    }
    std::vector<ClusterPoint> list;
    if (mode == 0) {
        for (std::size_t k = 0; k + 12 <= size && list.size() < 300; k += 12) {
            float xyz[3];
            std::memcpy(xyz, data + k, sizeof xyz);
            list.push_back({xyz[0], xyz[1], xyz[2], 0, UNCLASSIFIED});
        }
    } else {
        for (std::size_t k = 0; k + 3 <= size && list.size() < 300; k += 3)
            list.push_back({0.125f * static_cast<std::int8_t>(data[k]), 0.125f * static_cast<std::int8_t>(data[k + 1]),
                            0.125f * static_cast<std::int8_t>(data[k + 2]), 0, UNCLASSIFIED});
    }
    checkClustering(list);
    return 0;
}
