#include "gaussian_gate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "openmp.hpp"
#include "reference_algorithms.hpp"

using namespace tessary;

namespace {

// A random Gaussian set with the degenerate kinds mixed in: flat, negative,
// all-zero and NaN covariances, and rotated full ones.
struct Scene {
    std::vector<double> points, ids, means, covs;
    std::int32_t n, m;

    GateQuery query() const { return {points.data(), ids.data(), n, {means.data(), covs.data(), m}}; }
};

Scene randomScene(std::int32_t n, std::int32_t m, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::uniform_int_distribution<int> kind(0, 9), pick(0, m);
    Scene s{{}, {}, {}, {}, n, m};
    for (std::int32_t g = 0; g < m; ++g) {
        for (int c = 0; c < 3; ++c) s.means.push_back(5 * u(rng));
        double a[6];
        for (double& v : a) v = u(rng);
        double c[9];
        for (int r = 0; r < 3; ++r)
            for (int q = 0; q < 3; ++q) c[r + 3 * q] = a[r] * a[q] + 0.5 * a[3 + r] * a[3 + q];
        switch (kind(rng)) {
            case 0: for (double& v : c) v = 0; break;                          // all zero
            case 1: c[8] = -std::fabs(c[8]) - 0.1; break;                        // a negative eigenvalue
            case 2: c[4] = std::nan(""); break;                                 // NaN
            case 3: c[0] = c[4] = 1, c[1] = c[2] = c[5] = c[8] = 0; break;      // flat
            default: c[0] += 0.05, c[4] += 0.05, c[8] += 0.05; break;           // full rank
        }
        s.covs.insert(s.covs.end(), c, c + 9);
    }
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t g = pick(rng) % m;
        for (int c = 0; c < 3; ++c) s.points.push_back(s.means[3 * g + c] + 2 * u(rng));
        for (int j = 0; j < 3; ++j) {
            const int id = pick(rng);  // 0: no candidate
            s.ids.push_back(j == 0 && id > 0 ? g + 1 + 0.5 * (u(rng) > 0) : id);
        }
    }
    return s;
}

struct Masks {
    std::vector<std::uint8_t> in, inUpper, strict;
};

Masks gate(const Scene& s, double mahal, double mahalUpper) {
    const GateQuery q = s.query();
    const GaussianCache cache(q);
    Masks r{std::vector<std::uint8_t>(s.n), std::vector<std::uint8_t>(s.n), std::vector<std::uint8_t>(s.n)};
    gateTwoLevel(q, cache, mahal, mahalUpper, r.in.data(), r.inUpper.data());
    gateStrict(q, cache, mahal, r.strict.data());
    return r;
}

}  // namespace

TEST(GaussianGate, CachedInversesGiveTheMasksOfThePerPairKernel) {
    for (std::uint32_t seed : {1u, 2u, 3u, 4u}) {
        const Scene s = randomScene(4000, 300, seed);
        for (auto [mahal, upper] : {std::pair{1.0, 2.0}, {2.0, 1.0}, {0.5, 3.0}, {3.0, 3.0}}) {
            const Masks fast = gate(s, mahal, upper);
            Masks ref;
            reference::gatePerPair(s.query(), mahal, upper, ref.in, ref.inUpper, ref.strict);
            EXPECT_EQ(fast.in, ref.in) << "seed " << seed;
            EXPECT_EQ(fast.inUpper, ref.inUpper) << "seed " << seed;
            EXPECT_EQ(fast.strict, ref.strict) << "seed " << seed;
        }
    }
}

TEST(GaussianGate, FirstCandidateThatPassesEitherGateDecides) {
    // Distances along x under diag(1, 1e5, 1e5) are about |x - mean|.
    // Only x decides; y and z tell the points apart.
    const std::vector<double> points = {0, 1, 2, 0, 3, 4, 0, 5, 6};
    const std::vector<double> means = {1.5, 0, 0, 0.5, 0, 0, 3, 0, 0};
    std::vector<double> covs;
    for (int g = 0; g < 3; ++g) covs.insert(covs.end(), {1, 0, 0, 0, 100000, 0, 0, 0, 100000});
    const std::vector<double> ids = {1, 2, 3, 3, 3, 2, 3, 3, 3};  // about (1.5, 0.5, 3), (3, 3, 0.5), (3, 3, 3)
    const GateQuery q{points.data(), ids.data(), 3, {means.data(), covs.data(), 3}};
    const GaussianCache cache(q);
    std::vector<std::uint8_t> in(3), up(3), strict(3);
    gateTwoLevel(q, cache, 1, 2, in.data(), up.data());
    gateStrict(q, cache, 1, strict.data());
    EXPECT_EQ(in, (std::vector<std::uint8_t>{0, 1, 0}));
    EXPECT_EQ(up, (std::vector<std::uint8_t>{1, 1, 0}));
    EXPECT_EQ(strict, (std::vector<std::uint8_t>{1, 1, 0}));
    // The rejected list holds the points whose in is 0, in column order.
    const auto rejected = rejectedPoints(points.data(), 3, in.data());
    ASSERT_EQ(rejected.size(), 2u);
    EXPECT_EQ(rejected[0].y, 1.0f);
    EXPECT_EQ(rejected[0].z, 2.0f);
    EXPECT_EQ(rejected[1].y, 5.0f);
    EXPECT_EQ(rejected[1].z, 6.0f);
}

TEST(GaussianGate, CandidateNumbersAndTheirLimits) {
    const CandidateReader two(2), none(0);
    std::int32_t g = 7;
    for (auto [entry, number] : {std::pair{1.0, 0}, {2.9, 1}, {0.0, -1}, {0.5, 0}, {-0.5, -1}, {1e-300, -1}}) {
        EXPECT_TRUE(two.valid(entry, g)) << entry;
        EXPECT_EQ(g, number) << entry;
    }
    for (double bad : {3.0, -1.0, std::nan(""), 1e300, -1e300, std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(two.valid(bad, g)) << bad;
    // No Gaussian at all: only "no candidate" entries are valid.
    EXPECT_FALSE(none.valid(0.99, g));
    EXPECT_TRUE(none.valid(-0.5, g));
}

TEST(GaussianGate, TheGateNamesTheFirstInvalidEntryInColumnOrder) {
    Scene s = randomScene(20000, 50, 5);
    const auto both = [&](double mahal) {
        const GateQuery q = s.query();
        const GaussianCache cache(q);
        std::vector<std::uint8_t> in(s.n), up(s.n);
        const std::int64_t strict = gateStrict(q, cache, mahal, in.data());
        EXPECT_EQ(gateTwoLevel(q, cache, mahal, mahal, in.data(), up.data()), strict);
        return strict;
    };
    EXPECT_EQ(both(1.5), -1);
    // Spread over the blocks of several threads; also behind a first row
    // that decides (Gaussian 1 made regular: its distance passes 1e30).
    std::fill(s.covs.begin(), s.covs.begin() + 9, 0.0);
    s.covs[0] = s.covs[4] = s.covs[8] = 1;
    s.ids[3 * 7] = 1;
    for (std::size_t k : {std::size_t{3 * 7 + 2}, std::size_t{30001}, std::size_t{59999}}) s.ids[k] = 51;
    const int saved = tessary::maxThreads();
    for (int threads : {1, 2, 3}) {
        tessary::setThreadCount(threads);
        EXPECT_EQ(both(1e30), 3 * 7 + 2) << threads;
    }
    tessary::setThreadCount(saved);
    s.ids[3 * 7 + 2] = std::nan("");
    EXPECT_EQ(both(1.5), 3 * 7 + 2);
    // Columns beyond the points are never read.
    s.ids[3 * 7 + 2] = s.ids[30001] = 0;
    s.n = 19999;
    EXPECT_EQ(both(1.5), -1);
}

TEST(GaussianGate, MasksDoNotDependOnTheNumberOfThreads) {
    const Scene s = randomScene(50000, 2000, 9);
    const int saved = tessary::maxThreads();
    tessary::setThreadCount(1);
    const Masks one = gate(s, 1.5, 3);
    for (int threads : {2, 4}) {
        tessary::setThreadCount(threads);
        const Masks many = gate(s, 1.5, 3);
        EXPECT_EQ(one.in, many.in);
        EXPECT_EQ(one.inUpper, many.inUpper);
        EXPECT_EQ(one.strict, many.strict);
    }
    tessary::setThreadCount(saved);
}

TEST(GaussianGate, LimitOnTheQuadraticFormIsTheTestOnTheDistance) {
    std::mt19937 rng(8);
    std::uniform_int_distribution<std::uint32_t> bits;
    const double inf = std::numeric_limits<double>::infinity();
    for (double threshold : {0.0, -1.0, 1.0, 2.0, 2.9, 3.0, 1e-30, 1e20, 1e39, inf, -inf, std::nan(""),
                             static_cast<double>(std::nextafter(2.0f, 3.0f)), 2.0000000001}) {
        const GateLimit limit(threshold);
        auto expected = [&](float q) {
            return threshold > static_cast<double>(static_cast<float>(std::sqrt(static_cast<double>(q))));
        };
        std::vector<float> qs = {0.0f, -0.0f, -1.0f, std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()};
        const float near = static_cast<float>(threshold * threshold);
        float up = near, down = near;
        for (int k = 0; k < 40; ++k) {
            qs.push_back(up = std::nextafter(up, std::numeric_limits<float>::infinity()));
            qs.push_back(down = std::nextafter(down, 0.0f));
        }
        for (int k = 0; k < 20000; ++k) {
            const std::uint32_t b = bits(rng);
            float q;
            std::memcpy(&q, &b, sizeof q);
            qs.push_back(q);
        }
        // As integers: GCC 14.2 at -O2 compiled the comparison of the two
        // bools, on the branch it splits off for negative q, as a jump
        // straight to the failure report, both values stored as false.
        for (float q : qs) {
            const int passes = limit.passes(q), wanted = expected(q);
            ASSERT_EQ(passes, wanted) << "threshold " << threshold << " q " << q;
        }
    }
}
