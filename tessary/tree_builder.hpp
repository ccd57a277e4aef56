// nanoflann's KD-tree over a point cloud, built on every core and laid out
// flat for the search.
//
// The tree is the one nanoflann's serial build makes, node for node: the
// same split axes and values, the same order of the points in the leaves.
// The top levels are split here, by nanoflann's rule (the widest side of the
// region a node is handed, the cut in its middle, clamped to the points),
// each split spread over the cores; below them every subtree is built by
// nanoflann's own builder, the subtrees in parallel, each handed its points
// in their current order and the region its parent hands down.
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
