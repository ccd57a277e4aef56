// The search against its own arithmetic: how long "knnsearch" takes a query,
// against how long the distance evaluations it makes would take alone.
//   search_arithmetic search <points> <queries> <K>
//     the core's knnSearch on every core, as the module calls it
//   search_arithmetic arithmetic <points> <queries> <K>
//     as many distance evaluations as the search makes for each query, on
//     points that stay in cache, on every core; prints the evaluations per
//     query (evaluations=) before the times
// The evaluations are counted on nanoflann's search over the same points,
// whose traversal the core repeats exactly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <nanoflann.hpp>
#include <vector>

#include "cloud_io.hpp"
#include "knn_search.hpp"
#include "point_index.hpp"

namespace {

constexpr std::size_t windowSize = 64;  // points: 1.5 KiB

// The points as nanoflann reads them, counting every coordinate it reads
// while the counter runs.
struct CountedPoints {
    const std::vector<double>& xyz;
    mutable std::uint64_t reads = 0;
    mutable bool counting = false;

    std::size_t kdtree_get_point_count() const { return xyz.size() / 3; }
    double kdtree_get_pt(std::size_t i, std::size_t d) const {
        reads += counting;
        return xyz[3 * i + d];
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

using CountingTree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Adaptor<double, CountedPoints>, CountedPoints, 3>;

// Distance evaluations per query: each reads three coordinates.
std::vector<std::int32_t> evaluationsPerQuery(const std::vector<double>& points, const std::vector<double>& queries,
                                              int k) {
    const CountedPoints counted{points};
    const CountingTree tree(3, counted, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    counted.counting = true;
    std::vector<std::size_t> found(static_cast<std::size_t>(k));
    std::vector<double> distances(static_cast<std::size_t>(k));
    std::vector<std::int32_t> evaluations(queries.size() / 3);
    for (std::size_t i = 0; i < evaluations.size(); ++i) {
        counted.reads = 0;
        nanoflann::KNNResultSet<double, std::size_t> result(static_cast<std::size_t>(k));
        result.init(found.data(), distances.data());
        tree.findNeighbors(result, &queries[3 * i], nanoflann::SearchParams());
        evaluations[i] = static_cast<std::int32_t>(counted.reads / 3);
    }
    return evaluations;
}

// Each query's evaluations, with the search's arithmetic and its comparison
// against the nearest so far, over a window of points that stays in cache.
double evaluate(const std::vector<double>& window, const std::vector<double>& queries,
                const std::vector<std::int32_t>& evaluations) {
    const auto m = static_cast<long>(evaluations.size());
    double total = 0;
#pragma omp parallel for schedule(static) reduction(+ : total)
    for (long i = 0; i < m; ++i) {
        const double* q = &queries[3 * static_cast<std::size_t>(i)];
        double nearest = std::numeric_limits<double>::max();
        for (std::int32_t e = 0; e < evaluations[i]; ++e) {
            const double* p = &window[3 * ((static_cast<std::size_t>(i) + static_cast<std::size_t>(e)) & (windowSize - 1))];
            const double d0 = q[0] - p[0], d1 = q[1] - p[1], d2 = q[2] - p[2];
            double dist = d0 * d0;
            dist += d1 * d1;
            dist += d2 * d2;
            nearest = dist < nearest ? dist : nearest;
        }
        total += nearest;
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const auto points = bench::readDoubles(argv[2]);
    if (points.size() < 3 * windowSize) return 2;
    const auto queries = bench::readDoubles(argv[3]);
    const int k = std::atoi(argv[4]);
    const auto m = static_cast<std::int32_t>(queries.size() / 3);
    bench::warmUpThreads();
    if (std::strcmp(argv[1], "search") == 0) {
        const tessary::PointIndex index(points.data(), static_cast<std::int32_t>(points.size() / 3));
        std::vector<double> numbers(static_cast<std::size_t>(k) * m), distances(static_cast<std::size_t>(k) * m);
        bench::timeCalls([&] { tessary::knnSearch(index, queries.data(), m, k, numbers.data(), distances.data()); });
        return 0;
    }
    if (std::strcmp(argv[1], "arithmetic") != 0) return 2;
    const auto evaluations = evaluationsPerQuery(points, queries, k);
    std::uint64_t sum = 0;
    for (std::int32_t e : evaluations) sum += static_cast<std::uint64_t>(e);
    std::printf("evaluations=%.2f\n", static_cast<double>(sum) / m);
    const std::vector<double> window(points.begin(), points.begin() + 3 * windowSize);
    volatile double sink = 0;
    bench::timeCalls([&] { sink = sink + evaluate(window, queries, evaluations); });
    return 0;
}
