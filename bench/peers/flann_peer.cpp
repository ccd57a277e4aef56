// FLANN's exact single kd-tree (leaf size 10), searched on all cores.
//   flann_peer build <points>
//   flann_peer knn <points> <queries> <K>
#include <flann/flann.hpp>

#include <cstring>

#include "cloud_io.hpp"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    auto points = bench::readDoubles(argv[2]);
    const std::size_t n = points.size() / 3;
    const flann::Matrix<double> data(points.data(), n, 3);
    if (std::strcmp(argv[1], "build") == 0) {
        bench::timeCalls([&] {
            flann::Index<flann::L2<double>> index(data, flann::KDTreeSingleIndexParams(10));
            index.buildIndex();
        });
        return 0;
    }
    if (argc < 5) return 2;
    auto queries = bench::readDoubles(argv[3]);
    const int k = std::atoi(argv[4]);
    const std::size_t m = queries.size() / 3;
    flann::Index<flann::L2<double>> index(data, flann::KDTreeSingleIndexParams(10));
    index.buildIndex();
    std::vector<std::size_t> found(m * k);
    std::vector<double> distances(m * k);
    flann::Matrix<std::size_t> indices(found.data(), m, k);
    flann::Matrix<double> dists(distances.data(), m, k);
    flann::SearchParams params(flann::FLANN_CHECKS_UNLIMITED, 0.0f, true);
    params.cores = 0;  // every core
    const flann::Matrix<double> q(queries.data(), m, 3);
    bench::timeCalls([&] { index.knnSearch(q, indices, dists, k, params); });
    return 0;
}
