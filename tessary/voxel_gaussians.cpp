#include "voxel_gaussians.hpp"

#include <algorithm>
#include <cmath>

#include "cell_order.hpp"
#include "uninitialized.hpp"

namespace tessary {
namespace {

struct Key {
    std::int64_t x, y, z;
};
struct Keyed {
    Key key;
    std::int32_t row;  // -1: left out
};

bool sameKey(const Key& a, const Key& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

// floor(t) for |t| < keyLimit, where every double is exact as an int64.
std::int64_t floorOf(double t) {
    const auto k = static_cast<std::int64_t>(t);
    return static_cast<double>(k) > t ? k - 1 : k;
}

}  // namespace

VoxelGrid::VoxelGrid(const double* rows, std::int32_t m, double voxelSize) : rows_(rows), m_(m) {
    const double *x = rows, *y = rows + m, *z = rows + 2 * static_cast<std::size_t>(m);
    UninitializedVector<Keyed> keyed(static_cast<std::size_t>(m));
    Keyed* all = keyed.data();
    int outOfRange = 0;
#pragma omp parallel for schedule(static) reduction(| : outOfRange)
    for (std::int32_t i = 0; i < m; ++i) {
        const double t[3] = {x[i] / voxelSize, y[i] / voxelSize, z[i] / voxelSize};
        const bool finite = std::isfinite(x[i]) && std::isfinite(y[i]) && std::isfinite(z[i]);
        const bool fits = std::fabs(t[0]) < keyLimit && std::fabs(t[1]) < keyLimit && std::fabs(t[2]) < keyLimit;
        outOfRange |= finite && !fits;
        all[i] = finite && fits ? Keyed{{floorOf(t[0]), floorOf(t[1]), floorOf(t[2])}, i} : Keyed{{0, 0, 0}, -1};
    }
    if (outOfRange != 0) {
        inRange_ = false;
        return;
    }
    keyed.erase(std::remove_if(keyed.begin(), keyed.end(), [](const Keyed& r) { return r.row < 0; }), keyed.end());
    std::vector<std::uint64_t> packed;
    std::vector<std::int32_t> byVoxel;
    if (!keyed.empty() && packCells(keyed, packed)) {
        byVoxel = radixOrder(packed);
    } else {
        byVoxel.resize(keyed.size());
        for (std::size_t k = 0; k < keyed.size(); ++k) byVoxel[k] = static_cast<std::int32_t>(k);
        std::sort(byVoxel.begin(), byVoxel.end(), [&](std::int32_t i, std::int32_t j) {
            const Key &a = keyed[i].key, &b = keyed[j].key;
            if (a.x != b.x) return a.x < b.x;
            if (a.y != b.y) return a.y < b.y;
            if (a.z != b.z) return a.z < b.z;
            return i < j;
        });
    }
    order_.resize(keyed.size());
    for (std::size_t k = 0; k < keyed.size(); ++k) {
        const Keyed& r = keyed[static_cast<std::size_t>(byVoxel[k])];
        order_[k] = r.row;
        if (k == 0 || !sameKey(r.key, keyed[static_cast<std::size_t>(byVoxel[k - 1])].key))
            start_.push_back(static_cast<std::int32_t>(k));
    }
    start_.push_back(static_cast<std::int32_t>(order_.size()));
}

std::int32_t VoxelGrid::voxelCount(std::int32_t minPoints) const {
    std::int32_t count = 0;
    for (std::size_t v = 0; v + 1 < start_.size(); ++v) count += start_[v + 1] - start_[v] >= minPoints;
    return count;
}

void VoxelGrid::fill(std::int32_t minPoints, double* means, double* covs, double* counts) const {
    std::vector<std::int32_t> kept;
    for (std::size_t v = 0; v + 1 < start_.size(); ++v)
        if (start_[v + 1] - start_[v] >= minPoints) kept.push_back(static_cast<std::int32_t>(v));
    const auto g = static_cast<std::int32_t>(kept.size());
    const std::size_t m = static_cast<std::size_t>(m_);
    const double* rows = rows_;
#pragma omp parallel for schedule(static)
    for (std::int32_t k = 0; k < g; ++k) {
        const std::int32_t first = start_[kept[k]], end = start_[kept[k] + 1];
        const double n = end - first;
        double mean[3] = {0, 0, 0};
        for (std::int32_t at = first; at < end; ++at)
            for (int d = 0; d < 3; ++d) mean[d] += rows[order_[at] + d * m];
        for (int d = 0; d < 3; ++d) mean[d] /= n;
        // The deviations from the mean, not the squares' sums, so that a
        // tight voxel far from the origin keeps its digits.
        double c[6] = {0, 0, 0, 0, 0, 0};  // xx, yx, zx, yy, zy, zz
        for (std::int32_t at = first; at < end; ++at) {
            const double dx = rows[order_[at]] - mean[0], dy = rows[order_[at] + m] - mean[1],
                         dz = rows[order_[at] + 2 * m] - mean[2];
            c[0] += dx * dx;
            c[1] += dy * dx;
            c[2] += dz * dx;
            c[3] += dy * dy;
            c[4] += dz * dy;
            c[5] += dz * dz;
        }
        const double scale = n > 1 ? n - 1 : 1;
        for (double& v : c) v /= scale;
        double* cov = covs + 9 * static_cast<std::size_t>(k);
        const double full[9] = {c[0], c[1], c[2], c[1], c[3], c[4], c[2], c[4], c[5]};
        std::copy(full, full + 9, cov);
        for (int d = 0; d < 3; ++d) means[k + d * static_cast<std::size_t>(g)] = mean[d];
        counts[k] = n;
    }
}

}  // namespace tessary
