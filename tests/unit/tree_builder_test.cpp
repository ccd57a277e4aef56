#include "tree_builder.hpp"
#include "scan_file.hpp"

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "nanoflann_compat.hpp"
#include "openmp.hpp"

using tessary::buildFlatTree;
using tessary::FlatNode;
using tessary::FlatTree;

namespace {

// One serial build by nanoflann as its documentation shows it (the Eigen
// adaptor over an N x 3 matrix, leaf size 10), laid out as the builder
// lays out its own.
class SerialTree {
public:
    explicit SerialTree(const std::vector<double>& points)
        : rows_(Eigen::Map<const Eigen::MatrixXd>(points.data(), 3, static_cast<Eigen::Index>(points.size() / 3))
                    .transpose()),
          tree_(3, std::cref(rows_), 10) {
        if (rows_.rows() == 0) return;
        flatten(nanoflann_compat::rootNode(nanoflann_compat::indexOf(tree_)), 0);
        for (int d = 0; d < 3; ++d) {
            low[d] = nanoflann_compat::rootBox(nanoflann_compat::indexOf(tree_))[d].low;
            high[d] = nanoflann_compat::rootBox(nanoflann_compat::indexOf(tree_))[d].high;
        }
    }

    std::vector<FlatNode> nodes;
    double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    std::size_t depth = 0;
    const auto& order() const { return nanoflann_compat::leafOrder(nanoflann_compat::indexOf(tree_)); }

private:
    using Tree = nanoflann::KDTreeEigenMatrixAdaptor<Eigen::MatrixXd>;

    template <class Node>
    void flatten(const Node* node, std::size_t level) {
        const auto at = nodes.size();
        nodes.push_back({});
        if (node->child1 == nullptr) {
            nodes[at] = {0, 0, -1, static_cast<std::int32_t>(node->node_type.lr.left),
                         static_cast<std::int32_t>(node->node_type.lr.right)};
            depth = std::max(depth, level);
            return;
        }
        flatten(node->child1, level + 1);
        const auto second = static_cast<std::int32_t>(nodes.size());
        flatten(node->child2, level + 1);
        nodes[at] = {node->node_type.sub.divlow, node->node_type.sub.divhigh, node->node_type.sub.divfeat, second, 0};
    }

    Eigen::MatrixXd rows_;
    Tree tree_;
};

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expectSameTree(const std::vector<double>& points, const std::string& what) {
    const auto n = static_cast<std::int32_t>(points.size() / 3);
    const SerialTree serial(points);
    for (int threads : {1, 2, 3, 8}) {
        tessary::setThreadCount(threads);
        const FlatTree built = buildFlatTree(points.data(), n, 10);
        const std::string where = what + ", " + std::to_string(threads) + " threads";
        ASSERT_EQ(built.nodes.size(), serial.nodes.size()) << where;
        for (std::size_t k = 0; k < built.nodes.size(); ++k) {
            const FlatNode &a = built.nodes[k], &b = serial.nodes[k];
            ASSERT_TRUE(a.feature == b.feature && a.second == b.second && a.end == b.end &&
                        sameBits(a.divlow, b.divlow) && sameBits(a.divhigh, b.divhigh))
                << where << ": node " << k;
        }
        ASSERT_EQ(built.order.size(), serial.order().size()) << where;
        for (std::size_t k = 0; k < built.order.size(); ++k)
            ASSERT_EQ(built.order[k], static_cast<std::uint32_t>(serial.order()[k])) << where << ": slot " << k;
        for (int d = 0; d < 3; ++d)
            ASSERT_TRUE(sameBits(built.low[d], serial.low[d]) && sameBits(built.high[d], serial.high[d])) << where;
        ASSERT_EQ(built.depth, serial.depth) << where;
    }
}

std::vector<double> cloud(std::size_t n, const std::function<void(double*)>& place) {
    std::vector<double> points(3 * n);
    for (std::size_t i = 0; i < n; ++i) place(&points[3 * i]);
    return points;
}

// The tree is nanoflann 1.4's; later releases split by another rule, and
// are no oracle for it.
class TreeBuilder : public ::testing::Test {
protected:
    void SetUp() override {
        if (!nanoflann_compat::builds14Tree)
            GTEST_SKIP() << "nanoflann " << NANOFLANN_VERSION << " builds by another split rule than 1.4's";
    }
    void TearDown() override { tessary::setThreadCount(saved_); }
    int saved_ = tessary::maxThreads();
};

}  // namespace

TEST_F(TreeBuilder, GivesNanoflannsTreeOnTheScan) {
    const std::vector<double> xyz = scan_file::read();
    ASSERT_FALSE(xyz.empty());
    expectSameTree(xyz, "the scan");
}

TEST_F(TreeBuilder, GivesNanoflannsTreeOnRandomAndDegenerateClouds) {
    std::mt19937 rng(20261209);
    std::uniform_real_distribution<double> u(-50.0, 50.0);
    std::uniform_int_distribution<int> grid(0, 6);
    std::normal_distribution<double> spread(0.0, 1.0);
    for (std::size_t n : {0, 1, 5, 10, 11, 4096, 4097, 30000, 200000}) {
        expectSameTree(cloud(n, [&](double* p) { p[0] = u(rng), p[1] = u(rng), p[2] = u(rng); }),
                       "uniform, N = " + std::to_string(n));
    }
    // Few distinct values, so that many points lie on every cut.
    expectSameTree(cloud(60000, [&](double* p) { p[0] = grid(rng), p[1] = grid(rng), p[2] = grid(rng); }),
                   "integer grid");
    expectSameTree(cloud(50000, [&](double* p) { p[0] = p[1] = p[2] = 1.5; }), "coincident points");
    expectSameTree(cloud(50000, [&](double* p) { p[0] = u(rng), p[1] = u(rng), p[2] = -2.0; }), "a plane");
    // Clumps far apart, and a line with points at every scale.
    expectSameTree(cloud(80000, [&](double* p) {
                       const double c = 1000.0 * grid(rng);
                       p[0] = c + spread(rng), p[1] = spread(rng), p[2] = c + spread(rng);
                   }),
                   "clumps");
    expectSameTree(cloud(20000, [&](double* p) { p[0] = std::ldexp(1.0, grid(rng) * 40 - 120) * u(rng), p[1] = p[2] = 0; }),
                   "a line of every scale");
}
