#include "density_grid.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "cell_order.hpp"
#include "squared_limit.hpp"
#include "openmp.hpp"

namespace tessary {
namespace {

// std::floor for |t| < 2^62, without the call it is on plain x86-64.
std::int64_t floorOf(double t) {
    const auto k = static_cast<std::int64_t>(t);
    return static_cast<double>(k) > t ? k - 1 : k;
}

constexpr float singleEps = static_cast<float>(SinglePrecisionSpace::eps);
const float singleSquaredLimit = squaredLimitOf(singleEps * singleEps, [](float v) {
    return singleEps >= static_cast<float>(std::sqrt(static_cast<double>(v)));
});

// float32 coordinates this large are integers spaced far more than eps
// apart: two points can be neighbours only where such a coordinate is
// equal, so it is keyed by its bits, beyond the range of every ordinary cell.
constexpr double farCoordinate = 1125899906842624.0;  // 2^50
constexpr std::int64_t farKeyBase = std::int64_t{1} << 61;

// Double coordinates within 2^38 eps of the origin lie within 2^40 cells of
// it, where a key's error stays below 2^-13 of a cell, which the cell
// side's margin of 1e-3 covers.
constexpr double doubleKeyLimit = 274877906944.0;  // 2^38

}  // namespace

bool SinglePrecisionSpace::neighbours(const Point3<float>& a, const Point3<float>& b) {
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return (dy * dy + dx * dx) + dz * dz <= singleSquaredLimit;
}

std::int64_t SinglePrecisionSpace::key(float v) {
    if (std::fabs(static_cast<double>(v)) < farCoordinate) return floorOf(static_cast<double>(v) / cellSide);
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return farKeyBase + bits;
}

DoublePrecisionSpace::DoublePrecisionSpace(double eps, std::uint32_t minPts)
    : eps(eps),
      minPts(minPts),
      cellSide(eps / 1.7320508075688772 * 0.999),
      squaredLimit_(squaredLimit(eps)) {}

bool DoublePrecisionSpace::fits(double v) const { return std::fabs(v / eps) < doubleKeyLimit; }

std::int64_t DoublePrecisionSpace::key(double v) const { return floorOf(v / cellSide); }

namespace {

// Box tests decide for a whole cell at once only with a margin far above the
// float32 rounding of a distance (a few parts in 10^7).
template <typename Space>
double surelyOutside(const Space& s) { return s.eps * s.eps * (1 + 1e-5); }
template <typename Space>
double surelyInside(const Space& s) { return s.eps * s.eps * (1 - 1e-5); }

std::size_t hashColumn(std::int64_t x, std::int64_t y) {
    std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<std::size_t>(h ^ (h >> 31));
}

double axisGap(double low, double high, double v) { return std::max({low - v, v - high, 0.0}); }
double axisReach(double low, double high, double v) { return std::max(v - low, high - v); }

template <typename Coordinates>
double minSquared(const double* low, const double* high, const Coordinates& p) {
    const double gx = axisGap(low[0], high[0], p.x), gy = axisGap(low[1], high[1], p.y), gz = axisGap(low[2], high[2], p.z);
    return gx * gx + gy * gy + gz * gz;
}

template <typename Coordinates>
double maxSquared(const double* low, const double* high, const Coordinates& p) {
    const double rx = axisReach(low[0], high[0], p.x), ry = axisReach(low[1], high[1], p.y), rz = axisReach(low[2], high[2], p.z);
    return rx * rx + ry * ry + rz * rz;
}

}  // namespace


// Positions of `keyed` (in record order) by cell, x then y then z, and by
// record within a cell.
template <typename Space>
std::vector<std::int32_t> DensityGrid<Space>::orderByCell(const UninitializedVector<Keyed>& keyed) {
    std::vector<std::uint64_t> packed;
    if (!keyed.empty() && packCells(keyed, packed)) return radixOrder(packed);
    std::vector<std::int32_t> order(keyed.size());
    for (std::size_t k = 0; k < keyed.size(); ++k) order[k] = static_cast<std::int32_t>(k);
    std::sort(order.begin(), order.end(), [&](std::int32_t i, std::int32_t j) {
        const Key &a = keyed[i].key, &b = keyed[j].key;
        if (a.x != b.x) return a.x < b.x;
        if (a.y != b.y) return a.y < b.y;
        if (a.z != b.z) return a.z < b.z;
        return i < j;
    });
    return order;
}

template <typename Space>
DensityGrid<Space>::DensityGrid(const Space& space, const Point* points, std::int32_t count)
    : space_(space), points_(points), pointCount_(count) {}

template <typename Space>
void DensityGrid<Space>::run() {
    buildGrid();
    markCorePoints();
    linkCoreCells();
    numberClusters();
    labelPoints();
}

template <typename Space>
void DensityGrid<Space>::buildGrid() {
    // Every element written below, on every core.
    UninitializedVector<Keyed> keyed(static_cast<std::size_t>(pointCount_));
    Keyed* all = keyed.data();
    const Point* points = points_;
    const Space& space = space_;
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < pointCount_; ++i) {
        const Point& p = points[i];
        // A record with a NaN or infinite coordinate is at a NaN or infinite
        // distance from every record: it is in no cell and stays NOISE.
        const bool finite = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
        all[i] = finite ? Keyed{{space.key(p.x), space.key(p.y), space.key(p.z)}, i} : Keyed{{0, 0, 0}, -1};
    }
    keyed.erase(std::remove_if(keyed.begin(), keyed.end(), [](const Keyed& r) { return r.index < 0; }), keyed.end());
    const std::vector<std::int32_t> byCell = orderByCell(keyed);
    const auto count = static_cast<std::int32_t>(keyed.size());
    sorted_.resize(keyed.size());
    std::vector<char> startsCell(keyed.size());
    GridPoint* sorted = sorted_.data();
    char* starts = startsCell.data();
    const std::int32_t* cellOrder = byCell.data();
    const Keyed* byRecord = keyed.data();
    auto sameCell = [](const Key& a, const Key& b) { return a.x == b.x && a.y == b.y && a.z == b.z; };
#pragma omp parallel for schedule(static)
    for (std::int32_t k = 0; k < count; ++k) {
        const Keyed& r = byRecord[cellOrder[k]];
        sorted[k] = {points[r.index], r.index};
        starts[k] = k == 0 || !sameCell(r.key, byRecord[cellOrder[k - 1]].key);
    }
    cellKey_.clear();
    cellStart_.clear();
    for (std::int32_t k = 0; k < count; ++k) {
        if (!starts[k]) continue;
        cellKey_.push_back(keyed[static_cast<std::size_t>(cellOrder[k])].key);
        cellStart_.push_back(k);
    }
    cellStart_.push_back(count);
    buildColumns();
}

template <typename Space>
void DensityGrid<Space>::buildColumns() {
    std::size_t slots = 16;
    while (slots < 2 * cellKey_.size()) slots *= 2;
    columns_.assign(slots, Column{0, 0, -1, -1});
    const std::int32_t cells = static_cast<std::int32_t>(cellKey_.size());
    for (std::int32_t c = 0; c < cells;) {
        std::int32_t end = c + 1;
        while (end < cells && cellKey_[end].x == cellKey_[c].x && cellKey_[end].y == cellKey_[c].y) ++end;
        std::size_t s = hashColumn(cellKey_[c].x, cellKey_[c].y) & (slots - 1);
        while (columns_[s].first >= 0) s = (s + 1) & (slots - 1);
        columns_[s] = {cellKey_[c].x, cellKey_[c].y, c, end};
        c = end;
    }
    buildOccupancy();
}

// Most columns near a scattered record are empty: one bit each tells,
// where the columns span few enough cells, before the table is searched.
template <typename Space>
void DensityGrid<Space>::buildOccupancy() {
    occupied_.clear();
    if (cellKey_.empty()) return;
    std::int64_t yLow = cellKey_[0].y, yHigh = yLow;
    for (const Key& k : cellKey_) {
        yLow = std::min(yLow, k.y);
        yHigh = std::max(yHigh, k.y);
    }
    constexpr std::uint64_t mostBits = std::uint64_t{1} << 24;
    const auto xSpan = static_cast<std::uint64_t>(cellKey_.back().x - cellKey_.front().x) + 1;
    const auto ySpan = static_cast<std::uint64_t>(yHigh - yLow) + 1;
    if (xSpan > mostBits || ySpan > mostBits / xSpan) return;
    occupancyLow_[0] = cellKey_.front().x;
    occupancyLow_[1] = yLow;
    occupancySpan_[0] = xSpan;
    occupancySpan_[1] = ySpan;
    occupied_.assign(static_cast<std::size_t>((xSpan * ySpan + 63) / 64), 0);
    for (const Key& k : cellKey_) {
        const std::uint64_t bit = static_cast<std::uint64_t>(k.x - occupancyLow_[0]) * ySpan + static_cast<std::uint64_t>(k.y - yLow);
        occupied_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
}

template <typename Space>
bool DensityGrid<Space>::mayHoldCells(std::int64_t x, std::int64_t y) const {
    if (occupied_.empty()) return true;
    const auto dx = static_cast<std::uint64_t>(x - occupancyLow_[0]), dy = static_cast<std::uint64_t>(y - occupancyLow_[1]);
    if (dx >= occupancySpan_[0] || dy >= occupancySpan_[1]) return false;
    const std::uint64_t bit = dx * occupancySpan_[1] + dy;
    return (occupied_[bit / 64] >> (bit % 64)) & 1;
}

template <typename Space>
int DensityGrid<Space>::nearCells(std::int32_t cell, bool laterOnly, NearCells& out) const {
    const Key& key = cellKey_[cell];
    const std::size_t mask = columns_.size() - 1;
    int count = 0;
    for (std::int64_t dx = laterOnly ? 0 : -2; dx <= 2; ++dx) {
        for (std::int64_t dy = (laterOnly && dx == 0) ? 0 : -2; dy <= 2; ++dy) {
            const std::int64_t x = key.x + dx, y = key.y + dy;
            if (!mayHoldCells(x, y)) continue;
            std::size_t s = hashColumn(x, y) & mask;
            while (columns_[s].first >= 0 && (columns_[s].x != x || columns_[s].y != y)) s = (s + 1) & mask;
            const Column& column = columns_[s];
            if (column.first < 0) continue;
            const std::int64_t zLow = (laterOnly && dx == 0 && dy == 0) ? key.z + 1 : key.z - 2;
            auto begin = cellKey_.begin() + column.first, end = cellKey_.begin() + column.end;
            auto it = std::lower_bound(begin, end, zLow, [](const Key& k, std::int64_t z) { return k.z < z; });
            for (; it != end && it->z <= key.z + 2; ++it) {
                const auto c = static_cast<std::int32_t>(it - cellKey_.begin());
                if (c != cell) out[count++] = c;
            }
        }
    }
    return count;
}

template <typename Space>
void DensityGrid<Space>::markCorePoints() {
    const std::int32_t cells = static_cast<std::int32_t>(cellKey_.size());
    const std::int32_t othersNeeded = static_cast<std::int32_t>(space_.minPts) - 1;
    core_.assign(sorted_.size(), 0);
    isolated_.assign(static_cast<std::size_t>(cells), 0);
    // Every record's flag depends on the grid alone: the schedule cannot
    // change the result, and nothing here allocates.
#pragma omp parallel for schedule(dynamic, 256)
    for (std::int32_t c = 0; c < cells; ++c) {
        const std::int32_t first = cellStart_[c], end = cellStart_[c + 1];
        if (end - first > othersNeeded) {
            std::fill(core_.begin() + first, core_.begin() + end, 1);
            continue;
        }
        NearCells near;
        const int nearCount = nearCells(c, false, near);
        isolated_[c] = nearCount == 0;
        for (std::int32_t k = first; k < end; ++k) {
            const GridPoint& p = sorted_[k];
            std::int32_t found = end - first - 1;
            for (int n = 0; n < nearCount && found < othersNeeded; ++n) {
                for (std::int32_t q = cellStart_[near[n]]; q < cellStart_[near[n] + 1] && found < othersNeeded; ++q)
                    found += neighbours(p, sorted_[q]);
            }
            core_[k] = found >= othersNeeded;
        }
    }
}

template <typename Space>
std::int32_t DensityGrid<Space>::findRoot(std::int32_t cell) {
    while (parent_[cell] != cell) {
        parent_[cell] = parent_[parent_[cell]];
        cell = parent_[cell];
    }
    return cell;
}

template <typename Space>
bool DensityGrid<Space>::anyCoreNeighbour(const GridPoint& p, std::int32_t cell) const {
    const Box& box = coreBox_[cell];
    if (minSquared(box.low, box.high, p.p) > surelyOutside(space_)) return false;
    if (maxSquared(box.low, box.high, p.p) < surelyInside(space_)) return true;
    for (std::int32_t q = cellStart_[cell]; q < cellStart_[cell + 1]; ++q)
        if (core_[q] && neighbours(p, sorted_[q])) return true;
    return false;
}

template <typename Space>
bool DensityGrid<Space>::coreCellsLinked(std::int32_t a, std::int32_t b) const {
    for (std::int32_t k = cellStart_[a]; k < cellStart_[a + 1]; ++k)
        if (core_[k] && anyCoreNeighbour(sorted_[k], b)) return true;
    return false;
}

template <typename Space>
void DensityGrid<Space>::linkCoreCells() {
    const std::int32_t cells = static_cast<std::int32_t>(cellKey_.size());
    coreCount_.assign(static_cast<std::size_t>(cells), 0);
    coreBox_.resize(static_cast<std::size_t>(cells));
    parent_.resize(static_cast<std::size_t>(cells));
    constexpr double inf = std::numeric_limits<double>::infinity();
#pragma omp parallel for schedule(static)
    for (std::int32_t c = 0; c < cells; ++c) {
        parent_[c] = c;
        Box box{{inf, inf, inf}, {-inf, -inf, -inf}};
        for (std::int32_t k = cellStart_[c]; k < cellStart_[c + 1]; ++k) {
            if (!core_[k]) continue;
            ++coreCount_[c];
            const double v[3] = {sorted_[k].p.x, sorted_[k].p.y, sorted_[k].p.z};
            for (int d = 0; d < 3; ++d) {
                box.low[d] = std::min(box.low[d], v[d]);
                box.high[d] = std::max(box.high[d], v[d]);
            }
        }
        coreBox_[c] = box;
    }
    // The core points of one cell are neighbours of one another; two cells'
    // cores join when any pair of them are neighbours. A cell links only to
    // later ones, so the cells are cut into runs, each joined within itself
    // on a thread of its own; a link into a later run is noted, as the bit
    // of the near cell, and joined afterwards. The clusters are the
    // connected cells, whatever the order of joining.
    const std::int32_t runs = 8 * maxThreads();
    std::vector<std::uint64_t> intoLaterRun(static_cast<std::size_t>(cells), 0);
#pragma omp parallel for schedule(dynamic, 1)
    for (std::int32_t r = 0; r < runs; ++r) {
        const auto first = static_cast<std::int32_t>(static_cast<std::int64_t>(cells) * r / runs);
        const auto end = static_cast<std::int32_t>(static_cast<std::int64_t>(cells) * (r + 1) / runs);
        NearCells near;
        for (std::int32_t c = first; c < end; ++c) {
            if (coreCount_[c] == 0) continue;
            const int nearCount = nearCells(c, true, near);
            for (int n = 0; n < nearCount; ++n) {
                const std::int32_t d = near[n];
                if (coreCount_[d] == 0) continue;
                if (d >= end) {
                    if (coreCellsLinked(c, d)) intoLaterRun[c] |= std::uint64_t{1} << n;
                } else if (findRoot(c) != findRoot(d) && coreCellsLinked(c, d)) {
                    parent_[findRoot(d)] = findRoot(c);
                }
            }
        }
    }
    NearCells near;
    for (std::int32_t c = 0; c < cells; ++c) {
        if (intoLaterRun[c] == 0) continue;
        const int nearCount = nearCells(c, true, near);
        for (int n = 0; n < nearCount; ++n)
            if ((intoLaterRun[c] >> n) & 1) parent_[findRoot(near[n])] = findRoot(c);
    }
}

template <typename Space>
void DensityGrid<Space>::numberClusters() {
    // A cluster's number follows the lowest record number among its core
    // points: the order in which a scan over the records would start them.
    const std::int32_t cells = static_cast<std::int32_t>(cellKey_.size());
    std::vector<std::int32_t> lowest(static_cast<std::size_t>(cells), std::numeric_limits<std::int32_t>::max());
    for (std::int32_t c = 0; c < cells; ++c) {
        if (coreCount_[c] == 0) continue;
        std::int32_t& low = lowest[findRoot(c)];
        for (std::int32_t k = cellStart_[c]; k < cellStart_[c + 1]; ++k)
            if (core_[k]) low = std::min(low, sorted_[k].index);
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> starts;  // (lowest record, root)
    for (std::int32_t c = 0; c < cells; ++c)
        if (coreCount_[c] > 0 && findRoot(c) == c) starts.emplace_back(lowest[c], c);
    std::sort(starts.begin(), starts.end());
    std::vector<std::int32_t> numberOfRoot(static_cast<std::size_t>(cells), -1);
    for (std::size_t k = 0; k < starts.size(); ++k) numberOfRoot[starts[k].second] = static_cast<std::int32_t>(k);
    cellCluster_.assign(static_cast<std::size_t>(cells), -1);
    for (std::int32_t c = 0; c < cells; ++c)
        if (coreCount_[c] > 0) cellCluster_[c] = numberOfRoot[findRoot(c)];
    lastClusterId_ = static_cast<std::int32_t>(starts.size()) - 1;
}

template <typename Space>
void DensityGrid<Space>::labelPoints() {
    labels_.assign(static_cast<std::size_t>(pointCount_), noise);
    corePoint_.assign(static_cast<std::size_t>(pointCount_), 0);
    const std::int32_t cells = static_cast<std::int32_t>(cellKey_.size());
    constexpr std::int32_t none = std::numeric_limits<std::int32_t>::max();
#pragma omp parallel for schedule(dynamic, 256)
    for (std::int32_t c = 0; c < cells; ++c) {
        NearCells near;
        int nearCount = -1;  // found on the first border point of the cell
        for (std::int32_t k = cellStart_[c]; k < cellStart_[c + 1]; ++k) {
            const GridPoint& p = sorted_[k];
            std::int32_t label = cellCluster_[c] >= 0 ? cellCluster_[c] : none;
            if (!core_[k] && !isolated_[c]) {
                if (nearCount < 0) nearCount = nearCells(c, false, near);
                for (int n = 0; n < nearCount; ++n) {
                    const std::int32_t d = near[n];
                    if (cellCluster_[d] >= 0 && cellCluster_[d] < label && anyCoreNeighbour(p, d)) label = cellCluster_[d];
                }
            }
            labels_[p.index] = label == none ? noise : label;
            corePoint_[p.index] = core_[k];
        }
    }
}

template class DensityGrid<SinglePrecisionSpace>;
template class DensityGrid<DoublePrecisionSpace>;

}  // namespace tessary
