#include "voxel_gaussians.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cell_order.hpp"
#include "openmp.hpp"
#include "uninitialized.hpp"

namespace tessary {
namespace {

// floor(t) for |t| < keyLimit, where every double is exact as an int64.
std::int64_t floorOf(double t) {
    const auto k = static_cast<std::int64_t>(t);
    return static_cast<double>(k) > t ? k - 1 : k;
}

constexpr std::uint64_t leftOut = std::numeric_limits<std::uint64_t>::max();
constexpr double keyLimit = voxelKeyLimit;

// The finite rows grouped by voxel.
class VoxelGrid {
public:
    VoxelGrid(const double* rows, std::int32_t m, double voxelSize);

    bool keysInRange() const { return inRange_; }
    void fill(std::int32_t minPoints, VoxelMap& map) const;

private:
    struct Key {
        std::int64_t x, y, z;
    };
    std::int64_t keyOf(double v) const;
    Key keyOf(std::int32_t row) const;
    bool findBounds(Key& low, Key& high) const;
    void groupByCounting(const UninitializedVector<std::uint64_t>& packed, std::uint64_t cells);
    void groupBySorting(const UninitializedVector<std::uint64_t>& packed);
    void groupByComparing();
    void markVoxels(const std::vector<std::uint64_t>& sortedKeys);

    const double* rows_;
    std::int32_t m_;
    double voxelSize_;
    bool inRange_ = true;
    void gather();

    struct Point {
        double x, y, z;
    };
    static double scaledMean(const Point* points, std::int32_t first, std::int32_t end, int axis);
    std::vector<std::int32_t> order_;  // the finite rows by voxel, by row within one
    std::vector<std::int32_t> start_;  // each voxel's first position in order_, then order_.size()
    std::vector<Point> sorted_;        // the points in that order
};


inline std::int64_t VoxelGrid::keyOf(double v) const { return floorOf(v / voxelSize_); }

inline VoxelGrid::Key VoxelGrid::keyOf(std::int32_t row) const {
    const std::size_t m = static_cast<std::size_t>(m_);
    return {keyOf(rows_[row]), keyOf(rows_[row + m]), keyOf(rows_[row + 2 * m])};
}

// The bounds of the finite rows' keys; false when a key is out of range.
// The rounded quotient and floor are monotonic, so the bounds are the keys
// of the coordinates' bounds, found without a division a row. Each block of
// rows finds its own, merged afterwards: min and max reductions are OpenMP
// 3.1, which Visual C++ does not take.
bool VoxelGrid::findBounds(Key& low, Key& high) const {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const int blocks = maxThreads();
    std::vector<double> found(6 * static_cast<std::size_t>(blocks));  // per block: low x, y, z, high x, y, z
    const std::size_t m = static_cast<std::size_t>(m_);
    const double* rows = rows_;
    double* blockBounds = found.data();
    // In 64 bits: m times the block number overflows a 32-bit size_t.
    const auto blockStart = [=](int b) {
        return static_cast<std::size_t>(std::uint64_t{m} * static_cast<std::uint64_t>(b) / static_cast<std::uint64_t>(blocks));
    };
#pragma omp parallel for schedule(static)
    for (int b = 0; b < blocks; ++b) {
        double lx = inf, ly = inf, lz = inf, hx = -inf, hy = -inf, hz = -inf;
        for (std::size_t i = blockStart(b); i < blockStart(b + 1); ++i) {
            const double x = rows[i], y = rows[i + m], z = rows[i + 2 * m];
            if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(z))) continue;
            lx = std::min(lx, x), ly = std::min(ly, y), lz = std::min(lz, z);
            hx = std::max(hx, x), hy = std::max(hy, y), hz = std::max(hz, z);
        }
        const double own[6] = {lx, ly, lz, hx, hy, hz};
        std::copy(own, own + 6, blockBounds + 6 * static_cast<std::size_t>(b));
    }
    double lx = inf, ly = inf, lz = inf, hx = -inf, hy = -inf, hz = -inf;
    for (int b = 0; b < blocks; ++b) {
        const double* own = blockBounds + 6 * static_cast<std::size_t>(b);
        lx = std::min(lx, own[0]), ly = std::min(ly, own[1]), lz = std::min(lz, own[2]);
        hx = std::max(hx, own[3]), hy = std::max(hy, own[4]), hz = std::max(hz, own[5]);
    }
    if (lx > hx) {
        low = {0, 0, 0};
        high = {-1, -1, -1};
        return true;
    }
    const double bounds[6] = {lx / voxelSize_, ly / voxelSize_, lz / voxelSize_,
                              hx / voxelSize_, hy / voxelSize_, hz / voxelSize_};
    for (double t : bounds)
        if (!(std::fabs(t) < keyLimit)) return false;
    low = {floorOf(bounds[0]), floorOf(bounds[1]), floorOf(bounds[2])};
    high = {floorOf(bounds[3]), floorOf(bounds[4]), floorOf(bounds[5])};
    return true;
}

VoxelGrid::VoxelGrid(const double* rows, std::int32_t m, double voxelSize)
    : rows_(rows), m_(m), voxelSize_(voxelSize) {
    Key low{}, high{};
    inRange_ = findBounds(low, high);
    start_.push_back(0);
    if (!inRange_ || low.x > high.x) return;
    // Keys within 2^62 of zero: every span fits in 63 bits.
    const std::uint64_t span[3] = {static_cast<std::uint64_t>(high.x - low.x) + 1,
                                   static_cast<std::uint64_t>(high.y - low.y) + 1,
                                   static_cast<std::uint64_t>(high.z - low.z) + 1};
    if (span[1] > leftOut / span[2] || span[0] > (leftOut - 1) / (span[1] * span[2])) {
        groupByComparing();
        return;
    }
    // One number per row that orders as its key does.
    UninitializedVector<std::uint64_t> packed(static_cast<std::size_t>(m));
    std::uint64_t* out = packed.data();
    const VoxelGrid& grid = *this;
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < m; ++i) {
        const std::size_t n = static_cast<std::size_t>(m);
        const bool finite = std::isfinite(rows[i]) && std::isfinite(rows[i + n]) && std::isfinite(rows[i + 2 * n]);
        if (!finite) {
            out[i] = leftOut;
            continue;
        }
        const Key k = grid.keyOf(i);
        out[i] = (static_cast<std::uint64_t>(k.x - low.x) * span[1] + static_cast<std::uint64_t>(k.y - low.y)) * span[2] +
                 static_cast<std::uint64_t>(k.z - low.z);
    }
    // A count per cell of the keys' box, where the box is small beside the cloud.
    const std::uint64_t cells = span[0] * span[1] * span[2];
    if (cells <= 4 * static_cast<std::uint64_t>(m) + 4096)
        groupByCounting(packed, cells);
    else
        groupBySorting(packed);
    gather();
}

// The points in voxel order, so that each voxel reads consecutive memory.
void VoxelGrid::gather() {
    sorted_.resize(order_.size());
    const auto count = static_cast<std::int32_t>(order_.size());
    const std::size_t m = static_cast<std::size_t>(m_);
    const double* rows = rows_;
    const std::int32_t* order = order_.data();
    Point* sorted = sorted_.data();
#pragma omp parallel for schedule(static)
    for (std::int32_t k = 0; k < count; ++k) sorted[k] = {rows[order[k]], rows[order[k] + m], rows[order[k] + 2 * m]};
}

// A counting sort: the rows of each cell in row order, cells in key order.
void VoxelGrid::groupByCounting(const UninitializedVector<std::uint64_t>& packed, std::uint64_t cells) {
    std::vector<std::int32_t> next(static_cast<std::size_t>(cells) + 1, 0);
    for (std::uint64_t key : packed)
        if (key != leftOut) ++next[static_cast<std::size_t>(key) + 1];
    for (std::size_t c = 0; c < cells; ++c) {
        if (next[c + 1] != 0) start_.push_back(start_.back() + next[c + 1]);
        next[c + 1] += next[c];
    }
    order_.resize(static_cast<std::size_t>(start_.back()));
    for (std::int32_t i = 0; i < m_; ++i)
        if (packed[i] != leftOut) order_[next[static_cast<std::size_t>(packed[i])]++] = i;
}

void VoxelGrid::groupBySorting(const UninitializedVector<std::uint64_t>& unsorted) {
    std::vector<std::uint64_t> packed(unsorted.begin(), unsorted.end());
    std::vector<std::int32_t> byKey = radixOrder(packed);
    const auto finite = static_cast<std::size_t>(std::lower_bound(packed.begin(), packed.end(), leftOut) - packed.begin());
    byKey.resize(finite);
    packed.resize(finite);
    order_ = std::move(byKey);
    markVoxels(packed);
}

// Keys too far apart to pack into 64 bits: compared whole.
void VoxelGrid::groupByComparing() {
    const std::size_t m = static_cast<std::size_t>(m_);
    for (std::int32_t i = 0; i < m_; ++i)
        if (std::isfinite(rows_[i]) && std::isfinite(rows_[i + m]) && std::isfinite(rows_[i + 2 * m])) order_.push_back(i);
    std::vector<Key> keys(m);
    for (std::int32_t i : order_) keys[i] = keyOf(i);
    auto less = [&](std::int32_t i, std::int32_t j) {
        const Key &a = keys[i], &b = keys[j];
        if (a.x != b.x) return a.x < b.x;
        if (a.y != b.y) return a.y < b.y;
        return a.z < b.z;
    };
    std::stable_sort(order_.begin(), order_.end(), less);
    for (std::size_t k = 1; k < order_.size(); ++k)
        if (less(order_[k - 1], order_[k])) start_.push_back(static_cast<std::int32_t>(k));
    start_.push_back(static_cast<std::int32_t>(order_.size()));
    gather();
}

void VoxelGrid::markVoxels(const std::vector<std::uint64_t>& sortedKeys) {
    for (std::size_t k = 1; k < sortedKeys.size(); ++k)
        if (sortedKeys[k] != sortedKeys[k - 1]) start_.push_back(static_cast<std::int32_t>(k));
    start_.push_back(static_cast<std::int32_t>(sortedKeys.size()));
}

// The mean along `axis` of points whose plain sum overflows, though every
// one is finite: each is scaled down first by a power of two, exactly but
// for digits far below the mean, so that the sum of up to 2^31 of them fits.
double VoxelGrid::scaledMean(const Point* points, std::int32_t first, std::int32_t end, int axis) {
    constexpr double down = 0x1p-32;
    double sum = 0;
    for (std::int32_t at = first; at < end; ++at)
        sum += (axis == 0 ? points[at].x : axis == 1 ? points[at].y : points[at].z) * down;
    return sum / (end - first) / down;
}

void VoxelGrid::fill(std::int32_t minPoints, VoxelMap& map) const {
    std::vector<std::int32_t> kept;
    for (std::size_t v = 0; v + 1 < start_.size(); ++v)
        if (start_[v + 1] - start_[v] >= minPoints) kept.push_back(static_cast<std::int32_t>(v));
    const auto g = static_cast<std::int32_t>(kept.size());
    map.means.resize(3 * kept.size());
    map.covs.resize(9 * kept.size());
    map.counts.resize(kept.size());
    double *means = map.means.data(), *covs = map.covs.data(), *counts = map.counts.data();
    const Point* sorted = sorted_.data();
#pragma omp parallel for schedule(static)
    for (std::int32_t k = 0; k < g; ++k) {
        const std::int32_t first = start_[kept[k]], end = start_[kept[k] + 1];
        const double n = end - first;
        double mean[3] = {0, 0, 0};
        for (std::int32_t at = first; at < end; ++at) {
            mean[0] += sorted[at].x;
            mean[1] += sorted[at].y;
            mean[2] += sorted[at].z;
        }
        for (double& v : mean) v /= n;
        for (int d = 0; d < 3; ++d)
            if (!std::isfinite(mean[d])) mean[d] = scaledMean(sorted, first, end, d);
        // The deviations from the mean, not the squares' sums, so that a
        // tight voxel far from the origin keeps its digits.
        double c[6] = {0, 0, 0, 0, 0, 0};  // xx, yx, zx, yy, zy, zz
        for (std::int32_t at = first; at < end; ++at) {
            const double dx = sorted[at].x - mean[0], dy = sorted[at].y - mean[1], dz = sorted[at].z - mean[2];
            c[0] += dx * dx;
            c[1] += dy * dx;
            c[2] += dz * dx;
            c[3] += dy * dy;
            c[4] += dz * dy;
            c[5] += dz * dz;
        }
        const double scale = n > 1 ? n - 1 : 1;
        for (double& v : c) v /= scale;
        const double full[9] = {c[0], c[1], c[2], c[1], c[3], c[4], c[2], c[4], c[5]};
        std::copy(full, full + 9, covs + 9 * static_cast<std::size_t>(k));
        for (std::size_t d = 0; d < 3; ++d) means[k + d * static_cast<std::size_t>(g)] = mean[d];
        counts[k] = n;
    }
}

}  // namespace

VoxelMap voxelGaussians(const double* rows, std::int32_t m, double voxelSize, std::int32_t minPoints) {
    VoxelMap map;
    const VoxelGrid grid(rows, m, voxelSize);
    map.keysInRange = grid.keysInRange();
    if (map.keysInRange) grid.fill(minPoints, map);
    return map;
}

}  // namespace tessary
