// The tessary object: a private copy of a 3-D point cloud and a static
// KD-tree over it.
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Core>
#include <nanoflann.hpp>

namespace tessary {

class PointIndex {
public:
    // One point per column, three rows fixed at compile time: the host's own
    // layout, and the tree keeps its per-query distance vector on the stack,
    // so a search never allocates.
    using PointMatrix = Eigen::Matrix<double, 3, Eigen::Dynamic>;
    using Tree = nanoflann::KDTreeEigenMatrixAdaptor<PointMatrix, 3, nanoflann::metric_L2, false>;
    using Slot = Eigen::Index;
    static constexpr int leafSize = 10;

    // `points`: 3 x count, column-major; copied, never referred to afterwards.
    PointIndex(const double* points, std::int32_t count);

    PointIndex(const PointIndex&) = delete;
    PointIndex& operator=(const PointIndex&) = delete;

    std::int32_t pointCount() const { return static_cast<std::int32_t>(pointMatrix.cols()); }
    const Tree& tree() const { return tree_; }

    // The 0-based number of the point that the tree reports at `slot`.
    std::int32_t pointNumber(Slot slot) const { return numberAt_[static_cast<std::size_t>(slot)]; }

private:
    void storeInTreeOrder();

    PointMatrix pointMatrix;  // in the order of the tree's leaves
    Tree tree_;               // built over pointMatrix
    std::vector<std::int32_t> numberAt_;
};

}  // namespace tessary
