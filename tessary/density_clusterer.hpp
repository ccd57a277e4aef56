// DBSCAN of rejected points with fixed parameters (minPts 5, eps 0.75,
// Euclidean distance in float32), with the region queries served by a
// uniform grid so that clustering costs about n times the neighbourhood size.
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

// Records j and i are neighbours when, with dx = j.x - i.x and so on in
// float32, sqrt((dy*dy + dx*dx) + dz*dz) rounded to float32 is at most eps.
// A NaN distance never qualifies. The relation is symmetric.
bool areNeighbours(const ClusterPoint& a, const ClusterPoint& b);

class DensityClusterer {
public:
    static constexpr std::uint32_t minPts = 5;  // neighbourhood size, the point itself counted
    static constexpr float eps = 0.75f;

    explicit DensityClusterer(std::vector<ClusterPoint> points);

    // Labels every record: NOISE, or the number of its cluster. Clusters are
    // numbered 0, 1, ... in the order of the lowest-numbered core point that
    // starts them; a border point keeps the first cluster that reaches it.
    void run();

    const std::vector<ClusterPoint>& pointList() const { return pointList_; }
    std::int32_t lastClusterId() const { return lastClusterId_; }

private:
    struct Cell {
        std::int64_t x, y, z;
    };
    struct GridPoint {
        float x, y, z;
        std::int32_t index;
    };

    void buildGrid();
    void markCorePoints();
    void expandCluster(std::int32_t seed);
    template <typename Visit>
    void forEachNeighbour(std::int32_t index, Visit visit) const;

    std::vector<ClusterPoint> pointList_;
    std::int32_t pointCount_;
    std::int32_t lastClusterId_ = -1;

    // Grid: finite records ordered by cell, each cell a range of `sorted_`,
    // and for every cell the cells around it (itself included).
    std::vector<GridPoint> sorted_;
    std::vector<std::int32_t> cellOf_;  // per record; -1: not finite, in no cell
    std::vector<std::int32_t> cellStart_;
    std::vector<std::int32_t> aroundStart_;
    std::vector<std::int32_t> around_;
    std::vector<char> core_;
    std::vector<std::int32_t> stack_;
};

}  // namespace tessary
