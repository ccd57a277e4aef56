// Neighbouring queries searched together. A group of queries close to one
// another shares one list of candidates: every indexed point near enough to
// the group to be among the k + 1 nearest of any of its queries. Each query
// then takes its nearest from that short list instead of walking the tree.
//
// The answer is the traversal's, bit for bit, whenever it is used. The
// traversal finds the k smallest squared distances as they are computed;
// the list holds every point whose exact distance can place it among a
// query's k + 1 nearest. The two orders differ only by rounding: a few
// units in the last place, relative, and half the smallest subnormal per
// square, absolute. So a query takes the list's answer only when its k + 1
// nearest distances are strictly increasing and the k-th is clear of the
// (k+1)-th by a margin far beyond that rounding; any other query is
// searched by the traversal. Equal distances, where the two tie rules
// differ, always go to the traversal.
#pragma once

#include <cstdint>
#include <limits>

#include "point_index.hpp"

namespace tessary {

// What the traversal fills to make the list: every point whose squared
// distance from the centre is below the bound, coordinates included; once
// the list overflows, the bound drops below every distance, and the
// traversal prunes all that is left.
class CandidateSet {
public:
    static constexpr bool takesPoints = true;
    static constexpr std::int32_t most = 64;

    // Empties the set for a search within `bound`.
    void reset(double bound) {
        bound_ = bound;
        count_ = 0;
    }

    double worst() const { return bound_; }
    std::int32_t size() const { return count_; }
    bool overflowed() const { return count_ > most; }

    void add(double distance, double number, const double* xyz);

    // Orders the points by their distance from the centre, nearest first:
    // the queries of the group near it then meet their own nearest early,
    // and the search of each one branches much as the others' do.
    void sortByDistance();

    // The coordinates axis by axis, once sorted.
    const double* x() const { return x_; }
    const double* y() const { return y_; }
    const double* z() const { return z_; }
    double number(std::int32_t i) const { return points_[i].number; }

private:
    struct Point {
        double distance, number, xyz[3];
    };
    double bound_ = 0;
    std::int32_t count_ = 0;
    Point points_[most];
    double x_[most], y_[most], z_[most];
};

class SharedCandidates {
public:
    static constexpr std::int32_t groupSize = 32;  // queries
    static constexpr std::int32_t mostNearest = 16;  // k + 1 at most

    // Whether groups serve a search of k nearest for `queryCount` queries on
    // this index: where the queries far outnumber the points, so that each
    // point is near many queries (a scan over the means of its map). Where
    // they do not, groups fail or share little, and cost more than they save
    // (measured: break-even at 40 queries a point).
    static bool suits(const PointIndex& index, std::int32_t k, std::int32_t queryCount);

    // Runs shorter than this cost more to share a list than to search alone.
    static constexpr std::int32_t shortestRun = 8;

    // Where the run of queries from `first` (of `count`, 3 coordinates
    // apiece) ends: at the first query farther from the one before than
    // half the reach of the last list gathered, or at `count`. Such a step
    // is a jump (in a scan, the beam passing from one surface to another),
    // and a group across it too spread out to share a list.
    std::int32_t runEnd(const double* queries, std::int32_t first, std::int32_t count) const;

    // The list of `count` queries (3 coordinates apiece, one after the
    // other), made with the traversal on `stack`; false when the group is
    // too spread out, or too far from the points, to share one.
    bool gather(const PointIndex& index, const double* queries, std::int32_t count, std::int32_t k,
                PointIndex::Pending* stack);

    // Query q's (one of the group's) k nearest into `numbers` and
    // `squaredDistances`, when the list decides them as the traversal would;
    // false, with nothing written, when the traversal must search it.
    bool nearest(const double* q, double* numbers, double* squaredDistances) const;

private:
    static double reach(const PointIndex& index, const double* centre, std::int32_t k, PointIndex::Pending* stack);

    CandidateSet list_;
    std::int32_t k_ = 0;
    double longestStep_ = std::numeric_limits<double>::infinity();  // squared
};

}  // namespace tessary
