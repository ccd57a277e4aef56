#include "scan_registration.hpp"

#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "openmp.hpp"
#include "portable_math.hpp"
#include "scan_file.hpp"
#include "voxel_gaussians.hpp"

using tessary::GaussianSet;
using tessary::Pose;
using tessary::QueryRows;
using tessary::RegistrationOptions;
using tessary::RegistrationResult;

namespace {

constexpr double pi = 3.14159265358979323846;

// Scan points as the rows of an m x 3 matrix, and the map built from them.
struct Scene {
    std::vector<double> rows;
    tessary::VoxelMap map;

    Scene(std::vector<double> columns, double voxelSize, std::int32_t minPoints) {
        const std::size_t m = columns.size() / 3;
        rows.resize(columns.size());
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t d = 0; d < 3; ++d) rows[i + d * m] = columns[3 * i + d];
        map = tessary::voxelGaussians(rows.data(), static_cast<std::int32_t>(m), voxelSize, minPoints);
    }
    QueryRows scan() const { return {rows.data(), static_cast<std::int32_t>(rows.size() / 3)}; }
    GaussianSet gaussians() const {
        return {map.means.data(), map.covs.data(), static_cast<std::int32_t>(map.counts.size())};
    }
};

// Points of the scene, as rows, under the inverse of `pose`: a scan that
// `pose` maps back onto the map.
std::vector<double> movedAway(const std::vector<double>& rows, const Pose& pose) {
    double R[9];
    pose.rotation(R);
    const std::size_t m = rows.size() / 3;
    std::vector<double> out(rows.size());
    for (std::size_t i = 0; i < m; ++i) {
        double d[3];
        for (int k = 0; k < 3; ++k) d[k] = rows[i + k * m] - pose.translation[k];
        for (int k = 0; k < 3; ++k) out[i + k * m] = R[3 * k] * d[0] + R[3 * k + 1] * d[1] + R[3 * k + 2] * d[2];
    }
    return out;
}

Pose poseOf(double tx, double ty, double tz, double yawDegrees, double pitchDegrees) {
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const double step[6] = {tx, ty, tz, 0, pitchDegrees * pi / 180, yawDegrees * pi / 180};
    return Pose::fromMatrix(identity).moved(step);
}

RegistrationOptions optionsFrom(const Pose& start, double voxelSize) {
    return {start, 30, 1e-4, 1e-4 * pi / 180, 0.55, voxelSize, 0.01};
}

// The distance in metres and the angle in degrees between two poses.
void poseError(const Pose& a, const Pose& b, double& metres, double& degrees) {
    double Ra[9], Rb[9];
    a.rotation(Ra);
    b.rotation(Rb);
    double trace = 0, squared = 0;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) trace += Ra[r + 3 * c] * Rb[r + 3 * c];
        squared += (a.translation[r] - b.translation[r]) * (a.translation[r] - b.translation[r]);
    }
    metres = std::sqrt(squared);
    degrees = std::acos(std::min(1.0, (trace - 1) / 2)) * 180 / pi;
}

// Three walls and a floor of a 12 x 10 x 4 m room and a box, 0.1 m apart
// with some noise: every motion is pinned down.
std::vector<double> room() {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.005);
    std::vector<double> pts;
    const auto add = [&](double x, double y, double z) {
        pts.insert(pts.end(), {x + noise(random), y + noise(random), z + noise(random)});
    };
    for (double u = 0; u <= 12; u += 0.1)
        for (double v = 0; v <= 10; v += 0.1) add(u, v, 0);
    for (double u = 0; u <= 12; u += 0.1)
        for (double v = 0; v <= 4; v += 0.1) add(u, 0, v);
    for (double u = 0; u <= 10; u += 0.1)
        for (double v = 0; v <= 4; v += 0.1) add(0, u, v);
    for (double u = 0; u <= 1.5; u += 0.1)
        for (double v = 0; v <= 1.5; v += 0.1) {
            add(5 + u, 4, v);
            add(5, 4 + u, v);
            add(5 + u, 4 + v, 1.5);
        }
    return pts;
}

}  // namespace

TEST(PortableMath, ExpAndLogAgreeWithTheLibraryToTwoUnitsInTheLastPlace) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> exponent(-740.0, 709.0), logarithm(-300.0, 300.0);
    for (int k = 0; k < 100000; ++k) {
        const double x = exponent(random), y = std::pow(10.0, logarithm(random));
        const double e = std::exp(x), l = std::log(y);
        EXPECT_LE(std::fabs(tessary::portableExp(x) - e), 2 * std::nextafter(e, HUGE_VAL) - 2 * e + 1e-320) << x;
        EXPECT_LE(std::fabs(tessary::portableLog(y) - l), 4 * std::numeric_limits<double>::epsilon() * std::fabs(l))
            << y;
    }
    EXPECT_EQ(tessary::portableExp(0.0), 1.0);
    EXPECT_EQ(tessary::portableExp(-800.0), 0.0);
    EXPECT_EQ(tessary::portableExp(800.0), HUGE_VAL);
    EXPECT_TRUE(std::isnan(tessary::portableExp(NAN)));
    EXPECT_EQ(tessary::portableLog(1.0), 0.0);
    EXPECT_EQ(tessary::portableLog(0.0), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(tessary::portableLog(-1.0)));
}

// Points near the map's means, each much nearer to one mean than to any
// other, so that small motions keep every point's Gaussian and the score
// is smooth where the differences are taken.
std::vector<double> pointsNearMeans(const tessary::VoxelMap& map) {
    const std::size_t g = map.counts.size();
    std::mt19937 random(11);
    std::normal_distribution<double> offset(0.0, 0.08);
    std::vector<double> columns;
    for (std::size_t k = 0; k < g; ++k)
        for (int n = 0; n < 4; ++n) {
            double p[3], nearest = HUGE_VAL, second = HUGE_VAL;
            for (int d = 0; d < 3; ++d) p[d] = map.means[k + d * g] + offset(random);
            for (std::size_t j = 0; j < g; ++j) {
                double squared = 0;
                for (int d = 0; d < 3; ++d) squared += (p[d] - map.means[j + d * g]) * (p[d] - map.means[j + d * g]);
                const double distance = std::sqrt(squared);
                second = std::min(second, std::max(nearest, distance));
                nearest = std::min(nearest, distance);
            }
            if (second - nearest > 0.05) columns.insert(columns.end(), p, p + 3);
        }
    return columns;
}

TEST(ScanRegistration, GradientAndHessianMatchFiniteDifferences) {
    const Scene scene(room(), 1.0, 6);
    const Pose at = poseOf(0.05, -0.04, 0.02, 0.8, -0.3);
    Scene near(pointsNearMeans(scene.map), 1.0, 6);
    near.rows = movedAway(near.rows, at);
    const RegistrationOptions options = optionsFrom(at, 1.0);
    double g[6], H[36], unused[6], unusedH[36];
    tessary::registrationScore(near.scan(), scene.gaussians(), options, at, g, H);
    // Motions of at most 1e-4 m across the room, far below the margins;
    // small enough too that the sharp Gaussians leave the differences
    // within 1e-6 of the derivatives.
    const double h = 1e-5;
    const auto score = [&](int a, double sa, int b, double sb) {
        double step[6] = {};
        step[a] += sa * h;
        if (b >= 0) step[b] += sb * h;
        return tessary::registrationScore(near.scan(), scene.gaussians(), options, at.moved(step), unused, unusedH);
    };
    for (int a = 0; a < 6; ++a) {
        const double scale = std::sqrt(std::fabs(H[a + 6 * a]));
        const double fd = (score(a, 1, -1, 0) - score(a, -1, -1, 0)) / (2 * h);
        EXPECT_NEAR(g[a], fd, 1e-4 * scale * scale) << "gradient " << a;
        for (int b = a; b < 6; ++b) {
            const double fd2 =
                (score(a, 1, b, 1) - score(a, 1, b, -1) - score(a, -1, b, 1) + score(a, -1, b, -1)) / (4 * h * h);
            EXPECT_NEAR(H[a + 6 * b], fd2, 1e-4 * scale * std::sqrt(std::fabs(H[b + 6 * b])))
                << "Hessian " << a << ", " << b;
            EXPECT_EQ(H[a + 6 * b], H[b + 6 * a]);
        }
    }
}

TEST(ScanRegistration, RecoversKnownPosesOfARealScanFromItsOwnMap) {
    std::vector<double> xyz = scan_file::read();
    if (xyz.empty()) GTEST_SKIP() << "the scan file cannot be read";
    const Scene scene(std::move(xyz), 1.0, 6);
    const Pose truths[] = {poseOf(0.5, -0.3, 0.05, 4, 1), poseOf(-1.2, 0.8, 0.0, -5, 0), poseOf(0.0, 0.0, 0.3, 2, -2)};
    for (const Pose& truth : truths) {
        const std::vector<double> moved = movedAway(scene.rows, truth);
        const QueryRows scan{moved.data(), scene.scan().count};
        const RegistrationResult result =
            tessary::registerToMap(scan, scene.gaussians(), optionsFrom(poseOf(0, 0, 0, 0, 0), 1.0), nullptr);
        double metres, degrees;
        poseError(result.pose, truth, metres, degrees);
        EXPECT_TRUE(result.converged);
        EXPECT_LT(metres, 0.01);
        EXPECT_LT(degrees, 0.01);
    }
}

TEST(ScanRegistration, ResultsDoNotDependOnTheNumberOfThreads) {
    const Scene scene(room(), 1.0, 6);
    const std::vector<double> moved = movedAway(scene.rows, poseOf(0.3, 0.2, 0.0, 3, 0));
    const QueryRows scan{moved.data(), scene.scan().count};
    const auto run = [&](int threads, std::vector<double>& distances) {
        tessary::setThreadCount(threads);
        distances.assign(static_cast<std::size_t>(scan.count), 0.0);
        return tessary::registerToMap(scan, scene.gaussians(), optionsFrom(poseOf(0, 0, 0, 0, 0), 1.0),
                                      distances.data());
    };
    const int saved = tessary::maxThreads();
    std::vector<double> d1, d3;
    const RegistrationResult one = run(1, d1), three = run(3, d3);
    tessary::setThreadCount(saved);
    EXPECT_TRUE(one.converged);
    EXPECT_EQ(std::memcmp(&one.pose, &three.pose, sizeof one.pose), 0);
    EXPECT_EQ(std::memcmp(one.hessian, three.hessian, sizeof one.hessian), 0);
    EXPECT_EQ(std::memcmp(&one.score, &three.score, sizeof one.score), 0);
    EXPECT_EQ(one.iterations, three.iterations);
    EXPECT_EQ(std::memcmp(d1.data(), d3.data(), d1.size() * sizeof(double)), 0);
}

// The Hessian after registering the scene's own points moved by 5 cm.
Eigen::Matrix<double, 6, 6> hessianAfterRegistering(std::vector<double> columns) {
    const Scene scene(std::move(columns), 1.0, 6);
    const RegistrationResult result =
        tessary::registerToMap(scene.scan(), scene.gaussians(), optionsFrom(poseOf(0.03, 0.03, 0.03, 0, 0), 1.0), nullptr);
    EXPECT_TRUE(result.converged);
    Eigen::Matrix<double, 6, 6> H;
    std::memcpy(H.data(), result.hessian, sizeof result.hessian);
    return H;
}

TEST(ScanRegistration, AFlatSceneShowsItsFreeMotionsInTheHessian) {
    std::vector<double> floor;
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 0.005);
    for (double u = 0; u <= 12; u += 0.1)
        for (double v = 0; v <= 10; v += 0.1) floor.insert(floor.end(), {u, v, noise(random)});
    // Sliding along a plane and turning about its normal are held only by
    // the Gaussians' extent in the plane; walls hold them as firmly as the
    // floor holds height.
    const Eigen::Matrix<double, 6, 6> flat = hessianAfterRegistering(std::move(floor)), walled = hessianAfterRegistering(room());
    for (int free : {0, 1}) {
        EXPECT_LT(flat(free, free), 0.05 * flat(2, 2));
        EXPECT_GT(walled(free, free), 0.2 * walled(2, 2));
    }
    EXPECT_LT(flat(5, 5), 0.05 * flat(3, 3));
    EXPECT_GT(walled(5, 5), 0.2 * walled(3, 3));
    const auto lambda = Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 6, 6>>(flat).eigenvalues();
    EXPECT_GT(lambda(0), 0.0);
}

TEST(ScanRegistration, AScanFarFromEveryGaussianStaysWhereItStarted) {
    const Scene scene(room(), 1.0, 6);
    const std::vector<double> far = movedAway(scene.rows, poseOf(500, 0, 0, 0, 0));
    const QueryRows scan{far.data(), scene.scan().count};
    const Pose start = poseOf(0, 0, 0, 0, 0);
    std::vector<double> distances(static_cast<std::size_t>(scan.count));
    const RegistrationResult result = tessary::registerToMap(scan, scene.gaussians(), optionsFrom(start, 1.0), distances.data());
    EXPECT_FALSE(result.converged);
    EXPECT_EQ(result.iterations, 0);
    EXPECT_EQ(std::memcmp(&result.pose, &start, sizeof start), 0);
    EXPECT_GT(distances[0], 100.0);
}

TEST(ScanRegistration, RowsNotFiniteOrFarBeyondTheMapTakeNoPart) {
    const Scene scene(room(), 1.0, 6);
    const std::vector<double> moved = movedAway(scene.rows, poseOf(0.2, 0.1, 0.0, 2, 0));
    const std::size_t m = moved.size() / 3;
    const double extremes[4][3] = {{1e300, 0, 0}, {-1e308, 1e308, 1e308}, {HUGE_VAL, 0, 0}, {NAN, 1, 1}};
    std::vector<double> withExtremes(3 * (m + 4));
    for (std::size_t d = 0; d < 3; ++d) {
        std::copy(moved.begin() + d * m, moved.begin() + (d + 1) * m, withExtremes.begin() + d * (m + 4));
        for (std::size_t k = 0; k < 4; ++k) withExtremes[d * (m + 4) + m + k] = extremes[k][d];
    }
    const RegistrationOptions options = optionsFrom(poseOf(0, 0, 0, 0, 0), 1.0);
    std::vector<double> distances(m + 4);
    const RegistrationResult plain = tessary::registerToMap({moved.data(), static_cast<std::int32_t>(m)},
                                                            scene.gaussians(), options, nullptr);
    const RegistrationResult extreme = tessary::registerToMap(
        {withExtremes.data(), static_cast<std::int32_t>(m + 4)}, scene.gaussians(), options, distances.data());
    EXPECT_TRUE(extreme.converged);
    EXPECT_EQ(std::memcmp(&plain.pose, &extreme.pose, sizeof plain.pose), 0);
    EXPECT_EQ(plain.score, extreme.score);
    for (std::size_t k = m; k < m + 4; ++k) EXPECT_FALSE(distances[k] < 1e30) << k;
}
