#include "point_index.hpp"

#include <functional>

namespace tessary {

PointIndex::PointIndex(const double* points, std::int32_t count) : points_(3, count) {
    const GivenPoints given(points, 3, count);
    const Tree tree(3, std::cref(given), leafSize);
    const auto& order = tree.index->vAcc;
    numberAt_.resize(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        points_.col(static_cast<Eigen::Index>(i)) = given.col(order[i]);
        numberAt_[i] = static_cast<std::int32_t>(order[i]);
    }
    if (count == 0) return;
    for (int d = 0; d < 3; ++d) {
        low_[d] = tree.index->root_bbox[d].low;
        high_[d] = tree.index->root_bbox[d].high;
    }
    nodes_.reserve(2 * static_cast<std::size_t>(count) / leafSize + 1);
    flatten(tree.index->root_node);
}

std::int32_t PointIndex::flatten(const TreeNode* node) {
    const auto at = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back({});
    if (node->child1 == nullptr && node->child2 == nullptr) {
        nodes_[at] = {0, 0, -1, static_cast<std::int32_t>(node->node_type.lr.left),
                      static_cast<std::int32_t>(node->node_type.lr.right)};
        return at;
    }
    flatten(node->child1);
    const std::int32_t second = flatten(node->child2);
    nodes_[at] = {node->node_type.sub.divlow, node->node_type.sub.divhigh, node->node_type.sub.divfeat, second, 0};
    return at;
}

void PointIndex::findNeighbors(ResultSet& result, const double* q) const {
    // The distance from the query to the box around all points, per axis.
    double dists[3] = {0, 0, 0};
    double distsq = 0;
    for (int i = 0; i < 3; ++i) {
        if (q[i] < low_[i]) {
            dists[i] = (q[i] - low_[i]) * (q[i] - low_[i]);
            distsq += dists[i];
        }
        if (q[i] > high_[i]) {
            dists[i] = (q[i] - high_[i]) * (q[i] - high_[i]);
            distsq += dists[i];
        }
    }
    searchLevel(result, q, 0, distsq, dists);
}

void PointIndex::searchLevel(ResultSet& result, const double* q, std::int32_t at, double mindistsq,
                             double* dists) const {
    const Node& node = nodes_[at];
    if (node.feature < 0) {
        const double worst = result.worstDist();
        const double* p = points_.data() + 3 * static_cast<std::size_t>(node.second);
        for (std::int32_t i = node.second; i < node.end; ++i, p += 3) {
            const double d0 = q[0] - p[0], d1 = q[1] - p[1], d2 = q[2] - p[2];
            double dist = 0;
            dist += d0 * d0;
            dist += d1 * d1;
            dist += d2 * d2;
            if (dist < worst) result.addPoint(dist, i);
        }
        return;
    }
    const int feature = node.feature;
    const double val = q[feature];
    const double diff1 = val - node.divlow;
    const double diff2 = val - node.divhigh;
    std::int32_t best, other;
    double cut;
    if ((diff1 + diff2) < 0) {
        best = at + 1;
        other = node.second;
        cut = (val - node.divhigh) * (val - node.divhigh);
    } else {
        best = node.second;
        other = at + 1;
        cut = (val - node.divlow) * (val - node.divlow);
    }
    searchLevel(result, q, best, mindistsq, dists);
    const double dst = dists[feature];
    mindistsq = mindistsq + cut - dst;
    dists[feature] = cut;
    if (mindistsq <= result.worstDist()) searchLevel(result, q, other, mindistsq, dists);
    dists[feature] = dst;
}

}  // namespace tessary
