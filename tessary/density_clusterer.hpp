// DBSCAN of "kd"'s rejected points with fixed parameters (minPts 5, eps
// 0.75, Euclidean distance in float32), on the grid of density_grid.hpp:
// the labels of the textbook algorithm with linear-scan region queries.
#pragma once

#include <cstdint>
#include <vector>

namespace tessary {

constexpr std::int32_t UNCLASSIFIED = -1;
constexpr std::int32_t NOISE = -2;

struct ClusterPoint {
    float x, y, z;
    std::int32_t reserved;   // zero; never read
    std::int32_t clusterId;  // UNCLASSIFIED until run(), then NOISE or a cluster number
};
static_assert(sizeof(ClusterPoint) == 20, "a ClusterPoint is five 4-byte fields");

class DensityClusterer {
public:
    static constexpr std::uint32_t minPts = 5;  // neighbourhood size, the point itself counted
    static constexpr float eps = 0.75f;

    explicit DensityClusterer(std::vector<ClusterPoint> points);

    // Labels every record. A core point has at least minPts - 1 neighbours;
    // core points linked by neighbour pairs form a cluster, and clusters are
    // numbered 0, 1, ... in the order of their lowest-numbered record. Any
    // other point takes the lowest cluster number among its core
    // neighbours, or NOISE when it has none.
    void run();

    const std::vector<ClusterPoint>& pointList() const { return pointList_; }
    std::int32_t lastClusterId() const { return lastClusterId_; }

private:
    std::vector<ClusterPoint> pointList_;
    std::int32_t pointCount_;
    std::int32_t lastClusterId_ = -1;
};

}  // namespace tessary
