// Raw nanoflann as a user would call it: an N x 3 Eigen matrix, the Eigen
// adaptor, leaf size 10, one findNeighbors per query.
//   nanoflann_peer build <points>
//   nanoflann_peer knn <points> <queries> <K> <threads: 1 | omp> [numbers.out distances.out]
#include <omp.h>

#include <Eigen/Core>
#include <cstring>
#include <functional>
#include <nanoflann.hpp>

#include "cloud_io.hpp"

using Tree = nanoflann::KDTreeEigenMatrixAdaptor<Eigen::MatrixXd>;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const auto points = bench::readDoubles(argv[2]);
    const Eigen::Index n = static_cast<Eigen::Index>(points.size() / 3);
    const Eigen::MatrixXd rows = Eigen::Map<const Eigen::MatrixXd>(points.data(), 3, n).transpose();
    if (std::strcmp(argv[1], "build") == 0) {
        bench::timeCalls([&] { const Tree tree(3, std::cref(rows), 10); });
        return 0;
    }
    if (argc < 6) return 2;
    const auto queries = bench::readDoubles(argv[3]);
    const int k = std::atoi(argv[4]);
    const bool parallel = std::strcmp(argv[5], "omp") == 0;
    const Tree tree(3, std::cref(rows), 10);
    const long m = static_cast<long>(queries.size() / 3);
    std::vector<double> numbers(static_cast<std::size_t>(k) * m), distances(static_cast<std::size_t>(k) * m);
    bench::warmUpThreads();
    bench::timeCalls([&] {
#pragma omp parallel if (parallel)
        {
            std::vector<Eigen::Index> found(k);
#pragma omp for schedule(static)
            for (long i = 0; i < m; ++i) {
                nanoflann::KNNResultSet<double, Eigen::Index> result(k);
                result.init(found.data(), &distances[static_cast<std::size_t>(k) * i]);
                tree.index->findNeighbors(result, &queries[3 * i], nanoflann::SearchParams());
                for (int j = 0; j < k; ++j)
                    numbers[static_cast<std::size_t>(k) * i + j] = static_cast<double>(found[j] + 1);
            }
        }
    });
    if (argc >= 8) {
        bench::writeValues(argv[6], numbers);
        bench::writeValues(argv[7], distances);
    }
    return 0;
}
