#include "density_clusters.hpp"

#include <cmath>
#include <vector>

#include "density_grid.hpp"

namespace tessary {

bool densityClustersFit(const double* rows, std::int32_t m, double epsilon) {
    const DoublePrecisionSpace space(epsilon, 1);
    const std::size_t count = 3 * static_cast<std::size_t>(m);
    for (std::size_t k = 0; k < count; ++k)
        if (std::isfinite(rows[k]) && !space.fits(rows[k])) return false;
    return true;
}

void densityClusters(const double* rows, std::int32_t m, double epsilon, std::uint32_t minPts, double* idx,
                     std::uint8_t* core) {
    const std::size_t n = static_cast<std::size_t>(m);
    std::vector<Point3<double>> points(n);
    for (std::size_t i = 0; i < n; ++i) points[i] = {rows[i], rows[i + n], rows[i + 2 * n]};
    DensityGrid<DoublePrecisionSpace> grid(DoublePrecisionSpace(epsilon, minPts), points.data(), m);
    grid.run();
    for (std::int32_t i = 0; i < m; ++i) {
        const std::int32_t label = grid.label(i);
        idx[i] = label == grid.noise ? -1.0 : label + 1.0;
        core[i] = grid.isCore(i);
    }
}

}  // namespace tessary
