#include "density_clusterer.hpp"

#include <utility>

#include "density_grid.hpp"

namespace tessary {

static_assert(DensityClusterer::eps == SinglePrecisionSpace::eps && DensityClusterer::minPts == SinglePrecisionSpace::minPts,
              "the clusterer's parameters are its space's");

DensityClusterer::DensityClusterer(std::vector<ClusterPoint> points)
    : pointList_(std::move(points)), pointCount_(static_cast<std::int32_t>(pointList_.size())) {}

void DensityClusterer::run() {
    std::vector<Point3<float>> points(pointList_.size());
    for (std::size_t k = 0; k < points.size(); ++k) points[k] = {pointList_[k].x, pointList_[k].y, pointList_[k].z};
    DensityGrid<SinglePrecisionSpace> grid(SinglePrecisionSpace{}, points.data(), pointCount_);
    grid.run();
    for (std::int32_t k = 0; k < pointCount_; ++k) {
        const std::int32_t label = grid.label(k);
        pointList_[k].clusterId = label == grid.noise ? NOISE : label;
    }
    lastClusterId_ = grid.lastClusterId();
}

}  // namespace tessary
