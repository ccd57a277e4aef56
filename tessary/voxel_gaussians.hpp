// A map of Gaussians from a point cloud: the points grouped by the voxel
// floor(p / voxelSize) of a grid anchored at the origin, each voxel's mean
// and covariance.
#pragma once

#include <cstdint>
#include <vector>

namespace tessary {

constexpr double voxelKeyLimit = 4611686018427387904.0;  // 2^62

// The voxels that hold at least minPoints points, in ascending order of
// their key (x, then y, then z).
struct VoxelMap {
    bool keysInRange = true;     // false: a voxel key leaves +-voxelKeyLimit, and the map is empty
    std::vector<double> means;   // G x 3, column-major
    std::vector<double> covs;    // 9 x G, each 3 x 3 column-major
    std::vector<double> counts;  // G
};

// `rows`: an m x 3 column-major matrix, one point per row; rows with a NaN
// or infinite coordinate are left out. A covariance is the sum of
// (p - mean)(p - mean)' over the voxel's points in row order, divided by
// n - 1, or by 1 for one point. The keys are grouped by a counting sort
// where their box is small beside the cloud, else by a radix sort; the
// voxels are computed on every core.
VoxelMap voxelGaussians(const double* rows, std::int32_t m, double voxelSize, std::int32_t minPoints);

}  // namespace tessary
