#include "shared_candidates.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "nearest_set.hpp"
#include "squared_distance.hpp"

namespace tessary {
namespace {

// A relative step far beyond the rounding of a square root, a sum or a
// product of a few doubles (a few units of 2^-53), so that a length grown
// by it bounds the exact one.
constexpr double slack = 0x1p-40;
constexpr double tiny = std::numeric_limits<double>::denorm_min();

// Larger than `length` by more than its rounding.
double above(double length) { return length * (1 + slack) + tiny; }

// Larger than the exact distance whose square was computed as `squared`.
// Each of the three squares may round by half the smallest subnormal, which
// no relative step covers once the squares are that small: 2^-537 apart
// gives a square of 2^-1074 or of 0. So that much is added before the root.
double lengthAbove(double squared) { return above(std::sqrt(squared + 2 * tiny)); }

// A computed squared distance lies within 10 units of 2^-53, relative, and
// two smallest subnormals of the exact one: a k-th distance clear of the
// (k+1)-th by this factor and this much more lies below it exactly too.
constexpr double clearance = 1 + 0x1p-40;
constexpr double clearanceAbsolute = 8 * tiny;

}  // namespace

void CandidateSet::add(double distance, double number, const double* xyz) {
    if (count_ < most) points_[count_] = {distance, number, {xyz[0], xyz[1], xyz[2]}};
    if (++count_ > most) bound_ = -1.0;
}

void CandidateSet::sortByDistance() {
    std::sort(points_, points_ + count_, [](const Point& a, const Point& b) {
        return a.distance < b.distance || (a.distance == b.distance && a.number < b.number);
    });
    for (std::int32_t i = 0; i < count_; ++i) {
        x_[i] = points_[i].xyz[0];
        y_[i] = points_[i].xyz[1];
        z_[i] = points_[i].xyz[2];
    }
}

bool SharedCandidates::suits(const PointIndex& index, std::int32_t k, std::int32_t queryCount) {
    constexpr std::int64_t queriesPerPoint = 32;
    return k + 1 <= mostNearest && index.pointCount() > k &&
           queryCount >= queriesPerPoint * static_cast<std::int64_t>(index.pointCount());
}

// A bound from above on the exact (k+1)-th distance from the centre,
// squared: that of the k + 1 points the traversal finds nearest to it.
// +Inf or NaN when the centre is far off or not finite.
double SharedCandidates::reach(const PointIndex& index, const double* centre, std::int32_t k,
                               PointIndex::Pending* stack) {
    double distances[mostNearest], numbers[mostNearest];
    NearestSet<0> nearestOfCentre(distances, numbers, k + 1);
    index.findNeighbors(nearestOfCentre, centre, stack);
    return nearestOfCentre.size() > k ? distances[k] : std::numeric_limits<double>::infinity();
}

std::int32_t SharedCandidates::runEnd(const double* queries, std::int32_t first, std::int32_t count) const {
    std::int32_t end = first + 1;
    for (; end < count && end - first < groupSize; ++end) {
        const double* before = queries + 3 * (end - 1);
        if (!(squaredDistance(queries + 3 * end, before[0], before[1], before[2]) <= longestStep_)) break;
    }
    return end;
}

// The group's centre is its middle query. Its k + 1 nearest found by the
// traversal are k + 1 points, so the farthest of them bounds the exact
// (k+1)-th distance from the centre from above: r. Any query within h of
// the centre has its k + 1 nearest within r + h of itself, so within
// r + 2h of the centre, where the list is gathered: every point whose
// computed squared distance from the centre is below that length squared,
// grown past the rounding of each step (the traversal itself is exact).
bool SharedCandidates::gather(const PointIndex& index, const double* queries, std::int32_t count, std::int32_t k,
                              PointIndex::Pending* stack) {
    const double* centre = queries + 3 * (count / 2);
    double spread = 0;
    for (std::int32_t t = 0; t < count; ++t) {
        const double d = squaredDistance(queries + 3 * t, centre[0], centre[1], centre[2]);
        if (!(d < std::numeric_limits<double>::infinity())) return false;  // NaN too
        spread = std::max(spread, d);
    }
    const double squaredReach = reach(index, centre, k, stack);
    if (!(squaredReach < std::numeric_limits<double>::infinity())) return false;
    longestStep_ = squaredReach / 4;
    const double r = lengthAbove(squaredReach), h = lengthAbove(spread);
    // A group spread wider than its neighbours are far shares little.
    if (!(h <= r)) return false;
    const double outer = above(r + 2 * h);
    list_.reset(above(above(outer * outer)));
    index.findNeighbors(list_, centre, stack);
    if (list_.overflowed()) return false;
    list_.sortByDistance();
    k_ = k;
    return true;
}

bool SharedCandidates::nearest(const double* q, double* numbers, double* squaredDistances) const {
    const std::int32_t kept = k_ + 1, count = list_.size();
    if (count < kept) return false;
    double all[CandidateSet::most];
    const double *x = list_.x(), *y = list_.y(), *z = list_.z();
    for (std::int32_t c = 0; c < count; ++c) all[c] = squaredDistance(q, x[c], y[c], z[c]);
    // The k + 1 nearest of the list in ascending order, as slots of the
    // list: the first k + 1, sorted, then any later one that beats the last.
    std::int32_t slot[mostNearest];
    for (std::int32_t c = 0; c < kept; ++c) {
        std::int32_t i = c;
        for (; i > 0 && all[slot[i - 1]] > all[c]; --i) slot[i] = slot[i - 1];
        slot[i] = c;
    }
    for (std::int32_t c = kept; c < count; ++c) {
        if (!(all[c] < all[slot[kept - 1]])) continue;
        std::int32_t i = kept - 1;
        for (; i > 0 && all[slot[i - 1]] > all[c]; --i) slot[i] = slot[i - 1];
        slot[i] = c;
    }
    double distance[mostNearest];
    for (std::int32_t i = 0; i < kept; ++i) distance[i] = all[slot[i]];
    // Not finite (a query far off or not a number) fails here too: neither
    // +Inf nor NaN is clear of anything. Nor is a distance near the largest
    // double, where the group's lengths, grown by their slack, could
    // overflow.
    if (!(distance[k_] < 0x1p1000)) return false;
    for (std::int32_t i = 0; i + 2 < kept; ++i)
        if (!(distance[i] < distance[i + 1])) return false;
    // A point left out of the list lies farther from the query, exactly,
    // than each of the query's k + 1 exact nearest, which the list holds;
    // with the k-th clear of the (k+1)-th, it cannot round to the k-th or
    // below.
    if (!(distance[k_ - 1] * clearance + clearanceAbsolute < distance[k_])) return false;
    for (std::int32_t i = 0; i < k_; ++i) {
        squaredDistances[i] = distance[i];
        numbers[i] = list_.number(slot[i]);
    }
    return true;
}

}  // namespace tessary
