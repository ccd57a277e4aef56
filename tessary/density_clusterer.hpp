// DBSCAN of rejected points with fixed parameters (minPts 5, eps 0.75,
// Euclidean distance in float32). The labels are those of the textbook
// algorithm with linear-scan region queries; a fine grid replaces the scans,
// so clustering costs about n times the neighbourhood size and far less in
// dense regions.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "uninitialized.hpp"

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
    struct Key {
        std::int64_t x, y, z;
    };
    struct Keyed {
        Key key;
        std::int32_t index;
    };
    struct GridPoint {
        float x, y, z;
        std::int32_t index;
    };
    struct Column {
        std::int64_t x, y;
        std::int32_t first, end;  // its cells, ordered by z
    };
    struct Box {
        double low[3], high[3];
    };
    static constexpr int maxNearCells = 125;
    using NearCells = std::array<std::int32_t, maxNearCells>;

    void buildGrid();
    static std::vector<std::int32_t> orderByCell(const UninitializedVector<Keyed>& keyed);
    void buildColumns();
    void buildOccupancy();
    bool mayHoldCells(std::int64_t x, std::int64_t y) const;
    int nearCells(std::int32_t cell, bool laterOnly, NearCells& out) const;
    void markCorePoints();
    void linkCoreCells();
    void numberClusters();
    void labelPoints();

    // a and b are neighbours when, with dx = a.x - b.x and so on in float32,
    // sqrt((dy*dy + dx*dx) + dz*dz) rounded to float32 is at most eps. A NaN
    // distance never qualifies. The relation is symmetric.
    bool neighbours(const GridPoint& a, const GridPoint& b) const;
    bool anyCoreNeighbour(const GridPoint& p, std::int32_t cell) const;
    bool coreCellsLinked(std::int32_t a, std::int32_t b) const;
    std::int32_t findRoot(std::int32_t cell);

    std::vector<ClusterPoint> pointList_;
    std::int32_t pointCount_;
    std::int32_t lastClusterId_ = -1;

    // Finite records ordered by cell; each cell is a range of `sorted_`.
    std::vector<GridPoint> sorted_;
    std::vector<Key> cellKey_;
    std::vector<std::int32_t> cellStart_;
    std::vector<Column> columns_;  // open-addressing table
    std::vector<std::uint64_t> occupied_;  // a bit per column of the box of columns; empty: not kept
    std::int64_t occupancyLow_[2] = {0, 0};
    std::uint64_t occupancySpan_[2] = {0, 0};
    std::vector<Box> coreBox_;     // per cell: bounding box of its core points
    std::vector<char> core_;       // per position of `sorted_`
    std::vector<char> isolated_;   // per cell: no other cell is near (known for cells too small to be core)
    std::vector<std::int32_t> coreCount_;  // per cell
    std::vector<std::int32_t> parent_;     // union-find over cells
    std::vector<std::int32_t> cellCluster_;
};

}  // namespace tessary
