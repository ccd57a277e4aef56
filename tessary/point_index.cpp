#include "point_index.hpp"

#include <algorithm>
#include <functional>

#include "nearest_set.hpp"

namespace tessary {

PointIndex::PointIndex(const double* points, std::int32_t count) : points_(static_cast<std::size_t>(count)) {
    const GivenPoints given(points, 3, count);
    const Tree tree(3, std::cref(given), leafSize);
    const auto& order = tree.index->vAcc;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const double* p = points + 3 * order[i];
        points_[i] = {{p[0], p[1], p[2]}, static_cast<double>(order[i]) + 1.0};
    }
    if (count == 0) return;
    for (int d = 0; d < 3; ++d) {
        low_[d] = tree.index->root_bbox[d].low;
        high_[d] = tree.index->root_bbox[d].high;
    }
    nodes_.reserve(2 * static_cast<std::size_t>(count) / leafSize + 1);
    flatten(tree.index->root_node, 0);
}

std::int32_t PointIndex::flatten(const TreeNode* node, std::size_t depth) {
    const auto at = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back({});
    if (node->child1 == nullptr && node->child2 == nullptr) {
        nodes_[at] = {0, 0, -1, static_cast<std::int32_t>(node->node_type.lr.left),
                      static_cast<std::int32_t>(node->node_type.lr.right)};
        depth_ = std::max(depth_, depth);
        return at;
    }
    flatten(node->child1, depth + 1);
    const std::int32_t second = flatten(node->child2, depth + 1);
    nodes_[at] = {node->node_type.sub.divlow, node->node_type.sub.divhigh, node->node_type.sub.divfeat, second, 0};
    return at;
}

// nanoflann's searchLevel without the recursion: down the nearer children to
// a leaf, noting each far child with the bound and axis distances nanoflann
// would pass it; then the far children from the deepest up, each visited if
// its bound does not exceed the worst distance at that moment, which is when
// the recursion would decide.
template <class Set>
void PointIndex::findNeighbors(Set& set, const double* q, Pending* stack) const {
    // The distance from the query to the box around all points, per axis.
    double dists[3] = {0, 0, 0};
    double mindistsq = 0;
    for (int i = 0; i < 3; ++i) {
        if (q[i] < low_[i]) {
            dists[i] = (q[i] - low_[i]) * (q[i] - low_[i]);
            mindistsq += dists[i];
        }
        if (q[i] > high_[i]) {
            dists[i] = (q[i] - high_[i]) * (q[i] - high_[i]);
            mindistsq += dists[i];
        }
    }
    const Node* const nodes = nodes_.data();
    const Record* const points = points_.data();
    std::size_t depth = 0;
    std::int32_t at = 0;
    for (;;) {
        const Node* node = nodes + at;
        while (node->feature >= 0) {
            const int feature = node->feature;
            const double val = q[feature];
            const double diff1 = val - node->divlow;
            const double diff2 = val - node->divhigh;
            Pending& far = stack[depth++];
            double cut;
            if ((diff1 + diff2) < 0) {
                far.node = node->second;
                ++at;
                cut = (val - node->divhigh) * (val - node->divhigh);
            } else {
                far.node = at + 1;
                at = node->second;
                cut = (val - node->divlow) * (val - node->divlow);
            }
            far.mindistsq = mindistsq + cut - dists[feature];
            std::copy(dists, dists + 3, far.dists);
            far.dists[feature] = cut;
            node = nodes + at;
        }
        double worst = set.worst();
        const Record* end = points + node->end;
        for (const Record* r = points + node->second; r != end; ++r) {
            const double d0 = q[0] - r->xyz[0], d1 = q[1] - r->xyz[1], d2 = q[2] - r->xyz[2];
            double dist = 0;
            dist += d0 * d0;
            dist += d1 * d1;
            dist += d2 * d2;
            // nanoflann compares with the worst distance at the start of the
            // leaf; a point at or beyond the current one would not enter.
            if (dist < worst) {
                set.add(dist, r->number);
                worst = set.worst();
            }
        }
        for (;;) {
            if (depth == 0) return;
            const Pending& far = stack[--depth];
            if (far.mindistsq <= worst) {
                at = far.node;
                mindistsq = far.mindistsq;
                std::copy(far.dists, far.dists + 3, dists);
                break;
            }
        }
    }
}

template void PointIndex::findNeighbors(NearestSet<0>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(NearestSet<1>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(NearestSet<2>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(NearestSet<3>&, const double*, Pending*) const;

}  // namespace tessary
