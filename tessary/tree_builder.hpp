// The KD-tree over a point cloud that nanoflann 1.4 builds, built here on
// every core and laid out flat for the search.
//
// The tree is the one nanoflann 1.4's serial build makes, node for node:
// the same split axes and values, the same order of the points in the
// leaves. Its rule (the widest side of the region a node is handed, the cut
// in its middle, clamped to the points) is carried out here at every level,
// so the tree does not depend on the nanoflann installed: later releases
// changed the rule (1.6.2 splits boxes with equal sides on another axis).
// The top levels are split with each pass spread over the cores, the
// subtrees below them side by side, each handed the region its parent
// hands down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "uninitialized.hpp"

namespace tessary {

struct FlatNode {
    double divlow, divhigh;
    std::int32_t feature;  // split axis; -1 for a leaf
    std::int32_t second;   // split: the second child (the first follows the node); leaf: first slot
    std::int32_t end;      // leaf: one past its last slot
};

struct FlatTree {
    UninitializedVector<FlatNode> nodes;       // depth first; none for no points
    UninitializedVector<std::uint32_t> order;  // the 0-based point in each slot: the leaves' points in turn
    double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};  // the box around all points
    std::size_t depth = 0;             // of the deepest leaf, the root's being 0
};

// `points`: 3 x count, column-major, finite. Allocates only on the calling
// thread; throws std::bad_alloc when memory runs out.
FlatTree buildFlatTree(const double* points, std::int32_t count, int leafSize);

}  // namespace tessary
