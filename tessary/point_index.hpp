// The tessary object: a private copy of a 3-D point cloud and a static
// KD-tree over it.
//
// The tree is nanoflann's, built over the points with leaf size 10. After the
// build it is laid out flat, nodes in depth-first order and the points in the
// order of the tree's leaves, and searched by a traversal that repeats
// nanoflann's exactly: the same branch order, the same pruning arithmetic and
// the same result set, so every result, ties included, is the one nanoflann
// gives; only the memory it walks is compact.
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Core>
#include <nanoflann.hpp>

namespace tessary {

class PointIndex {
public:
    using PointMatrix = Eigen::Matrix<double, 3, Eigen::Dynamic>;
    using Slot = Eigen::Index;  // position of a point in leaf order
    using ResultSet = nanoflann::KNNResultSet<double, Slot>;
    static constexpr int leafSize = 10;

    // `points`: 3 x count, column-major; copied, never referred to afterwards.
    PointIndex(const double* points, std::int32_t count);

    std::int32_t pointCount() const { return static_cast<std::int32_t>(points_.cols()); }

    // nanoflann's findNeighbors with default search parameters (exact).
    // The index must hold at least one point.
    void findNeighbors(ResultSet& result, const double* query) const;

    // The 0-based number of the point at `slot`.
    std::int32_t pointNumber(Slot slot) const { return numberAt_[static_cast<std::size_t>(slot)]; }

    // The box around all points, axis by axis.
    double low(int axis) const { return low_[axis]; }
    double high(int axis) const { return high_[axis]; }

private:
    struct Node {
        double divlow, divhigh;
        std::int32_t feature;  // split axis; -1 for a leaf
        std::int32_t second;   // split: the second child (the first follows the node); leaf: first slot
        std::int32_t end;      // leaf: one past its last slot
    };
    // Built over the caller's points where they lie: they are read only
    // while the object is made.
    using GivenPoints = Eigen::Map<const PointMatrix>;
    using Tree = nanoflann::KDTreeEigenMatrixAdaptor<GivenPoints, 3, nanoflann::metric_L2, false>;
    using TreeNode = Tree::index_t::Node;

    std::int32_t flatten(const TreeNode* node);
    void searchLevel(ResultSet& result, const double* q, std::int32_t node, double mindistsq, double* dists) const;

    PointMatrix points_;  // in leaf order
    std::vector<Node> nodes_;
    std::vector<std::int32_t> numberAt_;
    double low_[3] = {0, 0, 0}, high_[3] = {0, 0, 0};
};

}  // namespace tessary
