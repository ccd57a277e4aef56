// PCL's NormalDistributionsTransform registering a scan to a map.
//   pcl_ndt_peer <map> <scan> <start> <voxel size> <max iterations> [T.out]
// <map> and <scan> are clouds as the driver writes them (x y z per point),
// <start> the 4 x 4 start as 16 doubles, row by row. Each timed call is
// align() alone, the map's voxel grid made beforehand (setInputTarget), as
// registerToMap is timed without voxelGaussians. Writes the last call's
// transform, row by row.
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/registration/ndt.h>

#include "cloud_io.hpp"

namespace {

pcl::PointCloud<pcl::PointXYZ>::Ptr cloudFrom(const std::vector<double>& xyz) {
    pcl::PointCloud<pcl::PointXYZ>::Ptr cloud(new pcl::PointCloud<pcl::PointXYZ>);
    for (std::size_t i = 0; i + 2 < xyz.size(); i += 3)
        cloud->push_back(pcl::PointXYZ(static_cast<float>(xyz[i]), static_cast<float>(xyz[i + 1]),
                                       static_cast<float>(xyz[i + 2])));
    return cloud;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) return 2;
    const auto map = cloudFrom(bench::readDoubles(argv[1]));
    const auto scan = cloudFrom(bench::readDoubles(argv[2]));
    const std::vector<double> start = bench::readDoubles(argv[3]);
    Eigen::Matrix4f guess;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) guess(r, c) = static_cast<float>(start[4 * r + c]);
    pcl::NormalDistributionsTransform<pcl::PointXYZ, pcl::PointXYZ> ndt;
    // PCL's documented settings: its outlier ratio set to registerToMap's
    // default, the step bound of its tutorial, a step tolerance of 1 mm.
    ndt.setResolution(static_cast<float>(std::atof(argv[4])));
    ndt.setMaximumIterations(std::atoi(argv[5]));
    ndt.setOulierRatio(0.55);
    ndt.setStepSize(0.1);
    ndt.setTransformationEpsilon(0.001);
    ndt.setInputTarget(map);
    ndt.setInputSource(scan);
    pcl::PointCloud<pcl::PointXYZ> aligned;
    bench::timeCalls([&] { ndt.align(aligned, guess); });
    const Eigen::Matrix4f T = ndt.getFinalTransformation();
    std::vector<double> rows(16);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) rows[4 * r + c] = T(r, c);
    if (argc > 6) bench::writeValues(argv[6], rows);
    std::printf("iterations=%d converged=%d\n", ndt.getFinalNumIteration(), ndt.hasConverged() ? 1 : 0);
    return 0;
}
