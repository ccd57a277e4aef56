// libFuzzer target for the numerical core. The first byte picks what the
// rest feeds:
//   0  raw float32 triples as points: the clustering must not crash and
//      must give the linear scan's labels;
//   1  bytes as lattice coordinates in steps of 0.125, where distances of
//      exactly eps abound: the same check;
//   2  float32 values as a point, a mean, a covariance and a threshold:
//      the kernel is only checked not to crash; the gate's test on the
//      quadratic form must agree with the test on the distance, its
//      rounded square root, at the threshold and at the distance itself.
#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "../tests/unit/reference_algorithms.hpp"
#include "density_clusterer.hpp"
#include "gaussian_gate.hpp"
#include "gaussian_kernel.hpp"

using namespace tessary;

namespace {

void checkClustering(const std::vector<ClusterPoint>& list) {
    DensityClusterer clusterer(list);
    clusterer.run();
    const std::vector<std::int32_t> expected = reference::dbscan(list);
    for (std::size_t k = 0; k < list.size(); ++k)
        if (clusterer.pointList()[k].clusterId != expected[k]) __builtin_trap();
}

void checkKernel(const float* v) {
    double point[3], mean[3], cov[9];
    for (int i = 0; i < 3; ++i) point[i] = v[i], mean[i] = v[3 + i];
    for (int i = 0; i < 9; ++i) cov[i] = v[6 + i];
    const Matrix3 inverse = regularizedInverse(covarianceFrom(cov));
    const float q = quadraticForm(vectorFrom(point), vectorFrom(mean), inverse);
    const double distance = mahalanobisDistance(vectorFrom(point), vectorFrom(mean), inverse);
    const double nextUp = std::nextafter(static_cast<float>(distance), std::numeric_limits<float>::infinity());
    for (const double threshold : {static_cast<double>(v[15]), distance, nextUp})
        if (GateLimit(threshold).passes(q) != (threshold > distance)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 2) {
        float v[16];
        if (size < sizeof v) return 0;
        std::memcpy(v, data, sizeof v);
        checkKernel(v);
        return 0;
    }
    std::vector<ClusterPoint> list;
    if (mode == 0) {
        for (std::size_t k = 0; k + 12 <= size && list.size() < 300; k += 12) {
            float xyz[3];
            std::memcpy(xyz, data + k, sizeof xyz);
            list.push_back({xyz[0], xyz[1], xyz[2], 0, UNCLASSIFIED});
        }
    } else {
        for (std::size_t k = 0; k + 3 <= size && list.size() < 300; k += 3)
            list.push_back({0.125f * static_cast<std::int8_t>(data[k]), 0.125f * static_cast<std::int8_t>(data[k + 1]),
                            0.125f * static_cast<std::int8_t>(data[k + 2]), 0, UNCLASSIFIED});
    }
    checkClustering(list);
    return 0;
}
