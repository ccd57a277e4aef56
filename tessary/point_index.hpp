// The tessary object: a private copy of a 3-D point cloud and a static
// KD-tree over it.
//
// The tree is nanoflann 1.4's, with leaf size 10, built on every core (see
// tree_builder.hpp) and laid out flat: nodes in depth-first order and the
// points in the order of the tree's leaves. It is searched by a traversal
// that repeats nanoflann's: the same branch order and the same result set,
// over compact memory. Its bound on a subtree never exceeds the squared
// distance of a point in it (see findNeighbors), so the search is exact at
// every scale; wherever nanoflann's own search is exact, every result, ties
// included, is the one nanoflann gives.
#pragma once

#include <cstdint>
#include <vector>

#include "tree_builder.hpp"

namespace tessary {

class PointIndex {
public:
    static constexpr int leafSize = 10;

    // A far child the search has still to decide on: the child, the bound
    // on its points' squared distances and the per-axis distances it carries.
    struct Pending {
        std::int32_t node;
        double mindistsq;
        double dists[3];
    };

    // `points`: 3 x count, column-major; copied, never referred to afterwards.
    PointIndex(const double* points, std::int32_t count);

    std::int32_t pointCount() const { return static_cast<std::int32_t>(points_.size()); }

    // How many Pending entries one search needs: the depth of the tree.
    std::size_t searchDepth() const { return depth_; }

    // nanoflann's findNeighbors with default search parameters, exact:
    // fills `set` with the 1-based numbers of the points, as the host counts.
    // `stack` has searchDepth() entries. The index must hold at least one
    // point.
    template <class Set>
    void findNeighbors(Set& set, const double* query, Pending* stack) const;

    // The box around all points, axis by axis.
    double low(int axis) const { return low_[axis]; }
    double high(int axis) const { return high_[axis]; }

private:
    // A point and its number side by side, so that the search that reads
    // the point finds the number in the same cache line.
    struct alignas(32) Record {
        double xyz[3];
        double number;
    };
    using Node = FlatNode;

    UninitializedVector<Record> points_;  // in leaf order
    UninitializedVector<Node> nodes_;
    std::size_t depth_ = 0;
    double low_[3] = {0, 0, 0}, high_[3] = {0, 0, 0};
};

}  // namespace tessary
