#include "knn_search.hpp"

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "nanoflann_compat.hpp"
#include "openmp.hpp"
#include "shared_candidates.hpp"
#include "scan_file.hpp"

using tessary::knnSearch;
using tessary::PointIndex;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct Result {
    std::vector<double> numbers, distances;
};

Result search(const PointIndex& index, const std::vector<double>& queries, int k) {
    const int m = static_cast<int>(queries.size() / 3);
    Result r{std::vector<double>(static_cast<std::size_t>(k) * m), std::vector<double>(static_cast<std::size_t>(k) * m)};
    knnSearch(index, queries.data(), m, k, r.numbers.data(), r.distances.data());
    return r;
}

// Points on a small integer grid, so that equal distances are common.
std::vector<double> gridCloud(int n, int side, std::mt19937& rng) {
    std::uniform_int_distribution<int> coordinate(0, side);
    std::vector<double> points(3 * static_cast<std::size_t>(n));
    for (auto& v : points) v = coordinate(rng);
    return points;
}

std::vector<double> uniformCloud(int n, std::mt19937& rng) {
    std::uniform_real_distribution<double> coordinate(-10.0, 10.0);
    std::vector<double> points(3 * static_cast<std::size_t>(n));
    for (auto& v : points) v = coordinate(rng);
    return points;
}

double squaredDistance(const double* a, const double* b) {
    const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
    return d0 * d0 + d1 * d1 + d2 * d2;
}

// Checks one query's column against brute force: distances exactly, numbers
// as sets within each group of equal distance (the tree decides the order
// among ties, and which tied points make the cut at the K-th slot).
void expectMatchesBruteForce(const std::vector<double>& points, const double* query, int k, const double* numbers,
                             const double* distances) {
    const int n = static_cast<int>(points.size() / 3);
    std::vector<double> all(n);
    for (int p = 0; p < n; ++p) all[p] = squaredDistance(query, &points[3 * p]);
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return all[a] < all[b]; });
    const int filled = std::min(k, n);
    for (int j = 0; j < filled; ++j) {
        ASSERT_EQ(distances[j], all[order[j]]) << "slot " << j;
        const int number = static_cast<int>(numbers[j]);
        ASSERT_GE(number, 1);
        ASSERT_LE(number, n);
        ASSERT_EQ(all[number - 1], distances[j]) << "slot " << j << " names a point at another distance";
    }
    std::vector<double> chosen(numbers, numbers + filled);
    std::sort(chosen.begin(), chosen.end());
    ASSERT_TRUE(std::adjacent_find(chosen.begin(), chosen.end()) == chosen.end()) << "a point is reported twice";
    for (int j = filled; j < k; ++j) {
        ASSERT_EQ(numbers[j], 0.0);
        ASSERT_EQ(distances[j], inf);
    }
}

}  // namespace

TEST(KnnSearch, MatchesBruteForceOverManySizesAndK) {
    std::mt19937 rng(20261208);
    for (int n : {1, 2, 5, 10, 11, 31, 200, 1500}) {
        for (bool grid : {false, true}) {
            const auto points = grid ? gridCloud(n, 4, rng) : uniformCloud(n, rng);
            const PointIndex index(points.data(), n);
            const auto queries = grid ? gridCloud(40, 4, rng) : uniformCloud(40, rng);
            for (int k : {1, 3, 10, n, n + 3}) {
                const auto r = search(index, queries, k);
                for (int i = 0; i < 40; ++i)
                    expectMatchesBruteForce(points, &queries[3 * i], k, &r.numbers[k * i], &r.distances[k * i]);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// The plain search: nanoflann's Eigen adaptor over an N x 3 matrix, leaf
// size 10, default search parameters, the points where the caller had them;
// its squared distances added in axis order, as the modules add them.
class PlainSearch {
public:
    explicit PlainSearch(const std::vector<double>& points)
        : rows_(Eigen::Map<const Eigen::MatrixXd>(points.data(), 3, static_cast<Eigen::Index>(points.size() / 3))
                    .transpose()),
          tree_(3, std::cref(rows_), 10) {}

    // Every query's column, as knnSearch lays them out.
    Result search(const std::vector<double>& queries, int k) const {
        const int m = static_cast<int>(queries.size() / 3);
        Result r{std::vector<double>(static_cast<std::size_t>(k) * m, 0.0),
                 std::vector<double>(static_cast<std::size_t>(k) * m, inf)};
        std::vector<Eigen::Index> numbers(k);
        std::vector<double> distances(k);
        for (int i = 0; i < m; ++i) {
            nanoflann::KNNResultSet<double, Eigen::Index> result(k);
            result.init(numbers.data(), distances.data());
            nanoflann_compat::indexOf(tree_).findNeighbors(result, &queries[3 * static_cast<std::size_t>(i)],
                                       nanoflann_compat::SearchParameters());
            for (std::size_t j = 0; j < result.size(); ++j) {
                r.numbers[static_cast<std::size_t>(k) * i + j] = numbers[j] + 1.0;
                r.distances[static_cast<std::size_t>(k) * i + j] = distances[j];
            }
        }
        return r;
    }

    // The squared distance from q to point `number` (from 1).
    double squaredDistanceTo(const double* q, double number) const {
        const auto p = static_cast<Eigen::Index>(number) - 1;
        const double point[3] = {rows_(p, 0), rows_(p, 1), rows_(p, 2)};
        return squaredDistance(q, point);
    }

private:
    Eigen::MatrixXd rows_;
    nanoflann::KDTreeEigenMatrixAdaptor<Eigen::MatrixXd, -1, nanoflann_compat::metric_L2_in_order> tree_;
};

// Ours against the plain search, to the bit where nanoflann keeps equal
// distances in the order its search meets them, on 1.4's tree. Later
// releases sort them in no fixed order and build another tree, which
// decides which equal points make the k-th place: there the distances
// agree to the bit and each number names a point at its distance, once.
void expectSameColumns(const Result& ours, const PlainSearch& plain, const std::vector<double>& queries, int k) {
    const Result expected = plain.search(queries, k);
    const std::size_t m = ours.numbers.size() / static_cast<std::size_t>(k);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t first = i * static_cast<std::size_t>(k);
        std::vector<double> column(ours.numbers.begin() + first, ours.numbers.begin() + first + k);
        std::sort(column.begin(), column.end());
        ASSERT_TRUE(std::adjacent_find(column.begin(), column.end(), [](double a, double b) { return a == b && a != 0; }) ==
                    column.end()) << "query " << i << " k " << k << ": a point twice";
        for (int j = 0; j < k; ++j) {
            const std::size_t at = first + static_cast<std::size_t>(j);
            ASSERT_EQ(std::memcmp(&ours.distances[at], &expected.distances[at], sizeof(double)), 0)
                << "query " << i << " slot " << j << " k " << k;
            if (nanoflann_compat::keepsTiesAsMet || expected.numbers[at] == 0.0) {
                ASSERT_EQ(ours.numbers[at], expected.numbers[at]) << "query " << i << " slot " << j << " k " << k;
            } else {
                const double d = plain.squaredDistanceTo(&queries[3 * i], ours.numbers[at]);
                ASSERT_EQ(std::memcmp(&d, &ours.distances[at], sizeof(double)), 0)
                    << "query " << i << " slot " << j << " k " << k;
            }
        }
    }
}

TEST(KnnSearch, GivesThePlainSearchResultTiesIncluded) {
    std::mt19937 rng(7);
    // 5,000 points: the vector insertion, with the queries in their own order.
    for (int n : {1, 9, 10, 11, 100, 3000, 5000}) {
        for (bool grid : {true, false}) {
            const auto points = grid ? gridCloud(n, 3, rng) : uniformCloud(n, rng);  // grid: ties everywhere
            const PointIndex index(points.data(), n);
            const PlainSearch plain(points);
            const auto queries = grid ? gridCloud(60, 3, rng) : uniformCloud(60, rng);
            for (int k : {1, 2, 3, 4, 12, 16}) expectSameColumns(search(index, queries, k), plain, queries, k);
            if (HasFatalFailure()) return;
        }
    }
}

// Enough queries that they are searched along the curve, some of them far
// outside the cloud or not finite.
TEST(KnnSearch, ManyQueriesGiveThePlainSearchResult) {
    std::mt19937 rng(11);
    const auto points = gridCloud(30000, 25, rng);
    const PointIndex index(points.data(), 30000);
    const PlainSearch plain(points);
    auto queries = uniformCloud(9000, rng);
    for (auto& v : queries) v = 1.5 * v + 12.5;
    queries[3] = std::nan("");
    queries[10] = inf;
    queries[20] = -1e300;
    for (int k : {1, 3, 8}) expectSameColumns(search(index, queries, k), plain, queries, k);
}

// The scan, with queries in no order (the search sorts them along its curve
// and searches them in runs whose length depends on K): jittered points,
// points of the scan themselves and midpoints of two, which lie as far from
// both.
TEST(KnnSearch, ScanQueriesInNoOrderGiveThePlainSearchResult) {
    const std::vector<double> points = scan_file::read();
    ASSERT_FALSE(points.empty());
    const auto n = static_cast<int>(points.size() / 3);
    const PointIndex index(points.data(), n);
    const PlainSearch plain(points);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, n - 9);
    std::normal_distribution<double> jitter(0.0, 0.05);
    std::vector<double> queries;
    for (int i = 0; i < 12000; ++i) {
        // p and a point a few places after it in the sensor's order, nearby.
        const std::size_t at = static_cast<std::size_t>(pick(rng));
        const double* p = &points[3 * at];
        const double* r = &points[3 * (at + 1 + static_cast<std::size_t>(i % 8))];
        switch (i % 3) {
            case 0: queries.insert(queries.end(), {p[0] + jitter(rng), p[1] + jitter(rng), p[2] + jitter(rng)}); break;
            case 1: queries.insert(queries.end(), {p[0], p[1], p[2]}); break;
            default: queries.insert(queries.end(), {(p[0] + r[0]) / 2, (p[1] + r[1]) / 2, (p[2] + r[2]) / 2});
        }
    }
    for (int k : {1, 3, 10, 16, 17, 100}) expectSameColumns(search(index, queries, k), plain, queries, k);
}

// Points whose gaps double along one axis: every split cuts off a few, so
// the tree is as deep as the points are many.
TEST(KnnSearch, DeepTreeGivesThePlainSearchResult) {
    std::vector<double> points;
    for (int i = 0; i < 600; ++i) points.insert(points.end(), {std::ldexp(1.0, i), 0.5 * (i % 3), 0.0});
    const PointIndex index(points.data(), 600);
    ASSERT_GT(index.searchDepth(), 300u);
    const PlainSearch plain(points);
    std::vector<double> queries;
    for (int i = 0; i < 5000; ++i) queries.insert(queries.end(), {std::ldexp(1.0, i % 620) * 0.75, 1.0, 0.0});
    for (int k : {1, 3, 5}) expectSameColumns(search(index, queries, k), plain, queries, k);
}

TEST(KnnSearch, UnfilledSlotsReportZeroAndInfinity) {
    const std::vector<double> points = {0, 0, 0, 1, 0, 0};
    const PointIndex index(points.data(), 2);
    const std::vector<double> queries = {0.9, 0, 0, std::nan(""), 0, 0};
    const auto r = search(index, queries, 4);
    EXPECT_EQ(r.numbers, (std::vector<double>{2, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.distances[0], squaredDistance(&queries[0], &points[3]));
    EXPECT_EQ(r.distances[1], squaredDistance(&queries[0], &points[0]));
    for (int j : {2, 3, 4, 5, 6, 7}) EXPECT_EQ(r.distances[j], inf);

    const PointIndex empty(points.data(), 0);
    const auto e = search(empty, queries, 3);
    EXPECT_EQ(e.numbers, std::vector<double>(6, 0.0));
    EXPECT_EQ(e.distances, std::vector<double>(6, inf));
}

TEST(KnnSearch, ZeroNeighboursAndZeroQueriesWriteNothing) {
    const std::vector<double> points = {0, 0, 0, 1, 1, 1};
    const std::vector<double> queries = {1, 2, 3, 0, 0, 0};
    for (int n : {0, 2}) {
        const PointIndex index(points.data(), n);
        for (auto [m, k] : {std::pair{2, 0}, {0, 5}}) {
            std::vector<double> numbers(8, -7.0), distances(8, -7.0);
            knnSearch(index, queries.data(), m, k, numbers.data(), distances.data());
            EXPECT_EQ(numbers, std::vector<double>(8, -7.0)) << n << " points, k " << k;
            EXPECT_EQ(distances, std::vector<double>(8, -7.0)) << n << " points, k " << k;
        }
    }
}

TEST(KnnSearch, CopiesThePointsItIsGiven) {
    std::vector<double> points = {0, 0, 0, 5, 5, 5};
    const PointIndex index(points.data(), 2);
    std::fill(points.begin(), points.end(), 100.0);
    const auto r = search(index, {4, 4, 4}, 1);
    EXPECT_EQ(r.numbers[0], 2.0);
    EXPECT_EQ(r.distances[0], 3.0);
}

TEST(KnnSearch, ResultsDoNotDependOnTheNumberOfThreads) {
    std::mt19937 rng(99);
    const auto points = gridCloud(20000, 30, rng);
    const PointIndex index(points.data(), 20000);
    const auto queries = gridCloud(5000, 30, rng);
    const int saved = tessary::maxThreads();
    tessary::setThreadCount(1);
    const auto one = search(index, queries, 7);
    for (int threads : {2, 3, 4}) {
        tessary::setThreadCount(threads);
        const auto many = search(index, queries, 7);
        EXPECT_EQ(std::memcmp(one.numbers.data(), many.numbers.data(), one.numbers.size() * sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(one.distances.data(), many.distances.data(), one.distances.size() * sizeof(double)), 0);
    }
    tessary::setThreadCount(saved);
}

// The users' layer's search, queries and results as rows: the smallest
// rows first among equal distances, as a stable sort of all the distances
// orders them, through the in-place and the curve paths.
TEST(KnnSearch, RowsKeepEqualDistancesInRowOrder) {
    std::mt19937 rng(13);
    const int n = 5000;
    const auto points = gridCloud(n, 6, rng);
    const PointIndex index(points.data(), n);
    for (int m : {50, 5000}) {
        const auto columns = gridCloud(m, 6, rng);
        std::vector<double> rows(3 * static_cast<std::size_t>(m));
        for (int i = 0; i < m; ++i)
            for (int d = 0; d < 3; ++d) rows[i + d * m] = columns[3 * i + d] + 0.5 * (d == 0);
        for (int k : {1, 3, 10}) {
            std::vector<double> numbers(static_cast<std::size_t>(k) * m), distances(numbers.size());
            tessary::knnRows(index, {rows.data(), m}, k, {nullptr}, numbers.data(), distances.data(), nullptr);
            for (int i = 0; i < m; ++i) {
                const double q[3] = {rows[i], rows[i + m], rows[i + 2 * m]};
                std::vector<double> all(n);
                for (int p = 0; p < n; ++p) all[p] = squaredDistance(q, &points[3 * p]);
                std::vector<int> order(n);
                std::iota(order.begin(), order.end(), 0);
                std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return all[a] < all[b]; });
                for (int j = 0; j < k; ++j) {
                    ASSERT_EQ(numbers[i + j * m], order[j] + 1.0) << "query " << i << " slot " << j << " k " << k;
                    ASSERT_EQ(distances[i + j * m], std::sqrt(all[order[j]]));
                }
            }
        }
    }
}

// Queries that far outnumber the points, in the order of a walk with short
// steps, so that neighbouring queries are searched as groups sharing their
// candidates: on a cloud without ties, on one of ties everywhere (the grid,
// queried on its nodes and a hair off them), with queries off the cloud and
// not finite among them, for both tie rules.
TEST(KnnSearch, QueriesOutnumberingThePointsGiveThePlainSearchResult) {
    std::mt19937 rng(31);
    std::normal_distribution<double> step(0.0, 0.05);
    for (bool grid : {false, true}) {
        const int n = 200;
        const auto points = grid ? gridCloud(n, 4, rng) : uniformCloud(n, rng);
        const PointIndex index(points.data(), n);
        const PlainSearch plain(points);
        std::vector<double> queries;
        double at[3] = {1, 2, 3};
        for (int i = 0; i < 40 * n; ++i) {
            for (double& v : at) v += step(rng);
            if (grid && i % 64 < 32)
                queries.insert(queries.end(), {std::round(at[0]), std::round(at[1]) + 1e-15 * (i % 3), std::round(at[2])});
            else
                queries.insert(queries.end(), at, at + 3);
        }
        queries[3 * 700] = std::nan("");
        queries[3 * 900 + 1] = inf;
        queries[3 * 1100 + 2] = 1e200;
        for (int k : {1, 2, 3, 8, 15, 16}) expectSameColumns(search(index, queries, k), plain, queries, k);

        const int m = 40 * n, k = 3;
        std::vector<double> rows(3 * static_cast<std::size_t>(m)), numbers(k * m), distances(k * m);
        for (int i = 0; i < m; ++i)
            for (int d = 0; d < 3; ++d) rows[i + d * m] = queries[3 * i + d];
        tessary::knnRows(index, {rows.data(), m}, k, {nullptr}, numbers.data(), distances.data(), nullptr);
        for (int i = 0; i < m; i += 7) {
            if (i == 700 || i == 900 || i == 1100) continue;
            std::vector<double> all(n);
            for (int p = 0; p < n; ++p) all[p] = squaredDistance(&queries[3 * i], &points[3 * p]);
            std::vector<int> order(n);
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return all[a] < all[b]; });
            for (int j = 0; j < k; ++j) ASSERT_EQ(numbers[i + j * m], order[j] + 1.0) << "query " << i << " slot " << j;
        }
    }
}

// The groups themselves: a group close together answers most of its
// queries from its candidates, each as the tree search does; a query it
// cannot vouch for (equal distances at the k-th place) is left to the
// tree; a group spread wide, or with a query not finite, shares nothing.
TEST(SharedCandidates, AnswersAsTheTreeSearchOrLeavesTheQueryToIt) {
    std::mt19937 rng(41);
    const auto points = uniformCloud(300, rng);
    const PointIndex index(points.data(), 300);
    const PlainSearch plain(points);
    std::vector<tessary::PointIndex::Pending> stack(index.searchDepth());
    std::vector<double> group;
    for (int t = 0; t < 32; ++t) group.insert(group.end(), {0.01 * t, 1.0, -2.0});
    const int k = 3;
    tessary::SharedCandidates shared;
    ASSERT_TRUE(shared.gather(index, group.data(), 32, k, stack.data()));
    const auto expected = plain.search(group, k);
    int answered = 0;
    for (int t = 0; t < 32; ++t) {
        double numbers[k], distances[k];
        if (!shared.nearest(&group[3 * t], numbers, distances)) continue;
        ++answered;
        for (int j = 0; j < k; ++j) {
            EXPECT_EQ(numbers[j], expected.numbers[k * t + j]) << "query " << t;
            EXPECT_EQ(distances[j], expected.distances[k * t + j]) << "query " << t;
        }
    }
    EXPECT_GE(answered, 28);

    // Two points at the same distance from a query, at the first place.
    const std::vector<double> pair = {-1, 0, 0, 1, 0, 0, 5, 5, 5, 6, 6, 6, -7, 3, 2};
    const PointIndex twins(pair.data(), 5);
    std::vector<tessary::PointIndex::Pending> twinStack(twins.searchDepth());
    const std::vector<double> between = {0, 0, 0, 0, 1e-3, 0};
    ASSERT_TRUE(shared.gather(twins, between.data(), 2, 1, twinStack.data()));
    double number, distance;
    EXPECT_FALSE(shared.nearest(&between[0], &number, &distance));

    group[3 * 31] = 15.0;  // far from the rest
    EXPECT_FALSE(shared.gather(index, group.data(), 32, k, stack.data()));
    group[3 * 31] = std::nan("");
    EXPECT_FALSE(shared.gather(index, group.data(), 32, k, stack.data()));
}
