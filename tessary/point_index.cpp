#include "point_index.hpp"

#include <functional>

namespace tessary {
namespace {

PointIndex::PointMatrix pointsAsRows(const double* points, std::int32_t count) {
    return Eigen::Map<const Eigen::Matrix<double, 3, Eigen::Dynamic>>(points, 3, count).transpose();
}

}  // namespace

PointIndex::PointIndex(const double* points, std::int32_t count)
    : pointMatrix(pointsAsRows(points, count)), tree_(3, std::cref(pointMatrix), leafSize) {}

}  // namespace tessary
