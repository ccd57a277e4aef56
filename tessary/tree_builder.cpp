#include "tree_builder.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "openmp.hpp"

namespace tessary {
namespace {

using Index = std::uint32_t;

struct Region {
    double low[3], high[3];
};

struct Extent {
    double low, high;
};

// The box around two boxes, as nanoflann merges its children's: of equal
// sides (0 and -0) the first child's.
Region enclosing(const Region& a, const Region& b) {
    Region box;
    for (int d = 0; d < 3; ++d) {
        box.low[d] = std::min(a.low[d], b.low[d]);
        box.high[d] = std::max(a.high[d], b.high[d]);
    }
    return box;
}

// A range of slots built on one thread, node by node.
struct Subtree {
    Index begin, end;
    Region region;  // handed down; then the box around its points
    std::int32_t nodeCount = 0;
    std::size_t depth = 0;  // of its deepest leaf, its root's being 0
};

// A node split here; a child is another split or ~(its subtree).
struct Split {
    std::int32_t feature;
    std::int32_t children[2];
};

// Chunk c of `chunks` equal parts of [begin, end).
Index chunkStart(Index begin, Index end, int c, int chunks) {
    return begin + static_cast<Index>(static_cast<std::uint64_t>(end - begin) * static_cast<std::uint64_t>(c) /
                                      static_cast<std::uint64_t>(chunks));
}

// The points side by side in slot order, and the point in each slot: the
// two move together.
struct Slots {
    double* xyz;
    Index* order;

    double coordinate(Index slot, int axis) const { return xyz[3 * static_cast<std::size_t>(slot) + axis]; }
    void exchange(Index a, Index b) const {
        std::swap(order[a], order[b]);
        std::swap_ranges(xyz + 3 * static_cast<std::size_t>(a), xyz + 3 * static_cast<std::size_t>(a) + 3,
                         xyz + 3 * static_cast<std::size_t>(b));
    }
};

// nanoflann's computeMinMax on every axis of `axes`: a scan of the slots in
// order, which keeps the first of equal values (0 and -0).
void extentsInOrder(const Slots& slots, Index begin, Index end, const bool axes[3], Extent out[3]) {
    for (int d = 0; d < 3; ++d) {
        if (!axes[d]) continue;
        Extent e{slots.coordinate(begin, d), slots.coordinate(begin, d)};
        for (Index i = begin + 1; i < end; ++i) {
            const double v = slots.coordinate(i, d);
            if (v < e.low) e.low = v;
            if (v > e.high) e.high = v;
        }
        out[d] = e;
    }
}

struct Cut {
    std::int32_t feature;
    double value;
    Index first;  // how many slots go to the first child
};

// nanoflann's middleSplit_: the widest sides of the region, of those the
// axis along which the points spread most, the middle of the region's side
// clamped to the points; then the plane split and the number of slots to
// the first child.
template <class Extents, class PlaneSplit>
Cut middleSplit(const Region& region, Index count, Extents extentsOf, PlaneSplit planeSplit) {
    const auto EPS = static_cast<double>(0.00001);
    double maxSpan = region.high[0] - region.low[0];
    for (int d = 1; d < 3; ++d) {
        const double span = region.high[d] - region.low[d];
        if (span > maxSpan) maxSpan = span;
    }
    bool wide[3];
    for (int d = 0; d < 3; ++d) wide[d] = region.high[d] - region.low[d] > (1 - EPS) * maxSpan;
    Extent e[3];
    extentsOf(wide, e);
    double maxSpread = -1;
    Cut cut{0, 0.0, 0};
    for (int d = 0; d < 3; ++d) {
        if (!wide[d]) continue;
        const double spread = e[d].high - e[d].low;
        if (spread > maxSpread) {
            cut.feature = d;
            maxSpread = spread;
        }
    }
    const int f = cut.feature;
    const double splitValue = (region.low[f] + region.high[f]) / 2;
    if (!wide[f]) {
        const bool only[3] = {f == 0, f == 1, f == 2};
        extentsOf(only, e);
    }
    cut.value = splitValue < e[f].low ? e[f].low : splitValue > e[f].high ? e[f].high : splitValue;
    Index lim1, lim2;
    planeSplit(f, cut.value, lim1, lim2);
    cut.first = lim1 > count / 2 ? lim1 : lim2 < count / 2 ? lim2 : count / 2;
    return cut;
}

// One node split on the calling thread, by nanoflann's own loops.
Cut splitInOrder(const Slots& slots, Index begin, Index end, const Region& region) {
    const Index count = end - begin;
    auto extentsOf = [&](const bool axes[3], Extent out[3]) { extentsInOrder(slots, begin, end, axes, out); };
    auto planeSplit = [&](int axis, double cut, Index& lim1, Index& lim2) {
        auto v = [&](Index i) { return slots.coordinate(begin + i, axis); };
        Index left = 0, right = count - 1;
        for (;;) {
            while (left <= right && v(left) < cut) ++left;
            while (right && left <= right && v(right) >= cut) --right;
            if (left > right || !right) break;
            slots.exchange(begin + left, begin + right);
            ++left;
            --right;
        }
        lim1 = left;
        right = count - 1;
        for (;;) {
            while (left <= right && v(left) <= cut) ++left;
            while (right && left <= right && v(right) > cut) --right;
            if (left > right || !right) break;
            slots.exchange(begin + left, begin + right);
            ++left;
            --right;
        }
        lim2 = left;
    };
    return middleSplit(region, count, extentsOf, planeSplit);
}

// One node split with each pass over its slots spread over the cores, to
// the result of nanoflann's loops.
class SpreadSplitter {
public:
    // `largest`: the most slots a node to split has.
    SpreadSplitter(const Slots& slots, std::size_t largest)
        : slots_(slots), chunks_(maxThreads()), side_(largest), bigs_(largest / 2 + 1),
          smalls_(largest / 2 + 1), chunkExtents_(3 * static_cast<std::size_t>(chunks_)),
          counts_(2 * static_cast<std::size_t>(chunks_)), starts_(2 * static_cast<std::size_t>(chunks_)) {}

    Cut split(Index begin, Index end, const Region& region) {
        auto extentsOf = [&](const bool axes[3], Extent out[3]) { extents(begin, end, axes, out); };
        auto planeSplit = [&](int axis, double cut, Index& lim1, Index& lim2) {
            this->planeSplit(begin, end, axis, cut, lim1, lim2);
        };
        return middleSplit(region, end - begin, extentsOf, planeSplit);
    }

    // extentsInOrder, chunk by chunk, the chunks' extents then merged in
    // order as the scan would meet them.
    void extents(Index begin, Index end, const bool axes[3], Extent out[3]);

private:
    void planeSplit(Index begin, Index end, int axis, double cut, Index& lim1, Index& lim2);
    void exchangeMisplaced(Index begin, Index from, Index to, Index boundary, std::uint8_t lowest);

    Slots slots_;
    int chunks_;
    std::vector<std::uint8_t> side_;  // per slot of the node: 0 below the cut, 1 on it, 2 above
    std::vector<Index> bigs_, smalls_;
    std::vector<Extent> chunkExtents_;
    std::vector<Index> counts_, starts_;  // per part
};

void SpreadSplitter::extents(Index begin, Index end, const bool axes[3], Extent out[3]) {
    Extent* found = chunkExtents_.data();
    const Slots slots = slots_;
    const int chunks = chunks_;
#pragma omp parallel for schedule(static)
    for (int c = 0; c < chunks; ++c) {
        const Index from = chunkStart(begin, end, c, chunks), to = chunkStart(begin, end, c + 1, chunks);
        if (from < to) extentsInOrder(slots, from, to, axes, found + 3 * c);
    }
    for (int d = 0; d < 3; ++d) {
        if (!axes[d]) continue;
        bool first = true;
        for (int c = 0; c < chunks; ++c) {
            if (chunkStart(begin, end, c, chunks) == chunkStart(begin, end, c + 1, chunks)) continue;
            const Extent& e = found[3 * c + d];
            if (first) out[d] = e;
            if (e.low < out[d].low) out[d].low = e.low;
            if (e.high > out[d].high) out[d].high = e.high;
            first = false;
        }
    }
}

// nanoflann's two passes over the slots: those below the cut to the front,
// then, of the rest, those on it. A pass swaps the k-th slot from the front
// that belongs behind with the k-th slot from the back that belongs in
// front, for as long as the first lies before the second: exactly the
// misplaced slots on either side of where the pass ends, found by counting.
void SpreadSplitter::planeSplit(Index begin, Index end, int axis, double cut, Index& lim1, Index& lim2) {
    const Index count = end - begin;
    std::uint8_t* side = side_.data();
    Index* below = counts_.data();
    Index* on = starts_.data();
    const Slots slots = slots_;
    const int chunks = chunks_;
#pragma omp parallel for schedule(static)
    for (int c = 0; c < chunks; ++c) {
        Index b = 0, o = 0;
        const Index stop = chunkStart(0, count, c + 1, chunks);
        for (Index i = chunkStart(0, count, c, chunks); i < stop; ++i) {
            const double v = slots.coordinate(begin + i, axis);
            // Without branches: where they go is as good as random.
            side[i] = static_cast<std::uint8_t>((v >= cut) + (v > cut));
            b += v < cut;
            o += v == cut;
        }
        below[c] = b;
        on[c] = o;
    }
    lim1 = lim2 = 0;
    for (int c = 0; c < chunks; ++c) {
        lim1 += below[c];
        lim2 += below[c] + on[c];
    }
    exchangeMisplaced(begin, 0, count, lim1, 0);
    exchangeMisplaced(begin, lim1, count, lim2, 1);
}

// In slots [from, to) of the node at `begin`, those up to `boundary` are to
// hold the sides up to `lowest`: the misplaced ones in front change places
// with the misplaced ones behind, the first in front with the last behind.
void SpreadSplitter::exchangeMisplaced(Index begin, Index from, Index to, Index boundary, std::uint8_t lowest) {
    std::uint8_t* side = side_.data();
    Index* counts = counts_.data();
    Index* starts = starts_.data();
    Index* bigs = bigs_.data();
    Index* smalls = smalls_.data();
    const int chunks = chunks_, parts = 2 * chunks_;
    // Parts 0 .. chunks - 1 cut [from, boundary), the others [boundary, to);
    // part `parts` starts at `to`.
    auto partStart = [=](int p) {
        return p < chunks ? chunkStart(from, boundary, p, chunks) : chunkStart(boundary, to, p - chunks, chunks);
    };
#pragma omp parallel for schedule(static)
    for (int p = 0; p < parts; ++p) {
        Index misplaced = 0;
        const Index start = partStart(p), stop = partStart(p + 1);
        if (p < chunks)
            for (Index i = start; i < stop; ++i) misplaced += side[i] > lowest;
        else
            for (Index i = start; i < stop; ++i) misplaced += side[i] <= lowest;
        counts[p] = misplaced;
    }
    Index pairs = 0;
    for (int p = 0; p < chunks; ++p) starts[p] = std::exchange(pairs, pairs + counts[p]);
    Index fromBack = 0;
    for (int p = parts - 1; p >= chunks; --p) starts[p] = std::exchange(fromBack, fromBack + counts[p]);
#pragma omp parallel for schedule(static)
    for (int p = 0; p < parts; ++p) {
        Index k = starts[p];
        const Index start = partStart(p), stop = partStart(p + 1);
        // Without branches, each slot written and the rank moved on only for
        // a misplaced slot; up to the part's last misplaced slot, so that no
        // write lands on the next part's first rank.
        if (p < chunks) {
            Index last = stop;
            while (last > start && side[last - 1] <= lowest) --last;
            for (Index i = start; i < last; ++i) {
                bigs[k] = i;
                k += side[i] > lowest;
            }
        } else {
            Index first = start;
            while (first < stop && side[first] > lowest) ++first;
            for (Index i = stop; i-- > first;) {
                smalls[k] = i;
                k += side[i] <= lowest;
            }
        }
    }
    const Slots slots = slots_;
    const auto swaps = static_cast<std::int64_t>(pairs);
#pragma omp parallel for schedule(static)
    for (std::int64_t k = 0; k < swaps; ++k) {
        slots.exchange(begin + bigs[k], begin + smalls[k]);
        std::swap(side[bigs[k]], side[smalls[k]]);
    }
}

// nanoflann 1.4's divideTree over one subtree's slots, on the calling
// thread: a node of at most leafSize slots is a leaf, its box its points';
// any other is split by middleSplit and holds its children's boxes, its
// divlow and divhigh their facing sides. Nodes go depth first into `nodes`
// (at most 2 per slot: both children of a split hold a slot at least),
// each split's second child numbered from the subtree's first node.
class SubtreeBuilder {
public:
    SubtreeBuilder(const Slots& slots, int leafSize, FlatNode* nodes)
        : slots_(slots), leafSize_(static_cast<Index>(leafSize)), nodes_(nodes) {}

    // The box around the points of [begin, end), built from `region`.
    Region build(Index begin, Index end, const Region& region, std::size_t level) {
        const std::int32_t at = count_++;
        if (end - begin <= leafSize_) {
            nodes_[at] = {0, 0, -1, static_cast<std::int32_t>(begin), static_cast<std::int32_t>(end)};
            depth_ = std::max(depth_, level);
            const bool all[3] = {true, true, true};
            Extent e[3];
            extentsInOrder(slots_, begin, end, all, e);
            return {{e[0].low, e[1].low, e[2].low}, {e[0].high, e[1].high, e[2].high}};
        }
        const Cut cut = splitInOrder(slots_, begin, end, region);
        const int f = cut.feature;
        Region low = region, high = region;
        low.high[f] = cut.value;
        high.low[f] = cut.value;
        const Region a = build(begin, begin + cut.first, low, level + 1);
        const std::int32_t second = count_;
        const Region b = build(begin + cut.first, end, high, level + 1);
        nodes_[at] = {a.high[f], b.low[f], f, second, 0};
        return enclosing(a, b);
    }

    std::int32_t nodeCount() const { return count_; }
    std::size_t depth() const { return depth_; }

private:
    Slots slots_;
    Index leafSize_;
    FlatNode* nodes_;
    std::int32_t count_ = 0;
    std::size_t depth_ = 0;
};

class Builder {
public:
    Builder(const double* points, std::int32_t count, int leafSize)
        : points_(points), count_(static_cast<Index>(count)), leafSize_(leafSize), order_(count_),
          xyz_(3 * static_cast<std::size_t>(count_)) {}

    FlatTree build();

private:
    void splitTop();
    void buildSubtrees();
    void layOut(FlatTree& tree);

    // A child: a split (>= 0) or ~(a subtree).
    std::int32_t nodeCountOf(std::int32_t child) const {
        return child >= 0 ? splitNodeCounts_[child] : subtrees_[~child].nodeCount;
    }

    const double* points_;
    Index count_;
    int leafSize_;
    UninitializedVector<Index> order_;
    // The points side by side in slot order: read far more often than moved.
    UninitializedVector<double> xyz_;
    std::vector<Split> splits_;  // parents before children
    std::vector<Subtree> subtrees_;
    std::int32_t root_ = 0;
    // Each subtree's nodes, from twice its first slot on.
    UninitializedVector<FlatNode> subtreeNodes_;
    std::vector<std::int32_t> splitNodeCounts_;
};

FlatTree Builder::build() {
    FlatTree tree;
    if (count_ == 0) return tree;
    Index* order = order_.data();
    double* xyz = xyz_.data();
    const double* points = points_;
    const auto count = static_cast<std::int64_t>(count_);
#pragma omp parallel for schedule(static)
    for (std::int64_t i = 0; i < count; ++i) {
        order[i] = static_cast<Index>(i);
        std::copy(points + 3 * i, points + 3 * i + 3, xyz + 3 * i);
    }
    splitTop();
    buildSubtrees();
    xyz_ = UninitializedVector<double>();
    layOut(tree);
    subtreeNodes_ = UninitializedVector<FlatNode>();
    tree.order = std::move(order_);
    return tree;
}

// Nodes of more points than this are split here, the others built as
// subtrees, one to a thread: a few subtrees for each core. Level by level, so that the
// nodes of a level can be split side by side, each by nanoflann's loops,
// once there are as many as cores; before that each node's passes are
// spread over the cores.
void Builder::splitTop() {
    const int threads = maxThreads();
    const std::size_t splitAbove = std::max<std::size_t>(count_ / (8 * static_cast<std::size_t>(threads)), 4096);
    const Slots slots{xyz_.data(), order_.data()};
    SpreadSplitter spread(slots, count_ > splitAbove ? count_ : 0);
    // nanoflann's box around all points.
    const bool all[3] = {true, true, true};
    Extent e[3];
    spread.extents(0, count_, all, e);
    struct Pending {
        Index begin, end;
        Region region;
        std::int32_t parent, side;  // parent -1: the root
    };
    std::vector<Pending> level{{0, count_, {{e[0].low, e[1].low, e[2].low}, {e[0].high, e[1].high, e[2].high}}, -1, 0}};
    std::vector<Pending> toSplit;
    std::vector<std::int32_t> ids;
    std::vector<Cut> cuts;
    while (!level.empty()) {
        toSplit.clear();
        ids.clear();
        for (const Pending& p : level) {
            const bool split = p.end - p.begin > splitAbove;
            const auto id = static_cast<std::int32_t>(split ? splits_.size() : subtrees_.size());
            (p.parent < 0 ? root_ : splits_[p.parent].children[p.side]) = split ? id : ~id;
            if (!split) {
                subtrees_.push_back({p.begin, p.end, p.region});
                continue;
            }
            splits_.push_back({});
            toSplit.push_back(p);
            ids.push_back(id);
        }
        const auto count = static_cast<std::int32_t>(toSplit.size());
        cuts.resize(toSplit.size());
        if (count < threads) {
            for (std::int32_t k = 0; k < count; ++k) cuts[k] = spread.split(toSplit[k].begin, toSplit[k].end, toSplit[k].region);
        } else {
#pragma omp parallel for schedule(dynamic, 1)
            for (std::int32_t k = 0; k < count; ++k)
                cuts[k] = splitInOrder(slots, toSplit[k].begin, toSplit[k].end, toSplit[k].region);
        }
        level.clear();
        for (std::int32_t k = 0; k < count; ++k) {
            const Pending& p = toSplit[k];
            const Cut& cut = cuts[k];
            splits_[ids[k]].feature = cut.feature;
            Pending low{p.begin, p.begin + cut.first, p.region, ids[k], 0};
            Pending high{p.begin + cut.first, p.end, p.region, ids[k], 1};
            low.region.high[cut.feature] = cut.value;
            high.region.low[cut.feature] = cut.value;
            level.push_back(low);
            level.push_back(high);
        }
    }
}

// Every subtree, the largest first, with its node count and depth; its
// slots then hold the points in the order of its leaves.
void Builder::buildSubtrees() {
    const auto subtrees = static_cast<std::int32_t>(subtrees_.size());
    // Sized here: nothing may allocate through the host inside the region.
    subtreeNodes_.resize(2 * static_cast<std::size_t>(count_));
    std::vector<std::int32_t> largestFirst(subtrees_.size());
    for (std::int32_t k = 0; k < subtrees; ++k) largestFirst[k] = k;
    std::stable_sort(largestFirst.begin(), largestFirst.end(), [&](std::int32_t a, std::int32_t b) {
        return subtrees_[a].end - subtrees_[a].begin > subtrees_[b].end - subtrees_[b].begin;
    });
    const Slots slots{xyz_.data(), order_.data()};
    FlatNode* nodes = subtreeNodes_.data();
    const int leafSize = leafSize_;
#pragma omp parallel for schedule(dynamic, 1)
    for (std::int32_t k = 0; k < subtrees; ++k) {
        Subtree& s = subtrees_[largestFirst[k]];
        SubtreeBuilder builder(slots, leafSize, nodes + 2 * static_cast<std::size_t>(s.begin));
        s.region = builder.build(s.begin, s.end, s.region, 0);
        s.nodeCount = builder.nodeCount();
        s.depth = builder.depth();
    }
}

// Places the splits and subtrees depth first, fills in the splits' nodes
// from their children's boxes (nanoflann's divlow and divhigh), and the
// subtrees' nodes in parallel.
void Builder::layOut(FlatTree& tree) {
    const auto splits = static_cast<std::int32_t>(splits_.size());
    std::vector<Region> boxes(splits_.size());
    auto boxOf = [&](std::int32_t child) { return child >= 0 ? boxes[child] : subtrees_[~child].region; };
    splitNodeCounts_.assign(splits_.size(), 0);
    for (std::int32_t t = splits - 1; t >= 0; --t) {
        const Split& s = splits_[t];
        splitNodeCounts_[t] = 1 + nodeCountOf(s.children[0]) + nodeCountOf(s.children[1]);
        boxes[t] = enclosing(boxOf(s.children[0]), boxOf(s.children[1]));
    }
    tree.nodes.resize(static_cast<std::size_t>(nodeCountOf(root_)));
    const Region all = boxOf(root_);
    std::copy(all.low, all.low + 3, tree.low);
    std::copy(all.high, all.high + 3, tree.high);

    // Place and depth of every split and subtree; parents come first.
    std::vector<std::int32_t> splitAt(splits_.size()), subtreeAt(subtrees_.size());
    std::vector<std::size_t> splitDepth(splits_.size()), subtreeDepth(subtrees_.size());
    auto place = [&](std::int32_t child, std::int32_t at, std::size_t depth) {
        (child >= 0 ? splitAt[child] : subtreeAt[~child]) = at;
        (child >= 0 ? splitDepth[child] : subtreeDepth[~child]) = depth;
    };
    place(root_, 0, 0);
    for (std::int32_t t = 0; t < splits; ++t) {
        const Split& s = splits_[t];
        const std::int32_t second = splitAt[t] + 1 + nodeCountOf(s.children[0]);
        place(s.children[0], splitAt[t] + 1, splitDepth[t] + 1);
        place(s.children[1], second, splitDepth[t] + 1);
        const int f = s.feature;
        tree.nodes[splitAt[t]] = {boxOf(s.children[0]).high[f], boxOf(s.children[1]).low[f], f, second, 0};
    }
    FlatNode* nodes = tree.nodes.data();
    const auto subtrees = static_cast<std::int32_t>(subtrees_.size());
    const FlatNode* built = subtreeNodes_.data();
    const std::int32_t* places = subtreeAt.data();
    const Subtree* parts = subtrees_.data();
#pragma omp parallel for schedule(dynamic, 1)
    for (std::int32_t k = 0; k < subtrees; ++k) {
        const FlatNode* from = built + 2 * static_cast<std::size_t>(parts[k].begin);
        for (std::int32_t i = 0; i < parts[k].nodeCount; ++i) {
            FlatNode node = from[i];
            if (node.feature >= 0) node.second += places[k];
            nodes[places[k] + i] = node;
        }
    }
    for (std::int32_t k = 0; k < subtrees; ++k)
        tree.depth = std::max(tree.depth, subtreeDepth[k] + subtrees_[k].depth);
}

}  // namespace

FlatTree buildFlatTree(const double* points, std::int32_t count, int leafSize) {
    return Builder(points, count, leafSize).build();
}

}  // namespace tessary
