// The searches and the clustering at the edges of double precision, against
// brute force: the cases once answered wrong, random clouds from 1e-160 to
// 1e155, lattices queried a rounding step off their nodes, K up to n + 3,
// and DBSCAN over the whole range of epsilon.
//
// The random runs are short by default; TESSARY_EXTREME_CASES sets how many
// clouds each takes (scripts/fuzz-long.sh runs many).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "brute_force_search.hpp"
#include "density_clusters.hpp"
#include "reference_algorithms.hpp"
#include "squared_limit.hpp"

using reference::BruteForceSearch;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

std::vector<double> columnsOf(const std::vector<std::vector<double>>& rows) {
    std::vector<double> out;
    for (const auto& r : rows) out.insert(out.end(), r.begin(), r.end());
    return out;
}

// A cloud and its queries, at scale 10^e.
struct Case {
    std::vector<double> points, queries;
    std::int32_t k;
    double r;
    std::string what;
};

Case randomCase(std::mt19937_64& rng) {
    std::uniform_int_distribution<int> exponent(-160, 155), kind(0, 3), coin(0, 1), pick(0, 1 << 30);
    std::uniform_real_distribution<double> u(-10.0, 10.0);
    const double scale = std::pow(10.0, exponent(rng));
    const int shape = kind(rng);
    const std::int32_t n = coin(rng) ? 1 + pick(rng) % 16 : 1 + pick(rng) % 300;
    // Offsets of 1e6 to 1e15 steps: the lattice's nodes then round.
    const double offset = shape == 2 ? scale * std::pow(10.0, 6 + pick(rng) % 10) : 0.0;
    const int side = 1 + pick(rng) % 5;
    Case c;
    std::vector<double> node;
    for (std::int32_t p = 0; p < n; ++p) {
        for (int d = 0; d < 3; ++d) {
            double v;
            if (shape == 0)
                v = scale * u(rng);
            else if (shape == 3 && p > 0 && coin(rng))
                v = c.points[3 * static_cast<std::size_t>(pick(rng) % p) + d];  // duplicates
            else
                v = offset + scale * (pick(rng) % (side + 1));
            c.points.push_back(v);
        }
    }
    // Many queries on few points: the groups that share their candidates.
    const bool crowded = n <= 16 && coin(rng);
    const std::int32_t m = crowded ? 32 * n + 32 : 40;
    double walk[3] = {c.points[0], c.points[1], c.points[2]};
    for (std::int32_t i = 0; i < m; ++i) {
        for (int d = 0; d < 3; ++d) {
            double v;
            if (crowded) {
                walk[d] += 0.02 * scale * u(rng);
                v = walk[d];
            } else if (shape == 0) {
                v = scale * u(rng);
            } else {
                // A node, a rounding step either side of one, or between two.
                const double at = offset + scale * (pick(rng) % (side + 2)) - (coin(rng) ? 0.0 : scale * 0.6);
                const int step = pick(rng) % 4;
                v = step == 0 ? at : step == 1 ? std::nextafter(at, inf) : step == 2 ? std::nextafter(at, -inf) : at + 0.5 * scale;
            }
            c.queries.push_back(v);
        }
    }
    c.k = pick(rng) % 3 == 0 ? 1 + pick(rng) % (n + 3) : 1 + pick(rng) % 3;
    // The distance to a point, so that points at the radius itself abound.
    const double* q = &c.queries[0];
    const double* p = &c.points[3 * static_cast<std::size_t>(pick(rng) % n)];
    c.r = std::sqrt(tessary::squaredDistance(q, p[0], p[1], p[2]));
    if (!(c.r < inf)) c.r = scale;
    c.what = "scale 1e" + std::to_string(static_cast<int>(std::lround(std::log10(scale)))) + " shape " +
             std::to_string(shape) + " n " + std::to_string(n) + " m " + std::to_string(m);
    return c;
}

long caseCount() {
    const char* setting = std::getenv("TESSARY_EXTREME_CASES");
    return setting != nullptr ? std::strtol(setting, nullptr, 10) : 300;
}

}  // namespace

// Rows 3 and 4 are the same point at the third distance: the smaller row
// wins, though the tree's bounds on the subtree holding it round up.
TEST(SearchExtremes, TiesByRowOneRoundingStepOffALattice) {
    const auto points = columnsOf({{1, 0, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0},
                                   {1, 1, 0}, {1, 1, 0}, {0, 0, 0}, {1, 0, 1}, {0, 1, 1}, {0, 0, 1}, {1, 1, 0},
                                   {1, 1, 0}, {1, 1, 1}, {1, 1, 0}});
    const std::vector<double> query = {1.6000000000000001, 1.2000000000000002, 1.2000000000000002};
    const BruteForceSearch search(points, query);
    EXPECT_EQ(search.knnByRow(3), "");
    EXPECT_EQ(search.knnAsMet(3), "");
}

// Every squared distance is finite, the largest 1.4e308; the bounds on the
// way to them once overflowed.
TEST(SearchExtremes, BoundsThatWouldOverflowOnTheWay) {
    std::vector<double> points;
    for (int i = 0; i < 20; ++i) points.insert(points.end(), {i * 1e152, 0, 0});
    const BruteForceSearch search(points, {-1e154, 0, 0});
    EXPECT_EQ(search.knnByRow(20), "");
    EXPECT_EQ(search.knnAsMet(20), "");
    EXPECT_EQ(search.range(1.3e154), "");
}

// Squares of 2^-537 round to 0 or to the smallest subnormal: the group's
// reach must cover that absolutely.
TEST(SearchExtremes, SubnormalSquaresWhereQueriesShareCandidates) {
    const double u = std::ldexp(1.0, -537);
    std::vector<double> queries(3 * 96, 0.0);
    queries[0] = 0.7 * u;
    const BruteForceSearch search({-0.6 * u, 0, 0, -0.5 * u, 0, 0, 1.3 * u, 0, 0}, queries);
    EXPECT_EQ(search.knnAsMet(1), "");
    EXPECT_EQ(search.knnByRow(1), "");
}

TEST(SearchExtremes, SquaredLimitOfEveryRadius) {
    EXPECT_EQ(tessary::squaredLimit(inf), inf);
    EXPECT_EQ(tessary::squaredLimit(std::nan("")), -inf);
    EXPECT_EQ(tessary::squaredLimit(-1.0), -inf);
    EXPECT_EQ(tessary::squaredLimit(0.0), 0.0);
    EXPECT_EQ(tessary::squaredLimit(1e300), std::numeric_limits<double>::max());
    for (const double r : {1e-160, 3e-155, 0.75, 1e154}) {
        const double s = tessary::squaredLimit(r);
        EXPECT_TRUE(std::sqrt(s) <= r && std::sqrt(std::nextafter(s, inf)) > r) << r;
    }
}

TEST(SearchExtremes, RandomCloudsAtEveryScaleMatchBruteForce) {
    const long cases = caseCount();
    std::mt19937_64 rng(20261210);
    long clean = 0;
    for (long t = 0; t < cases; ++t) {
        const Case c = randomCase(rng);
        const BruteForceSearch search(c.points, c.queries);
        for (const std::string& mismatch : {search.knnAsMet(c.k), search.knnByRow(c.k), search.range(c.r)})
            ASSERT_EQ(mismatch, "") << "case " << t << ", " << c.what;
        ++clean;
    }
    std::printf("%ld clouds at scales 1e-160 to 1e155 searched as brute force does\n", clean);
}

// Lattices in steps of a quarter of epsilon (many pairs at epsilon itself or
// a rounding step either side), off the origin by up to 1e6 epsilon.
TEST(SearchExtremes, ClusteringOverTheRangeOfEpsilonMatchesTheLinearScan) {
    const long cases = caseCount();
    std::mt19937_64 rng(1210);
    std::uniform_int_distribution<int> exponent(-150, 149), size(1, 120), cell(0, 12), minPts(1, 6), coin(0, 3);
    std::uniform_real_distribution<double> u(1.0, 10.0);
    long clean = 0;
    for (long t = 0; t < cases; ++t) {
        const double eps = std::pow(10.0, exponent(rng)) * u(rng);
        const double offset = coin(rng) == 0 ? eps * std::pow(10.0, coin(rng) * 2) : 0.0;
        const auto m = static_cast<std::int32_t>(size(rng));
        std::vector<double> rows(3 * static_cast<std::size_t>(m));
        for (double& v : rows) v = offset + 0.25 * eps * cell(rng);
        const auto points = static_cast<std::uint32_t>(minPts(rng));
        std::vector<double> idx(static_cast<std::size_t>(m));
        std::vector<std::uint8_t> core(static_cast<std::size_t>(m));
        ASSERT_TRUE(tessary::densityClustersFit(rows.data(), m, eps));
        tessary::densityClusters(rows.data(), m, eps, points, idx.data(), core.data());
        ASSERT_EQ(idx, reference::dbscanRows(rows, eps, points)) << "case " << t << ", epsilon " << eps;
        ++clean;
    }
    std::printf("%ld point sets clustered as the linear scan does, epsilon from 1e-150 to 1e150\n", clean);
}
