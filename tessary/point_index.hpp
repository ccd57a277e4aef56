// The tessary object: a private copy of a 3-D point cloud and a static
// KD-tree over it.
#pragma once

#include <cstdint>

#include <Eigen/Core>
#include <nanoflann.hpp>

namespace tessary {

class PointIndex {
public:
    // Three columns fixed at compile time: the tree then keeps its per-query
    // distance vector on the stack, so a search never allocates.
    using PointMatrix = Eigen::Matrix<double, Eigen::Dynamic, 3>;
    using Tree = nanoflann::KDTreeEigenMatrixAdaptor<PointMatrix, 3, nanoflann::metric_L2>;
    static constexpr int leafSize = 10;

    // `points`: 3 x count, column-major; copied, never referred to afterwards.
    PointIndex(const double* points, std::int32_t count);

    PointIndex(const PointIndex&) = delete;
    PointIndex& operator=(const PointIndex&) = delete;

    std::int32_t pointCount() const { return static_cast<std::int32_t>(pointMatrix.rows()); }
    const Tree& tree() const { return tree_; }

private:
    PointMatrix pointMatrix;  // count x 3: one point per row
    Tree tree_;               // built over pointMatrix
};

}  // namespace tessary
