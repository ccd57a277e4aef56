// DBSCAN over a fine grid, in a metric space of the caller's: the labels
// are those of the textbook algorithm with linear-scan region queries,
// visiting the points in order, at a cost of about n times the
// neighbourhood size. A Space gives the coordinates' type, the radius, the
// neighbourhood size that makes a core point, the neighbour test and the
// grid's cells (see SinglePrecisionSpace below).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "uninitialized.hpp"

namespace tessary {

template <typename Scalar>
struct Point3 {
    Scalar x, y, z;
};

// "kd"'s clustering: float32 coordinates, radius 0.75 and 5 points;
// neighbours when sqrt((dy*dy + dx*dx) + dz*dz), all in float32 and the
// square root rounded to float32, is at most the radius.
struct SinglePrecisionSpace {
    using Scalar = float;
    static constexpr double eps = 0.75;
    static constexpr std::uint32_t minPts = 5;
    // Any two points of a cell are closer than eps even after float32
    // rounding (the cell diagonal is 0.9999 eps).
    static constexpr double cellSide = eps / 1.7320508075688772 * 0.9999;

    static bool neighbours(const Point3<float>& a, const Point3<float>& b);
    static std::int64_t key(float v);
};

// Double precision, any radius and neighbourhood size: neighbours when
// sqrt((dx*dx + dy*dy) + dz*dz) in double is at most eps. Coordinates must
// satisfy fits(), within 2^38 eps of the origin: the cells' keys then stay
// exact enough that a cell's points are all neighbours of one another.
class DoublePrecisionSpace {
public:
    using Scalar = double;
    DoublePrecisionSpace(double eps, std::uint32_t minPts);

    bool fits(double v) const;
    bool neighbours(const Point3<double>& a, const Point3<double>& b) const {
        const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
        return (dx * dx + dy * dy) + dz * dz <= squaredLimit_;
    }
    std::int64_t key(double v) const;

    double eps;
    std::uint32_t minPts;
    double cellSide;

private:
    double squaredLimit_;
};

template <typename Space>
class DensityGrid {
public:
    using Scalar = typename Space::Scalar;
    using Point = Point3<Scalar>;
    static constexpr std::int32_t noise = -1;

    // Points with a NaN or infinite coordinate are nobody's neighbours.
    DensityGrid(const Space& space, const Point* points, std::int32_t count);

    // Labels every point: core points linked by neighbour pairs form a
    // cluster, numbered 0, 1, ... in the order of its lowest-numbered core
    // point; any other point takes the lowest cluster number among its core
    // neighbours, or `noise` when it has none.
    void run();

    std::int32_t label(std::int32_t point) const { return labels_[point]; }
    // Whether `point` has at least minPts points within eps, itself counted.
    bool isCore(std::int32_t point) const { return corePoint_[point] != 0; }
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
        Point p;
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

    bool neighbours(const GridPoint& a, const GridPoint& b) const { return space_.neighbours(a.p, b.p); }
    bool anyCoreNeighbour(const GridPoint& p, std::int32_t cell) const;
    bool coreCellsLinked(std::int32_t a, std::int32_t b) const;
    std::int32_t findRoot(std::int32_t cell);

    Space space_;
    const Point* points_;
    std::int32_t pointCount_;
    std::int32_t lastClusterId_ = -1;
    std::vector<std::int32_t> labels_;  // per point
    std::vector<char> corePoint_;       // per point

    // Finite points ordered by cell; each cell is a range of `sorted_`.
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

extern template class DensityGrid<SinglePrecisionSpace>;
extern template class DensityGrid<DoublePrecisionSpace>;

}  // namespace tessary
