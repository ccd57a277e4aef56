#include "density_clusterer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tessary {
namespace {

// Wider than eps with a margin, so that every pair within eps after float32
// rounding lies in the same or in adjacent cells.
constexpr double cellSize = 0.8;
// Cells beyond this are merged into the outermost one; the exact distance
// test still decides, only the grid gets coarser out there.
constexpr double cellLimit = 4.0e18;

// The largest s with sqrt(s), rounded to float32, at most eps. The rounded
// square root is monotonic, so comparing s with it is the same test as
// comparing the rounded distance with eps.
float computeSquaredLimit() {
    float s = DensityClusterer::eps * DensityClusterer::eps;
    auto within = [](float v) { return DensityClusterer::eps >= static_cast<float>(std::sqrt(static_cast<double>(v))); };
    while (!within(s)) s = std::nextafter(s, 0.0f);
    while (within(std::nextafter(s, std::numeric_limits<float>::infinity())))
        s = std::nextafter(s, std::numeric_limits<float>::infinity());
    return s;
}

const float squaredLimit = computeSquaredLimit();

std::int64_t cellCoordinate(float v) {
    const double c = std::floor(static_cast<double>(v) / cellSize);
    return static_cast<std::int64_t>(std::max(-cellLimit, std::min(cellLimit, c)));
}

bool isFinite(const ClusterPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

std::uint64_t hashCell(std::int64_t x, std::int64_t y, std::int64_t z) {
    std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull;
    h ^= static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
    h ^= static_cast<std::uint64_t>(z) * 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
    return h ^ (h >> 29);
}

}  // namespace

bool areNeighbours(const ClusterPoint& a, const ClusterPoint& b) {
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    const float s = (dy * dy + dx * dx) + dz * dz;
    return s <= squaredLimit;
}

DensityClusterer::DensityClusterer(std::vector<ClusterPoint> points)
    : pointList_(std::move(points)), pointCount_(static_cast<std::int32_t>(pointList_.size())) {}

void DensityClusterer::run() {
    buildGrid();
    markCorePoints();
    stack_.reserve(static_cast<std::size_t>(pointCount_));
    lastClusterId_ = -1;
    for (std::int32_t i = 0; i < pointCount_; ++i) {
        if (pointList_[i].clusterId != UNCLASSIFIED) continue;
        if (!core_[i]) {
            pointList_[i].clusterId = NOISE;  // a cluster formed later may still take it
            continue;
        }
        pointList_[i].clusterId = ++lastClusterId_;
        expandCluster(i);
    }
}

void DensityClusterer::buildGrid() {
    struct Keyed {
        Cell cell;
        std::int32_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(static_cast<std::size_t>(pointCount_));
    for (std::int32_t i = 0; i < pointCount_; ++i) {
        const ClusterPoint& p = pointList_[i];
        // A record with a NaN or infinite coordinate is at a NaN or infinite
        // distance from every record: it belongs to no cell.
        if (isFinite(p)) keyed.push_back({{cellCoordinate(p.x), cellCoordinate(p.y), cellCoordinate(p.z)}, i});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.cell.x != b.cell.x) return a.cell.x < b.cell.x;
        if (a.cell.y != b.cell.y) return a.cell.y < b.cell.y;
        if (a.cell.z != b.cell.z) return a.cell.z < b.cell.z;
        return a.index < b.index;
    });

    cellOf_.assign(static_cast<std::size_t>(pointCount_), -1);
    sorted_.resize(keyed.size());
    std::vector<Cell> cells;
    cellStart_.clear();
    for (std::size_t k = 0; k < keyed.size(); ++k) {
        const Cell& c = keyed[k].cell;
        if (cells.empty() || c.x != cells.back().x || c.y != cells.back().y || c.z != cells.back().z) {
            cells.push_back(c);
            cellStart_.push_back(static_cast<std::int32_t>(k));
        }
        const ClusterPoint& p = pointList_[keyed[k].index];
        sorted_[k] = {p.x, p.y, p.z, keyed[k].index};
        cellOf_[keyed[k].index] = static_cast<std::int32_t>(cells.size() - 1);
    }
    cellStart_.push_back(static_cast<std::int32_t>(keyed.size()));

    // Open-addressing table from cell coordinates to cell number.
    std::size_t slots = 16;
    while (slots < 2 * cells.size()) slots *= 2;
    std::vector<std::int32_t> table(slots, -1);
    auto slotOf = [&](std::int64_t x, std::int64_t y, std::int64_t z) {
        std::size_t s = hashCell(x, y, z) & (slots - 1);
        while (table[s] >= 0) {
            const Cell& c = cells[table[s]];
            if (c.x == x && c.y == y && c.z == z) break;
            s = (s + 1) & (slots - 1);
        }
        return s;
    };
    for (std::size_t c = 0; c < cells.size(); ++c) table[slotOf(cells[c].x, cells[c].y, cells[c].z)] = static_cast<std::int32_t>(c);

    aroundStart_.assign(1, 0);
    around_.clear();
    for (const Cell& c : cells) {
        for (std::int64_t dx = -1; dx <= 1; ++dx)
            for (std::int64_t dy = -1; dy <= 1; ++dy)
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const std::int32_t found = table[slotOf(c.x + dx, c.y + dy, c.z + dz)];
                    if (found >= 0) around_.push_back(found);
                }
        aroundStart_.push_back(static_cast<std::int32_t>(around_.size()));
    }
}

template <typename Visit>
void DensityClusterer::forEachNeighbour(std::int32_t index, Visit visit) const {
    const std::int32_t cell = cellOf_[index];
    if (cell < 0) return;
    const ClusterPoint& p = pointList_[index];
    for (std::int32_t a = aroundStart_[cell]; a < aroundStart_[cell + 1]; ++a) {
        const std::int32_t c = around_[a];
        for (std::int32_t k = cellStart_[c]; k < cellStart_[c + 1]; ++k) {
            const GridPoint& q = sorted_[k];
            if (q.index == index) continue;
            const float dx = p.x - q.x, dy = p.y - q.y, dz = p.z - q.z;
            if ((dy * dy + dx * dx) + dz * dz <= squaredLimit && !visit(q.index)) return;
        }
    }
}

void DensityClusterer::markCorePoints() {
    core_.assign(static_cast<std::size_t>(pointCount_), 0);
    constexpr std::int32_t othersNeeded = static_cast<std::int32_t>(minPts) - 1;
    // Each record's flag depends on the grid alone, so the schedule cannot
    // change the result; nothing here allocates.
#pragma omp parallel for schedule(dynamic, 1024)
    for (std::int32_t i = 0; i < pointCount_; ++i) {
        std::int32_t found = 0;
        forEachNeighbour(i, [&](std::int32_t) { return ++found < othersNeeded; });
        core_[i] = found >= othersNeeded;
    }
}

void DensityClusterer::expandCluster(std::int32_t seed) {
    const std::int32_t id = lastClusterId_;
    stack_.clear();
    stack_.push_back(seed);
    while (!stack_.empty()) {
        const std::int32_t c = stack_.back();
        stack_.pop_back();
        forEachNeighbour(c, [&](std::int32_t q) {
            std::int32_t& label = pointList_[q].clusterId;
            if (label == NOISE) {
                label = id;  // a border point: reached, never expanded
            } else if (label == UNCLASSIFIED) {
                label = id;
                if (core_[q]) stack_.push_back(q);
            }
            return true;
        });
    }
}

}  // namespace tessary
