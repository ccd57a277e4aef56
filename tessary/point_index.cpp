#include "point_index.hpp"

#include <functional>

namespace tessary {

PointIndex::PointIndex(const double* points, std::int32_t count)
    : pointMatrix(Eigen::Map<const PointMatrix>(points, 3, count)), tree_(3, std::cref(pointMatrix), leafSize) {
    storeInTreeOrder();
}

// The tree reaches its points through its permutation: the points of a leaf
// are scattered over the whole cloud. Stored in that order instead, a leaf's
// points lie side by side, while the tree, the order of its traversal and so
// every result stay the same; numberAt_ maps a position back to the point.
void PointIndex::storeInTreeOrder() {
    auto& order = tree_.index->vAcc;
    const std::size_t count = order.size();
    PointMatrix reordered(3, static_cast<Eigen::Index>(count));
    numberAt_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        reordered.col(static_cast<Eigen::Index>(i)) = pointMatrix.col(order[i]);
        numberAt_[i] = static_cast<std::int32_t>(order[i]);
        order[i] = static_cast<Slot>(i);
    }
    pointMatrix.swap(reordered);
}

}  // namespace tessary
