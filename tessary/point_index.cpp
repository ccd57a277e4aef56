#include "point_index.hpp"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "nearest_set.hpp"
#include "row_ordered_set.hpp"
#include "shared_candidates.hpp"
#include "squared_distance.hpp"
#include "within_set.hpp"
#include "wide_nearest_set.hpp"

namespace tessary {
namespace {

// Whether a result set wants each point's coordinates with its number.
template <class Set, class = void>
constexpr bool takesPoints = false;
template <class Set>
constexpr bool takesPoints<Set, std::void_t<decltype(Set::takesPoints)>> = Set::takesPoints;

}  // namespace

// Built over the caller's points where they lie: they are read only while
// the object is made.
PointIndex::PointIndex(const double* points, std::int32_t count) {
    FlatTree tree = buildFlatTree(points, count, leafSize);
    points_.resize(static_cast<std::size_t>(count));
    Record* records = points_.data();
    const std::uint32_t* order = tree.order.data();
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < count; ++i) {
        const double* p = points + 3 * static_cast<std::size_t>(order[i]);
        records[i] = {{p[0], p[1], p[2]}, static_cast<double>(order[i]) + 1.0};
    }
    nodes_ = std::move(tree.nodes);
    depth_ = tree.depth;
    std::copy(tree.low, tree.low + 3, low_);
    std::copy(tree.high, tree.high + 3, high_);
}

// nanoflann's searchLevel without the recursion: down the nearer children to
// a leaf, noting each far child with its bound and per-axis distances; then
// the far children from the deepest up, each visited if its bound does not
// exceed the worst distance at that moment, which is when the recursion
// would decide.
//
// The bound differs from nanoflann's. nanoflann updates it as
// mindistsq + cut - dists[feature], whose roundings can lift it above the
// squared distance of a point in the child (a few units in the last place
// per level) and whose middle sum can overflow where the result does not;
// either prunes a true neighbour. Here it is the per-axis distances added
// in the order squaredDistance adds a point's squares. Each per-axis
// distance is the rounded square of the rounded difference to the child's
// box, never more than that of any point in the child, and rounding is
// monotonic, so the bound never exceeds a point's squared distance: the
// search is exact, and where nanoflann's is exact the two agree to the bit.
template <class Set>
void PointIndex::findNeighbors(Set& set, const double* q, Pending* stack) const {
    // The distance from the query to the box around all points, per axis,
    // kept in three variables rather than an array that the axis indexes:
    // an array lives in memory, and reading two of its elements at once
    // just after storing them one by one stalls the processor.
    double dists[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (q[i] < low_[i]) dists[i] = (q[i] - low_[i]) * (q[i] - low_[i]);
        if (q[i] > high_[i]) dists[i] = (q[i] - high_[i]) * (q[i] - high_[i]);
    }
    double dist0 = dists[0], dist1 = dists[1], dist2 = dists[2];
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
            const double far0 = feature == 0 ? cut : dist0;
            const double far1 = feature == 1 ? cut : dist1;
            const double far2 = feature == 2 ? cut : dist2;
            far.mindistsq = (far0 + far1) + far2;
            far.dists[0] = far0;
            far.dists[1] = far1;
            far.dists[2] = far2;
            node = nodes + at;
        }
        double worst = set.worst();
        const Record* end = points + node->end;
        for (const Record* r = points + node->second; r != end; ++r) {
            const double dist = squaredDistance(q, r->xyz[0], r->xyz[1], r->xyz[2]);
            // nanoflann compares with the worst distance at the start of the
            // leaf; a point at or beyond the current one would not enter.
            if (dist < worst) {
                if constexpr (takesPoints<Set>)
                    set.add(dist, r->number, r->xyz);
                else
                    set.add(dist, r->number);
                worst = set.worst();
            }
        }
        for (;;) {
            if (depth == 0) return;
            const Pending& far = stack[--depth];
            if (far.mindistsq <= worst) {
                at = far.node;
                dist0 = far.dists[0];
                dist1 = far.dists[1];
                dist2 = far.dists[2];
                break;
            }
        }
    }
}

template void PointIndex::findNeighbors(NearestSet<0>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(NearestSet<1>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(NearestSet<2>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(NearestSet<3>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(RowOrderedSet<0>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(RowOrderedSet<1>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(RowOrderedSet<3>&, const double*, Pending*) const;
template void PointIndex::findNeighbors(WithinSet&, const double*, Pending*) const;
template void PointIndex::findNeighbors(CandidateSet&, const double*, Pending*) const;
#if TESSARY_WIDE_SET
template void PointIndex::findNeighbors(WideNearestSet&, const double*, Pending*) const;
#endif

}  // namespace tessary
