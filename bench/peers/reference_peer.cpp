// The reference algorithms, and the floor of the gating commands.
//   reference_peer perpair|perpair2 <points> <ids> <means> <covs> <mahal> <mahalUpper> [in.out inUpper.out]
//       the whole kernel for every (point, candidate) pair tried, on all cores;
//       perpair gates as "kd" does, perpair2 as "kd2"
//   reference_peer floor|floor2 <points> <ids> <means> <covs> <mahal> <mahalUpper>
//       each used Gaussian's inverse once, then one quadratic form per candidate tried:
//       the core's gate without the module around it
//   reference_peer linear <points> [labels.out]
//       DBSCAN with linear-scan region queries
#include <cmath>
#include <cstring>

#include "../../tests/unit/reference_algorithms.hpp"
#include "cloud_io.hpp"
#include "density_clusterer.hpp"
#include "gaussian_gate.hpp"
#include "gaussian_kernel.hpp"

using namespace tessary;

namespace {

struct GateInput {
    std::vector<double> points, ids, means, covs;
    GateQuery query() const {
        return {points.data(), ids.data(), static_cast<std::int32_t>(points.size() / 3),
                {means.data(), covs.data(), static_cast<std::int32_t>(means.size() / 3)}};
    }
};

// With strictOnly the upper gate is the strict one: "kd2"'s rule.
void perPair(const GateQuery& q, double mahal, double mahalUpper, bool strictOnly, std::vector<std::uint8_t>& in,
             std::vector<std::uint8_t>& inUpper) {
#pragma omp parallel for schedule(static)
    for (std::int32_t i = 0; i < q.pointCount; ++i) {
        std::uint8_t a = 0, b = 0;
        for (int j = 0; j < 3; ++j) {
            const auto g = static_cast<std::int32_t>(q.ids[3 * i + j] - 1.0);  // valid entries only
            const double d = g < 0 ? std::nan("")
                                   : gaussianDistance(q.points + 3 * i, q.gaussians.means + 3 * g, q.gaussians.covariances + 9 * g);
            a = mahal > d;
            b = a || (!strictOnly && mahalUpper > d);
            if (b) break;
        }
        in[i] = a;
        inUpper[i] = b;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    if (mode == "linear") {
        const auto xyz = bench::readDoubles(argv[2]);
        std::vector<ClusterPoint> list;
        for (std::size_t k = 0; k + 2 < xyz.size(); k += 3)
            list.push_back({static_cast<float>(xyz[k]), static_cast<float>(xyz[k + 1]), static_cast<float>(xyz[k + 2]), 0, UNCLASSIFIED});
        bench::warmUpThreads();
        std::vector<std::int32_t> labels;
        bench::timeCalls([&] { labels = reference::dbscan(list); });
        if (argc >= 4) bench::writeValues(argv[3], std::vector<double>(labels.begin(), labels.end()));
        return 0;
    }
    if (argc < 8) return 2;
    const GateInput input{bench::readDoubles(argv[2]), bench::readDoubles(argv[3]), bench::readDoubles(argv[4]),
                          bench::readDoubles(argv[5])};
    const double mahal = std::atof(argv[6]), mahalUpper = std::atof(argv[7]);
    const GateQuery q = input.query();
    std::vector<std::uint8_t> in(q.pointCount), inUpper(q.pointCount);
    bench::warmUpThreads();
    bench::timeCalls([&] {
        if (mode == "perpair" || mode == "perpair2") {
            perPair(q, mahal, mahalUpper, mode == "perpair2", in, inUpper);
        } else {
            const GaussianCache cache(q);
            if (mode == "floor2")
                gateStrict(q, cache, mahal, in.data());
            else
                gateTwoLevel(q, cache, mahal, mahalUpper, in.data(), inUpper.data());
        }
    });
    if (argc >= 10) {
        bench::writeValues(argv[8], std::vector<double>(in.begin(), in.end()));
        bench::writeValues(argv[9], std::vector<double>(inUpper.begin(), inUpper.end()));
    }
    return 0;
}
