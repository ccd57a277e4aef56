#include "density_clusterer.hpp"
#include "scan_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "openmp.hpp"
#include "reference_algorithms.hpp"

using namespace tessary;

namespace {

ClusterPoint at(float x, float y, float z) { return {x, y, z, 0, UNCLASSIFIED}; }

std::vector<std::int32_t> labels(const std::vector<ClusterPoint>& list, std::int32_t* clusters = nullptr) {
    DensityClusterer c(list);
    c.run();
    if (clusters != nullptr) *clusters = c.lastClusterId() + 1;
    std::vector<std::int32_t> out;
    for (const auto& r : c.pointList()) out.push_back(r.clusterId);
    return out;
}

void expectSameAsLinearScan(const std::vector<ClusterPoint>& list) {
    std::int32_t fast = 0, slow = 0;
    EXPECT_EQ(labels(list, &fast), reference::dbscan(list, &slow));
    EXPECT_EQ(fast, slow);
}

// Points on surfaces and in clumps, as a lidar scene looks at 0.75 m.
std::vector<ClusterPoint> scene(int n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0, 1);
    std::vector<ClusterPoint> list;
    for (int i = 0; i < n; ++i) {
        const float r = u(rng);
        if (r < 0.4f)
            list.push_back(at(40 * u(rng), 40 * u(rng), 0.05f * u(rng)));  // ground
        else if (r < 0.7f)
            list.push_back(at(10 + 2 * u(rng), 5 + 3 * u(rng), 2 * u(rng)));  // an object
        else
            list.push_back(at(60 * u(rng), 60 * u(rng), 10 * u(rng)));  // scattered
    }
    return list;
}

}  // namespace

TEST(DensityClusterer, EmptyCoincidentTightAndSparseSets) {
    EXPECT_TRUE(labels({}).empty());
    std::int32_t clusters = -5;
    labels({}, &clusters);
    EXPECT_EQ(clusters, 0);

    EXPECT_EQ(labels({at(0, 0, 0), at(0, 0, 0), at(0, 0, 0), at(0, 0, 0)}), std::vector<std::int32_t>(4, NOISE));
    EXPECT_EQ(labels({at(0, 0, 0), at(0.1f, 0, 0), at(0, 0.1f, 0), at(0, 0, 0.1f), at(0.1f, 0.1f, 0.1f)}),
              std::vector<std::int32_t>(5, 0));

    std::vector<ClusterPoint> line;
    for (int i = 0; i < 20; ++i) line.push_back(at(0.7f * i, 0, 0));
    EXPECT_EQ(labels(line), std::vector<std::int32_t>(20, NOISE));
}

TEST(DensityClusterer, ClustersAreNumberedInOrderOfFormation) {
    std::vector<ClusterPoint> list;
    for (int i = 0; i < 5; ++i) list.push_back(at(10 + 0.1f * i, 0, 0));  // formed second
    list.insert(list.begin(), at(0, 0, 0));
    for (int i = 0; i < 4; ++i) list.push_back(at(0.1f * (i + 1), 0, 0));  // formed first: holds record 0
    EXPECT_EQ(labels(list), (std::vector<std::int32_t>{0, 1, 1, 1, 1, 1, 0, 0, 0, 0}));
}

TEST(DensityClusterer, ExactlyEpsIsANeighbourAndNaNNeverIs) {
    // 0.75 = sqrt(0.5625) exactly: four points at exactly eps from the first.
    std::vector<ClusterPoint> list = {at(0, 0, 0), at(0.75f, 0, 0), at(-0.75f, 0, 0), at(0, 0.75f, 0), at(0, 0, -0.75f)};
    EXPECT_EQ(labels(list)[0], 0);
    list[4] = at(0, 0, std::nextafter(-0.75f, -1.0f));
    EXPECT_EQ(labels(list), std::vector<std::int32_t>(5, NOISE));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<ClusterPoint> dense(6, at(1, 1, 1));
    dense.push_back(at(1, nan, 1));
    const auto l = labels(dense);
    EXPECT_EQ(l.back(), NOISE);
    EXPECT_EQ(l[0], 0);
}

TEST(DensityClusterer, NoisePointReachedLaterJoinsTheCluster) {
    // Record 0 has only three neighbours; the core group after it reaches it.
    std::vector<ClusterPoint> list = {at(0, 0, 0)};
    for (int i = 0; i < 3; ++i) list.push_back(at(0.7f, 0.01f * i, 0));
    list.push_back(at(0.8f, 0, 0));
    list.push_back(at(0.9f, 0, 0));
    const auto l = labels(list);
    EXPECT_EQ(l[0], 0);
    for (auto v : l) EXPECT_NE(v, UNCLASSIFIED);
    expectSameAsLinearScan(list);
}

TEST(DensityClusterer, BorderPointKeepsTheFirstCluster) {
    // The middle point reaches only the innermost point of each group.
    const float offsets[] = {0.74f, 0.76f, 0.77f, 0.78f, 0.79f};
    std::vector<ClusterPoint> list;
    for (float x : offsets) list.push_back(at(-x, 0, 0));
    for (float x : offsets) list.push_back(at(x, 0, 0));
    list.push_back(at(0, 0, 0));
    const auto l = labels(list);
    EXPECT_EQ(l.back(), 0);
    EXPECT_EQ(l[5], 1);
    expectSameAsLinearScan(list);
}

TEST(DensityClusterer, MatchesTheLinearScanOnRandomScenes) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) expectSameAsLinearScan(scene(3000, seed));
}

TEST(DensityClusterer, MatchesTheLinearScanOnAdversarialSets) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> grid(0, 6);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();

    // Lattice of spacing 0.75: countless pairs at exactly eps, and duplicates.
    std::vector<ClusterPoint> lattice;
    for (int i = 0; i < 1500; ++i) lattice.push_back(at(0.75f * grid(rng), 0.75f * grid(rng), 0.75f * grid(rng)));
    expectSameAsLinearScan(lattice);

    // Thousands of points in one cell.
    std::uniform_real_distribution<float> tiny(0, 0.01f);
    std::vector<ClusterPoint> clump;
    for (int i = 0; i < 2500; ++i) clump.push_back(at(tiny(rng), tiny(rng), tiny(rng)));
    expectSameAsLinearScan(clump);

    // Non-finite, huge and cell-boundary coordinates mixed into a scene.
    std::vector<ClusterPoint> mixed = scene(1500, 3);
    const float specials[] = {nan, inf, -inf, 3.0e38f, -3.0e38f, 1e20f, 1e20f, 0.8f, 1.6f, -0.8f, 0.7999999f};
    std::uniform_int_distribution<int> which(0, 10), coordinate(0, 2), row(0, 1499);
    for (int k = 0; k < 300; ++k) {
        ClusterPoint& p = mixed[row(rng)];
        (&p.x)[coordinate(rng)] = specials[which(rng)];
    }
    for (int k = 0; k < 6; ++k) mixed.push_back(at(1e20f, 1e20f, -3e38f));  // a cluster out there
    expectSameAsLinearScan(mixed);
}

TEST(DensityClusterer, MatchesTheLinearScanOnManySmallSetsOfEveryDensity) {
    std::mt19937 rng(2026);
    std::uniform_real_distribution<float> u(0, 1);
    std::uniform_int_distribution<int> size(1, 400), lattice(0, 1);
    for (int set = 0; set < 300; ++set) {
        const float extent = 0.5f + 12.0f * u(rng);
        const bool onLattice = lattice(rng) == 1;  // steps of 0.25: many distances of exactly 0.75
        const float offset = set % 3 == 0 ? 0.0f : (set % 3 == 1 ? 1e6f : -3.3e7f);
        std::vector<ClusterPoint> list;
        const int n = size(rng);
        for (int i = 0; i < n; ++i) {
            float v[3];
            for (float& c : v) c = onLattice ? 0.25f * std::floor(4 * extent * u(rng)) : extent * u(rng);
            list.push_back(at(v[0] + offset, v[1], v[2] - offset));
        }
        expectSameAsLinearScan(list);
        if (HasFailure()) {
            ADD_FAILURE() << "set " << set;
            return;
        }
    }
}

TEST(DensityClusterer, MatchesTheLinearScanOnFewPointsInBoxesAboutTheRadius) {
    // Boxes whose diagonal lies about eps: whether a grid cell may count all
    // of its points as neighbours is decided here.
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> u(0, 1);
    std::uniform_int_distribution<int> size(5, 8);
    for (int set = 0; set < 3000; ++set) {
        const float side = 0.3f + 0.35f * u(rng);
        const float shift = 10 * u(rng) - 5;
        std::vector<ClusterPoint> list;
        const int n = size(rng);
        for (int i = 0; i < n - 1; ++i) list.push_back(at(shift + 0.05f * u(rng), 0.05f * u(rng), 0.05f * u(rng)));
        list.push_back(at(shift + side, side, side));
        expectSameAsLinearScan(list);
        if (HasFailure()) {
            ADD_FAILURE() << "set " << set;
            return;
        }
    }
}

TEST(DensityClusterer, MatchesTheLinearScanJustInsideAndOutsideTheRadius) {
    // A dense group and lone points a few float steps either side of eps,
    // along the axes and along diagonals.
    std::vector<ClusterPoint> list(6, at(0, 0, 0));
    float inside = 0.75f, outside = 0.75f;
    for (int step = 0; step < 12; ++step) {
        inside = std::nextafter(inside, 0.0f);
        outside = std::nextafter(outside, 1.0f);
        const float shift = 4.0f * (step + 1);
        for (float r : {inside, outside, 0.75f}) {
            std::vector<ClusterPoint> group(6, at(shift, 0, 0));
            list.insert(list.end(), group.begin(), group.end());
            list.push_back(at(shift + r, 0, 0));
            list.push_back(at(shift, -r, 0));
            const float d = r / std::sqrt(3.0f);
            list.push_back(at(shift + d, d, d));
            list.push_back(at(shift - d, d, -d));
        }
        // Two dense groups whose nearest members are just beyond eps apart.
        std::vector<ClusterPoint> a(5, at(shift, 10, 0)), b(5, at(shift + outside, 10, 0));
        list.insert(list.end(), a.begin(), a.end());
        list.insert(list.end(), b.begin(), b.end());
    }
    expectSameAsLinearScan(list);
}

TEST(DensityClusterer, MatchesTheLinearScanOnARealScan) {
    const std::vector<double> xyz = scan_file::read();
    ASSERT_FALSE(xyz.empty());
    // Every sixth point of the scan: dense near the sensor, sparse far out.
    std::vector<ClusterPoint> list;
    for (std::size_t k = 0; k < 124668; k += 6)
        list.push_back(at(static_cast<float>(xyz[3 * k]), static_cast<float>(xyz[3 * k + 1]), static_cast<float>(xyz[3 * k + 2])));
    expectSameAsLinearScan(list);
}

TEST(DensityClusterer, LabelsDoNotDependOnTheNumberOfThreads) {
    const auto list = scene(40000, 11);
    const int saved = tessary::maxThreads();
    tessary::setThreadCount(1);
    const auto one = labels(list);
    tessary::setThreadCount(3);
    EXPECT_EQ(one, labels(list));
    tessary::setThreadCount(saved);
}
