// A map of Gaussians from a point cloud: the points grouped by the voxel
// floor(p / voxelSize) of a grid anchored at the origin, each voxel's mean
// and covariance.
#pragma once

#include <cstdint>
#include <vector>

namespace tessary {

class VoxelGrid {
public:
    // `rows`: an m x 3 column-major matrix, one point per row. Rows with a
    // NaN or infinite coordinate are left out. When a voxel key leaves
    // +-keyLimit on some axis, keysInRange() is false and nothing else is
    // computed.
    VoxelGrid(const double* rows, std::int32_t m, double voxelSize);

    bool keysInRange() const { return inRange_; }

    // How many voxels hold at least minPoints points.
    std::int32_t voxelCount(std::int32_t minPoints) const;

    // For those voxels, in ascending order of their key (x, then y, then
    // z): means (G x 3, column-major), covs (9 x G, each 3 x 3 column-major)
    // and counts (G). A covariance is the sum of (p - mean)(p - mean)' over
    // the voxel's points in row order, divided by n - 1, or by 1 for one
    // point. Voxels are computed on every core.
    void fill(std::int32_t minPoints, double* means, double* covs, double* counts) const;

    static constexpr double keyLimit = 4611686018427387904.0;  // 2^62

private:
    const double* rows_;
    std::int32_t m_;
    bool inRange_ = true;
    std::vector<std::int32_t> order_;  // the finite rows by voxel, by row within one
    std::vector<std::int32_t> start_;  // each voxel's first position in order_, then order_.size()
};

}  // namespace tessary
